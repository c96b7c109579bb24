#include "engine/files/data_file.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "engine/errors/ledger_error.h"
#include "engine/files/block.h"
#include "engine/files/byte_order.h"
#include "engine/files/scramble.h"

namespace ledger {

namespace {

std::string UpperAscii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

std::string Trim(std::string_view s) {
  std::size_t b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  std::size_t e = s.find_last_not_of(' ');
  return std::string(s.substr(b, e - b + 1));
}

int32_t NextCounter(int32_t& counter) {
  if (counter == std::numeric_limits<int32_t>::max()) counter = 0;
  return ++counter;
}

}  // namespace

TDataFile::TDataFile(TTableOwner* owner) : owner_(owner) {
  if (!owner_) {
    standalone_ = std::make_unique<TStandaloneOwner>();
    owner_ = standalone_.get();
  }
}

TDataFile::~TDataFile() = default;

uint64_t TDataFile::DataStart() const noexcept {
  return kDataHeaderSize + uint64_t{kFieldDescSize} * header_.fieldCount;
}

uint32_t TDataFile::BlobBlockSize() const noexcept {
  uint32_t size = header_.blockSize & 0xFFFF;
  return size == 0 ? kDefaultBlockSize : size;
}

// ---------------------------------------------------------------- open, close, create

void TDataFile::ReadHeaderBytes(TDataHeader& header) {
  uint8_t bytes[kDataHeaderSize];
  ReadAt(0, bytes, sizeof bytes);
  DecodeDataHeader(bytes, header);
}

void TDataFile::LoadDescriptors() {
  std::size_t count = header_.fieldCount;
  std::vector<uint8_t> area(count * kFieldDescSize);
  if (!area.empty()) ReadAt(kDataHeaderSize, area.data(), area.size());
  if (Encrypted()) Scramble(area.data(), area.size(), kRecordKey);
  fields_.assign(count, TFieldDesc{});
  storedSizes_.clear();
  for (std::size_t i = 0; i < count; ++i) {
    DecodeFieldDesc(area.data() + i * kFieldDescSize, fields_[i]);
    storedSizes_.push_back({fields_[i].physicalSize, fields_[i].physicalScale});
  }
}

void TDataFile::SizeCache() {
  TCacheLimits limits = owner_->CacheLimits();
  int64_t byBytes = std::max<int64_t>(limits.dataCacheBytes, 0) / header_.recordSize;
  cache_.SetLimit(static_cast<std::size_t>(std::max<int64_t>(1, std::min<int64_t>(byBytes, limits.dataCacheRecords))));
  readAhead_ = std::max(1, 8192 / header_.recordSize);
}

void TDataFile::Open() {
  if (IsOpen()) return;
  fields_.clear();
  cache_.Clear();
  if (!owner_->TableName().empty()) SetErrorContext(owner_->TableName(), owner_->DirectoryName());
  TFileHandler::Open();
  try {
    ReadHeaderBytes(header_);
    headerModified_ = false;
    descriptorsModified_ = false;
    if (header_.fieldCount > kMaxFields) Fail(LEDGER_HEADERCORRUPT);
    // Every record holds at least its 9-byte header; a smaller size could
    // not be read at all.
    if (header_.recordSize < kRecordHeaderSize) Fail(LEDGER_HEADERCORRUPT);
    LoadDescriptors();
    ResetStats();
    SizeCache();
  } catch (...) {
    fields_.clear();
    TFileHandler::Close();
    throw;
  }
}

void TDataFile::Close() {
  cache_.Clear();
  fields_.clear();
  headerModified_ = descriptorsModified_ = false;
  TFileHandler::Close();
}

void TDataFile::Create(const TDataFileDefinition& def) {
  if (!owner_->TableName().empty()) SetErrorContext(owner_->TableName(), owner_->DirectoryName());
  if (def.fields.size() > kMaxFields) Fail(LEDGER_FLDLIMIT);
  std::vector<TFieldDesc> fields = def.fields;
  int64_t running = kRecordHeaderSize;
  int blobs = 0;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    TFieldDesc& d = fields[i];
    int size = PhysicalSizeOf(d.type, d.size);
    if (size < 0)
      RaiseError(LEDGER_INVALIDFLDTYPE, {}, {}, {}, {}, d.name, TableName(), DatabaseName());
    d.number = static_cast<uint16_t>(i + 1);
    d.physicalSize = static_cast<uint8_t>(size);
    d.physicalScale = d.scale;
    if (d.IsAutoInc()) {
      d.offset = kAutoIncOffset;
    } else {
      d.offset = static_cast<uint16_t>(std::min<int64_t>(running, 65535));
      running += size + 1;
    }
    if (d.type == ftBlob && ++blobs > kMaxBlobFields) Fail(LEDGER_BLOBLIMIT);
  }
  if (running > 65535) Fail(LEDGER_RECTOOBIG);

  TDataHeader h;
  h.version = kFormatVersion;
  h.recordSize = static_cast<uint16_t>(running);
  h.fieldCount = static_cast<uint16_t>(fields.size());
  h.blobFieldCount = static_cast<uint16_t>(blobs);
  h.blockSize = def.blockSize;
  h.encrypted = def.encrypted ? 1 : 0;
  PutShortString(h.description.data(), data_header::kDescriptionChars, def.description);
  if (def.encrypted) {
    Scramble(h.description.data() + 1, h.description[0], kTextKey);
    PutShortString(h.password.data(), data_header::kPasswordChars, def.password);
    Scramble(h.password.data() + 1, h.password[0], kTextKey);
  }
  h.languageId = def.languageId;
  h.sortId = def.sortId;
  h.userMajor = def.userMajor;
  h.userMinor = def.userMinor;

  cache_.Clear();
  TFileHandler::Create();
  try {
    header_ = h;
    fields_ = std::move(fields);
    headerModified_ = descriptorsModified_ = true;
    ResetStats();
    SizeCache();
    WriteHeader(true);
  } catch (...) {
    fields_.clear();
    TFileHandler::Close();
    throw;
  }
}

// ---------------------------------------------------------------- checks

void TDataFile::CheckVersion() const {
  if (header_.version != kFormatVersion) Fail(LEDGER_OLDVERSION);
}

void TDataFile::CheckStructure() {
  CheckVersion();
  if (header_.languageId != 0 && !IsLocaleInstalled(header_.LocaleId())) Fail(LEDGER_CANNOTLOADLDDRV);

  int64_t running = kRecordHeaderSize;
  std::vector<std::string> names;
  std::vector<uint16_t> numbers;
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    TFieldDesc& d = fields_[i];
    int size = PhysicalSizeOf(d.type, d.size);
    // Type codes without a known stored size cannot be laid out, so they
    // count as corrupt like type 0.
    if (d.type == 0 || size < 0) Fail(LEDGER_HEADERCORRUPT);
    d.physicalSize = static_cast<uint8_t>(size);
    d.physicalScale = d.scale;

    std::string name = UpperAscii(Trim(d.name));
    if (name.empty() || name.size() > 30) Fail(LEDGER_HEADERCORRUPT);
    unsigned char first = static_cast<unsigned char>(name[0]);
    if (!((first >= 'A' && first <= 'Z') || first == '_' || first >= 128)) Fail(LEDGER_HEADERCORRUPT);
    if (std::find(names.begin(), names.end(), name) != names.end()) Fail(LEDGER_HEADERCORRUPT);
    names.push_back(name);
    if (std::find(numbers.begin(), numbers.end(), d.number) != numbers.end()) Fail(LEDGER_HEADERCORRUPT);
    numbers.push_back(d.number);

    bool sized = d.type == ftString || d.type == ftBytes || d.type == ftVarBytes;
    if (sized ? d.size > kMaxDeclaredSize : d.size != 0) Fail(LEDGER_HEADERCORRUPT);
    if (!IsValidValueText(d, d.defaultText) || !IsValidValueText(d, d.minText) ||
        !IsValidValueText(d, d.maxText))
      Fail(LEDGER_HEADERCORRUPT);
    if (d.scale != 0 && d.type != ftBCD) Fail(LEDGER_HEADERCORRUPT);
    if (d.IsAutoInc()) {
      if (d.offset != kAutoIncOffset) Fail(LEDGER_HEADERCORRUPT);
    } else {
      if (d.offset != running) Fail(LEDGER_HEADERCORRUPT);
      running += size + 1;
    }
    if (d.number != i + 1) Fail(LEDGER_HEADERCORRUPT);
  }
  if (header_.recordSize != running) Fail(LEDGER_HEADERCORRUPT);

  uint64_t size = Size();
  uint64_t start = DataStart();
  uint64_t records = 0;
  if (size > start) {
    if ((size - start) % header_.recordSize != 0) Fail(LEDGER_HEADERCORRUPT);
    records = (size - start) / header_.recordSize;
  }
  if (static_cast<uint64_t>(static_cast<int64_t>(header_.nextRecord)) != records + 1)
    Fail(LEDGER_HEADERCORRUPT);
  if (header_.firstFree < 0 || static_cast<uint64_t>(header_.firstFree) > records)
    Fail(LEDGER_HEADERCORRUPT);
}

// ---------------------------------------------------------------- header

bool TDataFile::HeaderChanged() {
  // Nearly every check finds nothing: the counter alone tells, and the rest
  // is decoded only for a header that did change.
  uint8_t bytes[kDataHeaderSize];
  ReadAt(0, bytes, sizeof bytes);
  if (GetI32(bytes, data_header::kChangeCounter) == header_.changeCounter) return false;
  TDataHeader fresh;
  DecodeDataHeader(bytes, fresh);
  AdoptHeader(fresh);
  return true;
}

void TDataFile::ReloadHeader() {
  TDataHeader fresh;
  ReadHeaderBytes(fresh);
  AdoptHeader(fresh);
}

// The descriptors, the record layout and the scrambling are fixed while the
// file is open: a header another writer left that disagrees with them cannot
// be adopted, or records would be decoded as fields they no longer are.
void TDataFile::AdoptHeader(const TDataHeader& fresh) {
  if (fresh.fieldCount != header_.fieldCount || fresh.recordSize != header_.recordSize ||
      fresh.encrypted != header_.encrypted)
    Fail(LEDGER_HEADERCORRUPT);
  std::vector<uint8_t> area(fields_.size() * kFieldDescSize);
  if (!area.empty()) ReadAt(kDataHeaderSize, area.data(), area.size());
  if (fresh.encrypted == 1) Scramble(area.data(), area.size(), kRecordKey);
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    TFieldDesc now;
    DecodeFieldDesc(area.data() + i * kFieldDescSize, now);
    const TFieldDesc& was = fields_[i];
    if (now.type != was.type || now.subtype != was.subtype || now.offset != was.offset ||
        TStoredSize{now.physicalSize, now.physicalScale} != storedSizes_[i])
      Fail(LEDGER_HEADERCORRUPT);
  }
  header_ = fresh;
  headerModified_ = false;
}

bool TDataFile::WriteHeader(bool forced) {
  bool written = false;
  if (headerModified_ || forced) {
    header_.changeCounter = header_.changeCounter == std::numeric_limits<int32_t>::max()
                                ? 1
                                : header_.changeCounter + 1;
    header_.engineVersion = kEngineVersion;
    header_.lastWrite = LastWriteStamp(ActiveSystem().Now());
    header_.modifiedMark = headerModified_ ? 1 : 0;
    uint8_t bytes[kDataHeaderSize];
    EncodeDataHeader(header_, bytes);
    WriteAt(0, bytes, sizeof bytes);
    owner_->MarkWritten();
    headerModified_ = false;
    written = true;
  }
  if (descriptorsModified_) {
    WriteDescriptors();
    written = true;
  }
  if (written && owner_->ForceBufferFlush()) Flush();
  return written;
}

void TDataFile::WriteDescriptors() {
  std::vector<uint8_t> area(fields_.size() * kFieldDescSize);
  for (std::size_t i = 0; i < fields_.size(); ++i) EncodeFieldDesc(fields_[i], area.data() + i * kFieldDescSize);
  if (Encrypted()) Scramble(area.data(), area.size(), kRecordKey);
  if (!area.empty()) WriteAt(kDataHeaderSize, area.data(), area.size());
  storedSizes_.clear();
  for (const TFieldDesc& d : fields_) storedSizes_.push_back({d.physicalSize, d.physicalScale});
  owner_->MarkWritten();
  descriptorsModified_ = false;
}

std::string TDataFile::Description() const {
  std::array bytes = header_.description;
  int len = std::min<int>(bytes[0], data_header::kDescriptionChars);
  if (Encrypted()) Scramble(bytes.data() + 1, static_cast<std::size_t>(len), kTextKey);
  return std::string(reinterpret_cast<const char*>(bytes.data() + 1), static_cast<std::size_t>(len));
}

std::string TDataFile::Password() const {
  std::array bytes = header_.password;
  int len = std::min<int>(bytes[0], data_header::kPasswordChars);
  Scramble(bytes.data() + 1, static_cast<std::size_t>(len), kTextKey);
  return std::string(reinterpret_cast<const char*>(bytes.data() + 1), static_cast<std::size_t>(len));
}

int32_t TDataFile::NextAutoIncValue() {
  headerModified_ = true;
  return NextCounter(header_.lastAutoInc);
}

int32_t TDataFile::NextBlobId() {
  headerModified_ = true;
  return NextCounter(header_.lastBlobId);
}

// ---------------------------------------------------------------- fields

const TFieldDesc& TDataFile::Field(int position) const {
  if (position < 1 || position > FieldCount())
    RaiseError(LEDGER_OUTOFRANGE, {}, {}, {}, {}, std::to_string(position), TableName(), DatabaseName());
  return fields_[static_cast<std::size_t>(position - 1)];
}

int TDataFile::FindField(std::string_view name) const {
  std::string wanted = UpperAscii(Trim(name));
  for (std::size_t i = 0; i < fields_.size(); ++i)
    if (UpperAscii(Trim(fields_[i].name)) == wanted) return static_cast<int>(i + 1);
  return 0;
}

TFieldValue TDataFile::GetField(const TRecord& record, int position) const {
  const TFieldDesc& d = Field(position);
  if (!FieldFits(d, record.Size())) Fail(LEDGER_HEADERCORRUPT);
  return ReadValue(record.Image(), d);
}

void TDataFile::SetField(TRecord& record, int position, const TFieldValue& value) {
  const TFieldDesc& d = Field(position);
  if (!FieldFits(d, record.Size())) Fail(LEDGER_HEADERCORRUPT);
  WriteValue(record.Image(), d, value, header_.LocaleId());
  record.SetModified(true);
}

// ---------------------------------------------------------------- cache

TRecord* TDataFile::TakeEntry(int32_t r, int32_t windowFirst, int32_t windowLast) {
  TRecord* record = cache_.Take(r, [&] {
    if (!owner_->InTransaction()) FlushExcept(windowFirst, windowLast);
  });
  if (!record) Fail(LEDGER_FILECORRUPT);
  record->Reset(this, header_.recordSize);
  return record;
}

void TDataFile::Refresh(TRecord* record, const uint8_t* bytes) {
  std::memcpy(record->Data(), bytes, record->Size());
  if (Encrypted()) Scramble(record->Data(), record->Size(), kRecordKey);
  if (!record->Deleted()) record->SetLink(record->Number());
}

void TDataFile::DropCache() { cache_.Drop(); }

void TDataFile::TrimCache() { cache_.Trim(); }

// ---------------------------------------------------------------- records

TRecord* TDataFile::Hit(TRecord* record) {
  ++stats_.cacheHits;
  return cache_.Hit(record);
}

TRecord* TDataFile::CachedRecord(int32_t r) {
  if (r <= 0 || r >= header_.nextRecord) return nullptr;
  TRecord* record = cache_.Find(r);
  return record ? Hit(record) : nullptr;
}

TRecord* TDataFile::GetRecord(int32_t r, TReadDirection direction, bool readAhead, int32_t readAheadCount) {
  if (r <= 0 || r > header_.nextRecord) Fail(LEDGER_FILECORRUPT);
  const int recordSize = header_.recordSize;

  if (r == header_.nextRecord) {
    uint64_t end = DataStart() + uint64_t(r) * uint64_t(recordSize);
    if (r > kMaxRecords || end > kMaxFileSize) Fail(LEDGER_TABLEFULL);
    // The slot before must exist, on disk or still in the cache; a header
    // that counts slots the file never had would have us write far past its end.
    if (r > 1 && DataStart() + uint64_t(r - 1) * uint64_t(recordSize) > Size() && !cache_.Find(r - 1))
      Fail(LEDGER_HEADERCORRUPT);
    TRecord* record = TakeEntry(r, 0, -1);
    cache_.Pin(record);
    // The slot exists from now on, so it has to reach the file even when
    // nobody fills it.
    record->SetModified(true);
    ++stats_.cacheHits;
    ++header_.nextRecord;
    headerModified_ = true;
    return record;
  }

  if (TRecord* hit = cache_.Find(r)) return Hit(hit);

  if (!owner_->StrictChangeDetection() && owner_->ReadLockAndCheckChanged()) return nullptr;
  if (r >= header_.nextRecord) Fail(LEDGER_FILECORRUPT);

  int64_t n = 1;
  if (readAhead) n = readAheadCount >= 1 ? std::min<int64_t>(readAheadCount, readAhead_) : readAhead_;
  return ReadWindow(r, direction, n);
}

TRecord* TDataFile::GetRecord(int32_t r, std::span<const int32_t> following) {
  if (r <= 0 || r >= header_.nextRecord || following.empty()) return GetRecord(r);
  if (TRecord* hit = cache_.Find(r)) return Hit(hit);
  if (!owner_->StrictChangeDetection() && owner_->ReadLockAndCheckChanged()) return nullptr;
  if (r >= header_.nextRecord) Fail(LEDGER_FILECORRUPT);
  return ReadScattered(r, following);
}

// n consecutive records from r on in the direction given, with one read.
TRecord* TDataFile::ReadWindow(int32_t r, TReadDirection direction, int64_t n) {
  const int recordSize = header_.recordSize;
  const int32_t last = header_.nextRecord - 1;
  // A window larger than the cache would evict its own records.
  n = std::max<int64_t>(1, std::min<int64_t>(n, static_cast<int64_t>(cache_.Limit())));
  int32_t first = r, lastInWindow = r;
  if (direction == TReadDirection::Backward)
    first = static_cast<int32_t>(std::max<int64_t>(int64_t{r} - n + 1, 1));
  else
    lastInWindow = static_cast<int32_t>(std::min<int64_t>(int64_t{r} + n - 1, last));

  std::size_t count = static_cast<std::size_t>(lastInWindow - first + 1);
  io_.resize(count * static_cast<std::size_t>(recordSize));
  uint64_t offset = DataStart() + uint64_t(first - 1) * uint64_t(recordSize);
  std::size_t got = ReadAt(offset, io_.data(), io_.size(), owner_->ShortReadsAllowed());
  std::size_t whole = got / static_cast<std::size_t>(recordSize);
  ++stats_.reads;
  stats_.recordsRead += static_cast<int64_t>(whole);

  auto place = [&](int32_t number) -> TRecord* {
    std::size_t index = static_cast<std::size_t>(number - first);
    if (index >= whole) return nullptr;
    const uint8_t* bytes = io_.data() + index * static_cast<std::size_t>(recordSize);
    // The caller found r missing, and nothing since has added it.
    TRecord* record = number == r ? nullptr : cache_.Find(number);
    if (record) {
      if (!record->Modified() && !record->Pinned()) Refresh(record, bytes);
      return record;
    }
    record = TakeEntry(number, first, lastInWindow);
    Refresh(record, bytes);
    taken_.push_back(record);
    return record;
  };

  // The requested record first and pinned, so the rest of the window cannot
  // push it out again.
  TRecord* result = place(r);
  if (!result || result->Number() != r) Fail(LEDGER_FILECORRUPT);
  cache_.Pin(result);
  taken_.clear();
  for (int32_t number = first; number <= lastInWindow; ++number)
    if (number != r) place(number);
  // Placed in ascending order, which keeps the insertions at one end of the
  // sorted list; a forward window is linked again so that the recency list
  // holds it in the order a scan asks for it.
  if (direction == TReadDirection::Forward)
    for (auto it = taken_.rbegin(); it != taken_.rend(); ++it) cache_.Touch(*it);
  cache_.Touch(result);
  return result;
}

// r and the records that follow it, as far as the cache has entries to spare
// for them without pushing out each other. The entries are taken and put in
// place all at once: one by one, every insertion and eviction would shift the
// sorted list.
TRecord* TDataFile::ReadScattered(int32_t r, std::span<const int32_t> following) {
  const std::size_t recordSize = header_.recordSize;
  const int32_t last = header_.nextRecord - 1;
  enum : uint8_t { kSkip, kMissing, kCached, kTaken };

  // The followers by number, each with its place in the caller's order; one
  // walk along the sorted list then tells which the cache holds. A number
  // named twice counts once.
  const std::size_t considered = std::min(following.size(), cache_.Limit());
  state_.assign(considered, kSkip);
  cachedAt_.assign(considered, nullptr);
  byNumber_.clear();
  for (std::size_t i = 0; i < considered; ++i)
    if (following[i] >= 1 && following[i] <= last && following[i] != r)
      byNumber_.push_back({following[i], static_cast<int32_t>(i)});
  std::sort(byNumber_.begin(), byNumber_.end(),
            [](const TCandidate& a, const TCandidate& b) { return a.number < b.number || (a.number == b.number && a.at < b.at); });
  const auto& sorted = cache_.Sorted();
  auto slot = sorted.begin();
  for (std::size_t k = 0; k < byNumber_.size(); ++k) {
    const TCandidate& c = byNumber_[k];
    if (k > 0 && byNumber_[k - 1].number == c.number) continue;
    while (slot != sorted.end() && slot->number < c.number) ++slot;
    const bool cached = slot != sorted.end() && slot->number == c.number;
    state_[static_cast<std::size_t>(c.at)] = cached ? kCached : kMissing;
    if (cached) cachedAt_[static_cast<std::size_t>(c.at)] = slot->entry;
  }

  // In the caller's order, as far as the cache holds r and them: followers
  // already cached become the most recent, so that this batch does not push
  // them out; the missing ones are taken.
  std::size_t taken = 1;  // r
  std::size_t kept = 0;
  for (std::size_t i = 0; i < considered && taken + kept < cache_.Limit(); ++i) {
    if (state_[i] == kCached) {
      cache_.Touch(cachedAt_[i]);
      ++kept;
    } else if (state_[i] == kMissing) {
      state_[i] = kTaken;
      ++taken;
    }
  }

  // Entries: free places first, then clean unpinned records from the oldest on.
  const std::size_t free = cache_.Free();
  evict_.clear();
  if (taken > free) cache_.Victims(taken - free, evict_);
  const std::size_t available = free + evict_.size();
  // Nothing to spare: the single record goes the way that can flush or grow.
  if (available == 0) return ReadWindow(r, TReadDirection::Forward, 1);
  if (taken > available) {
    std::size_t room = available - 1;  // after r
    for (std::size_t i = 0; i < considered; ++i) {
      if (state_[i] != kTaken) continue;
      if (room > 0) --room;
      else state_[i] = kMissing;
    }
    taken = available;
  }

  // The records to read in ascending order, r among them, and where each
  // follower's entry lands.
  wanted_.clear();
  wantedAt_.clear();
  slotOf_.assign(considered, -1);
  bool rPlaced = false;
  for (const TCandidate& c : byNumber_) {
    const auto at = static_cast<std::size_t>(c.at);
    if (state_[at] != kTaken || slotOf_[at] >= 0) continue;
    if (!rPlaced && r < c.number) {
      wanted_.push_back(r);
      wantedAt_.push_back(-1);
      rPlaced = true;
    }
    slotOf_[at] = static_cast<int32_t>(wanted_.size());
    wanted_.push_back(c.number);
    wantedAt_.push_back(c.at);
  }
  if (!rPlaced) {
    wanted_.push_back(r);
    wantedAt_.push_back(-1);
  }
  const std::size_t k = wanted_.size();

  // Victims leave the lists in one pass; they and the new entries stay
  // owned by the cache throughout.
  fresh_.clear();
  if (k > free) {
    evict_.resize(k - free);
    cache_.Detach(evict_);
    fresh_.assign(evict_.begin(), evict_.end());
  }
  while (fresh_.size() < k) fresh_.push_back(cache_.Loose());
  for (std::size_t i = 0; i < k; ++i) {
    fresh_[i]->Reset(this, recordSize);
    cache_.Number(fresh_[i], wanted_[i]);
  }

  // One read for the wanted records within one read-ahead window of each other.
  read_.assign(k, 0);
  try {
    const int32_t window = std::max(readAhead_, 1);
    for (std::size_t i = 0; i < k;) {
      std::size_t j = i + 1;
      while (j < k && wanted_[j] - wanted_[i] < window) ++j;
      const std::size_t span = static_cast<std::size_t>(wanted_[j - 1] - wanted_[i] + 1);
      io_.resize(span * recordSize);
      const uint64_t offset = DataStart() + uint64_t(wanted_[i] - 1) * recordSize;
      const std::size_t got = ReadAt(offset, io_.data(), io_.size(), owner_->ShortReadsAllowed());
      const std::size_t whole = got / recordSize;
      ++stats_.reads;
      stats_.recordsRead += static_cast<int64_t>(whole);
      for (std::size_t m = i; m < j; ++m) {
        const std::size_t index = static_cast<std::size_t>(wanted_[m] - wanted_[i]);
        if (index >= whole) continue;
        Refresh(fresh_[m], io_.data() + index * recordSize);
        read_[m] = 1;
      }
      i = j;
    }
  } catch (...) {
    for (TRecord* record : fresh_) cache_.Discard(record);
    throw;
  }

  // Recency in the caller's order, r the most recent.
  for (std::size_t i = considered; i-- > 0;) {
    const int32_t at = slotOf_[i];
    if (at >= 0 && read_[static_cast<std::size_t>(at)]) cache_.Touch(fresh_[static_cast<std::size_t>(at)]);
  }
  TRecord* result = nullptr;
  for (std::size_t i = 0; i < k; ++i)
    if (wantedAt_[i] < 0 && read_[i]) result = fresh_[i];
  if (result) cache_.Touch(result);

  // Merge what was read into the sorted list from the back; a short read
  // leaves the rest unread, and their entries go back to the pool.
  std::size_t placed = 0;
  for (std::size_t i = 0; i < k; ++i) {
    if (read_[i]) fresh_[placed++] = fresh_[i];
    else cache_.Discard(fresh_[i]);
  }
  cache_.Merge(std::span<TRecord* const>(fresh_.data(), placed));

  if (!result) Fail(LEDGER_FILECORRUPT);
  cache_.Pin(result);
  return result;
}

void TDataFile::ReleaseRecord(TRecord* record) { cache_.Release(record); }

TRecord* TDataFile::NewRecordSlot() {
  for (int attempt = 0; attempt < 8; ++attempt) {
    bool fromChain = header_.firstFree != 0 && owner_->HasPrimaryIndex();
    int32_t slot = fromChain ? header_.firstFree : header_.nextRecord;
    TRecord* record = GetRecord(slot, TReadDirection::Forward, false);
    if (!record) continue;  // the table changed: the header is fresh now
    if (fromChain && !record->Deleted()) {
      // A free chain that leads to a live record would hand it out twice.
      ReleaseRecord(record);
      Fail(LEDGER_FILECORRUPT);
    }
    header_.firstFree = record->Deleted() ? record->Link() : 0;
    std::memset(record->Data(), 0, record->Size());
    record->SetLink(slot);
    PutI32(record->Data(), kAutoIncOffset, NextAutoIncValue());
    record->SetModified(true);
    headerModified_ = true;
    return record;
  }
  Fail(LEDGER_FILECORRUPT);
}

void TDataFile::FreeRecordSlot(TRecord* record) {
  // Freeing a slot twice would put it on the chain twice and let two new
  // records share it.
  if (record->Deleted()) Fail(LEDGER_KEYORRECDELETED);
  record->Data()[record_image::kStatus] = kRecordDeleted;
  record->SetLink(header_.firstFree != 0 && owner_->HasPrimaryIndex() ? header_.firstFree : 0);
  header_.firstFree = record->Number();
  record->SetModified(true);
  headerModified_ = true;
}

void TDataFile::FlushRecords() { FlushExcept(0, -1); }

void TDataFile::FlushExcept(int32_t windowFirst, int32_t windowLast) {
  const std::size_t recordSize = header_.recordSize;
  const std::size_t perWrite = std::max<std::size_t>(1, 65536 / recordSize);
  std::vector<TRecord*> dirty;
  cache_.Dirty(dirty, windowFirst, windowLast);
  std::vector<uint8_t> buffer;
  std::size_t i = 0;
  bool wrote = false;
  while (i < dirty.size()) {
    std::size_t j = i + 1;
    while (j < dirty.size() && j - i < perWrite && dirty[j]->Number() == dirty[j - 1]->Number() + 1) ++j;
    buffer.resize((j - i) * recordSize);
    for (std::size_t k = i; k < j; ++k) {
      uint8_t* out = buffer.data() + (k - i) * recordSize;
      std::memcpy(out, dirty[k]->Data(), recordSize);
      if (Encrypted()) Scramble(out, recordSize, kRecordKey);
    }
    WriteAt(DataStart() + uint64_t(dirty[i]->Number() - 1) * recordSize, buffer.data(), buffer.size());
    ++stats_.writes;
    stats_.recordsWritten += static_cast<int64_t>(j - i);
    for (std::size_t k = i; k < j; ++k) dirty[k]->SetModified(false);
    wrote = true;
    i = j;
  }
  if (wrote) owner_->MarkWritten();
}

void TDataFile::Empty() {
  {
    TFileGuard guard(*this);
    Seek(TSeekOrigin::Begin, static_cast<int64_t>(DataStart()));
    Write(nullptr, 0);
  }
  if (owner_->ForceBufferFlush()) Flush();
  DropCache();
  // The change counter keeps counting: others compare it to notice the
  // emptied table, and a counter set back could repeat a value they hold.
  header_.firstFree = 0;
  header_.nextRecord = 1;
  header_.lastAutoInc = 0;
  headerModified_ = true;
}

bool TDataFile::LockRecordByte(int32_t r, int retryCount, unsigned waitMs) {
  if (r <= 0) return false;
  return LockRecord(static_cast<uint32_t>(r), retryCount, waitMs);
}

bool TDataFile::UnlockRecordByte(int32_t r) {
  if (r <= 0) return false;
  return UnlockRecord(static_cast<uint32_t>(r));
}

}  // namespace ledger
