// Positioning and bookmarks; the moves to a position or bookmark.

#include "engine/core/data_cursor_impl.h"

namespace ledger {

// ---------------------------------------------------------------- positioning

void TCursorPosition::Clear() {
  position_ = 0;
  physicalRecord_ = 0;
  beginning_ = end_ = true;
  key_ = TKeyPosition{};
}

void TCursorPosition::Empty() {
  position_ = 0;
  physicalRecord_ = 0;
  beginning_ = end_ = true;
  key_.found = false;
  key_.slot = 0;
  key_.record = 0;
}

void TCursorPosition::PositionFirst() {
  if (view_.Physical()) {
    if (view_.VisibleCount() == 0) return Empty();
    int32_t r = 0, pos = 0;
    if (!view_.VisibleBits().FindNext(r, 1, pos)) return Empty();
    physicalRecord_ = r;
    position_ = pos;
  } else if (!IndexFirst()) {
    return Empty();
  }
  beginning_ = end_ = false;
}

void TCursorPosition::PositionLast() {
  if (view_.Physical()) {
    if (view_.VisibleCount() == 0) return Empty();
    int32_t r = view_.VisibleBits().Size() + 1, pos = view_.VisibleCount() + 1;
    if (!view_.VisibleBits().FindPrior(r, 1, pos)) return Empty();
    physicalRecord_ = r;
    position_ = pos;
  } else if (!IndexLast()) {
    return Empty();
  }
  beginning_ = end_ = false;
}

void TCursorPosition::ToBeginning() {
  PositionFirst();
  if (!IsEmpty()) beginning_ = true;
}

void TCursorPosition::ToEnd() {
  PositionLast();
  if (!IsEmpty()) end_ = true;
}

bool TCursorPosition::Seek(const uint8_t* key, int n) {
  if (IndexSeek(key, n)) {
    beginning_ = end_ = false;
    return true;
  }
  PositionLast();
  return false;
}

void TCursorPosition::GoToPosition(int32_t n) {
  if (view_.Physical()) {
    if (view_.VisibleCount() == 0) return Empty();
    int32_t r = 0, pos = 0;
    bool ok = view_.VisibleBits().FindNext(r, std::max(n, 1), pos);
    if (pos == 0) return Empty();
    physicalRecord_ = r;
    position_ = pos;
    beginning_ = false;
    end_ = !ok;
    return;
  }
  const int32_t count = view_.Count();
  if (count == 0) return Empty();
  if (n < 1) {
    ToBeginning();
  } else if (n > count) {
    ToEnd();
  } else if (view_.BitmapMode()) {
    PositionFirst();
    Step(n - 1);
  } else {
    TKeyPosition kp = Index().Nth(view_.ActiveIndex(), int64_t{view_.RangeFirst()} + n - 1);
    if (!kp.found) {
      // The index holds fewer keys than the header counts.
      ToEnd();
      return;
    }
    Adopt(kp);
    beginning_ = end_ = false;
  }
}

void TCursorPosition::BookmarkInto(std::vector<uint8_t>& out) const {
  if (view_.Physical()) {
    out.assign(4, 0);
    PutI32(out.data(), 0, IsEmpty() ? 0 : physicalRecord_);
    return;
  }
  const int keyLength = view_.KeyLength();
  out.assign(static_cast<std::size_t>(keyLength), 0);
  if (!IsEmpty() && key_.found && keyLength > 0) std::memcpy(out.data(), CurrentKey(), out.size());
}

void TCursorPosition::GoToBookmark(const uint8_t* bookmark) {
  if (view_.Physical()) {
    const TRecordsBitmap& visible = view_.VisibleBits();
    int32_t r = GetI32(bookmark);
    if (r == 0) return;
    const int32_t slots = visible.Size();
    if (slots == 0 || view_.VisibleCount() == 0) return Empty();
    r = std::clamp(r, 1, slots);
    if (!visible.Test(r)) {
      int32_t pos = 0, after = r, before = r;
      if (visible.FindNext(after, 1, pos)) r = after;
      else if (visible.FindPrior(before, 1, pos)) r = before;
      else return Empty();
    }
    physicalRecord_ = r;
    position_ = visible.Rank(r) + 1;
    beginning_ = end_ = false;
    return;
  }
  Seek(bookmark, view_.KeyLength());
}

// ---------------------------------------------------------------- positions

bool TDataCursor::GoToPosition(int32_t n) {
  TImpl& m = *impl_;
  TImpl::TOp op(m);
  m.Guarded([&] { m.position.GoToPosition(n); });
  m.ReadCurrent(TMove::Jump);
  // An empty view has no record at any position, 0 included.
  bool reached = !m.position.IsEmpty() && RecordNumber() == n;
  op.End();
  return reached;
}

int32_t TDataCursor::Position() const noexcept { return impl_->position.Position(); }

bool TDataCursor::AtBeginning() const noexcept { return impl_->position.AtBeginning(); }

bool TDataCursor::AtEnd() const noexcept { return impl_->position.AtEnd(); }

int32_t TDataCursor::RecordNumber() const noexcept {
  const int32_t position = impl_->position.Position();
  if (!open_ || impl_->view.Physical()) return position;
  return position == 0 ? 0 : position - impl_->view.RangeFirst() + 1;
}

int32_t TDataCursor::RecordCount() {
  TImpl& m = *impl_;
  TImpl::TOp op(m);
  int32_t count = m.view.Count();
  op.End();
  return count;
}

// ---------------------------------------------------------------- bookmarks

std::vector<uint8_t> TDataCursor::Bookmark() const {
  std::vector<uint8_t> out;
  if (open_) impl_->position.BookmarkInto(out);
  return out;
}

bool TDataCursor::GoToBookmark(const uint8_t* bookmark, bool restore) {
  TImpl& m = *impl_;
  TImpl::TOp op(m);
  m.Guarded([&] { m.position.GoToBookmark(bookmark); });
  m.ReadCurrent(TMove::Jump);
  bool same = restore;
  if (!same) {
    m.position.BookmarkInto(m.scratch);
    same = CompareBookmarks(bookmark, m.scratch.data()) == 0;
  }
  op.End();
  return same;
}

int TDataCursor::CompareBookmarks(const uint8_t* a, const uint8_t* b) const {
  const TImpl& m = *impl_;
  if (m.view.Physical()) {
    int32_t x = GetI32(a), y = GetI32(b);
    return x < y ? -1 : x > y ? 1 : 0;
  }
  int c = m.view.KeyDef().Compare(a, b);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

}  // namespace ledger
