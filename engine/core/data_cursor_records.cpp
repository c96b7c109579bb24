// Reading the current record, and the records of the leaf that come next;
// the moves that deliver a record, which a scan makes for every one.

#include "engine/core/data_cursor_impl.h"

namespace ledger {

// The visible records of the leaf after (before) the current slot, which
// the next steps will ask for: at most limit.
void TDataCursor::TImpl::CollectFollowing(bool forward, std::size_t limit) {
  following.clear();
  const int step = forward ? 1 : -1;
  for (int s = c.leaf_.slot + step; s >= 1 && s <= leaf.Count() && following.size() < limit; s += step)
    if (const int32_t r = leaf.Ref(s); Visible(r)) following.push_back(r);
}

void TDataCursor::TImpl::ReadCurrent(TMove move) {
  TDataFile& data = Table().Data();
  for (int attempt = 0;; ++attempt) {
    if (attempt == kMaxRestarts) Raise(LEDGER_LOCKTIMEOUT);
    if (IsEmpty()) {
      std::fill(c.current_.begin(), c.current_.end(), 0);
      return;
    }
    const int32_t r = physical ? c.physicalRecord_ : c.leaf_.record;
    // Asking for the slot after the last would append a record.
    if (r < 1 || r > Table().RecordSlots()) {
      if (Table().ChangedDuringOperation()) {
        Resync(Place());
        continue;
      }
      if (physical) Raise(LEDGER_FILECORRUPT);
      IndexCorrupt();
    }
    TRecord* record = nullptr;
    if (physical || move == TMove::Jump) {
      TReadDirection direction = move == TMove::Backward ? TReadDirection::Backward : TReadDirection::Forward;
      record = data.GetRecord(r, direction, move != TMove::Jump);
    } else if (record = data.CachedRecord(r); !record) {
      // A miss takes the read lock anyway: the records the rest of the
      // leaf names come with it, so the steps through it need no lock.
      CollectFollowing(move == TMove::Forward, data.CacheLimit());
      record = data.GetRecord(r, following);
    }
    if (record) {
      std::size_t n = std::min(record->Size(), c.current_.size());
      std::memcpy(c.current_.data(), record->Data(), n);
      data.ReleaseRecord(record);
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
  m.Guarded([&] {
    m.PositionFirst();
    if (!m.IsEmpty()) beginning_ = true;
  });
  m.ReadCurrent(TMove::Jump);
  op.End();
}

void TDataCursor::SetToEnd() {
  TImpl& m = *impl_;
  TImpl::TOp op(m);
  m.Guarded([&] {
    m.PositionLast();
    if (!m.IsEmpty()) end_ = true;
  });
  m.ReadCurrent(TMove::Jump);
  op.End();
}

int TDataCursor::Next(uint8_t* buffer) {
  TImpl& m = *impl_;
  TImpl::TOp op(m);
  m.Guarded([&] {
    if (beginning_) m.PositionFirst();
    else m.Step(1);
  });
  int status = kStatusOk;
  if (end_) {
    if (m.IsEmpty()) m.ReadCurrent(TMove::Jump);
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
    if (end_) m.PositionLast();
    else m.Step(-1);
  });
  int status = kStatusOk;
  if (beginning_) {
    if (m.IsEmpty()) m.ReadCurrent(TMove::Jump);
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
  int status = kStatusOk;
  if (beginning_ && end_) status = kStatusNoCurrentRecord;
  else if (beginning_) status = kStatusBeginning;
  else if (end_) status = kStatusEnd;
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
