// Back to where the cursor stood after another process changed the table.

#include "engine/core/data_cursor_impl.h"

namespace ledger {

TPlace TDataCursor::TImpl::Place() const {
  TPlace p;
  p.beginning = position.AtBeginning();
  p.end = position.AtEnd();
  position.BookmarkInto(p.bookmark);
  return p;
}

// Back to a place after a change: cracks stay cracks, so that the next
// step does not pass over the record next to them.
void TDataCursor::TImpl::Restore(const TPlace& p) {
  if (p.beginning) {
    position.ToBeginning();
  } else if (p.end) {
    position.ToEnd();
  } else if (p.bookmark.size() != static_cast<std::size_t>(view.Physical() ? 4 : view.KeyLength())) {
    position.PositionFirst();  // the index changed shape under us
  } else {
    position.GoToBookmark(p.bookmark.data());
  }
}

// The change check's reposition: new snapshot, range and bitmaps, then
// back to the place.
void TDataCursor::TImpl::Resync(const TPlace& p) {
  for (int attempt = 0;; ++attempt) {
    if (attempt == kMaxRestarts) Raise(LEDGER_LOCKTIMEOUT);
    try {
      Table().ClearChangedDuringOperation();
      c.snapshot_ = Table().Changes();
      view.Refresh();
      Restore(p);
    } catch (const TRestart&) {
      continue;
    }
    if (!Table().ChangedDuringOperation()) return;
  }
}

void TDataCursor::Refresh() {
  TImpl& m = *impl_;
  TImpl::TOp op(m, true);
  if (!op.Resynced()) {
    m.Resync(m.Place());
    m.ReadCurrent(TMove::Jump);
  }
  op.End();
}

}  // namespace ledger
