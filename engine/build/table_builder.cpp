#include "engine/build/table_builder.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "engine/errors/ledger_error.h"
#include "engine/files/byte_order.h"
#include "engine/files/blob_file.h"
#include "engine/files/data_header.h"
#include "engine/files/index_key.h"
#include "engine/files/index_loader.h"
#include "engine/files/scramble.h"
#include "engine/files/table_owner.h"

namespace ledger {

namespace {

constexpr std::size_t kWriteChunk = 1 << 20;
constexpr const char* kBuildSuffix = ".building";

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool ValidIndexName(std::string_view name) {
  std::size_t b = name.find_first_not_of(' ');
  if (b == std::string_view::npos) return false;
  unsigned char c = static_cast<unsigned char>(name[b]);
  return std::isalpha(c) || c == '_' || c >= 128;
}

// As the file classes count: past the largest value comes 1, never 0.
int32_t NextCounter(int32_t counter) { return counter == INT32_MAX ? 1 : counter + 1; }
// A counter is read and written as the first four bytes of its header.
static_assert(data_header::kChangeCounter == 0 && index_header::kChangeCounter == 0 &&
              blob_header::kChangeCounter == 0);
// A counter is read and written as the first four bytes of its header.
static_assert(data_header::kChangeCounter == 0 && index_header::kChangeCounter == 0 &&
              blob_header::kChangeCounter == 0);

struct TIndexBuild {
  int slot = 0;
  TIndexDesc desc;
  TKeyDef keyDef;
  int stride = 0;             // key + record number
  std::vector<uint8_t> keys;  // one stride per record slot, in record order
};

}  // namespace

struct TTableBuilder::TState {
  std::string directory;
  std::string table;
  TTableDefinition def;
  TBuildTarget target;
  std::shared_ptr<TFileSystem> system;
  TStandaloneOwner owner;
  TDataFile data{&owner};
  TFileHandler blob;
  TFileHandler index;
  std::vector<TFieldDesc> fields;
  uint32_t lcid = 0;
  int recordSize = 0;
  uint64_t dataStart = 0;
  bool encrypted = false;
  bool hasBlobs = false;
  uint32_t blockSize = kDefaultBlockSize;
  bool finished = false;

  int32_t records = 0;
  int32_t lastBlobId = 0;
  std::vector<uint8_t> recordBuffer;
  int32_t firstBufferedRecord = 1;
  std::vector<uint8_t> blobBuffer;
  int32_t nextBlock = 1;
  int32_t firstBufferedBlock = 1;

  std::vector<TIndexBuild> indexes;
  std::vector<uint8_t> deleted;  // per record slot
  std::vector<int32_t> deletionOrder;

  // In key order, appended records wait in the spill file (in append order)
  // until Finish knows where each one goes.
  bool keyOrdered = false;
  TFileHandler spill;
  std::vector<int32_t> autoIncBySlot;  // empty while slots follow append order

  TState(std::string dir, std::string name, TTableDefinition d, TBuildTarget t, std::shared_ptr<TFileSystem> fs)
      : directory(std::move(dir)),
        table(std::move(name)),
        def(std::move(d)),
        target(t),
        system(fs ? std::move(fs) : PosixFileSystem()),
        owner(table, directory) {
    for (TFileHandler* file : {static_cast<TFileHandler*>(&data), &blob, &index}) file->SetSystem(system);
  }

  std::string FinalName(const char* ext) const { return directory + "/" + table + ext; }
  std::string TempName(const char* ext) const { return FinalName(ext) + kBuildSuffix; }
  // Where an old file waits while the new set moves in.
  std::string AsideName(const char* ext) const { return FinalName(ext) + ".replaced" + kBuildSuffix; }

  [[noreturn]] void Fail(TErrorCode code) const { RaiseTableError(code, table, directory); }

  void DefineIndexes();
  TIndexDesc Describe(const TIndexDefinition& def, bool primary) const;
  void FlushRecords();
  void PlaceInKeyOrder(std::vector<std::vector<const uint8_t*>>& sorted);
  void FlushBlocks();
  TBlobRef WriteBlob(uint64_t size, const std::function<std::size_t(uint8_t*, std::size_t)>& read);
  void ApplyDeletions();
  void WriteDataHeader(int32_t firstFree);
  void WriteBlobHeader();
  void WriteIndexFile(std::vector<std::vector<const uint8_t*>>& sorted);
  std::vector<const uint8_t*> SortedEntries(const TIndexBuild& index) const;
  void CloseAll();
  void RemoveTemporaries();
  void RenameIntoPlace(const char* ext);
  void ReplaceFiles();
  void ContinueBlobIds();
  void RewriteInPlace();
  void CopyOver(const char* ext, TFileHandler& target, int32_t counter, bool scrambleCounter);
};

TIndexDesc TTableBuilder::TState::Describe(const TIndexDefinition& d, bool primary) const {
  TIndexDesc desc;
  desc.name = primary ? std::string() : d.name;
  if (d.fields.size() > kMaxKeyFields) Fail(LEDGER_INDEXLIMIT);
  if (d.fields.empty()) Fail(LEDGER_INVALIDKEY);
  desc.fieldCount = static_cast<uint8_t>(d.fields.size());
  int partsSize = 0;
  for (std::size_t i = 0; i < d.fields.size(); ++i) {
    int number = data.FindField(d.fields[i]);
    if (number == 0) throw std::invalid_argument("index field " + d.fields[i] + " is not a field of the table");
    const TFieldDesc& f = fields[number - 1];
    if (f.type == ftBlob) Fail(LEDGER_SEARCHCOLREQD);
    desc.fields[i] = static_cast<uint16_t>(number);
    for (const std::string& name : d.descendingFields)
      if (Upper(name) == Upper(d.fields[i])) desc.fieldDescending[i] = 1;
    partsSize += KeyPartSize(f) + 1;
  }
  for (const std::string& name : d.descendingFields)
    if (std::none_of(d.fields.begin(), d.fields.end(),
                     [&](const std::string& f) { return Upper(f) == Upper(name); }))
      throw std::invalid_argument("descending field " + name + " is not a key field");
  if (partsSize == 0 || partsSize > kMaxKeyPartsSize) Fail(LEDGER_INVALIDKEY);
  if (d.compression > lcFull) throw std::invalid_argument("leaf compression must be 0 to 3");
  desc.descending = d.descending;
  desc.caseInsensitive = d.caseInsensitive;
  desc.unique = primary || d.unique;
  desc.compression = d.compression;
  desc.keyLength = static_cast<uint16_t>(ComputeKeyLength(desc, fields));
  return desc;
}

void TTableBuilder::TState::DefineIndexes() {
  if (def.secondary.size() > kMaxSecondaryIndexes) Fail(LEDGER_INDEXLIMIT);
  if (def.secondary.size() > 0 && !def.primary) {
    // Secondary indexes need no primary one; nothing to check here.
  }
  std::vector<std::string> names;
  auto add = [&](int slot, const TIndexDefinition& d, bool primary) {
    TIndexBuild b;
    b.slot = slot;
    b.desc = Describe(d, primary);
    b.keyDef = TKeyDef(slot, b.desc, fields, lcid);
    b.stride = b.desc.keyLength + 4;
    indexes.push_back(std::move(b));
  };
  if (def.primary) add(0, *def.primary, true);
  for (std::size_t i = 0; i < def.secondary.size(); ++i) {
    const TIndexDefinition& d = def.secondary[i];
    if (d.name.find_first_not_of(' ') == std::string::npos) Fail(LEDGER_INDEXNAMEREQUIRED);
    if (d.name.size() > 30 || !ValidIndexName(d.name)) Fail(LEDGER_INVALIDINDEXNAME);
    std::string upper = Upper(d.name);
    if (std::find(names.begin(), names.end(), upper) != names.end()) Fail(LEDGER_INDEXEXISTS);
    names.push_back(upper);
    add(static_cast<int>(i) + 1, d, false);
  }
}

TTableBuilder::TTableBuilder(std::string directory, std::string table, TTableDefinition definition,
                             TBuildTarget target, std::shared_ptr<TFileSystem> system)
    : state_(std::make_unique<TState>(std::move(directory), std::move(table), std::move(definition), target,
                                      std::move(system))) {
  TState& s = *state_;
  if (!(s.def.fillFactor > 0.0 && s.def.fillFactor <= 1.0))
    throw std::invalid_argument("fill factor must lie in (0, 1]");
  s.owner.hasPrimaryIndex = s.def.primary.has_value();
  s.encrypted = s.def.data.encrypted;
  s.data.SetFileName(s.TempName(".DAT"));
  s.data.SetErrorContext(s.table, s.directory);
  s.data.Create(s.def.data);
  try {
    s.fields = s.data.Fields();
    s.lcid = s.data.LocaleId();
    s.recordSize = s.data.RecordSize();
    s.dataStart = s.data.DataStart();
    s.hasBlobs = s.data.BlobFieldCount() > 0;
    s.blockSize = s.data.BlobBlockSize();
    if (s.blockSize <= kBlockHeaderSize) throw std::invalid_argument("blob block size too small");
    s.DefineIndexes();
    s.keyOrdered = s.def.primary && s.def.order == TRecordOrder::PrimaryKey;
    if (s.keyOrdered) {
      s.spill.SetFileName(s.FinalName(".DAT") + ".records" + kBuildSuffix);
      s.spill.SetSystem(s.system);
      s.spill.SetErrorContext(s.table, s.directory);
      s.spill.SetTemporary(true);  // gone when closed, whatever happens
      s.spill.Create();
    }
    if (s.target == TBuildTarget::InPlace) s.ContinueBlobIds();
    s.index.SetFileName(s.TempName(".IDX"));
    s.index.SetErrorContext(s.table, s.directory);
    s.index.Create();
    if (s.hasBlobs) {
      s.blob.SetFileName(s.TempName(".BLB"));
      s.blob.SetErrorContext(s.table, s.directory);
      s.blob.Create();
    }
  } catch (...) {
    s.CloseAll();
    s.RemoveTemporaries();
    throw;
  }
}

TTableBuilder::~TTableBuilder() {
  if (!state_->finished) {
    try {
      state_->CloseAll();
    } catch (...) {
    }
    state_->RemoveTemporaries();
  }
}

int32_t TTableBuilder::RecordCount() const noexcept { return state_->records; }

void TTableBuilder::TState::FlushRecords() {
  if (recordBuffer.empty()) return;
  const uint64_t at = static_cast<uint64_t>(firstBufferedRecord - 1) * recordSize;
  if (keyOrdered) spill.WriteAt(at, recordBuffer.data(), recordBuffer.size());
  else data.WriteAt(dataStart + at, recordBuffer.data(), recordBuffer.size());
  recordBuffer.clear();
  firstBufferedRecord = records + 1;
}

void TTableBuilder::TState::FlushBlocks() {
  if (blobBuffer.empty()) return;
  blob.WriteAt(kBlobHeaderSize + static_cast<uint64_t>(firstBufferedBlock - 1) * blockSize,
               blobBuffer.data(), blobBuffer.size());
  blobBuffer.clear();
  firstBufferedBlock = nextBlock;
}

TBlobRef TTableBuilder::TState::WriteBlob(uint64_t size,
                                         const std::function<std::size_t(uint8_t*, std::size_t)>& read) {
  if (size == 0) return {};
  const std::size_t room = blockSize - kBlockHeaderSize;
  const uint64_t blocks = (size + room - 1) / room;
  if (size > INT32_MAX || static_cast<uint64_t>(nextBlock) + blocks - 1 > kMaxBlocks ||
      kBlobHeaderSize + (static_cast<uint64_t>(nextBlock) + blocks - 1) * blockSize > 4000000000ULL)
    Fail(LEDGER_TABLEFULL);
  // Identifiers restart at 1 after the largest, as the data file issues them.
  lastBlobId = lastBlobId == INT32_MAX ? 1 : lastBlobId + 1;
  TBlobRef ref{nextBlock, lastBlobId};
  uint64_t done = 0;
  for (uint64_t i = 0; i < blocks; ++i) {
    std::size_t at = blobBuffer.size();
    blobBuffer.resize(at + blockSize, 0);
    uint8_t* b = blobBuffer.data() + at;
    const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(room, size - done));
    for (std::size_t got = 0; got < n;) {
      std::size_t piece = read(b + kBlockHeaderSize + got, n - got);
      if (piece == 0) Fail(LEDGER_ENDOFBLOB);  // the source ran dry before its size
      got += std::min(piece, n - got);
    }
    const int32_t number = nextBlock++;
    PutI32(b, block_header::kPrev, i == 0 ? 0 : number - 1);
    PutI32(b, block_header::kNext, i + 1 == blocks ? 0 : number + 1);
    PutU16(b, block_header::kUsed, static_cast<uint16_t>(n));
    PutI32(b, block_header::kBlobId, ref.blobId);
    PutI32(b, block_header::kTotalLength, i == 0 ? static_cast<int32_t>(size) : 0);
    if (encrypted) {
      Scramble(b, kBlockHeaderSize, kRecordKey);
      Scramble(b + kBlockHeaderSize, room, kRecordKey);
    }
    done += n;
    if (blobBuffer.size() >= kWriteChunk) FlushBlocks();
  }
  return ref;
}

int32_t TTableBuilder::Append(std::span<const TFieldValue> values, std::span<const TBlobSource> blobs) {
  TState& s = *state_;
  if (s.finished) throw std::logic_error("table already finished");
  if (values.size() != s.fields.size()) throw std::invalid_argument("one value per field expected");
  if (s.records >= kMaxRecords ||
      s.dataStart + static_cast<uint64_t>(s.records + 1) * s.recordSize > 4000000000ULL)
    s.Fail(LEDGER_TABLEFULL);
  for (const TBlobSource& b : blobs)
    if (b.field < 1 || b.field > static_cast<int>(s.fields.size()) || s.fields[b.field - 1].type != ftBlob || !b.read)
      throw std::invalid_argument("a blob source must name a blob field and give a reader");
  const int32_t number = s.records + 1;
  const int32_t nextBlock = s.nextBlock, lastBlobId = s.lastBlobId;
  const std::size_t blobBuffered = s.blobBuffer.size();
  std::size_t at = s.recordBuffer.size();
  s.recordBuffer.resize(at + s.recordSize, 0);
  std::span<uint8_t> image(s.recordBuffer.data() + at, s.recordSize);
  try {
    PutI32(image.data(), record_image::kLink, number);
    PutI32(image.data(), kAutoIncOffset, number);
    for (std::size_t i = 0; i < s.fields.size(); ++i) {
      const TFieldDesc& f = s.fields[i];
      if (f.IsAutoInc() || f.type == ftBlob) continue;
      WriteValue(image, f, values[i], s.lcid);
    }
    // Blobs last, so a bad value above leaves no orphaned chain behind.
    for (std::size_t i = 0; i < s.fields.size(); ++i) {
      const TFieldDesc& f = s.fields[i];
      if (f.type != ftBlob) continue;
      const TFieldValue& v = values[i];
      auto fromMemory = [&s](const uint8_t* data, std::size_t size) {
        std::size_t pos = 0;
        return s.WriteBlob(size, [&](uint8_t* out, std::size_t count) {
          std::size_t n = std::min(count, size - pos);
          std::memcpy(out, data + pos, n);
          pos += n;
          return n;
        });
      };
      TBlobRef ref;
      auto source = std::find_if(blobs.begin(), blobs.end(),
                                 [i](const TBlobSource& b) { return b.field == static_cast<int>(i) + 1; });
      if (source != blobs.end()) {
        ref = s.WriteBlob(source->size, source->read);
      } else if (const auto* bytes = std::get_if<std::vector<uint8_t>>(&v)) {
        ref = fromMemory(bytes->data(), bytes->size());
      } else if (const auto* text = std::get_if<std::string>(&v)) {
        ref = fromMemory(reinterpret_cast<const uint8_t*>(text->data()), text->size());
      } else if (!std::holds_alternative<std::monostate>(v)) {
        throw std::invalid_argument("field " + f.name + " takes its contents as bytes");
      }
      WriteValue(image, f, ref, s.lcid);
    }
  } catch (...) {
    s.recordBuffer.resize(at);
    // Blocks still in memory are taken back; flushed ones stay unreferenced.
    if (s.firstBufferedBlock <= nextBlock) {
      s.blobBuffer.resize(blobBuffered);
      s.nextBlock = nextBlock;
      s.lastBlobId = lastBlobId;
    }
    throw;
  }
  for (TIndexBuild& index : s.indexes) {
    std::size_t k = index.keys.size();
    index.keys.resize(k + index.stride);
    index.keyDef.Build(image, index.keys.data() + k);
    PutI32(index.keys.data() + k, index.desc.keyLength, number);
  }
  if (s.encrypted) Scramble(image.data(), image.size(), kRecordKey);
  s.records = number;
  s.deleted.push_back(0);
  if (s.recordBuffer.size() >= kWriteChunk) s.FlushRecords();
  if (s.hasBlobs && s.blobBuffer.size() >= kWriteChunk) s.FlushBlocks();
  return number;
}

void TTableBuilder::MarkDeleted(int32_t appendNumber) {
  TState& s = *state_;
  if (s.finished) throw std::logic_error("table already finished");
  if (appendNumber < 1 || appendNumber > s.records) throw std::out_of_range("no such record");
  if (s.deleted[appendNumber - 1]) throw std::invalid_argument("record already deleted");
  s.deleted[appendNumber - 1] = 1;
  s.deletionOrder.push_back(appendNumber);
}

std::vector<const uint8_t*> TTableBuilder::TState::SortedEntries(const TIndexBuild& index) const {
  std::vector<const uint8_t*> entries;
  entries.reserve(static_cast<std::size_t>(records));
  for (int32_t r = 0; r < records; ++r)
    if (!deleted[r]) entries.push_back(index.keys.data() + static_cast<std::size_t>(r) * index.stride);
  const TKeyDef& key = index.keyDef;
  const int k = index.desc.keyLength;
  if (key.LocaleId() == 0) {
    // Byte order: sort on the first sixteen bytes held inline, so most
    // comparisons touch no key memory at all.
    struct TSortEntry {
      uint64_t high;
      uint64_t low;
      const uint8_t* key;
    };
    std::vector<TSortEntry> sortable(entries.size());
    const int head = std::min(k, 16);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      uint64_t part[2] = {0, 0};
      for (int j = 0; j < 16; ++j) part[j / 8] = (part[j / 8] << 8) | (j < head ? entries[i][j] : 0);
      sortable[i] = {part[0], part[1], entries[i]};
    }
    const std::size_t rest = static_cast<std::size_t>(k - head);
    std::sort(sortable.begin(), sortable.end(), [head, rest](const TSortEntry& a, const TSortEntry& b) {
      if (a.high != b.high) return a.high < b.high;
      if (a.low != b.low) return a.low < b.low;
      return rest != 0 && std::memcmp(a.key + head, b.key + head, rest) < 0;
    });
    // A descending index compares the same bytes with the result negated.
    if (key.Descending()) std::reverse(sortable.begin(), sortable.end());
    for (std::size_t i = 0; i < entries.size(); ++i) entries[i] = sortable[i].key;
  } else {
    std::sort(entries.begin(), entries.end(),
              [&key](const uint8_t* a, const uint8_t* b) { return key.Compare(a, b) < 0; });
  }
  if (index.desc.unique)
    for (std::size_t i = 1; i < entries.size(); ++i)
      if (key.Compare(entries[i - 1], entries[i]) == 0)
        RaiseError(LEDGER_KEYVIOL, {}, {}, {}, index.desc.name, {}, table, directory);
  return entries;
}

// Record numbers are given out in primary-key order, deleted records among
// the live ones by their keys; ties go by append order. The index entries are
// renumbered in place, so the sorted lists that point at them stay valid.
void TTableBuilder::TState::PlaceInKeyOrder(std::vector<std::vector<const uint8_t*>>& sorted) {
  const TIndexBuild& primary = indexes.front();
  const TKeyDef& key = primary.keyDef;
  const int k = primary.desc.keyLength;
  auto appendNumber = [k](const uint8_t* entry) { return GetI32(entry, k); };
  std::vector<const uint8_t*> gone;
  for (int32_t r : deletionOrder) gone.push_back(primary.keys.data() + static_cast<std::size_t>(r - 1) * primary.stride);
  auto before = [&](const uint8_t* a, const uint8_t* b) {
    const int c = key.Compare(a, b);
    return c != 0 ? c < 0 : appendNumber(a) < appendNumber(b);
  };
  std::sort(gone.begin(), gone.end(), before);
  std::vector<const uint8_t*> order;
  order.reserve(static_cast<std::size_t>(records));
  std::merge(sorted.front().begin(), sorted.front().end(), gone.begin(), gone.end(), std::back_inserter(order),
             before);

  std::vector<int32_t> slotOf(static_cast<std::size_t>(records));
  autoIncBySlot.resize(static_cast<std::size_t>(records));
  std::vector<uint8_t> deletedBySlot(static_cast<std::size_t>(records));
  for (std::size_t i = 0; i < order.size(); ++i) {
    const int32_t was = appendNumber(order[i]);
    slotOf[static_cast<std::size_t>(was - 1)] = static_cast<int32_t>(i + 1);
    autoIncBySlot[i] = was;
    deletedBySlot[i] = deleted[static_cast<std::size_t>(was - 1)];
  }
  deleted.swap(deletedBySlot);
  for (int32_t& r : deletionOrder) r = slotOf[static_cast<std::size_t>(r - 1)];
  for (TIndexBuild& index : indexes)
    for (std::size_t at = 0; at < index.keys.size(); at += index.stride) {
      uint8_t* number = index.keys.data() + at + index.desc.keyLength;
      PutI32(number, 0, slotOf[static_cast<std::size_t>(GetI32(number, 0) - 1)]);
    }

  // The spill is read whole when it is of a size memory takes easily, a
  // record at a time otherwise.
  constexpr uint64_t kWholeSpill = 256ull << 20;
  const uint64_t spillSize = static_cast<uint64_t>(records) * recordSize;
  std::vector<uint8_t> whole;
  if (spillSize <= kWholeSpill) {
    whole.resize(static_cast<std::size_t>(spillSize));
    spill.ReadAt(0, whole.data(), whole.size());
  }
  recordBuffer.clear();
  uint64_t written = 0;
  auto flush = [&] {
    data.WriteAt(dataStart + written, recordBuffer.data(), recordBuffer.size());
    written += recordBuffer.size();
    recordBuffer.clear();
  };
  for (std::size_t i = 0; i < order.size(); ++i) {
    // The entries are renumbered already: the append number is kept apart.
    const uint64_t from = static_cast<uint64_t>(autoIncBySlot[i] - 1) * recordSize;
    const std::size_t at = recordBuffer.size();
    recordBuffer.resize(at + recordSize);
    uint8_t* image = recordBuffer.data() + at;
    if (whole.empty()) spill.ReadAt(from, image, static_cast<std::size_t>(recordSize));
    else std::memcpy(image, whole.data() + from, static_cast<std::size_t>(recordSize));
    if (encrypted) Scramble(image, static_cast<std::size_t>(recordSize), kRecordKey);
    PutI32(image, 1, static_cast<int32_t>(i + 1));
    if (encrypted) Scramble(image, static_cast<std::size_t>(recordSize), kRecordKey);
    if (recordBuffer.size() >= kWriteChunk) flush();
  }
  flush();
  spill.Close();
}

void TTableBuilder::TState::ApplyDeletions() {
  int32_t firstFree = 0;
  std::vector<uint8_t> image(static_cast<std::size_t>(recordSize));
  for (int32_t r : deletionOrder) {
    const uint64_t at = dataStart + static_cast<uint64_t>(r - 1) * recordSize;
    data.ReadAt(at, image.data(), image.size());
    if (encrypted) Scramble(image.data(), image.size(), kRecordKey);
    image[record_image::kStatus] = kRecordDeleted;
    // A table without primary index keeps insertion order and never reuses slots.
    PutI32(image.data(), record_image::kLink, def.primary ? firstFree : 0);
    firstFree = r;
    if (encrypted) Scramble(image.data(), image.size(), kRecordKey);
    data.WriteAt(at, image.data(), image.size());
  }
  WriteDataHeader(firstFree);
}

void TTableBuilder::TState::WriteDataHeader(int32_t firstFree) {
  uint8_t raw[kDataHeaderSize];
  data.ReadAt(0, raw, sizeof raw);
  TDataHeader h;
  DecodeDataHeader(raw, h);
  h.changeCounter += 1;
  h.firstFree = firstFree;
  h.nextRecord = records + 1;
  h.lastAutoInc = records;
  h.lastBlobId = lastBlobId;
  h.engineVersion = kEngineVersion;
  h.lastWrite = LastWriteStamp(system->Now());
  h.modifiedMark = 0;
  EncodeDataHeader(h, raw);
  data.WriteAt(0, raw, sizeof raw);
}

void TTableBuilder::TState::WriteBlobHeader() {
  uint8_t raw[kBlobHeaderSize] = {};
  PutI32(raw, blob_header::kChangeCounter, 1);
  PutU8(raw, blob_header::kVersion, kBlobVersion);
  PutI32(raw, blob_header::kFirstFree, 0);
  PutI32(raw, blob_header::kNextBlock, nextBlock);
  if (encrypted) Scramble(raw, sizeof raw, kRecordKey);
  blob.WriteAt(0, raw, sizeof raw);
}

void TTableBuilder::TState::WriteIndexFile(std::vector<std::vector<const uint8_t*>>& sorted) {
  TIndexHeader header = TIndexHeader::Fresh();
  TPageWriter writer(index, encrypted);
  TIndexLoader loader(writer, def.fillFactor);
  for (std::size_t i = 0; i < indexes.size(); ++i) {
    TIndexBuild& b = indexes[i];
    b.desc.rootPage = loader.Load(b.slot, TPageFormat::Of(b.slot, b.desc), sorted[i]);
    header.slots[b.slot] = b.desc;
    // The keys are written; give their memory back before the next index.
    std::vector<uint8_t>().swap(b.keys);
    std::vector<const uint8_t*>().swap(sorted[i]);
  }
  header.secondaryCount = static_cast<uint8_t>(def.secondary.size());
  header.noPrimary = !def.primary;

  // "Sys Deleted": the auto-increment values follow the slots in a new table.
  const int32_t active = LoadStatusIndex(loader, header.slots[kSlotDeleted], deleted, autoIncBySlot);
  writer.Flush();

  header.activeRecords = active;
  header.nextPage = writer.NextPage();
  header.changeCounter = 1;
  uint8_t raw[kIndexPageSize];
  header.Encode(raw);
  if (encrypted) Scramble(raw, sizeof raw, kRecordKey);
  index.WriteAt(0, raw, sizeof raw);
}

void TTableBuilder::Finish() {
  TState& s = *state_;
  if (s.finished) throw std::logic_error("table already finished");
  try {
    // Every unique index is sorted and checked before the table is committed.
    std::vector<std::vector<const uint8_t*>> sorted;
    for (const TIndexBuild& index : s.indexes) sorted.push_back(s.SortedEntries(index));
    s.FlushRecords();
    if (s.hasBlobs) {
      s.FlushBlocks();
      s.WriteBlobHeader();
    }
    if (s.keyOrdered) s.PlaceInKeyOrder(sorted);
    s.ApplyDeletions();
    s.WriteIndexFile(sorted);
    s.CloseAll();
    if (s.target == TBuildTarget::InPlace) {
      s.RewriteInPlace();
    } else {
      s.ReplaceFiles();
    }
  } catch (...) {
    s.CloseAll();
    s.RemoveTemporaries();
    s.finished = true;
    throw;
  }
  if (s.target == TBuildTarget::InPlace) s.RemoveTemporaries();
  s.finished = true;
}

void TTableBuilder::TState::RenameIntoPlace(const char* ext) {
  if (std::string_view(ext) == ".BLB" && !hasBlobs) {
    system->Unlink(FinalName(ext));  // a stale blob file of an older table
    return;
  }
  if (int r = system->Rename(TempName(ext), FinalName(ext)); r < 0) {
    errno = -r;
    Fail(LEDGER_WRITEERR);
  }
}

// The new files replace the old set whole or not at all: the old files step
// aside, the new ones move in, and the old ones go only once all new ones are
// in place. On any failure the new ones go and the old ones come back; an old
// file that cannot come back stays under its aside name rather than be lost.
void TTableBuilder::TState::ReplaceFiles() {
  const char* const exts[] = {".DAT", ".IDX", ".BLB"};
  bool aside[3] = {};
  bool placed[3] = {};
  int failure = 0;
  for (int i = 0; i < 3 && failure == 0; ++i) {
    int r = system->Rename(FinalName(exts[i]), AsideName(exts[i]));
    if (r == -EEXIST) {
      // Left by a build cut short; the file under the real name is newer.
      system->Unlink(AsideName(exts[i]));
      r = system->Rename(FinalName(exts[i]), AsideName(exts[i]));
    }
    if (r < 0 && r != -ENOENT) failure = r;
    aside[i] = r == 0;
  }
  for (int i = 0; i < 3 && failure == 0; ++i) {
    if (i == 2 && !hasBlobs) continue;
    const int r = system->Rename(TempName(exts[i]), FinalName(exts[i]));
    if (r < 0) failure = r;
    placed[i] = r == 0;
  }
  if (failure == 0) {
    for (int i = 0; i < 3; ++i)
      if (aside[i]) system->Unlink(AsideName(exts[i]));
    return;
  }
  for (int i = 2; i >= 0; --i) {
    if (placed[i]) system->Unlink(FinalName(exts[i]));
    if (aside[i]) system->Rename(AsideName(exts[i]), FinalName(exts[i]));
  }
  errno = -failure;
  Fail(LEDGER_WRITEERR);
}

// A reader that read a record before the rewrite may open its blob after
// it; the identifier in each block is what tells it the chain is no longer
// that record's, so the new blobs must not reuse the old identifiers.
void TTableBuilder::TState::ContinueBlobIds() {
  if (!TFileHandler::Exists(FinalName(".DAT"), false, system)) return;
  TFileHandler old(FinalName(".DAT"));
  old.SetSystem(system);
  old.SetErrorContext(table, directory);
  old.Open();
  uint8_t raw[kDataHeaderSize];
  if (old.ReadAt(0, raw, sizeof raw, true) == sizeof raw) {
    TDataHeader h;
    DecodeDataHeader(raw, h);
    lastBlobId = std::max(h.lastBlobId, 0);
  }
}

// Readers hold a read byte inside the index and blob write ranges while they
// read, so under these locks nobody reads: each reader sees the old table
// or, after its change check, the new one. The counters must move on from
// what the files hold; a restart at 1 could equal what a reader last saw.
void TTableBuilder::TState::RewriteInPlace() {
  struct TTarget {
    const char* ext;
    bool wanted;  // the new table has this file
    TFileHandler file;
    bool locked = false;
    int32_t counter = 0;
  };
  TTarget targets[3] = {{".DAT", true, {}}, {".IDX", true, {}}, {".BLB", hasBlobs, {}}};
  auto unlock = [](TTarget& t) {
    bool ok = std::string_view(t.ext) == ".DAT" ? t.file.UnlockDataWriteByte() : t.file.UnlockWriteRange();
    t.locked = false;
    return ok;
  };
  try {
    for (TTarget& t : targets) {
      if (!TFileHandler::Exists(FinalName(t.ext), false, system)) continue;
      t.file.SetFileName(FinalName(t.ext));
      t.file.SetSystem(system);
      t.file.SetErrorContext(table, directory);
      t.file.Open();
      if (t.file.OpenedReadOnly()) {
        errno = EACCES;
        Fail(LEDGER_OSEACCES);
      }
      t.locked = std::string_view(t.ext) == ".DAT" ? t.file.LockDataWriteByte() : t.file.LockWriteRange();
      if (!t.locked) Fail(LEDGER_LOCKTIMEOUT);
    }
    // Counters are read under the lock: another writer may have just moved them.
    bool wasEncrypted = false;
    if (targets[0].file.IsOpen()) {
      uint8_t raw[kDataHeaderSize];
      std::size_t n = targets[0].file.ReadAt(0, raw, sizeof raw, true);
      if (n >= 4) targets[0].counter = GetI32(raw, data_header::kChangeCounter);
      if (n == sizeof raw) {
        TDataHeader h;
        DecodeDataHeader(raw, h);
        wasEncrypted = h.encrypted == 1;
      }
    }
    for (TTarget& t : targets) {
      if (&t == &targets[0] || !t.file.IsOpen()) continue;
      uint8_t raw[4];
      if (t.file.ReadAt(0, raw, sizeof raw, true) != sizeof raw) continue;
      // The key stream restarts at each header, so its first bytes unscramble alone.
      if (wasEncrypted) Scramble(raw, sizeof raw, kRecordKey);
      t.counter = GetI32(raw, 0);
    }
    for (TTarget& t : targets) {
      if (!t.wanted) continue;
      if (t.file.IsOpen())
        CopyOver(t.ext, t.file, NextCounter(t.counter), encrypted && &t != &targets[0]);
      else
        RenameIntoPlace(t.ext);
    }
    bool released = true;
    for (int i = 2; i >= 0; --i)
      if (targets[i].locked && !unlock(targets[i])) released = false;
    if (!released) Fail(LEDGER_LOCKTIMEOUT);
  } catch (...) {
    for (int i = 2; i >= 0; --i)
      if (targets[i].locked) unlock(targets[i]);
    throw;
  }
  if (!hasBlobs && targets[2].file.IsOpen()) {
    targets[2].file.Close();
    RenameIntoPlace(".BLB");  // removes the stale one
  }
}

// The body first, the header with its new counter last, then the file is cut
// to the new size.
void TTableBuilder::TState::CopyOver(const char* ext, TFileHandler& target, int32_t counter,
                                     bool scrambleCounter) {
  TFileHandler source(TempName(ext));
  source.SetSystem(system);
  source.SetErrorContext(table, directory);
  source.Open();
  const uint64_t size = source.Size();
  std::vector<uint8_t> chunk(static_cast<std::size_t>(std::min<uint64_t>(size, kWriteChunk)));
  for (uint64_t at = chunk.size(); at < size;) {
    const auto n = static_cast<std::size_t>(std::min<uint64_t>(chunk.size(), size - at));
    source.ReadAt(at, chunk.data(), n);
    target.WriteAt(at, chunk.data(), n);
    at += n;
  }
  target.WriteAt(size, nullptr, 0);
  if (chunk.empty()) return;
  source.ReadAt(0, chunk.data(), chunk.size());
  if (chunk.size() >= 4) {
    uint8_t raw[4];
    PutI32(raw, 0, counter);
    if (scrambleCounter) Scramble(raw, sizeof raw, kRecordKey);
    std::memcpy(chunk.data(), raw, sizeof raw);
  }
  target.WriteAt(0, chunk.data(), chunk.size());
  source.Close();
}

void TTableBuilder::TState::CloseAll() {
  if (spill.IsOpen()) spill.Close();
  if (data.IsOpen()) data.Close();
  if (index.IsOpen()) index.Close();
  if (blob.IsOpen()) blob.Close();
}

void TTableBuilder::TState::RemoveTemporaries() {
  for (const char* ext : {".DAT", ".IDX", ".BLB"}) system->Unlink(TempName(ext));
}

}  // namespace ledger
