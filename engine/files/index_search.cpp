// The searches of one index: descents by key or position, and steps to the
// neighbouring key.

#include "engine/files/index_file.h"

#include <algorithm>
#include <cstdint>

#include "engine/errors/ledger_error.h"

namespace ledger {

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
