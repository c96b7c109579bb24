// The page cache: one pinned cache per index, pages read, made, freed and
// written back in runs.

#include "engine/files/index_file.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "engine/errors/ledger_error.h"
#include "engine/files/file_runs.h"
#include "engine/files/scramble.h"

namespace ledger {

void TIndexFile::SetCacheBytes(int32_t bytes) {
  capacity_ = std::max<std::size_t>(2, static_cast<std::size_t>(std::max(bytes, 0)) / 8192);
  for (TPinnedCache<TPage>& c : caches_) c.SetLimit(capacity_);
}

std::size_t TIndexFile::CachedPages(int slot) const {
  return slot >= 0 && slot < kIndexSlots ? caches_[slot].Count() : 0;
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
    uint8_t raw[kIndexPageSize];
    if (p >= runFirst_ && p <= runLast_) {
      std::memcpy(raw, run_.data() + static_cast<std::size_t>(p - runFirst_) * kIndexPageSize, sizeof raw);
      ++stats_.cacheHits;
    } else {
      if (!owner_->StrictChangeDetection() && owner_->ReadLockAndCheckChanged()) {
        ForgetRun();
        return nullptr;
      }
      ReadPageBytes(p, raw);
    }
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

// Page p from the file; the pages next to it in the direction the last read
// went come along, a run at a time (file_runs.h), so that walking the leaves
// of a table built in order costs one read and one change check per run.
void TIndexFile::ReadPageBytes(int32_t p, uint8_t* raw) {
  constexpr int32_t kRunPages = static_cast<int32_t>(RunUnits(kIndexPageSize));
  // A page the header does not count, or past the end of the file, is a
  // broken link rather than a short read.
  auto endOf = [](int64_t page) { return static_cast<uint64_t>(page + 1) * kIndexPageSize; };
  if (p >= header_.nextPage) Corrupt();
  if (endOf(p) > fileSize_) {
    fileSize_ = Size();
    if (endOf(p) > fileSize_) Corrupt();
  }
  const int64_t lastPage = std::min<int64_t>(header_.nextPage - 1, static_cast<int64_t>(fileSize_ / kIndexPageSize) - 1);
  int64_t first = p, last = p;
  if (lastRead_ != 0 && p == lastRead_ + 1) last = std::min<int64_t>(int64_t{p} + kRunPages - 1, lastPage);
  else if (lastRead_ != 0 && p == lastRead_ - 1) first = std::max<int64_t>(int64_t{p} - kRunPages + 1, 1);
  ForgetRun();
  run_.resize(static_cast<std::size_t>(last - first + 1) * kIndexPageSize);
  ReadAt(static_cast<uint64_t>(first) * kIndexPageSize, run_.data(), run_.size());
  ++stats_.reads;
  if (encrypted_)
    for (std::size_t at = 0; at < run_.size(); at += kIndexPageSize) Scramble(run_.data() + at, kIndexPageSize, kRecordKey);
  runFirst_ = static_cast<int32_t>(first);
  runLast_ = static_cast<int32_t>(last);
  lastRead_ = static_cast<int32_t>(p == first ? last : first);
  std::memcpy(raw, run_.data() + static_cast<std::size_t>(p - first) * kIndexPageSize, kIndexPageSize);
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
    ForgetRun();
    owner_->MarkWritten();
    i = j;
  }
}

void TIndexFile::DropPages() {
  // A page somebody still holds (a search that met the change on its way to
  // the next page) stays theirs until released.
  for (TPinnedCache<TPage>& c : caches_) c.Drop();
  ForgetRun();
  lastRead_ = 0;
}

}  // namespace ledger
