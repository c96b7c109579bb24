// Leaf walking: the copy of the current leaf, steps from key to key and
// from leaf to leaf, and the first, last and sought keys of the view.

#include "engine/core/data_cursor_impl.h"

namespace ledger {

void TDataCursor::TImpl::LoadLeaf(TPage& into, int32_t p) {
  TPage* page = Index().GetPage(Slot(), p);
  if (!page) throw TRestart{};
  bool ok = page->IsLeaf() && page->Count() > 0;
  if (ok) into = *page;
  Index().ReleasePage(page);
  if (!ok) IndexCorrupt();
}

void TDataCursor::TImpl::SetSlot(int s) {
  if (s < 1 || s > leaf.Count()) IndexCorrupt();
  c.leaf_.found = true;
  c.leaf_.leafPage = leaf.Number();
  c.leaf_.slot = s;
  c.leaf_.record = leaf.Ref(s);
}

// Checked before the copy replaces ours, so that a failure leaves the
// cursor's leaf and slot matching each other.
void TDataCursor::TImpl::MoveTo(int32_t page, int slot) {
  LoadLeaf(spare, page);
  if (slot < 1 || slot > spare.Count()) IndexCorrupt();
  std::swap(leaf, spare);
  SetSlot(slot);
}

void TDataCursor::TImpl::Adopt(const TKeyPosition& kp) {
  // Copied again even when it is the same page: the cached one may be newer.
  MoveTo(kp.leafPage, kp.slot);
  c.position_ = static_cast<int32_t>(std::clamp<int64_t>(kp.position, 0, std::numeric_limits<int32_t>::max()));
}

// One key in index order, visible or not; false at the end of the chain
// or of the range (the cursor may then have moved; IndexStep undoes it).
bool TDataCursor::TImpl::RawStep(bool forward) {
  int s = c.leaf_.slot;
  if (forward) {
    if (s < leaf.Count()) {
      ++s;
    } else {
      int32_t next = leaf.nextPage;
      if (next == 0) return false;
      if (next == leaf.Number()) IndexCorrupt();
      LoadLeaf(spare, next);
      std::swap(leaf, spare);
      s = 1;
    }
    ++c.position_;
  } else {
    if (s > 1) {
      --s;
    } else {
      int32_t prev = leaf.prevPage;
      if (prev == 0) return false;
      if (prev == leaf.Number()) IndexCorrupt();
      LoadLeaf(spare, prev);
      std::swap(leaf, spare);
      s = leaf.Count();
    }
    --c.position_;
  }
  SetSlot(s);
  return forward ? !BeyondRangeEnd() : !BeforeRangeStart();
}

// One visible key; false, with the cursor where it was, when none is left.
bool TDataCursor::TImpl::IndexStep(bool forward) {
  const int32_t page = leaf.Number();
  const int slot = c.leaf_.slot;
  const int32_t position = c.position_;
  const int32_t limit = Table().RecordSlots() + 1;
  for (int32_t steps = 0; RawStep(forward);) {
    if (Visible(c.leaf_.record)) return true;
    if (++steps > limit) IndexCorrupt();
  }
  if (leaf.Number() != page) MoveTo(page, slot);
  else SetSlot(slot);
  c.position_ = position;
  return false;
}

bool TDataCursor::TImpl::IndexFirst() {
  TKeyPosition kp = rangeActive ? Index().FindNotBelow(Slot(), rangeStart.data(), keyLength)
                                : Index().First(Slot());
  if (!kp.found) return false;
  Adopt(kp);
  if (BeyondRangeEnd()) return false;
  return Visible(c.leaf_.record) || IndexStep(true);
}

bool TDataCursor::TImpl::IndexLast() {
  TKeyPosition kp = rangeActive ? Index().FindNotAbove(Slot(), rangeEnd.data(), keyLength)
                                : Index().Last(Slot());
  if (!kp.found) return false;
  Adopt(kp);
  if (BeforeRangeStart() || BeyondRangeEnd()) return false;
  return Visible(c.leaf_.record) || IndexStep(false);
}

// The first visible key not below key over n bytes; false when none.
bool TDataCursor::TImpl::IndexSeek(const uint8_t* key, int n) {
  if (rangeActive && keyDef.Compare(key, rangeStart.data(), n) < 0) {
    key = rangeStart.data();
    n = keyLength;
  }
  TKeyPosition kp = Index().FindNotBelow(Slot(), key, n);
  if (!kp.found) return false;
  Adopt(kp);
  if (BeyondRangeEnd()) return false;
  return Visible(c.leaf_.record) || IndexStep(true);
}

}  // namespace ledger
