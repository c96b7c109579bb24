#include "engine/build/table_verifier.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "engine/errors/ledger_error.h"
#include "engine/files/blob_file.h"
#include "engine/files/byte_order.h"
#include "engine/files/data_file.h"
#include "engine/files/index_file.h"
#include "engine/files/scramble.h"

namespace ledger {

namespace {

// Thrown with the description of the first inconsistency.
struct TFinding : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void Found(const std::string& text) { throw TFinding(text); }

std::string SlotName(int slot, const TIndexDesc& desc) {
  if (slot == 0) return "primary index";
  return "index \"" + desc.name + "\" (slot " + std::to_string(slot) + ")";
}

class TWalker {
 public:
  TWalker(TDataFile& data, TIndexFile& index, TBlobFile* blob, const std::function<void()>& midway)
      : data_(data), index_(index), blob_(blob), midway_(midway) {}

  void Run() {
    const uint64_t pages = index_.Size() / kIndexPageSize;
    if (static_cast<uint64_t>(std::max(index_.NextPageNumber(), 1)) > pages)
      Found("index header counts " + std::to_string(index_.NextPageNumber() - 1) + " pages, the file holds " +
            std::to_string(pages == 0 ? 0 : pages - 1));
    if (blob_) {
      const uint64_t size = blob_->Size();
      const uint64_t blocks = size > kBlobHeaderSize ? (size - kBlobHeaderSize) / blob_->BlockSize() : 0;
      if (static_cast<uint64_t>(blob_->BlockCount()) > blocks)
        Found("blob header counts " + std::to_string(blob_->BlockCount()) + " blocks, the file holds " +
              std::to_string(blocks));
    }
    ReadStatuses();
    CheckFreeChain();
    if (midway_) midway_();
    const TIndexHeader& h = index_.Header();
    if (h.activeRecords != active_)
      Found("index header counts " + std::to_string(h.activeRecords) + " active records, the data file holds " +
            std::to_string(active_));
    for (int slot = 0; slot <= h.secondaryCount; ++slot)
      if (h.slots[slot].Defined()) WalkIndex(slot, active_);
    WalkIndex(kSlotDeleted, records_);
    if (blob_) WalkBlobs();
  }

 private:
  void ReadStatuses() {
    records_ = data_.RecordCount();
    status_.assign(static_cast<std::size_t>(records_) + 1, 0);
    for (int32_t r = 1; r <= records_; ++r) {
      TRecord* rec = data_.GetRecord(r, TReadDirection::Forward, true);
      status_[r] = rec->Data()[record_image::kStatus];
      if (status_[r] == kRecordActive) ++active_;
      else if (status_[r] != kRecordDeleted) Found("record " + std::to_string(r) + " has status " + std::to_string(status_[r]));
      data_.ReleaseRecord(rec);
    }
  }

  void CheckFreeChain() {
    std::vector<uint8_t> seen(status_.size(), 0);
    int32_t r = data_.Header().firstFree;
    int32_t length = 0;
    while (r != 0) {
      ++length;
      if (r < 1 || r > records_) Found("free record chain leads to record " + std::to_string(r) + ", outside the file");
      if (status_[r] != 1) Found("free record chain holds active record " + std::to_string(r));
      if (seen[r]) Found("free record chain runs into itself at record " + std::to_string(r));
      seen[r] = 1;
      TRecord* rec = data_.GetRecord(r);
      int32_t next = rec->Link();
      data_.ReleaseRecord(rec);
      r = next;
    }
    // Every freed slot of a table with primary index waits in the chain for
    // reuse; without one, slots are never reused and links stay 0.
    const int32_t deleted = records_ - active_;
    if (!index_.NoPrimary() && length != deleted)
      Found("free record chain holds " + std::to_string(length) + " of " + std::to_string(deleted) +
            " deleted records");
  }

  // The key an entry for record r must carry.
  void ExpectedKey(int slot, int32_t r, std::vector<uint8_t>& key) {
    TRecord* rec = data_.GetRecord(r);
    if (slot == kSlotDeleted) {
      key.assign(kDeletedKeyLength, 0);
      key[0] = rec->Data()[record_image::kStatus];
      PutKeyInt32(key.data() + 1, rec->AutoIncValue());
    } else {
      const TKeyDef& def = index_.KeyDef(slot);
      key.assign(static_cast<std::size_t>(def.KeyLength()), 0);
      def.Build(rec->Image(), key.data());
    }
    data_.ReleaseRecord(rec);
  }

  struct TIndexWalk {
    int slot = 0;
    std::string name;
    int keyLength = 0;
    std::vector<uint8_t> lastKey;
    bool haveLast = false;
    int32_t prevLeaf = 0;
    int32_t prevLeafNext = 0;
    int leafDepth = -1;
    int32_t pageLimit = 0;  // pages 1 ... pageLimit - 1 can be read
    std::vector<uint8_t> seenPage;
    std::vector<uint8_t> seenRecord;
    std::vector<uint8_t> expected;
  };

  void WalkIndex(int slot, int32_t expectedKeys) {
    const TIndexDesc& desc = index_.Descriptor(slot);
    TIndexWalk w;
    w.slot = slot;
    w.name = SlotName(slot, desc);
    w.keyLength = desc.keyLength;
    // Pages past the end of the file cannot be read, so a huge next page
    // number in a damaged header sizes nothing.
    w.pageLimit = static_cast<int32_t>(
        std::min<uint64_t>(static_cast<uint64_t>(std::max(index_.NextPageNumber(), 1)), index_.Size() / kIndexPageSize));
    w.seenPage.assign(static_cast<std::size_t>(std::max(w.pageLimit, 1)), 0);
    w.seenRecord.assign(status_.size(), 0);
    int64_t total = 0;
    if (desc.rootPage != 0) total = Visit(w, desc.rootPage, 0, nullptr);
    if (w.prevLeafNext != 0)
      Found(w.name + ": last leaf " + std::to_string(w.prevLeaf) + " links on to page " + std::to_string(w.prevLeafNext));
    if (total != expectedKeys)
      Found(w.name + " holds " + std::to_string(total) + " keys for " + std::to_string(expectedKeys) + " records");
  }

  // Returns the keys below page p.
  int64_t Visit(TIndexWalk& w, int32_t p, int depth, const uint8_t* parentKey) {
    const std::string where = w.name + ", page " + std::to_string(p);
    if (depth >= kMaxIndexDepth) Found(where + ": the tree is deeper than 64 levels");
    if (p < 1 || p >= w.pageLimit) Found(w.name + ": page number " + std::to_string(p) + " is outside the file");
    if (w.seenPage[p]) Found(where + " is reached twice");
    w.seenPage[p] = 1;
    TPage* page = index_.GetPage(w.slot, p);
    if (!page) Found(where + " changed while being read");
    struct TEntry {
      std::vector<uint8_t> key;
      int32_t ref;
      int32_t count;
    };
    std::vector<TEntry> entries;
    const bool leaf = page->IsLeaf();
    const bool root = page->IsRoot();
    const int type = page->type;
    const int32_t prev = page->prevPage, next = page->nextPage;
    for (int s = 1; s <= page->Count(); ++s)
      entries.push_back({std::vector<uint8_t>(page->Key(s), page->Key(s) + w.keyLength), page->Ref(s),
                         page->KeyCount(s)});
    index_.ReleasePage(page);

    if (root != (depth == 0)) Found(where + ": page type " + std::to_string(type) + " at level " + std::to_string(depth));
    if (entries.empty()) Found(where + " has no entries");
    const TKeyDef& def = index_.KeyDef(w.slot);
    if (parentKey && def.Compare(parentKey, entries.front().key.data()) != 0)
      Found(where + ": its parent's key differs from its first key");

    if (!leaf) {
      int64_t total = 0;
      for (std::size_t s = 0; s < entries.size(); ++s) {
        int64_t below = Visit(w, entries[s].ref, depth + 1, entries[s].key.data());
        if (below != entries[s].count)
          Found(where + ", entry " + std::to_string(s + 1) + ": counts " + std::to_string(entries[s].count) +
                " keys, its subtree holds " + std::to_string(below));
        total += below;
      }
      return total;
    }

    if (w.leafDepth < 0) w.leafDepth = depth;
    if (w.leafDepth != depth) Found(where + ": leaves at levels " + std::to_string(w.leafDepth) + " and " + std::to_string(depth));
    if (prev != w.prevLeaf)
      Found(where + ": leaf links back to page " + std::to_string(prev) + " instead of " + std::to_string(w.prevLeaf));
    if (w.prevLeaf != 0 && w.prevLeafNext != p)
      Found(w.name + ", page " + std::to_string(w.prevLeaf) + ": leaf links on to page " +
            std::to_string(w.prevLeafNext) + " instead of " + std::to_string(p));
    w.prevLeaf = p;
    w.prevLeafNext = next;
    for (std::size_t s = 0; s < entries.size(); ++s) {
      const TEntry& e = entries[s];
      const std::string at = where + ", entry " + std::to_string(s + 1);
      if (w.haveLast && def.Compare(w.lastKey.data(), e.key.data()) >= 0) Found(at + ": key out of order");
      w.lastKey = e.key;
      w.haveLast = true;
      const int32_t r = e.ref;
      if (r < 1 || r > records_) Found(at + ": record " + std::to_string(r) + " is outside the data file");
      if (w.slot != kSlotDeleted && status_[r] != 0) Found(at + ": record " + std::to_string(r) + " is deleted");
      if (w.seenRecord[r]) Found(at + ": record " + std::to_string(r) + " is listed twice");
      w.seenRecord[r] = 1;
      ExpectedKey(w.slot, r, w.expected);
      if (std::memcmp(w.expected.data(), e.key.data(), w.expected.size()) != 0)
        Found(at + ": key does not match record " + std::to_string(r));
    }
    return static_cast<int64_t>(entries.size());
  }

  void WalkBlobs() {
    const uint32_t size = blob_->BlockSize();
    const uint32_t room = size - kBlockHeaderSize;
    const uint64_t fileSize = blob_->Size();
    const uint64_t whole = fileSize > kBlobHeaderSize ? (fileSize - kBlobHeaderSize) / size : 0;
    const int32_t count = static_cast<int32_t>(std::min<uint64_t>(static_cast<uint64_t>(blob_->BlockCount()), whole));
    const bool encrypted = data_.Encrypted();
    std::vector<uint8_t> owner(static_cast<std::size_t>(count) + 1, 0);
    std::vector<uint8_t> raw(size);
    auto readBlock = [&](int32_t b) {
      blob_->ReadAt(kBlobHeaderSize + static_cast<uint64_t>(b - 1) * size, raw.data(), size);
      if (encrypted) {
        Scramble(raw.data(), kBlockHeaderSize, kRecordKey);
        Scramble(raw.data() + kBlockHeaderSize, room, kRecordKey);
      }
    };
    for (int32_t r = 1; r <= records_; ++r) {
      if (status_[r] != 0) continue;
      TRecord* rec = data_.GetRecord(r, TReadDirection::Forward, true);
      std::vector<TBlobRef> refs;
      std::vector<std::string> names;
      for (const TFieldDesc& f : data_.Fields()) {
        if (f.type != ftBlob) continue;
        TFieldValue v = ReadValue(rec->Image(), f);
        if (const auto* ref = std::get_if<TBlobRef>(&v)) {
          refs.push_back(*ref);
          names.push_back(f.name);
        }
      }
      data_.ReleaseRecord(rec);
      for (std::size_t i = 0; i < refs.size(); ++i) {
        const std::string what = "record " + std::to_string(r) + ", blob " + names[i];
        int32_t b = refs[i].firstBlock;
        if (b == 0) continue;
        int32_t prev = 0;
        int64_t total = -1, sum = 0;
        while (b != 0) {
          if (b < 1 || b > count) Found(what + ": chain leads to block " + std::to_string(b) + ", outside the file");
          if (owner[b]) Found(what + ": block " + std::to_string(b) + " already belongs to a chain");
          owner[b] = 1;
          readBlock(b);
          const std::string at = what + ", block " + std::to_string(b);
          const int32_t back = GetI32(raw.data(), block_header::kPrev);
          if (back != prev)
            Found(at + ": links back to " + std::to_string(back) + " instead of " + std::to_string(prev));
          const int32_t id = GetI32(raw.data(), block_header::kBlobId);
          if (id != refs[i].blobId)
            Found(at + ": carries blob identifier " + std::to_string(id) + " instead of " +
                  std::to_string(refs[i].blobId));
          uint16_t used = GetU16(raw.data(), block_header::kUsed);
          if (used > room) Found(at + ": uses " + std::to_string(used) + " bytes of " + std::to_string(room));
          int32_t length = GetI32(raw.data(), block_header::kTotalLength);
          if (total < 0) {
            total = length;
          } else if (length != 0) {
            Found(at + ": a block after the first carries a total length");
          }
          sum += used;
          prev = b;
          b = GetI32(raw.data(), block_header::kNext);
        }
        if (sum != total)
          Found(what + ": chain holds " + std::to_string(sum) + " bytes, its first block says " + std::to_string(total));
      }
    }
  }

  TDataFile& data_;
  TIndexFile& index_;
  TBlobFile* blob_;
  const std::function<void()>& midway_;
  int32_t records_ = 0;
  int32_t active_ = 0;
  std::vector<uint8_t> status_;  // per record number
};

// The table's read lock as every reader takes it: a byte of the index file
// and one of the blob file, which keep out a writer and no other reader.
class TReadLock {
 public:
  ~TReadLock() { Release(); }

  void Take(TFileHandler& index, TFileHandler* blob) {
    if (!index.LockReadByte(indexByte_)) index.Raise(LEDGER_LOCKTIMEOUT);
    index_ = &index;
    if (blob && !blob->LockReadByte(blobByte_)) blob->Raise(LEDGER_LOCKTIMEOUT);
    blob_ = blob;
  }

  void Release() noexcept {
    if (blob_) blob_->UnlockReadByte(blobByte_);
    if (index_) index_->UnlockReadByte(indexByte_);
    blob_ = index_ = nullptr;
  }

 private:
  TFileHandler* index_ = nullptr;
  TFileHandler* blob_ = nullptr;
  uint64_t indexByte_ = 0;
  uint64_t blobByte_ = 0;
};

int32_t CounterOnDisk(TFileHandler& file, bool scrambled) {
  uint8_t raw[4];
  file.ReadAt(0, raw, sizeof raw);
  if (scrambled) Scramble(raw, sizeof raw, kRecordKey);
  return GetI32(raw, 0);
}

// A table a writer changed between the open and the lock is opened again,
// this often at most: a writer never idle that long leaves no other choice
// than to check what was read.
constexpr int kMaxOpens = 16;

}  // namespace

std::string TTableVerifier::Run() {
  const std::string base = directory_ + "/" + table_;
  for (int attempt = 1;; ++attempt) {
    TStandaloneOwner owner(table_, directory_);
    TDataFile data(&owner);
    TIndexFile index(&owner);
    TBlobFile blob(&owner);
    TReadLock lock;
    bool blobOpen = false;
    bool changed = false;
    std::string result = "ok";
    try {
      data.SetFileName(base + ".DAT");
      data.SetErrorContext(table_, directory_);
      data.SetSystem(system_);
      data.Open();
      index.SetFileName(base + ".IDX");
      index.SetErrorContext(table_, directory_);
      index.SetSystem(system_);
      index.SetEncrypted(data.Encrypted());
      index.Open();
      if (data.BlobFieldCount() > 0) {
        blob.SetFileName(base + ".BLB");
        blob.SetErrorContext(table_, directory_);
        blob.SetSystem(system_);
        blob.SetBlockSize(data.Header().blockSize);
        blob.SetEncrypted(data.Encrypted());
        blob.Open();
        blobOpen = true;
      }
      // Files nobody can write need no lock.
      const bool writable = !data.ReadOnlyFile() && !index.ReadOnlyFile() && !(blobOpen && blob.ReadOnlyFile());
      if (writable) {
        lock.Take(index, blobOpen ? &blob : nullptr);
        // The headers were read before the lock: a writer may have moved on
        // since, and the check would judge its new files by the old headers.
        changed = CounterOnDisk(data, false) != data.Header().changeCounter ||
                  CounterOnDisk(index, data.Encrypted()) != index.Header().changeCounter ||
                  (blobOpen && CounterOnDisk(blob, data.Encrypted()) != blob.Header().changeCounter);
        changed = changed && attempt < kMaxOpens;
      }
      if (!changed) {
        data.CheckStructure();
        owner.hasPrimaryIndex = !index.NoPrimary();
        index.CheckVersion();
        index.CheckStructure(data.Fields(), data.LocaleId());
        if (blobOpen) blob.CheckStructure();
        TWalker(data, index, blobOpen ? &blob : nullptr, midway_).Run();
      }
    } catch (const TFinding& f) {
      result = f.what();
    } catch (const ELedgerEngineError& e) {
      result = e.what();
    } catch (const std::exception& e) {
      result = e.what();
    }
    lock.Release();
    if (blob.IsOpen()) blob.Close();
    if (index.IsOpen()) index.Close();
    if (data.IsOpen()) data.Close();
    if (!changed) return result;
  }
}

}  // namespace ledger
