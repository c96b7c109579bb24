// Open, close and create; the header and the counters it keeps; emptying;
// record locks. The field checks, the record cache and the scattered reads
// have files of their own.

#include "engine/files/data_file.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/errors/ledger_error.h"
#include "engine/files/block.h"
#include "engine/files/byte_order.h"
#include "engine/files/change_counter.h"
#include "engine/files/scramble.h"

namespace ledger {

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
  ForgetScan();
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
  ForgetScan();
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
  ForgetScan();
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
    header_.changeCounter = CounterAfter(header_.changeCounter);
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
  return header_.lastAutoInc = CounterAfter(header_.lastAutoInc);
}

int32_t TDataFile::NextBlobId() {
  headerModified_ = true;
  return header_.lastBlobId = CounterAfter(header_.lastBlobId);
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
