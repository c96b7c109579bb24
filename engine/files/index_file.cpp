#include "engine/files/index_file.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "engine/errors/ledger_error.h"
#include "engine/files/byte_order.h"
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

void TIndexFile::SetCacheBytes(int32_t bytes) {
  capacity_ = std::max<std::size_t>(2, static_cast<std::size_t>(std::max(bytes, 0)) / 8192);
  for (TPinnedCache<TPage>& c : caches_) c.SetLimit(capacity_);
}

std::size_t TIndexFile::CachedPages(int slot) const {
  return slot >= 0 && slot < kIndexSlots ? caches_[slot].Count() : 0;
}

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
  header_.changeCounter =
      header_.changeCounter == std::numeric_limits<int32_t>::max() ? 1 : header_.changeCounter + 1;
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

// ---------------------------------------------------------------- cache

TPage* TIndexFile::TakeEntry(int slot, int32_t p) {
  TPage* page = caches_[slot].Take(p, [this] {
    if (!owner_->InTransaction()) FlushPages();
  });
  if (!page) Corrupt();
  page->Reset(TPageFormat::Of(slot, header_.slots[slot]), slot, p);
  return page;
}

TPage* TIndexFile::GetPage(int slot, int32_t p, bool isNew) {
  if (slot < 0 || slot >= kIndexSlots) throw std::out_of_range("index slot");
  if (p <= 0) Corrupt();
  TPinnedCache<TPage>& c = caches_[slot];
  TPage* page = nullptr;
  if (isNew) {
    if (p != header_.nextPage) Corrupt();
    if (p > kMaxIndexPages || (static_cast<uint64_t>(p) + 1) * kIndexPageSize > kMaxFileSize)
      Raise(LEDGER_TABLEFULL);
    page = TakeEntry(slot, p);
    page->SetModified(true);
    header_.nextPage += 1;
    headerModified_ = true;
  } else if ((page = c.Find(p)) != nullptr) {
    ++stats_.cacheHits;
  } else {
    if (!owner_->StrictChangeDetection() && owner_->ReadLockAndCheckChanged()) return nullptr;
    // A page the header does not count, or past the end of the file, is a
    // broken link rather than a short read.
    uint64_t end = (static_cast<uint64_t>(p) + 1) * kIndexPageSize;
    if (p >= header_.nextPage) Corrupt();
    if (end > fileSize_) {
      fileSize_ = Size();
      if (end > fileSize_) Corrupt();
    }
    uint8_t raw[kIndexPageSize];
    ReadAt(static_cast<uint64_t>(p) * kIndexPageSize, raw, sizeof raw);
    ++stats_.reads;
    if (encrypted_) Scramble(raw, sizeof raw, kRecordKey);
    if (!header_.slots[slot].Defined()) Corrupt();
    page = TakeEntry(slot, p);
    if (!page->Decode(raw)) {
      // Leave the cache as it was before the read.
      c.Remove(page);
      Corrupt();
    }
  }
  if (page->Number() != p) Corrupt();
  return c.Hit(page);
}

TPage* TIndexFile::RootPage(int slot) {
  int32_t root = Descriptor(slot).rootPage;
  return root == 0 ? nullptr : GetPage(slot, root);
}

void TIndexFile::ReleasePage(TPage* page) {
  if (page) caches_[page->Slot()].Release(page);
}

TPage* TIndexFile::NewPage(int slot) {
  TIndexDesc& d = header_.slots[slot];
  TPage* page;
  if (d.firstFreePage != 0) {
    int32_t p = d.firstFreePage;
    page = GetPage(slot, p);
    if (!page) return nullptr;
    d.firstFreePage = page->nextPage;
    headerModified_ = true;
  } else {
    page = GetPage(slot, header_.nextPage, true);
  }
  page->Clear();
  page->type = ptLeaf;
  page->prevPage = page->nextPage = 0;
  page->isFree = false;
  page->SetModified(true);
  return page;
}

void TIndexFile::FreePage(TPage* page) {
  TIndexDesc& d = header_.slots[page->Slot()];
  page->Clear();
  page->isFree = true;
  page->prevPage = 0;
  page->nextPage = d.firstFreePage;
  page->SetModified(true);
  d.firstFreePage = page->Number();
  headerModified_ = true;
}

void TIndexFile::WritePage(TPage& page, uint8_t* raw) {
  if (!page.Encode(raw)) Corrupt();
  if (encrypted_) Scramble(raw, kIndexPageSize, kRecordKey);
}

void TIndexFile::FlushPages() {
  std::vector<TPage*> dirty;
  for (const TPinnedCache<TPage>& c : caches_) c.Dirty(dirty);
  std::sort(dirty.begin(), dirty.end(), [](TPage* a, TPage* b) { return a->Number() < b->Number(); });
  std::vector<uint8_t> run;
  for (std::size_t i = 0; i < dirty.size();) {
    std::size_t j = i;
    run.clear();
    while (j < dirty.size() && dirty[j]->Number() == dirty[i]->Number() + static_cast<int32_t>(j - i)) {
      run.resize(run.size() + kIndexPageSize);
      WritePage(*dirty[j], run.data() + run.size() - kIndexPageSize);
      ++j;
    }
    WriteAt(static_cast<uint64_t>(dirty[i]->Number()) * kIndexPageSize, run.data(), run.size());
    ++stats_.writes;
    stats_.pagesWritten += static_cast<int64_t>(j - i);
    for (std::size_t k = i; k < j; ++k) dirty[k]->SetModified(false);
    fileSize_ = std::max<uint64_t>(fileSize_, (static_cast<uint64_t>(dirty[j - 1]->Number()) + 1) * kIndexPageSize);
    owner_->MarkWritten();
    i = j;
  }
}

void TIndexFile::DropPages() {
  // A page somebody still holds (a search that met the change on its way to
  // the next page) stays theirs until released.
  for (TPinnedCache<TPage>& c : caches_) c.Drop();
}

// ---------------------------------------------------------------- searches

namespace {

// Releases a pinned page when it goes out of scope.
class TPin {
 public:
  TPin(TIndexFile& file, TPage* page) : file_(file), page_(page) {}
  ~TPin() { file_.ReleasePage(page_); }
  TPin(const TPin&) = delete;
  TPin& operator=(const TPin&) = delete;
  TPage* operator->() const { return page_; }
  TPage* get() const { return page_; }

 private:
  TIndexFile& file_;
  TPage* page_;
};

}  // namespace

TKeyPosition TIndexFile::Finish(int slot, TPage* leaf, int s, int64_t position) {
  TKeyPosition r;
  r.found = true;
  r.leafPage = leaf->Number();
  r.slot = s;
  r.position = position;
  r.record = leaf->Ref(s);
  int k = header_.slots[slot].keyLength;
  r.key.assign(leaf->Key(s), leaf->Key(s) + k);
  return r;
}

TPage* TIndexFile::GetLeaf(int slot, int32_t p) {
  TPage* page = GetPage(slot, p);
  if (!page) return nullptr;
  if (page->type != ptLeaf || page->Count() == 0) {
    ReleasePage(page);
    Corrupt();
  }
  return page;
}

TKeyPosition TIndexFile::Descend(int slot, TMode mode, const uint8_t* key, int n, int64_t nth) {
  const TIndexDesc& d = Descriptor(slot);
  const TKeyDef& def = KeyDef(slot);
  if (n < 0 || n > d.keyLength) n = d.keyLength;
  for (;;) {
    int32_t p = d.rootPage;
    if (p == 0) return {};
    int64_t running = 0;      // keys before the current page
    int64_t expected = -1;    // keys the parent says are below the page
    bool restart = false;
    for (int depth = 0;; ++depth) {
      if (depth >= kMaxIndexDepth) Corrupt();
      TPage* raw = GetPage(slot, p);
      if (!raw) {
        restart = true;
        break;
      }
      TPin page(*this, raw);
      const int count = page->Count();
      if (count == 0) Corrupt();
      if (depth == 0 ? !page->IsRoot() : page->IsRoot()) Corrupt();
      const bool leaf = page->IsLeaf();
      const bool counts = !leaf && !page->Format().noCounts;
      if (counts && !page->CountsPositive()) Corrupt();
      if (expected >= 0 && page->TotalKeys() != expected) Corrupt();
      int s = 1;
      switch (mode) {
        case TMode::First: s = 1; break;
        case TMode::Last: s = count; break;
        case TMode::NotBelow:
        case TMode::NotAbove: {
          // Last entry <= key, or on a leaf searched from below the first >= key.
          // Going down for the first key not below, a branch takes the last
          // entry strictly below: a prefix shared by several children starts
          // in the earliest of them, not the last.
          int lo = 1, hi = count;
          bool lowerLeaf = mode == TMode::NotBelow && leaf;
          const int limit = mode == TMode::NotBelow ? -1 : 0;
          if (lowerLeaf) {
            s = count;
            while (lo <= hi) {
              int mid = lo + (hi - lo) / 2;
              if (def.Compare(page->Key(mid), key, n) >= 0) {
                s = mid;
                hi = mid - 1;
              } else {
                lo = mid + 1;
              }
            }
          } else {
            s = 1;
            while (lo <= hi) {
              int mid = lo + (hi - lo) / 2;
              if (def.Compare(page->Key(mid), key, n) <= limit) {
                s = mid;
                lo = mid + 1;
              } else {
                hi = mid - 1;
              }
            }
          }
          break;
        }
        case TMode::Nth: {
          if (!counts && !leaf) Corrupt();
          if (leaf) {
            s = static_cast<int>(std::clamp<int64_t>(nth - running, 1, count));
            break;
          }
          int64_t pos = running + 1;  // position of the first key under slot s
          while (s < count && pos + page->KeyCount(s) <= nth) {
            pos += page->KeyCount(s);
            ++s;
          }
          if (pos > nth) Corrupt();
          break;
        }
      }
      if (leaf) {
        if (page->type == ptRootBranch || page->type == ptBranch) Corrupt();
        int64_t position = running + s;
        if (mode == TMode::NotBelow && def.Compare(page->Key(s), key, n) < 0) {
          int32_t next = page->nextPage;
          if (next == 0) return {};
          TPage* nl = GetLeaf(slot, next);
          if (!nl) {
            restart = true;
            break;
          }
          TPin nextPin(*this, nl);
          return Finish(slot, nl, 1, position + 1);
        }
        if (mode == TMode::Nth && position != nth) Corrupt();
        return Finish(slot, page.get(), s, position);
      }
      if (counts) {
        running += page->KeysBefore(s);
        expected = page->KeyCount(s);
      } else {
        expected = -1;
      }
      p = page->Ref(s);
      if (p <= 0) Corrupt();
    }
    if (!restart) return {};
  }
}

TKeyPosition TIndexFile::First(int slot) { return Descend(slot, TMode::First, nullptr, 0, 0); }
TKeyPosition TIndexFile::Last(int slot) { return Descend(slot, TMode::Last, nullptr, 0, 0); }

TKeyPosition TIndexFile::FindNotBelow(int slot, const uint8_t* key, int n) {
  return Descend(slot, TMode::NotBelow, key, n, 0);
}

TKeyPosition TIndexFile::FindNotAbove(int slot, const uint8_t* key, int n) {
  return Descend(slot, TMode::NotAbove, key, n, 0);
}

TKeyPosition TIndexFile::Nth(int slot, int64_t n) {
  if (n < 1 || n > TotalKeys(slot)) return {};
  return Descend(slot, TMode::Nth, nullptr, 0, n);
}

int64_t TIndexFile::TotalKeys(int slot) {
  for (;;) {
    int32_t root = Descriptor(slot).rootPage;
    if (root == 0) return 0;
    TPage* raw = GetPage(slot, root);
    if (!raw) continue;
    TPin page(*this, raw);
    if (!page->IsRoot() || page->Count() == 0) Corrupt();
    if (page->IsBranch() && page->Format().noCounts) Corrupt();
    if (!page->CountsPositive()) Corrupt();
    return page->TotalKeys();
  }
}

// A position taken before another process changed the table leads nowhere
// in the new one; no further key is not the same as the end of the index.
void TIndexFile::RaiseChanged() const { Raise(LEDGER_KEYORRECDELETED); }

TKeyPosition TIndexFile::Next(int slot, const TKeyPosition& at) {
  if (!at.found) return {};
  TPage* raw = GetPage(slot, at.leafPage);
  if (!raw) RaiseChanged();
  TPin page(*this, raw);
  if (!page->IsLeaf() || at.slot < 1 || at.slot > page->Count()) Corrupt();
  if (at.slot < page->Count()) return Finish(slot, page.get(), at.slot + 1, at.position + 1);
  if (page->nextPage == 0) return {};
  if (page->nextPage == page->Number()) Corrupt();
  TPage* nl = GetLeaf(slot, page->nextPage);
  if (!nl) RaiseChanged();
  TPin next(*this, nl);
  return Finish(slot, nl, 1, at.position + 1);
}

TKeyPosition TIndexFile::Prior(int slot, const TKeyPosition& at) {
  if (!at.found) return {};
  TPage* raw = GetPage(slot, at.leafPage);
  if (!raw) RaiseChanged();
  TPin page(*this, raw);
  if (!page->IsLeaf() || at.slot < 1 || at.slot > page->Count()) Corrupt();
  if (at.slot > 1) return Finish(slot, page.get(), at.slot - 1, at.position - 1);
  if (page->prevPage == 0) return {};
  if (page->prevPage == page->Number()) Corrupt();
  TPage* pl = GetLeaf(slot, page->prevPage);
  if (!pl) RaiseChanged();
  TPin prev(*this, pl);
  return Finish(slot, pl, pl->Count(), at.position - 1);
}

int TIndexFile::ReadAheadCount(int slot, const TKeyPosition& at, bool forward, int maxCount) {
  if (!at.found || maxCount <= 0) return 0;
  TPage* raw = GetPage(slot, at.leafPage);
  if (!raw) return 0;
  TPin page(*this, raw);
  if (!page->IsLeaf() || at.slot < 1 || at.slot > page->Count()) Corrupt();
  int step = forward ? 1 : -1;
  int n = 0;
  int64_t expect = page->Ref(at.slot);
  for (int s = at.slot + step; s >= 1 && s <= page->Count() && n < maxCount; s += step) {
    expect += step;
    if (page->Ref(s) != expect) break;
    ++n;
  }
  return n;
}

}  // namespace ledger
