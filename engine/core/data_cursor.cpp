#include "engine/core/data_cursor.h"

#include <algorithm>
#include <limits>
#include <cstring>
#include <stdexcept>

#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
#include "engine/errors/ledger_error.h"
#include "engine/files/byte_order.h"
#include "engine/files/index_page.h"

namespace ledger {

namespace {

// A page or record request met a change by another process: the caller
// repositions and starts the step again.
struct TRestart {};

// After a change the read lock stays held until the operation ends, so one
// restart normally settles it; the bound only stops a table that reports a
// change on every request.
constexpr int kMaxRestarts = 16;

constexpr std::size_t kRangeKeySize = kMaxKeyPartsSize;
constexpr std::size_t kOriginLength = 100;

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto up = [](char ch) { return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch; };
    if (up(a[i]) != up(b[i])) return false;
  }
  return true;
}

enum class TMove { Jump, Forward, Backward };

// Field values are short: the inline block copy a compiler picks for a size
// it knows to be below 256 takes longer to start than such a copy takes.
void CopyValue(uint8_t* to, const uint8_t* from, std::size_t n) {
  if (n >= 32) {
    for (std::size_t k = 0; k + 32 < n; k += 32) std::memcpy(to + k, from + k, 32);
    std::memcpy(to + n - 32, from + n - 32, 32);
  } else if (n >= 16) {
    std::memcpy(to, from, 16);
    std::memcpy(to + n - 16, from + n - 16, 16);
  } else if (n >= 8) {
    std::memcpy(to, from, 8);
    std::memcpy(to + n - 8, from + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(to, from, 4);
    std::memcpy(to + n - 4, from + n - 4, 4);
  } else {
    for (std::size_t k = 0; k < n; ++k) to[k] = from[k];
  }
}

}  // namespace

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

  // ------------------------------------------------------------ state

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

  void RefreshDescriptor() {
    TIndexFile& idx = Index();
    if (c.activeIndex_ == kNoIndex) {
      activeDesc = TIndexDesc{};
      keyDef = TKeyDef{};
      keyLength = 0;
      physical = true;
    } else {
      activeDesc = idx.Descriptor(c.activeIndex_);
      // A primary slot left undefined (an index file made anew) cannot order
      // anything, so its records are shown in physical order like a table
      // without primary key.
      physical = c.activeIndex_ == 0 && (idx.NoPrimary() || !activeDesc.Defined());
      if (physical) {
        keyDef = TKeyDef{};
        keyLength = 0;
      } else {
        keyDef = idx.KeyDef(c.activeIndex_);
        keyLength = activeDesc.keyLength;
      }
    }
    c.bitmapMode_ = physical || filtersActive;
  }

  void RecomputeRange() {
    if (!rangeActive || physical) {
      rangeFirst = 1;
      rangeLast = Table().RecordCount();
      return;
    }
    TKeyPosition a = Index().FindNotBelow(Slot(), rangeStart.data(), keyLength);
    TKeyPosition b = Index().FindNotAbove(Slot(), rangeEnd.data(), keyLength);
    if (!a.found || !b.found || a.position > b.position ||
        keyDef.Compare(b.key.data(), rangeStart.data()) < 0) {
      rangeFirst = rangeLast = 0;
    } else {
      rangeFirst = static_cast<int32_t>(a.position);
      rangeLast = static_cast<int32_t>(b.position);
    }
  }

  void TakeBitmap(std::unique_ptr<TRecordsBitmap>& b) {
    if (!b) b = TRecordsBitmapStack::Instance().Take();
  }
  void GiveBitmaps() {
    for (auto* b : {&visible, &inRange, &active})
      if (*b) TRecordsBitmapStack::Instance().Give(std::move(*b));
  }

  // Deleted record slots, from the keys of the record-status index whose
  // status byte is 1.
  void CollectDeleted(TRecordsBitmap& set) {
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

  void BuildBitmaps() {
    const int32_t slots = Table().RecordSlots();
    TakeBitmap(visible);
    TakeBitmap(inRange);
    TakeBitmap(active);
    for (auto* b : {visible.get(), inRange.get(), active.get()}) b->SetSize(slots);
    active->ClearAll();
    if (Table().RecordCount() == slots) {
      active->SetAll();
    } else {
      CollectDeleted(*active);
      active->Not();
    }
    visible->CopyFrom(*active);
    // The count comes from the bitmap itself, so positions stay consistent
    // with the bits even when the header's active count disagrees with them.
    visibleCount = visible->Count();
  }

  // ------------------------------------------------------------ index pages

  void LoadLeaf(TPage& into, int32_t p) {
    TPage* page = Index().GetPage(Slot(), p);
    if (!page) throw TRestart{};
    bool ok = page->IsLeaf() && page->Count() > 0;
    if (ok) into = *page;
    Index().ReleasePage(page);
    if (!ok) IndexCorrupt();
  }

  void SetSlot(int s) {
    if (s < 1 || s > leaf.Count()) IndexCorrupt();
    c.leaf_.found = true;
    c.leaf_.leafPage = leaf.Number();
    c.leaf_.slot = s;
    c.leaf_.record = leaf.Ref(s);
  }

  // Checked before the copy replaces ours, so that a failure leaves the
  // cursor's leaf and slot matching each other.
  void MoveTo(int32_t page, int slot) {
    LoadLeaf(spare, page);
    if (slot < 1 || slot > spare.Count()) IndexCorrupt();
    std::swap(leaf, spare);
    SetSlot(slot);
  }

  void Adopt(const TKeyPosition& kp) {
    // Copied again even when it is the same page: the cached one may be newer.
    MoveTo(kp.leafPage, kp.slot);
    c.position_ = static_cast<int32_t>(std::clamp<int64_t>(kp.position, 0, std::numeric_limits<int32_t>::max()));
  }

  const uint8_t* CurrentKey() const { return leaf.Key(c.leaf_.slot); }

  bool BeyondRangeEnd() const {
    return rangeActive && keyDef.Compare(CurrentKey(), rangeEnd.data()) > 0;
  }
  bool BeforeRangeStart() const {
    return rangeActive && keyDef.Compare(CurrentKey(), rangeStart.data()) < 0;
  }

  // One key in index order, visible or not; false at the end of the chain
  // or of the range (the cursor may then have moved; IndexStep undoes it).
  bool RawStep(bool forward) {
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
  bool IndexStep(bool forward) {
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

  bool IndexFirst() {
    TKeyPosition kp = rangeActive ? Index().FindNotBelow(Slot(), rangeStart.data(), keyLength)
                                  : Index().First(Slot());
    if (!kp.found) return false;
    Adopt(kp);
    if (BeyondRangeEnd()) return false;
    return Visible(c.leaf_.record) || IndexStep(true);
  }

  bool IndexLast() {
    TKeyPosition kp = rangeActive ? Index().FindNotAbove(Slot(), rangeEnd.data(), keyLength)
                                  : Index().Last(Slot());
    if (!kp.found) return false;
    Adopt(kp);
    if (BeforeRangeStart() || BeyondRangeEnd()) return false;
    return Visible(c.leaf_.record) || IndexStep(false);
  }

  // The first visible key not below key over n bytes; false when none.
  bool IndexSeek(const uint8_t* key, int n) {
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

  // ------------------------------------------------------------ positioning

  void PositionFirst() {
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

  void PositionLast() {
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

  void GoToPosition(int32_t n) {
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

  int32_t RecordCountNow() const {
    if (c.bitmapMode_) return visibleCount;
    return rangeFirst > 0 && rangeLast > 0 ? std::max(rangeLast - rangeFirst + 1, 0) : 0;
  }

  // ------------------------------------------------------------ bookmarks

  void BookmarkInto(std::vector<uint8_t>& out) const {
    if (physical) {
      out.assign(4, 0);
      PutI32(out.data(), 0, IsEmpty() ? 0 : c.physicalRecord_);
      return;
    }
    out.assign(static_cast<std::size_t>(keyLength), 0);
    if (!IsEmpty() && c.leaf_.found && keyLength > 0) std::memcpy(out.data(), CurrentKey(), out.size());
  }

  void GoToBookmark(const uint8_t* bookmark) {
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

  TPlace Place() const {
    TPlace p;
    p.beginning = c.beginning_;
    p.end = c.end_;
    BookmarkInto(p.bookmark);
    return p;
  }

  // Back to a place after a change: cracks stay cracks, so that the next
  // step does not pass over the record next to them.
  void Restore(const TPlace& p) {
    if (p.beginning) {
      PositionFirst();
      if (!IsEmpty()) c.beginning_ = true;
    } else if (p.end) {
      PositionLast();
      if (!IsEmpty()) c.end_ = true;
    } else if (p.bookmark.size() != static_cast<std::size_t>(physical ? 4 : keyLength)) {
      PositionFirst();  // the index changed shape under us
    } else {
      GoToBookmark(p.bookmark.data());
    }
  }

  // The change check's reposition: new snapshot, range and bitmaps, then
  // back to the place.
  void Resync(const TPlace& p) {
    for (int attempt = 0;; ++attempt) {
      if (attempt == kMaxRestarts) Raise(LEDGER_LOCKTIMEOUT);
      try {
        Table().ClearChangedDuringOperation();
        c.snapshot_ = Table().Changes();
        RefreshDescriptor();
        RecomputeRange();
        if (c.bitmapMode_) BuildBitmaps();
        Restore(p);
      } catch (const TRestart&) {
        continue;
      }
      if (!Table().ChangedDuringOperation()) return;
    }
  }

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

  // ------------------------------------------------------------ records

  // The visible records of the leaf after (before) the current slot, which
  // the next steps will ask for: at most limit.
  void CollectFollowing(bool forward, std::size_t limit) {
    following.clear();
    const int step = forward ? 1 : -1;
    for (int s = c.leaf_.slot + step; s >= 1 && s <= leaf.Count() && following.size() < limit; s += step)
      if (const int32_t r = leaf.Ref(s); Visible(r)) following.push_back(r);
  }

  void ReadCurrent(TMove move) {
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
  void CheckBlobReferences() const {
    for (std::size_t at : blobReferences)
      if (GetI32(c.current_.data(), at) < 0) Raise(LEDGER_MEMOCORRUPT);
  }

  void Deliver(uint8_t* buffer) const {
    if (buffer) std::memcpy(buffer, c.current_.data(), c.current_.size());
  }
  void Blank(uint8_t* buffer) const {
    if (buffer) std::memset(buffer, 0, c.current_.size());
  }

  // ------------------------------------------------------------ blobs

  const TFieldDesc* BlobField(int field, std::size_t imageSize) const {
    if (field < 1 || field > static_cast<int>(fields.size())) return nullptr;
    const TFieldDesc& d = fields[static_cast<std::size_t>(field - 1)];
    if (d.type != ftBlob || !FieldFits(d, imageSize)) return nullptr;
    return &d;
  }

  int FindBlob(int32_t handle) const {
    if (handle >= 0) return -1;
    for (std::size_t i = 0; i < blobHandles.size(); ++i)
      if (blobHandles[i] == handle) return static_cast<int>(i);
    return -1;
  }

  int32_t NewHandle() {
    for (;;) {
      lastHandle = lastHandle <= std::numeric_limits<int32_t>::min() + 1 ? -1 : lastHandle - 1;
      if (FindBlob(lastHandle) < 0) return lastHandle;
    }
  }

  bool InTextIndex(int field) const {
    const TIndexDesc& text = Index().Descriptor(kSlotText);
    if (!text.Defined()) return false;
    for (int i = 0; i < text.fieldCount && i < kMaxKeyFields; ++i)
      if (text.fields[i] == field) return true;
    return false;
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

// ---------------------------------------------------------------- life

TDataCursor::TDataCursor(TDataDirectory& directory)
    : directory_(directory), impl_(std::make_unique<TImpl>(*this)) {}

TDataCursor::~TDataCursor() {
  try {
    Close();
  } catch (...) {
    // Destruction cannot report; the table has been released as far as it could be.
  }
}

void TDataCursor::SetTableName(std::string_view name) {
  std::size_t slash = name.find_last_of("/\\");
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  if (name.size() >= 4 && EqualNoCase(name.substr(name.size() - 4), ".DAT")) name.remove_suffix(4);
  tableName_.assign(name.substr(0, 255));
}

void TDataCursor::Open() {
  if (open_) return;
  TImpl& m = *impl_;
  table_ = &directory_.OpenTable(tableName_, inMemory_, exclusive_);
  open_ = true;
  try {
    TDataTable& table = *table_;
    readOnly_ = readOnly_ || table.ReadOnly();
    noLocking_ = table.NoLocking();

    // The table checked the headers under its read lock when it opened its
    // files for the first cursor; later cursors share what it found.

    const std::string password = table.Data().Password();
    if (!password.empty()) {
      TDataSession& session = directory_.Session();
      while (!session.HasPassword(password))
        if (!passwordCallback_ || !passwordCallback_()) m.Raise(LEDGER_NOTSUFFTABLERIGHTS);
    }

    m.lcid = table.Data().LocaleId();
    m.fields = table.Data().Fields();
    m.fitsRecord.clear();
    m.blobReferences.clear();
    for (const TFieldDesc& f : m.fields) {
      const bool fits = FieldFits(f, static_cast<std::size_t>(table.Data().RecordSize()));
      m.fitsRecord.push_back(fits);
      if (fits && f.type == ftBlob) m.blobReferences.push_back(f.ValueOffset() + blob_ref::kFirstBlock);
    }
    m.origins.clear();
    for (const TFieldDesc& f : m.fields) {
      std::string origin = tableName_ + "." + f.name;
      if (origin.size() > kOriginLength) origin.resize(kOriginLength);
      m.origins.push_back(std::move(origin));
    }

    current_.assign(static_cast<std::size_t>(table.Data().RecordSize()), 0);
    m.rangeStart.assign(kRangeKeySize, 0x00);
    m.rangeEnd.assign(kRangeKeySize, 0xFF);
    m.rangeActive = false;
    position_ = 1;

    if (table.RebuildNeeded()) table.RebuildDeletedIndex();
    snapshot_ = table.Changes();

    activeIndex_ = noIndex_ ? kNoIndex : 0;
    m.RefreshDescriptor();
    m.RecomputeRange();
    if (bitmapMode_) m.BuildBitmaps();
    SetToBeginning();
  } catch (...) {
    try {
      Close();
    } catch (...) {
    }
    throw;
  }
}

void TDataCursor::Close() {
  if (!open_) return;
  TImpl& m = *impl_;
  blobs_.clear();
  m.blobHandles.clear();
  m.GiveBitmaps();
  m.visibleCount = 0;
  m.fields.clear();
  m.fitsRecord.clear();
  m.blobReferences.clear();
  m.origins.clear();
  m.rangeActive = false;
  m.rangeFirst = 1;
  m.rangeLast = 0;
  m.depth = 0;
  m.lockTaken = false;
  current_.clear();
  position_ = 0;
  physicalRecord_ = 0;
  beginning_ = end_ = true;
  leaf_ = TKeyPosition{};
  bitmapMode_ = false;
  open_ = false;
  TDataTable* table = table_;
  table_ = nullptr;
  if (table) directory_.ReleaseTable(*table);
}

// ---------------------------------------------------------------- fields and indexes

int TDataCursor::FieldCount() const noexcept { return static_cast<int>(impl_->fields.size()); }

int TDataCursor::RecordSize() const noexcept { return static_cast<int>(current_.size()); }

const TFieldDesc& TDataCursor::Field(int number) const {
  if (number < 1 || number > FieldCount()) impl_->Raise(LEDGER_OUTOFRANGE, std::to_string(number));
  return impl_->fields[static_cast<std::size_t>(number - 1)];
}

int TDataCursor::FieldNumber(std::string_view name) const {
  int n = open_ ? table_->Data().FindField(name) : 0;
  if (n == 0) impl_->Raise(LEDGER_OUTOFRANGE, name);
  return n;
}

std::string TDataCursor::FieldOrigin(int number) const {
  Field(number);
  return impl_->origins[static_cast<std::size_t>(number - 1)];
}

int TDataCursor::SecondaryIndexCount() const noexcept {
  return open_ ? table_->Index().Header().secondaryCount : 0;
}

const TIndexDesc& TDataCursor::IndexDescriptor(int slot) const {
  if (!open_) throw std::logic_error("cursor is not open");
  return table_->Index().Descriptor(slot);
}

const TIndexDesc& TDataCursor::ActiveIndexDescriptor() const { return impl_->activeDesc; }

bool TDataCursor::PhysicalOrder() const noexcept {
  return open_ ? impl_->physical : activeIndex_ == kNoIndex;
}

int TDataCursor::BookmarkSize() const noexcept { return PhysicalOrder() ? 4 : impl_->keyLength; }

void TDataCursor::SwitchToIndex(std::string_view name) {
  TImpl& m = *impl_;
  if (!open_) throw std::logic_error("cursor is not open");
  const std::string& activeName = activeIndex_ == kNoIndex ? std::string() : m.activeDesc.name;
  if (EqualNoCase(name, activeName)) return;
  TImpl::TOp op(m);
  const TIndexFile& idx = table_->Index();
  int found = -1;
  for (int slot = 0; slot <= idx.Header().secondaryCount && slot <= kMaxSecondaryIndexes; ++slot)
    if (EqualNoCase(name, idx.Descriptor(slot).name)) {
      found = slot;
      break;
    }
  if (found < 0) m.Raise(LEDGER_INVALIDINDEXNAME, {}, name);

  // Where we stand, in terms the new order understands.
  const bool wasBeginning = beginning_, wasEnd = end_;
  const int32_t record = m.physical ? physicalRecord_ : leaf_.record;
  std::vector<uint8_t> image = current_;

  activeIndex_ = found;
  m.rangeActive = false;
  std::fill(m.rangeStart.begin(), m.rangeStart.end(), 0x00);
  std::fill(m.rangeEnd.begin(), m.rangeEnd.end(), 0xFF);
  m.Guarded([&] {
    m.RefreshDescriptor();
    m.RecomputeRange();
    if (bitmapMode_) m.BuildBitmaps();
    if (wasBeginning || wasEnd) {
      m.Restore(TPlace{wasBeginning, wasEnd, {}});
    } else if (m.physical) {
      uint8_t bookmark[4];
      PutI32(bookmark, 0, record);
      m.GoToBookmark(bookmark);
    } else {
      m.search.assign(static_cast<std::size_t>(m.keyLength), 0);
      m.keyDef.Build(image, m.search.data());
      if (!m.IndexSeek(m.search.data(), m.keyLength)) m.PositionLast();
      else beginning_ = end_ = false;
    }
  });
  m.ReadCurrent(TMove::Jump);
  op.End();
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

// ---------------------------------------------------------------- keys

void TDataCursor::BuildKey(std::span<const uint8_t> image, uint8_t* key) const {
  const TImpl& m = *impl_;
  if (m.physical || m.keyLength == 0) return;
  if (image.size() < current_.size()) m.Raise(LEDGER_OUTOFRANGE);
  m.keyDef.Build(image, key);
}

bool TDataCursor::FindKey(const uint8_t* key, int keyFields, int partialLength) {
  TImpl& m = *impl_;
  if (!open_) throw std::logic_error("cursor is not open");
  if (m.physical) return false;
  TImpl::TOp op(m);
  const int k = m.keyLength;
  m.search.assign(key, key + k);
  const int fieldCount = m.activeDesc.fieldCount;
  keyFields = std::clamp(keyFields, 0, fieldCount);
  partialLength = std::max(partialLength, 0);
  const bool partial = (keyFields > 0 && keyFields < fieldCount) || !m.activeDesc.unique ||
                       (keyFields == 0 && partialLength > 0);
  int n = k;
  if (partial) {
    n = 0;
    for (int i = 0; i < keyFields; ++i) {
      uint16_t number = m.activeDesc.fields[static_cast<std::size_t>(i)];
      if (number >= 1 && number <= m.fields.size()) n += KeyPartSize(m.fields[number - 1u]) + 1;
    }
    if (partialLength > 0) n += partialLength + 1;
    n = std::min(n, k);
    // Only the first n bytes are compared; the fill keeps the key one that
    // sorts first among those sharing the prefix.
    std::fill(m.search.begin() + n, m.search.end(), m.activeDesc.descending ? 0xFF : 0x00);
  }
  bool found = false;
  m.Guarded([&] {
    if (m.IndexSeek(m.search.data(), n)) {
      beginning_ = end_ = false;
      found = m.keyDef.Compare(m.CurrentKey(), m.search.data(), n) == 0;
    } else {
      m.PositionLast();
      found = false;
    }
  });
  m.ReadCurrent(TMove::Jump);
  op.End();
  return found;
}

// ---------------------------------------------------------------- field values

namespace {

void CheckImage(const TDataCursor& cursor, const TFieldDesc& d, std::size_t size) {
  if (!FieldFits(d, size)) cursor.RaiseStatus(LEDGER_OUTOFRANGE, d.name);
}

}  // namespace

bool TDataCursor::GetField(int number, std::span<const uint8_t> image, uint8_t* value) const {
  const TImpl& m = *impl_;
  // Called for every field of every record a scan delivers: a whole image
  // needs only the check made at open.
  const std::size_t i = static_cast<std::size_t>(number) - 1;
  const TFieldDesc* d = nullptr;
  if (i < m.fitsRecord.size() && m.fitsRecord[i] && image.size() >= current_.size()) {
    d = &m.fields[i];
  } else {
    d = &Field(number);
    CheckImage(*this, *d, image.size());
  }
  if (d->IsAutoInc()) {
    if (value) std::memcpy(value, image.data() + kAutoIncOffset, 4);
    return true;
  }
  // Copied even when null: a blob's open handle lives there whatever its size.
  if (value) CopyValue(value, image.data() + d->ValueOffset(), d->physicalSize);
  return image[d->offset] != 0;
}

TFieldValue TDataCursor::FieldValue(int number, std::span<const uint8_t> image) const {
  const TFieldDesc& d = Field(number);
  CheckImage(*this, d, image.size());
  return ReadValue(image, d);
}

void TDataCursor::PutField(int number, std::span<uint8_t> image, const TFieldValue& value) const {
  const TFieldDesc& d = Field(number);
  CheckImage(*this, d, image.size());
  WriteValue(image, d, value, impl_->lcid);
}

void TDataCursor::BlankRecord(std::span<uint8_t> image) const { std::fill(image.begin(), image.end(), 0); }

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

void TDataCursor::Refresh() {
  TImpl& m = *impl_;
  TImpl::TOp op(m, true);
  if (!op.Resynced()) {
    m.Resync(m.Place());
    m.ReadCurrent(TMove::Jump);
  }
  op.End();
}

// ---------------------------------------------------------------- blobs

int TDataCursor::OpenBlob(int field, std::span<uint8_t> image, TBlobOpenMode mode, uint32_t& size) {
  TImpl& m = *impl_;
  size = 0;
  const TFieldDesc* d = m.BlobField(field, image.size());
  if (!d) return LEDGER_NOTABLOB;
  TImpl::TOp op(m);
  const int32_t first = GetI32(image.data(), d->ValueOffset() + blob_ref::kFirstBlock);
  if (first < 0) {
    int i = m.FindBlob(first);
    if (i < 0) return LEDGER_INVALIDBLOBOFFSET;
    TBlobBuffer& buffer = *blobs_[static_cast<std::size_t>(i)];
    if (mode == TBlobOpenMode::ReadWrite) buffer.SetMode(mode);
    size = static_cast<uint32_t>(buffer.Size());
    op.End();
    return kStatusOk;
  }
  if (blobs_.size() >= kMaxOpenBlobs) return LEDGER_OPENBLOBLIMIT;
  TBlobRef ref{first, GetI32(image.data(), d->ValueOffset() + blob_ref::kBlobId)};
  auto buffer = std::make_unique<TBlobBuffer>(field, GetI32(image.data(), record_image::kLink), ref, mode,
                                               m.InTextIndex(field));
  if (first != 0) {
    TBlobFile* file = table_->Blob();
    if (!file) m.Raise(LEDGER_MEMOCORRUPT, d->name);
    buffer->Load(*file);
  }
  const int32_t handle = m.NewHandle();
  size = static_cast<uint32_t>(buffer->Size());
  blobs_.push_back(std::move(buffer));
  m.blobHandles.push_back(handle);
  PutI32(image.data(), d->ValueOffset() + blob_ref::kFirstBlock, handle);
  image[d->offset] = size != 0 ? 1 : 0;
  op.End();
  return kStatusOk;
}

int TDataCursor::ReadBlob(int field, std::span<const uint8_t> image, uint32_t offset, uint32_t count,
                          uint8_t* destination, uint32_t& copied) {
  const TImpl& m = *impl_;
  copied = 0;
  const TFieldDesc* d = m.BlobField(field, image.size());
  if (!d) return LEDGER_NOTABLOB;
  int i = m.FindBlob(GetI32(image.data(), d->offset + 1u));
  if (i < 0) return LEDGER_INVALIDBLOBHANDLE;
  const std::vector<uint8_t>& data = blobs_[static_cast<std::size_t>(i)]->Data();
  const uint64_t size = data.size();
  uint64_t n = count;
  int status = kStatusOk;
  if (uint64_t{offset} + count > size) {
    n = offset < size ? size - offset : 0;
    status = LEDGER_ENDOFBLOB;
  }
  if (n > 0) std::memcpy(destination, data.data() + offset, static_cast<std::size_t>(n));
  copied = static_cast<uint32_t>(n);
  return status;
}

int TDataCursor::ReadWholeBlob(int field, std::span<const uint8_t> image, std::vector<uint8_t>& out) {
  TImpl& m = *impl_;
  out.clear();
  const TFieldDesc* d = m.BlobField(field, image.size());
  if (!d) return LEDGER_NOTABLOB;
  TImpl::TOp op(m);
  const int32_t first = GetI32(image.data(), d->ValueOffset() + blob_ref::kFirstBlock);
  if (first < 0) {
    int i = m.FindBlob(first);
    if (i < 0) return LEDGER_INVALIDBLOBOFFSET;
    const std::vector<uint8_t>& data = blobs_[static_cast<std::size_t>(i)]->Data();
    out.assign(data.begin(), data.end());
  } else if (first != 0) {
    TBlobFile* file = table_->Blob();
    if (!file) m.Raise(LEDGER_MEMOCORRUPT, d->name);
    try {
      LoadBlobChain(*file, TBlobRef{first, GetI32(image.data(), d->ValueOffset() + blob_ref::kBlobId)}, out);
    } catch (...) {
      out.clear();
      throw;
    }
  }
  op.End();
  return kStatusOk;
}

int TDataCursor::BlobSize(int field, std::span<const uint8_t> image, uint32_t& size) {
  const TImpl& m = *impl_;
  size = 0;
  const TFieldDesc* d = m.BlobField(field, image.size());
  if (!d) return LEDGER_NOTABLOB;
  int i = m.FindBlob(GetI32(image.data(), d->offset + 1u));
  if (i < 0) return LEDGER_INVALIDBLOBHANDLE;
  size = static_cast<uint32_t>(blobs_[static_cast<std::size_t>(i)]->Size());
  return kStatusOk;
}

int TDataCursor::ReleaseBlob(int field, std::span<uint8_t> image) {
  TImpl& m = *impl_;
  const TFieldDesc* d = m.BlobField(field, image.size());
  if (!d) return LEDGER_NOTABLOB;
  int i = m.FindBlob(GetI32(image.data(), d->offset + 1u));
  if (i < 0) return LEDGER_INVALIDBLOBHANDLE;
  auto at = static_cast<std::size_t>(i);
  // A written buffer holds data the record does not have yet; it stays.
  if (blobs_[at]->Modified()) return kStatusOk;
  const int32_t first = blobs_[at]->Ref().firstBlock;
  blobs_.erase(blobs_.begin() + i);
  m.blobHandles.erase(m.blobHandles.begin() + i);
  PutI32(image.data(), d->ValueOffset() + blob_ref::kFirstBlock, first);
  image[d->offset] = first != 0 ? 1 : 0;
  return kStatusOk;
}

void TDataCursor::RaiseStatus(int code, std::string_view field) const {
  impl_->Raise(static_cast<TErrorCode>(code), field);
}

}  // namespace ledger
