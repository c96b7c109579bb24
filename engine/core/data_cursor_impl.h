#pragma once
// The cursor's private state and the steps its operations are made of, for
// the data_cursor*.cpp files that define them; each section names its file.
#include "engine/core/data_cursor.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
#include "engine/errors/ledger_error.h"
#include "engine/files/byte_order.h"
#include "engine/files/index_page.h"

namespace ledger {

// A page or record request met a change by another process: the caller
// repositions and starts the step again.
struct TRestart {};

// After a change the read lock stays held until the operation ends, so one
// restart normally settles it; the bound only stops a table that reports a
// change on every request.
constexpr int kMaxRestarts = 16;

enum class TMove { Jump, Forward, Backward };

// Where the cursor stands, kept across a reposition.
struct TPlace {
  bool beginning = true;
  bool end = true;
  std::vector<uint8_t> bookmark;
};

struct TDataCursor::TImpl {
  explicit TImpl(TDataCursor& cursor) : c(cursor) {}

  TDataCursor& c;
  std::vector<TFieldDesc> fields;
  // Per field: whether it lies inside an image of the record size, so that
  // reading it from one needs no further check.
  std::vector<bool> fitsRecord;
  // Where each blob field's first block number lies in a record image.
  std::vector<std::size_t> blobReferences;
  std::vector<std::string> origins;
  uint32_t lcid = 0;

  // The active index as last copied from the header.
  TIndexDesc activeDesc;
  TKeyDef keyDef;
  int keyLength = 0;
  bool physical = true;

  // Range (set by callers outside the read path; off here).
  std::vector<uint8_t> rangeStart;
  std::vector<uint8_t> rangeEnd;
  bool rangeActive = false;
  int32_t rangeFirst = 1;
  int32_t rangeLast = 0;

  // Bitmap mode.
  std::unique_ptr<TRecordsBitmap> visible;
  std::unique_ptr<TRecordsBitmap> inRange;
  std::unique_ptr<TRecordsBitmap> active;
  int32_t visibleCount = 0;
  bool filtersActive = false;

  // Copy of the leaf holding the current key, so that next and prior inside
  // it touch no page at all; spare receives the neighbour before the swap.
  TPage leaf;
  TPage spare;

  // Records of the rest of the leaf, read together with a missed one.
  std::vector<int32_t> following;

  // Operations.
  int depth = 0;
  bool lockTaken = false;
  TPlace before;  // reused by Guarded so a step allocates nothing
  std::vector<uint8_t> search;
  std::vector<uint8_t> scratch;

  // Open blobs: blobHandles[i] is the handle of c.blobs_[i].
  std::vector<int32_t> blobHandles;
  int32_t lastHandle = 0;

  TDataTable& Table() const { return *c.table_; }
  TIndexFile& Index() const { return c.table_->Index(); }
  int Slot() const { return c.activeIndex_; }

  [[noreturn]] void Raise(TErrorCode code, std::string_view field = {}, std::string_view index = {}) const {
    RaiseError(code, {}, {}, {}, index, field, c.tableName_, c.directory_.Path());
  }
  [[noreturn]] void IndexCorrupt() const { Raise(LEDGER_INDEXCORRUPT); }

  // ------------------------------------------------------------ state; active index, range, bitmaps: data_cursor_view.cpp

  void Empty() {
    c.position_ = 0;
    c.physicalRecord_ = 0;
    c.beginning_ = c.end_ = true;
    c.leaf_.found = false;
    c.leaf_.slot = 0;
    c.leaf_.record = 0;
  }
  bool IsEmpty() const { return c.beginning_ && c.end_; }
  bool Visible(int32_t r) const { return !c.bitmapMode_ || visible->Test(r); }

  void RefreshDescriptor();
  void RecomputeRange();
  void TakeBitmap(std::unique_ptr<TRecordsBitmap>& b);
  void GiveBitmaps();
  void CollectDeleted(TRecordsBitmap& set);
  void BuildBitmaps();

  // ------------------------------------------------------------ leaf walking: data_cursor_leaf.cpp

  void LoadLeaf(TPage& into, int32_t p);
  void SetSlot(int s);
  void MoveTo(int32_t page, int slot);
  void Adopt(const TKeyPosition& kp);

  const uint8_t* CurrentKey() const { return leaf.Key(c.leaf_.slot); }

  bool BeyondRangeEnd() const {
    return rangeActive && keyDef.Compare(CurrentKey(), rangeEnd.data()) > 0;
  }
  bool BeforeRangeStart() const {
    return rangeActive && keyDef.Compare(CurrentKey(), rangeStart.data()) < 0;
  }

  bool RawStep(bool forward);
  bool IndexStep(bool forward);
  bool IndexFirst();
  bool IndexLast();
  bool IndexSeek(const uint8_t* key, int n);

  // ------------------------------------------------------------ positioning: data_cursor_position.cpp

  void PositionFirst();
  void PositionLast();

  // |n| visible records on; at an edge the cursor stays on the last record
  // passed with that side's flag set.
  void Step(int32_t n) {
    if (n == 0 || IsEmpty()) return;
    bool forward = n > 0;
    bool ok = true;
    if (physical) {
      int32_t r = c.physicalRecord_, pos = c.position_;
      ok = forward ? visible->FindNext(r, n, pos) : visible->FindPrior(r, -n, pos);
      c.physicalRecord_ = r;
      c.position_ = pos;
    } else {
      for (int32_t i = 0; i < (forward ? n : -n) && ok; ++i) ok = IndexStep(forward);
    }
    c.beginning_ = !ok && !forward;
    c.end_ = !ok && forward;
  }

  void GoToPosition(int32_t n);
  int32_t RecordCountNow() const;

  // ------------------------------------------------------------ bookmarks: data_cursor_position.cpp

  void BookmarkInto(std::vector<uint8_t>& out) const;
  void GoToBookmark(const uint8_t* bookmark);

  // ------------------------------------------------------------ resync: data_cursor_resync.cpp

  TPlace Place() const;
  void Restore(const TPlace& p);
  void Resync(const TPlace& p);

  // Runs a movement; when the table turns out to have changed under it,
  // goes back to where it started on the new state and runs it again.
  template <typename F>
  void Guarded(F&& step) {
    before.beginning = c.beginning_;
    before.end = c.end_;
    BookmarkInto(before.bookmark);
    for (int attempt = 0;; ++attempt) {
      if (attempt == kMaxRestarts) Raise(LEDGER_LOCKTIMEOUT);
      bool restart = false;
      try {
        step();
      } catch (const TRestart&) {
        restart = true;
      }
      if (!restart && !Table().ChangedDuringOperation()) return;
      TPlace start = before;  // Resync may step through Guarded's buffer
      Resync(start);
    }
  }

  // ------------------------------------------------------------ records and the moves that deliver them: data_cursor_records.cpp

  void CollectFollowing(bool forward, std::size_t limit);
  void ReadCurrent(TMove move);
  void CheckBlobReferences() const;

  void Deliver(uint8_t* buffer) const {
    if (buffer) std::memcpy(buffer, c.current_.data(), c.current_.size());
  }
  void Blank(uint8_t* buffer) const {
    if (buffer) std::memset(buffer, 0, c.current_.size());
  }

  // ------------------------------------------------------------ open blobs: data_cursor_blobs.cpp

  const TFieldDesc* BlobField(int field, std::size_t imageSize) const;
  int FindBlob(int32_t handle) const;
  int32_t NewHandle();
  bool InTextIndex(int field) const;

  // Begin and end of every cursor operation: the change check, the strict read
  // lock, and the release of a lock the file layer took lazily.
  class TOp {
   public:
    TOp(TImpl& impl, bool forceLock = false) : impl_(impl) {
      TDataCursor& c = impl.c;
      if (!c.open_ || !c.table_) throw std::logic_error("cursor is not open");
      if (impl.depth++ > 0) {
        nested_ = true;
        return;
      }
      TDataTable& table = *c.table_;
      table.BeginOperation();
      try {
        if (!c.exclusive_ && !c.noLocking_) {
          if (forceLock || table.StrictChangeDetection()) {
            bool held = table.HoldsReadLock();
            table.ReadLock();
            impl.lockTaken = !held && table.HoldsReadLock();
          }
          if (table.Changes() != c.snapshot_) {
            impl.Resync(impl.Place());
            impl.ReadCurrent(TMove::Jump);
            resynced_ = true;
          }
        }
      } catch (...) {
        Finish(true);
        throw;
      }
    }
    ~TOp() {
      if (!ended_) Finish(true);
    }
    TOp(const TOp&) = delete;
    TOp& operator=(const TOp&) = delete;

    bool Resynced() const noexcept { return resynced_; }

    void End() {
      if (ended_) return;
      if (!nested_) {
        try {
          TDataTable& table = impl_.Table();
          if (table.ChangedDuringOperation()) {
            impl_.Resync(impl_.Place());
            impl_.ReadCurrent(TMove::Jump);
          }
        } catch (...) {
          Finish(true);
          throw;
        }
      }
      Finish(false);
    }

   private:
    void Finish(bool quietly) {
      ended_ = true;
      --impl_.depth;
      if (nested_) return;
      TDataTable* table = impl_.c.table_;
      if (!table) return;
      bool release = impl_.lockTaken;
      impl_.lockTaken = false;
      try {
        table->EndOperation();
        if (release) table->ReleaseReadLock();
      } catch (...) {
        if (!quietly) throw;
      }
    }

    TImpl& impl_;
    bool nested_ = false;
    bool ended_ = false;
    bool resynced_ = false;
  };
};

}  // namespace ledger
