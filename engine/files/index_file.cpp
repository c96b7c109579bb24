// Open, close and create; the header, its checks and the change counter;
// the key definitions. The page cache and the searches have files of their
// own.

#include "engine/files/index_file.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "engine/errors/ledger_error.h"
#include "engine/files/byte_order.h"
#include "engine/files/change_counter.h"
#include "engine/files/scramble.h"

namespace ledger {

TIndexFile::TIndexFile(TTableOwner* owner) : owner_(owner) {
  if (!owner_) {
    standalone_ = std::make_unique<TStandaloneOwner>();
    owner_ = standalone_.get();
  }
  // A slot whose pages are all pinned or modified grows a page at a time.
  caches_.reserve(kIndexSlots);
  for (int i = 0; i < kIndexSlots; ++i) {
    caches_.emplace_back(pool_, 1);
    caches_.back().SetLimit(capacity_);
  }
}

TIndexFile::~TIndexFile() = default;

void TIndexFile::Corrupt() const { Raise(LEDGER_INDEXCORRUPT); }

void TIndexFile::ReadHeader(TIndexHeader& header) {
  uint8_t raw[kIndexPageSize];
  ReadAt(0, raw, sizeof raw);
  if (encrypted_) Scramble(raw, sizeof raw, kRecordKey);
  header = TIndexHeader::Decode(raw);
}

void TIndexFile::Open() {
  if (IsOpen()) return;
  DropPages();
  if (!owner_->TableName().empty()) SetErrorContext(owner_->TableName(), owner_->DirectoryName());
  TFileHandler::Open();
  try {
    ReadHeader(header_);
    headerModified_ = false;
    fileSize_ = Size();
    for (auto& k : keyDefs_) k.reset();
    // Beyond 30 secondary indexes the slots would overlap the system ones.
    if (header_.secondaryCount > kMaxSecondaryIndexes) Raise(LEDGER_HEADERCORRUPT);
    ResetStats();
  } catch (...) {
    TFileHandler::Close();
    throw;
  }
}

void TIndexFile::Close() {
  DropPages();
  for (auto& k : keyDefs_) k.reset();
  TFileHandler::Close();
}

void TIndexFile::Create(bool noPrimary) {
  DropPages();
  if (!owner_->TableName().empty()) SetErrorContext(owner_->TableName(), owner_->DirectoryName());
  TFileHandler::Create();
  header_ = TIndexHeader::Fresh();
  header_.noPrimary = noPrimary;
  for (auto& k : keyDefs_) k.reset();
  WriteHeader(true);
  fileSize_ = kIndexPageSize;
}

void TIndexFile::CheckVersion() const {
  if (header_.version != kIndexVersion) Raise(LEDGER_OLDVERSION);
}

void TIndexFile::CheckStructure(const std::vector<TFieldDesc>& fields, uint32_t lcid) {
  if (!CheckIndexHeader(header_, fields).empty()) Raise(LEDGER_HEADERCORRUPT);
  for (int i = 0; i < kIndexSlots; ++i) {
    keyDefs_[i].reset();
    if (!header_.slots[i].Defined()) continue;
    if (i > header_.secondaryCount && i <= kMaxSecondaryIndexes) continue;
    try {
      keyDefs_[i].emplace(i, header_.slots[i], fields, lcid);
    } catch (const std::invalid_argument&) {
      Raise(LEDGER_HEADERCORRUPT);
    }
  }
}

namespace {

// The indexes as defined, without where their trees stand now.
bool SameIndexes(const TIndexHeader& a, const TIndexHeader& b) {
  if (a.secondaryCount != b.secondaryCount || a.noPrimary != b.noPrimary) return false;
  for (int i = 0; i < kIndexSlots; ++i) {
    TIndexDesc x = a.slots[i], y = b.slots[i];
    x.rootPage = y.rootPage = 0;
    x.firstFreePage = y.firstFreePage = 0;
    x.paramPage = y.paramPage = 0;
    if (!(x == y)) return false;
  }
  return true;
}

}  // namespace

bool TIndexFile::HeaderChanged() {
  // Nearly every check finds nothing: the counter alone tells, and the
  // descriptors are decoded only for a header that did change.
  uint8_t counter[4];
  ReadAt(0, counter, sizeof counter);
  if (encrypted_) Scramble(counter, sizeof counter, kRecordKey);
  if (GetI32(counter, index_header::kChangeCounter) == header_.changeCounter) return false;
  TIndexHeader fresh;
  ReadHeader(fresh);
  if (fresh.changeCounter == header_.changeCounter) return false;
  // Key definitions, leaf copies and bookmarks taken from the old header live
  // on in this process; pages of other indexes cannot be read through them.
  if (!SameIndexes(fresh, header_)) Raise(LEDGER_HEADERCORRUPT);
  DropPages();
  header_ = fresh;
  headerModified_ = false;
  fileSize_ = Size();
  return true;
}

void TIndexFile::MoveChangeCounter() noexcept {
  header_.changeCounter = CounterAfter(header_.changeCounter);
  headerModified_ = true;
}

bool TIndexFile::WriteHeader(bool forced) {
  if (!headerModified_ && !forced) return false;
  header_.modifiedMark = headerModified_;
  MoveChangeCounter();
  TIndexHeader copy = header_;
  for (int i = 1; i <= kMaxSecondaryIndexes; ++i) {
    if (copy.slots[i].beingBuilt) {
      copy.slots[i] = TIndexDesc{};
      if (copy.secondaryCount > 0) --copy.secondaryCount;
    }
  }
  uint8_t raw[kIndexPageSize];
  copy.Encode(raw);
  if (encrypted_) Scramble(raw, sizeof raw, kRecordKey);
  WriteAt(0, raw, sizeof raw);
  headerModified_ = false;
  owner_->MarkWritten();
  return true;
}

const TIndexDesc& TIndexFile::Descriptor(int slot) const {
  if (slot < 0 || slot >= kIndexSlots) throw std::out_of_range("index slot");
  return header_.slots[slot];
}

const TKeyDef& TIndexFile::KeyDef(int slot) const {
  const TIndexDesc& d = Descriptor(slot);
  auto& def = const_cast<std::optional<TKeyDef>&>(keyDefs_[slot]);
  if (!def) {
    // Without the field list the keys compare as bytes.
    TIndexDesc bare = d;
    bare.fieldCount = 0;
    def.emplace(slot, bare, std::vector<TFieldDesc>{}, 0);
  }
  return *def;
}

}  // namespace ledger
