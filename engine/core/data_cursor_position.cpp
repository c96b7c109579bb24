// Positioning and bookmarks; the moves to a position or bookmark.

#include "engine/core/data_cursor_impl.h"

namespace ledger {

// ---------------------------------------------------------------- positioning

void TDataCursor::TImpl::PositionFirst() {
  if (physical) {
    if (visibleCount == 0) return Empty();
    int32_t r = 0, pos = 0;
    if (!visible->FindNext(r, 1, pos)) return Empty();
    c.physicalRecord_ = r;
    c.position_ = pos;
  } else if (!IndexFirst()) {
    return Empty();
  }
  c.beginning_ = c.end_ = false;
}

void TDataCursor::TImpl::PositionLast() {
  if (physical) {
    if (visibleCount == 0) return Empty();
    int32_t r = visible->Size() + 1, pos = visibleCount + 1;
    if (!visible->FindPrior(r, 1, pos)) return Empty();
    c.physicalRecord_ = r;
    c.position_ = pos;
  } else if (!IndexLast()) {
    return Empty();
  }
  c.beginning_ = c.end_ = false;
}

void TDataCursor::TImpl::GoToPosition(int32_t n) {
  if (physical) {
    if (visibleCount == 0) return Empty();
    int32_t r = 0, pos = 0;
    bool ok = visible->FindNext(r, std::max(n, 1), pos);
    if (pos == 0) return Empty();
    c.physicalRecord_ = r;
    c.position_ = pos;
    c.beginning_ = false;
    c.end_ = !ok;
    return;
  }
  const int32_t count = RecordCountNow();
  if (count == 0) return Empty();
  if (n < 1) {
    PositionFirst();
    if (!IsEmpty()) c.beginning_ = true;
  } else if (n > count) {
    PositionLast();
    if (!IsEmpty()) c.end_ = true;
  } else if (c.bitmapMode_) {
    PositionFirst();
    Step(n - 1);
  } else {
    TKeyPosition kp = Index().Nth(Slot(), int64_t{rangeFirst} + n - 1);
    if (!kp.found) {
      // The index holds fewer keys than the header counts.
      PositionLast();
      if (!IsEmpty()) c.end_ = true;
      return;
    }
    Adopt(kp);
    c.beginning_ = c.end_ = false;
  }
}

int32_t TDataCursor::TImpl::RecordCountNow() const {
  if (c.bitmapMode_) return visibleCount;
  return rangeFirst > 0 && rangeLast > 0 ? std::max(rangeLast - rangeFirst + 1, 0) : 0;
}

void TDataCursor::TImpl::BookmarkInto(std::vector<uint8_t>& out) const {
  if (physical) {
    out.assign(4, 0);
    PutI32(out.data(), 0, IsEmpty() ? 0 : c.physicalRecord_);
    return;
  }
  out.assign(static_cast<std::size_t>(keyLength), 0);
  if (!IsEmpty() && c.leaf_.found && keyLength > 0) std::memcpy(out.data(), CurrentKey(), out.size());
}

void TDataCursor::TImpl::GoToBookmark(const uint8_t* bookmark) {
  if (physical) {
    int32_t r = GetI32(bookmark);
    if (r == 0) return;
    const int32_t slots = visible->Size();
    if (slots == 0 || visibleCount == 0) return Empty();
    r = std::clamp(r, 1, slots);
    if (!visible->Test(r)) {
      int32_t pos = 0, after = r, before = r;
      if (visible->FindNext(after, 1, pos)) r = after;
      else if (visible->FindPrior(before, 1, pos)) r = before;
      else return Empty();
    }
    c.physicalRecord_ = r;
    c.position_ = visible->Rank(r) + 1;
    c.beginning_ = c.end_ = false;
    return;
  }
  if (IndexSeek(bookmark, keyLength)) {
    c.beginning_ = c.end_ = false;
    return;
  }
  PositionLast();
}

// ---------------------------------------------------------------- positions

bool TDataCursor::GoToPosition(int32_t n) {
  TImpl& m = *impl_;
  TImpl::TOp op(m);
  m.Guarded([&] { m.GoToPosition(n); });
  m.ReadCurrent(TMove::Jump);
  // An empty view has no record at any position, 0 included.
  bool reached = !m.IsEmpty() && RecordNumber() == n;
  op.End();
  return reached;
}

int32_t TDataCursor::RecordNumber() const noexcept {
  if (!open_ || impl_->physical) return position_;
  return position_ == 0 ? 0 : position_ - impl_->rangeFirst + 1;
}

int32_t TDataCursor::RecordCount() {
  TImpl& m = *impl_;
  TImpl::TOp op(m);
  int32_t count = m.RecordCountNow();
  op.End();
  return count;
}

// ---------------------------------------------------------------- bookmarks

std::vector<uint8_t> TDataCursor::Bookmark() const {
  std::vector<uint8_t> out;
  if (open_) impl_->BookmarkInto(out);
  return out;
}

bool TDataCursor::GoToBookmark(const uint8_t* bookmark, bool restore) {
  TImpl& m = *impl_;
  TImpl::TOp op(m);
  m.Guarded([&] { m.GoToBookmark(bookmark); });
  m.ReadCurrent(TMove::Jump);
  bool same = restore;
  if (!same) {
    m.BookmarkInto(m.scratch);
    same = CompareBookmarks(bookmark, m.scratch.data()) == 0;
  }
  op.End();
  return same;
}

int TDataCursor::CompareBookmarks(const uint8_t* a, const uint8_t* b) const {
  const TImpl& m = *impl_;
  if (m.physical) {
    int32_t x = GetI32(a), y = GetI32(b);
    return x < y ? -1 : x > y ? 1 : 0;
  }
  int c = m.keyDef.Compare(a, b);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

}  // namespace ledger
