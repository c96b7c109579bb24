// What the cursor shows: the active index as last read from the header, the
// range, and the bitmaps of visible records for physical order and filters.

#include "engine/core/data_cursor_impl.h"

namespace ledger {

void TDataCursor::TImpl::RefreshDescriptor() {
  TIndexFile& idx = Index();
  if (c.activeIndex_ == kNoIndex) {
    activeDesc = TIndexDesc{};
    keyDef = TKeyDef{};
    keyLength = 0;
    physical = true;
  } else {
    activeDesc = idx.Descriptor(c.activeIndex_);
    // A primary slot left undefined (an index file made anew) cannot order
    // anything, so its records are shown in physical order like a table
    // without primary key.
    physical = c.activeIndex_ == 0 && (idx.NoPrimary() || !activeDesc.Defined());
    if (physical) {
      keyDef = TKeyDef{};
      keyLength = 0;
    } else {
      keyDef = idx.KeyDef(c.activeIndex_);
      keyLength = activeDesc.keyLength;
    }
  }
  c.bitmapMode_ = physical || filtersActive;
}

void TDataCursor::TImpl::RecomputeRange() {
  if (!rangeActive || physical) {
    rangeFirst = 1;
    rangeLast = Table().RecordCount();
    return;
  }
  TKeyPosition a = Index().FindNotBelow(Slot(), rangeStart.data(), keyLength);
  TKeyPosition b = Index().FindNotAbove(Slot(), rangeEnd.data(), keyLength);
  if (!a.found || !b.found || a.position > b.position ||
      keyDef.Compare(b.key.data(), rangeStart.data()) < 0) {
    rangeFirst = rangeLast = 0;
  } else {
    rangeFirst = static_cast<int32_t>(a.position);
    rangeLast = static_cast<int32_t>(b.position);
  }
}

void TDataCursor::TImpl::TakeBitmap(std::unique_ptr<TRecordsBitmap>& b) {
  if (!b) b = TRecordsBitmapStack::Instance().Take();
}

void TDataCursor::TImpl::GiveBitmaps() {
  for (auto* b : {&visible, &inRange, &active})
    if (*b) TRecordsBitmapStack::Instance().Give(std::move(*b));
}

// Deleted record slots, from the keys of the record-status index whose
// status byte is 1.
void TDataCursor::TImpl::CollectDeleted(TRecordsBitmap& set) {
  TIndexFile& idx = Index();
  const int32_t slots = Table().RecordSlots();
  uint8_t from[kDeletedKeyLength] = {1, 0, 0, 0, 0};
  TKeyPosition kp = idx.FindNotBelow(kSlotDeleted, from, kDeletedKeyLength);
  if (!kp.found) return;
  int32_t p = kp.leafPage;
  int s = kp.slot;
  for (int32_t pages = 0;; ++pages) {
    if (pages > slots) IndexCorrupt();  // a leaf chain that goes round
    TPage* page = idx.GetPage(kSlotDeleted, p);
    if (!page) throw TRestart{};
    int32_t next = page->nextPage;
    bool leafOk = page->IsLeaf() && page->Count() > 0 && s >= 1;
    bool done = false;
    int32_t bad = 0;
    if (leafOk) {
      for (; s <= page->Count(); ++s) {
        if (page->Key(s)[0] != 1) {
          done = true;
          break;
        }
        int32_t r = page->Ref(s);
        if (r < 1 || r > slots) {
          bad = r;
          break;
        }
        set.Set(r);
      }
    }
    idx.ReleasePage(page);
    if (!leafOk || bad != 0) IndexCorrupt();
    if (done || next == 0) return;
    if (next == p) IndexCorrupt();
    p = next;
    s = 1;
  }
}

void TDataCursor::TImpl::BuildBitmaps() {
  const int32_t slots = Table().RecordSlots();
  TakeBitmap(visible);
  TakeBitmap(inRange);
  TakeBitmap(active);
  for (auto* b : {visible.get(), inRange.get(), active.get()}) b->SetSize(slots);
  active->ClearAll();
  if (Table().RecordCount() == slots) {
    active->SetAll();
  } else {
    CollectDeleted(*active);
    active->Not();
  }
  visible->CopyFrom(*active);
  // The count comes from the bitmap itself, so positions stay consistent
  // with the bits even when the header's active count disagrees with them.
  visibleCount = visible->Count();
}

}  // namespace ledger
