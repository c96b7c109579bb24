// Leaf walking: the copy of the current leaf, steps from key to key and
// from leaf to leaf, and the first, last and sought keys of the view.

#include "engine/core/data_cursor_impl.h"

namespace ledger {

void TCursorPosition::LoadLeaf(TPage& into, int32_t p) {
  TPage* page = Index().GetPage(view_.ActiveIndex(), p);
  if (!page) throw TRestart{};
  bool ok = page->IsLeaf() && page->Count() > 0;
  if (ok) into = *page;
  Index().ReleasePage(page);
  if (!ok) IndexCorrupt();
}

void TCursorPosition::SetSlot(int s) {
  if (s < 1 || s > leaf_.Count()) IndexCorrupt();
  key_.found = true;
  key_.leafPage = leaf_.Number();
  key_.slot = s;
  key_.record = leaf_.Ref(s);
}

// Checked before the copy replaces ours, so that a failure leaves the
// cursor's leaf and slot matching each other.
void TCursorPosition::MoveTo(int32_t page, int slot) {
  LoadLeaf(spare_, page);
  if (slot < 1 || slot > spare_.Count()) IndexCorrupt();
  std::swap(leaf_, spare_);
  SetSlot(slot);
}

void TCursorPosition::Adopt(const TKeyPosition& kp) {
  // Copied again even when it is the same page: the cached one may be newer.
  MoveTo(kp.leafPage, kp.slot);
  position_ = static_cast<int32_t>(std::clamp<int64_t>(kp.position, 0, std::numeric_limits<int32_t>::max()));
}

// One key in index order, visible or not; false at the end of the chain
// or of the range (the cursor may then have moved; IndexStep undoes it).
bool TCursorPosition::RawStep(bool forward) {
  int s = key_.slot;
  if (forward) {
    if (s < leaf_.Count()) {
      ++s;
    } else {
      int32_t next = leaf_.nextPage;
      if (next == 0) return false;
      if (next == leaf_.Number()) IndexCorrupt();
      LoadLeaf(spare_, next);
      std::swap(leaf_, spare_);
      s = 1;
    }
    ++position_;
  } else {
    if (s > 1) {
      --s;
    } else {
      int32_t prev = leaf_.prevPage;
      if (prev == 0) return false;
      if (prev == leaf_.Number()) IndexCorrupt();
      LoadLeaf(spare_, prev);
      std::swap(leaf_, spare_);
      s = leaf_.Count();
    }
    --position_;
  }
  SetSlot(s);
  return forward ? !view_.BeyondRangeEnd(CurrentKey()) : !view_.BeforeRangeStart(CurrentKey());
}

// One visible key; false, with the cursor where it was, when none is left.
bool TCursorPosition::IndexStep(bool forward) {
  const int32_t page = leaf_.Number();
  const int slot = key_.slot;
  const int32_t position = position_;
  const int32_t limit = Table().RecordSlots() + 1;
  for (int32_t steps = 0; RawStep(forward);) {
    if (view_.Visible(key_.record)) return true;
    if (++steps > limit) IndexCorrupt();
  }
  if (leaf_.Number() != page) MoveTo(page, slot);
  else SetSlot(slot);
  position_ = position;
  return false;
}

bool TCursorPosition::IndexFirst() {
  const int slot = view_.ActiveIndex();
  TKeyPosition kp = view_.RangeActive() ? Index().FindNotBelow(slot, view_.RangeStart(), view_.KeyLength())
                                        : Index().First(slot);
  if (!kp.found) return false;
  Adopt(kp);
  if (view_.BeyondRangeEnd(CurrentKey())) return false;
  return view_.Visible(key_.record) || IndexStep(true);
}

bool TCursorPosition::IndexLast() {
  const int slot = view_.ActiveIndex();
  TKeyPosition kp = view_.RangeActive() ? Index().FindNotAbove(slot, view_.RangeEnd(), view_.KeyLength())
                                        : Index().Last(slot);
  if (!kp.found) return false;
  Adopt(kp);
  if (view_.BeforeRangeStart(CurrentKey()) || view_.BeyondRangeEnd(CurrentKey())) return false;
  return view_.Visible(key_.record) || IndexStep(false);
}

// The first visible key not below key over n bytes; false when none.
bool TCursorPosition::IndexSeek(const uint8_t* key, int n) {
  if (view_.RangeActive() && view_.KeyDef().Compare(key, view_.RangeStart(), n) < 0) {
    key = view_.RangeStart();
    n = view_.KeyLength();
  }
  TKeyPosition kp = Index().FindNotBelow(view_.ActiveIndex(), key, n);
  if (!kp.found) return false;
  Adopt(kp);
  if (view_.BeyondRangeEnd(CurrentKey())) return false;
  return view_.Visible(key_.record) || IndexStep(true);
}

void TCursorPosition::CollectFollowing(bool forward, std::size_t limit, std::vector<int32_t>& out) const {
  out.clear();
  const int step = forward ? 1 : -1;
  for (int s = key_.slot + step; s >= 1 && s <= leaf_.Count() && out.size() < limit; s += step)
    if (const int32_t r = leaf_.Ref(s); view_.Visible(r)) out.push_back(r);
}

}  // namespace ledger
