// Reading the current record, and the records of the leaf that come next;
// the moves that deliver a record, which a scan makes for every one.

#include <algorithm>
#include <cstring>

#include "engine/core/data_cursor_impl.h"

namespace ledger {

void TDataCursor::TImpl::ReadCurrent(TMove move) {
  TDataFile& data = Table().Data();
  for (int attempt = 0;; ++attempt) {
    if (attempt == kMaxRestarts) Raise(LEDGER_LOCKTIMEOUT);
    if (position.IsEmpty()) {
      std::fill(c.current_.begin(), c.current_.end(), 0);
      return;
    }
    const int32_t r = position.Record();
    // Asking for the slot after the last would append a record.
    if (r < 1 || r > Table().RecordSlots()) {
      if (Table().ChangedDuringOperation()) {
        Resync(Place());
        continue;
      }
      if (view.Physical()) Raise(LEDGER_FILECORRUPT);
      IndexCorrupt();
    }
    const bool forward = move != TMove::Backward;
    const int32_t run = data.ScanWindowRecords();
    const uint8_t* image = nullptr;
    TRecord* record = nullptr;
    if (move == TMove::Jump) {
      record = data.GetRecord(r, TReadDirection::Forward, false);
    } else if (view.Physical()) {
      image = forward ? data.ScanRecord(r, r, r + run - 1) : data.ScanRecord(r, r - run + 1, r);
    } else if (image = data.HeldRecord(r); !image) {
      // A miss takes the read lock anyway: the records the rest of the leaf
      // names come with it, so the steps through it need no lock. Close
      // together, as in a table stored in key order, they and what lies
      // beyond them come as one run; scattered, each gets a cache entry.
      position.CollectFollowing(forward, std::max<std::size_t>(data.CacheLimit(), static_cast<std::size_t>(run)),
                                following);
      int32_t lo = r, hi = r;
      for (int32_t f : following) {
        lo = std::min(lo, f);
        hi = std::max(hi, f);
      }
      if (int64_t{hi} - lo < run)
        image = forward ? data.ScanRecord(r, lo, lo + run - 1) : data.ScanRecord(r, hi - run + 1, hi);
      else
        record = data.GetRecord(r, following);  // as many as the cache can hold
    }
    if (record) image = record->Data();
    if (image) {
      std::memcpy(c.current_.data(), image, std::min<std::size_t>(data.RecordSize(), c.current_.size()));
      if (record) data.ReleaseRecord(record);
      CheckBlobReferences();
      return;
    }
    // The record number is taken again from the repositioned cursor.
    Resync(Place());
    move = TMove::Jump;
  }
}

// Only an image this cursor handed out can carry an open blob's handle:
// one read from the file that holds a negative block number would be
// taken for the handle of another record's blob.
void TDataCursor::TImpl::CheckBlobReferences() const {
  for (std::size_t at : blobReferences)
    if (GetI32(c.current_.data(), at) < 0) Raise(LEDGER_MEMOCORRUPT);
}

// ---------------------------------------------------------------- navigation

void TDataCursor::SetToBeginning() {
  TImpl& m = *impl_;
  TImpl::TOp op(m);
  m.Guarded([&] { m.position.ToBeginning(); });
  m.ReadCurrent(TMove::Jump);
  op.End();
}

void TDataCursor::SetToEnd() {
  TImpl& m = *impl_;
  TImpl::TOp op(m);
  m.Guarded([&] { m.position.ToEnd(); });
  m.ReadCurrent(TMove::Jump);
  op.End();
}

int TDataCursor::Next(uint8_t* buffer) {
  TImpl& m = *impl_;
  TImpl::TOp op(m);
  m.Guarded([&] {
    if (m.position.AtBeginning()) m.position.PositionFirst();
    else m.position.Step(1);
  });
  int status = kStatusOk;
  if (m.position.AtEnd()) {
    if (m.position.IsEmpty()) m.ReadCurrent(TMove::Jump);
    m.Blank(buffer);
    status = kStatusEnd;
  } else {
    m.ReadCurrent(TMove::Forward);
    m.Deliver(buffer);
  }
  op.End();
  return status;
}

int TDataCursor::Prior(uint8_t* buffer) {
  TImpl& m = *impl_;
  TImpl::TOp op(m);
  m.Guarded([&] {
    if (m.position.AtEnd()) m.position.PositionLast();
    else m.position.Step(-1);
  });
  int status = kStatusOk;
  if (m.position.AtBeginning()) {
    if (m.position.IsEmpty()) m.ReadCurrent(TMove::Jump);
    m.Blank(buffer);
    status = kStatusBeginning;
  } else {
    m.ReadCurrent(TMove::Backward);
    m.Deliver(buffer);
  }
  op.End();
  return status;
}

int TDataCursor::Current(uint8_t* buffer) {
  TImpl& m = *impl_;
  TImpl::TOp op(m);
  const TCursorPosition& at = m.position;
  int status = kStatusOk;
  if (at.AtBeginning() && at.AtEnd()) status = kStatusNoCurrentRecord;
  else if (at.AtBeginning()) status = kStatusBeginning;
  else if (at.AtEnd()) status = kStatusEnd;
  if (status != kStatusOk) {
    m.Blank(buffer);
  } else {
    m.ReadCurrent(TMove::Jump);
    m.Deliver(buffer);
  }
  op.End();
  return status;
}

}  // namespace ledger
