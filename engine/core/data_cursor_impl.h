#pragma once
// The parts a cursor is made of, for the data_cursor*.cpp files that define
// them: what it shows (view), where it stands (position), the blobs it holds
// open, and the steps that join them. Each part names its file.
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

// The table and the error context of a part, through the cursor's public
// face, so a part sees no state but its own and what it is given.
class TCursorPart {
 public:
  explicit TCursorPart(const TDataCursor& cursor) : cursor_(cursor) {}

 protected:
  // REQUIRES: the cursor is open.
  TDataTable& Table() const { return *cursor_.Table(); }
  // REQUIRES: the cursor is open.
  TIndexFile& Index() const { return cursor_.Table()->Index(); }
  [[noreturn]] void Raise(TErrorCode code, std::string_view field = {}, std::string_view index = {}) const {
    RaiseError(code, {}, {}, {}, index, field, cursor_.TableName(), cursor_.Directory().Path());
  }
  [[noreturn]] void IndexCorrupt() const { Raise(LEDGER_INDEXCORRUPT); }

  const TDataCursor& cursor_;
};

// ------------------------------------------------------------ what the cursor shows: data_cursor_view.cpp

// The active index as last copied from the header, the range, and the
// bitmaps of visible records for physical order and filters.
class TCursorView : public TCursorPart {
 public:
  using TCursorPart::TCursorPart;
  TCursorView(const TCursorView&) = delete;
  TCursorView& operator=(const TCursorView&) = delete;

  // The index to show (kNoIndex: physical order), with no range.
  void Open(int activeIndex);
  void Close();
  void SwitchTo(int slot);
  // Descriptor, range and bitmaps read again from the table.
  void Refresh();

  int ActiveIndex() const noexcept { return activeIndex_; }
  bool Physical() const noexcept { return physical_; }
  bool BitmapMode() const noexcept { return bitmapMode_; }
  const TIndexDesc& Descriptor() const noexcept { return activeDesc_; }
  const TKeyDef& KeyDef() const noexcept { return keyDef_; }
  int KeyLength() const noexcept { return keyLength_; }

  bool RangeActive() const noexcept { return rangeActive_; }
  const uint8_t* RangeStart() const noexcept { return rangeStart_.data(); }
  const uint8_t* RangeEnd() const noexcept { return rangeEnd_.data(); }
  int32_t RangeFirst() const noexcept { return rangeFirst_; }
  bool BeyondRangeEnd(const uint8_t* key) const {
    return rangeActive_ && keyDef_.Compare(key, rangeEnd_.data()) > 0;
  }
  bool BeforeRangeStart(const uint8_t* key) const {
    return rangeActive_ && keyDef_.Compare(key, rangeStart_.data()) < 0;
  }

  // REQUIRES: bitmap mode, for the two below.
  const TRecordsBitmap& VisibleBits() const noexcept { return *visible_; }
  int32_t VisibleCount() const noexcept { return visibleCount_; }
  bool Visible(int32_t r) const { return !bitmapMode_ || visible_->Test(r); }
  // The records the view holds now.
  int32_t Count() const;

 private:
  void RefreshDescriptor();
  void RecomputeRange();
  void GiveBitmaps();
  void CollectDeleted(TRecordsBitmap& set);
  void BuildBitmaps();

  int activeIndex_ = 0;
  TIndexDesc activeDesc_;
  TKeyDef keyDef_;
  int keyLength_ = 0;
  bool physical_ = true;
  bool bitmapMode_ = false;

  // Range (set by callers outside the read path; off here).
  std::vector<uint8_t> rangeStart_;
  std::vector<uint8_t> rangeEnd_;
  bool rangeActive_ = false;
  int32_t rangeFirst_ = 1;
  int32_t rangeLast_ = 0;

  std::unique_ptr<TRecordsBitmap> visible_;
  std::unique_ptr<TRecordsBitmap> inRange_;
  std::unique_ptr<TRecordsBitmap> active_;
  int32_t visibleCount_ = 0;
  bool filtersActive_ = false;
};

// ------------------------------------------------------------ where the cursor stands: data_cursor_position.cpp, data_cursor_leaf.cpp

// The position, the record under the cursor and, in index order, the copy
// of the leaf holding its key; moves in the order the view shows.
class TCursorPosition : public TCursorPart {
 public:
  TCursorPosition(const TDataCursor& cursor, const TCursorView& view) : TCursorPart(cursor), view_(view) {}
  TCursorPosition(const TCursorPosition&) = delete;
  TCursorPosition& operator=(const TCursorPosition&) = delete;

  int32_t Position() const noexcept { return position_; }
  bool AtBeginning() const noexcept { return beginning_; }
  bool AtEnd() const noexcept { return end_; }
  bool IsEmpty() const noexcept { return beginning_ && end_; }
  // The record under the cursor in the view's order.
  int32_t Record() const noexcept { return view_.Physical() ? physicalRecord_ : key_.record; }
  // REQUIRES: index order, on a key.
  const uint8_t* CurrentKey() const { return leaf_.Key(key_.slot); }

  // Closed: nowhere.
  void Clear();
  void Empty();
  void PositionFirst();
  void PositionLast();
  // The first (last) record with the beginning (end) flag set.
  void ToBeginning();
  void ToEnd();
  // Onto the first visible key not below key over n bytes; when there is
  // none, onto the last record. Answers whether one was found.
  bool Seek(const uint8_t* key, int n);

  // |n| visible records on; at an edge the cursor stays on the last record
  // passed with that side's flag set.
  void Step(int32_t n) {
    if (n == 0 || IsEmpty()) return;
    bool forward = n > 0;
    bool ok = true;
    if (view_.Physical()) {
      int32_t r = physicalRecord_, pos = position_;
      ok = forward ? view_.VisibleBits().FindNext(r, n, pos) : view_.VisibleBits().FindPrior(r, -n, pos);
      physicalRecord_ = r;
      position_ = pos;
    } else {
      for (int32_t i = 0; i < (forward ? n : -n) && ok; ++i) ok = IndexStep(forward);
    }
    beginning_ = !ok && !forward;
    end_ = !ok && forward;
  }

  void GoToPosition(int32_t n);

  void BookmarkInto(std::vector<uint8_t>& out) const;
  void GoToBookmark(const uint8_t* bookmark);

  // The visible records of the leaf after (before) the current slot, which
  // the next steps will ask for: at most limit.
  void CollectFollowing(bool forward, std::size_t limit, std::vector<int32_t>& out) const;

 private:
  // Leaf walking: data_cursor_leaf.cpp.
  void LoadLeaf(TPage& into, int32_t p);
  void SetSlot(int s);
  void MoveTo(int32_t page, int slot);
  void Adopt(const TKeyPosition& kp);
  bool RawStep(bool forward);
  bool IndexStep(bool forward);
  bool IndexFirst();
  bool IndexLast();
  bool IndexSeek(const uint8_t* key, int n);

  const TCursorView& view_;
  int32_t position_ = 0;
  int32_t physicalRecord_ = 0;
  bool beginning_ = true;
  bool end_ = true;
  TKeyPosition key_;  // index order: where the current key stands
  // Copy of the leaf holding the current key, so that next and prior inside
  // it touch no page at all; spare receives the neighbour before the swap.
  TPage leaf_;
  TPage spare_;
};

// ------------------------------------------------------------ open blobs: data_cursor_blobs.cpp

// The blobs a cursor holds open, each known by the negative handle the
// record image carries in place of its first block. Every call answers a
// status code rather than raising it.
class TCursorBlobs : public TCursorPart {
 public:
  using TCursorPart::TCursorPart;
  TCursorBlobs(const TCursorBlobs&) = delete;
  TCursorBlobs& operator=(const TCursorBlobs&) = delete;

  std::size_t Count() const noexcept { return buffers_.size(); }
  void Clear();

  // The blob field at a position, or null when field is none that fits imageSize.
  const TFieldDesc* Field(int field, std::size_t imageSize) const;

  // REQUIRES: d is Field(field, image.size()), inside a cursor operation.
  int Open(const TFieldDesc& d, int field, std::span<uint8_t> image, TBlobOpenMode mode, uint32_t& size);
  // REQUIRES: d is Field(field, image.size()), inside a cursor operation.
  int ReadWhole(const TFieldDesc& d, std::span<const uint8_t> image, std::vector<uint8_t>& out);
  int Read(const TFieldDesc& d, std::span<const uint8_t> image, uint32_t offset, uint32_t count,
           uint8_t* destination, uint32_t& copied) const;
  int Size(const TFieldDesc& d, std::span<const uint8_t> image, uint32_t& size) const;
  int Release(const TFieldDesc& d, std::span<uint8_t> image);

 private:
  int Find(int32_t handle) const;
  int32_t NewHandle();
  bool InTextIndex(int field) const;

  // handles_[i] is the handle of buffers_[i].
  std::vector<std::unique_ptr<TBlobBuffer>> buffers_;
  std::vector<int32_t> handles_;
  int32_t lastHandle_ = 0;
};

// ------------------------------------------------------------ the cursor: its parts, fields and operations

struct TDataCursor::TImpl {
  explicit TImpl(TDataCursor& cursor) : c(cursor), view(cursor), position(cursor, view), blobs(cursor) {}

  TDataCursor& c;
  TCursorView view;
  TCursorPosition position;
  TCursorBlobs blobs;

  std::vector<TFieldDesc> fields;
  // Per field: whether it lies inside an image of the record size, so that
  // reading it from one needs no further check.
  std::vector<bool> fitsRecord;
  // Where each blob field's first block number lies in a record image.
  std::vector<std::size_t> blobReferences;
  std::vector<std::string> origins;
  uint32_t lcid = 0;

  // Records of the rest of the leaf, read together with a missed one.
  std::vector<int32_t> following;

  // Operations.
  int depth = 0;
  bool lockTaken = false;
  TPlace before;  // reused by Guarded so a step allocates nothing
  std::vector<uint8_t> search;
  std::vector<uint8_t> scratch;

  TDataTable& Table() const { return *c.table_; }

  [[noreturn]] void Raise(TErrorCode code, std::string_view field = {}, std::string_view index = {}) const {
    RaiseError(code, {}, {}, {}, index, field, c.tableName_, c.directory_.Path());
  }
  [[noreturn]] void IndexCorrupt() const { Raise(LEDGER_INDEXCORRUPT); }

  // ------------------------------------------------------------ resync: data_cursor_resync.cpp

  TPlace Place() const;
  void Restore(const TPlace& p);
  void Resync(const TPlace& p);

  // Runs a movement; when the table turns out to have changed under it,
  // goes back to where it started on the new state and runs it again.
  template <typename F>
  void Guarded(F&& step) {
    before.beginning = position.AtBeginning();
    before.end = position.AtEnd();
    position.BookmarkInto(before.bookmark);
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

  void ReadCurrent(TMove move);
  void CheckBlobReferences() const;

  void Deliver(uint8_t* buffer) const {
    if (buffer) std::memcpy(buffer, c.current_.data(), c.current_.size());
  }
  void Blank(uint8_t* buffer) const {
    if (buffer) std::memset(buffer, 0, c.current_.size());
  }

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
