// What the cursor shows: the active index as last read from the header, the
// range, and the bitmaps of visible records for physical order and filters.

#include "engine/core/data_cursor_impl.h"

namespace ledger {

namespace {

constexpr std::size_t kRangeKeySize = kMaxKeyPartsSize;

void TakeBitmap(std::unique_ptr<TRecordsBitmap>& b) {
  if (!b) b = TRecordsBitmapStack::Instance().Take();
}

}  // namespace

void TCursorView::Open(int activeIndex) {
  rangeStart_.assign(kRangeKeySize, 0x00);
  rangeEnd_.assign(kRangeKeySize, 0xFF);
  rangeActive_ = false;
  activeIndex_ = activeIndex;
}

void TCursorView::Close() {
  GiveBitmaps();
  visibleCount_ = 0;
  rangeActive_ = false;
  rangeFirst_ = 1;
  rangeLast_ = 0;
  bitmapMode_ = false;
}

void TCursorView::SwitchTo(int slot) {
  activeIndex_ = slot;
  rangeActive_ = false;
  std::fill(rangeStart_.begin(), rangeStart_.end(), 0x00);
  std::fill(rangeEnd_.begin(), rangeEnd_.end(), 0xFF);
}

void TCursorView::Refresh() {
  RefreshDescriptor();
  RecomputeRange();
  if (bitmapMode_) BuildBitmaps();
}

int32_t TCursorView::Count() const {
  if (bitmapMode_) return visibleCount_;
  return rangeFirst_ > 0 && rangeLast_ > 0 ? std::max(rangeLast_ - rangeFirst_ + 1, 0) : 0;
}

void TCursorView::RefreshDescriptor() {
  TIndexFile& idx = Index();
  if (activeIndex_ == kNoIndex) {
    activeDesc_ = TIndexDesc{};
    keyDef_ = TKeyDef{};
    keyLength_ = 0;
    physical_ = true;
  } else {
    activeDesc_ = idx.Descriptor(activeIndex_);
    // A primary slot left undefined (an index file made anew) cannot order
    // anything, so its records are shown in physical order like a table
    // without primary key.
    physical_ = activeIndex_ == 0 && (idx.NoPrimary() || !activeDesc_.Defined());
    if (physical_) {
      keyDef_ = TKeyDef{};
      keyLength_ = 0;
    } else {
      keyDef_ = idx.KeyDef(activeIndex_);
      keyLength_ = activeDesc_.keyLength;
    }
  }
  bitmapMode_ = physical_ || filtersActive_;
}

void TCursorView::RecomputeRange() {
  if (!rangeActive_ || physical_) {
    rangeFirst_ = 1;
    rangeLast_ = Table().RecordCount();
    return;
  }
  TKeyPosition a = Index().FindNotBelow(activeIndex_, rangeStart_.data(), keyLength_);
  TKeyPosition b = Index().FindNotAbove(activeIndex_, rangeEnd_.data(), keyLength_);
  if (!a.found || !b.found || a.position > b.position ||
      keyDef_.Compare(b.key.data(), rangeStart_.data()) < 0) {
    rangeFirst_ = rangeLast_ = 0;
  } else {
    rangeFirst_ = static_cast<int32_t>(a.position);
    rangeLast_ = static_cast<int32_t>(b.position);
  }
}

void TCursorView::GiveBitmaps() {
  for (auto* b : {&visible_, &inRange_, &active_})
    if (*b) TRecordsBitmapStack::Instance().Give(std::move(*b));
}

// Deleted record slots, from the keys of the record-status index whose
// status byte is 1.
void TCursorView::CollectDeleted(TRecordsBitmap& set) {
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

void TCursorView::BuildBitmaps() {
  const int32_t slots = Table().RecordSlots();
  TakeBitmap(visible_);
  TakeBitmap(inRange_);
  TakeBitmap(active_);
  for (auto* b : {visible_.get(), inRange_.get(), active_.get()}) b->SetSize(slots);
  active_->ClearAll();
  if (Table().RecordCount() == slots) {
    active_->SetAll();
  } else {
    CollectDeleted(*active_);
    active_->Not();
  }
  visible_->CopyFrom(*active_);
  // The count comes from the bitmap itself, so positions stay consistent
  // with the bits even when the header's active count disagrees with them.
  visibleCount_ = visible_->Count();
}

}  // namespace ledger
