#pragma once
// The cache the data, blob and index files keep their pieces in: records,
// blocks and pages by number, pinned while somebody holds them, with a
// recency list from which the oldest clean unpinned entry makes room for the
// next one. Modified entries stay until their file writes them; with every
// entry pinned or modified and nothing written, the cache grows instead.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace ledger {

template <class Entry>
class TPinnedCache;

// The cache's bookkeeping, a base of every entry it keeps. A copy takes the
// number and the modified flag only: the copy belongs to no cache.
template <class Entry>
class TCacheEntry {
 public:
  TCacheEntry() = default;
  TCacheEntry(const TCacheEntry& other) noexcept : number_(other.number_), modified_(other.modified_) {}
  TCacheEntry& operator=(const TCacheEntry& other) noexcept {
    number_ = other.number_;
    modified_ = other.modified_;
    return *this;
  }

  int32_t Number() const noexcept { return number_; }
  bool Modified() const noexcept { return modified_; }
  void SetModified(bool value) noexcept { modified_ = value; }
  int PinCount() const noexcept { return pins_; }
  bool Pinned() const noexcept { return pins_ > 0; }

 protected:
  ~TCacheEntry() = default;
  // REQUIRES: the entry is in no cache, or the number is the one it has.
  void SetNumber(int32_t number) noexcept { number_ = number; }

 private:
  friend class TPinnedCache<Entry>;

  int32_t number_ = 0;
  bool modified_ = false;
  bool orphan_ = false;  // dropped from the cache while pinned
  int pins_ = 0;
  std::size_t place_ = 0;  // in the cache's owned or orphans list
  Entry* older_ = nullptr;
  Entry* newer_ = nullptr;
};

// Released entries kept for reuse, so that a cache that keeps turning over
// allocates nothing. An entry comes back as its last user left it.
template <class Entry>
class TEntryPool {
 public:
  explicit TEntryPool(std::size_t limit) : limit_(limit) {}
  TEntryPool(const TEntryPool&) = delete;
  TEntryPool& operator=(const TEntryPool&) = delete;

  std::unique_ptr<Entry> Take() {
    if (pool_.empty()) return std::make_unique<Entry>();
    std::unique_ptr<Entry> entry = std::move(pool_.back());
    pool_.pop_back();
    return entry;
  }
  void Give(std::unique_ptr<Entry> entry) {
    if (entry && pool_.size() < limit_) pool_.push_back(std::move(entry));
  }
  std::size_t Count() const noexcept { return pool_.size(); }

 private:
  std::size_t limit_;
  std::vector<std::unique_ptr<Entry>> pool_;
};

// A list of slots kept contiguous with room at both ends: a scan that
// evicts at one end and adds at the other moves nothing, a search indexes
// plain memory, and an insertion or removal moves the shorter side. Slot is
// trivially copyable.
template <class Slot>
class TSlotList {
 public:
  std::size_t size() const noexcept { return last_ - first_; }
  bool empty() const noexcept { return first_ == last_; }
  Slot& operator[](std::size_t i) noexcept { return buf_[first_ + i]; }
  const Slot& operator[](std::size_t i) const noexcept { return buf_[first_ + i]; }
  Slot* begin() noexcept { return buf_.data() + first_; }
  Slot* end() noexcept { return buf_.data() + last_; }
  const Slot* begin() const noexcept { return buf_.data() + first_; }
  const Slot* end() const noexcept { return buf_.data() + last_; }
  Slot& front() noexcept { return buf_[first_]; }
  Slot& back() noexcept { return buf_[last_ - 1]; }
  const Slot& front() const noexcept { return buf_[first_]; }
  const Slot& back() const noexcept { return buf_[last_ - 1]; }

  void pop_front() noexcept { ++first_; }
  void pop_back() noexcept { --last_; }
  void clear() noexcept { first_ = last_ = buf_.size() / 2; }

  void insert(std::size_t i, const Slot& slot) {
    const std::size_t n = size();
    const bool front = i < n - i;
    if (front ? first_ == 0 : last_ == buf_.size()) Regrow(1);
    Slot* b = begin();
    if (front) {
      std::copy(b, b + i, b - 1);
      --first_;
    } else {
      std::copy_backward(b + i, b + n, b + n + 1);
      ++last_;
    }
    (*this)[i] = slot;
  }
  void erase(std::size_t i) noexcept {
    const std::size_t n = size();
    Slot* b = begin();
    if (i < n - 1 - i) {
      std::copy_backward(b, b + i, b + i + 1);
      ++first_;
    } else {
      std::copy(b + i + 1, b + n, b + i);
      --last_;
    }
  }
  // count more slots at the back, unset.
  void grow_back(std::size_t count) {
    if (buf_.size() - last_ < count) Regrow(count);
    last_ += count;
  }
  template <class Pred>
  void erase_if(Pred pred) {
    last_ = static_cast<std::size_t>(std::remove_if(begin(), end(), pred) - buf_.data());
  }

 private:
  // A new buffer with the slots in its middle, room for `more` at the back
  // and about as much as they take on either side: a scan that slides
  // through it comes back here only after as many steps as the list holds.
  void Regrow(std::size_t more) {
    const std::size_t n = size();
    std::vector<Slot> next(2 * (n + more) + 16);
    const std::size_t start = (next.size() - n - more) / 2;
    std::copy(begin(), end(), next.begin() + static_cast<std::ptrdiff_t>(start));
    buf_ = std::move(next);
    first_ = start;
    last_ = start + n;
  }

  std::vector<Slot> buf_;
  std::size_t first_ = 0;
  std::size_t last_ = 0;
};

// Entry derives from TCacheEntry<Entry> and is default-constructible; numbers
// are above 0. The cache sets an entry's number, pins and modified flag; the
// rest of an entry it hands out is the caller's to reset.
template <class Entry>
class TPinnedCache {
 public:
  // Each entry's number is kept beside it, so that a search reads no entry,
  // and only a pointer, so that entries move as plain bytes.
  struct TSlot {
    int32_t number;
    Entry* entry;
  };

  // growth: the room added when nothing can be evicted even after a flush.
  TPinnedCache(TEntryPool<Entry>& pool, std::size_t growth) : pool_(&pool), growth_(growth) {}
  TPinnedCache(TPinnedCache&&) = default;
  TPinnedCache& operator=(TPinnedCache&&) = default;

  // The number of entries kept normally; the capacity starts there again.
  void SetLimit(std::size_t limit) noexcept { limit_ = capacity_ = limit; }
  std::size_t Limit() const noexcept { return limit_; }
  std::size_t Capacity() const noexcept { return capacity_; }
  std::size_t Count() const noexcept { return sorted_.size(); }
  // Places taken by no entry.
  std::size_t Free() const noexcept { return capacity_ > sorted_.size() ? capacity_ - sorted_.size() : 0; }
  // Entries somebody still holds, the dropped ones included.
  std::size_t PinnedCount() const noexcept {
    std::size_t n = orphans_.size();
    for (const TSlot& slot : sorted_) n += slot.entry->Pinned() ? 1 : 0;
    return n;
  }
  std::span<const TSlot> Sorted() const noexcept { return {sorted_.begin(), sorted_.end()}; }

  // The entry with the number, or null; its recency stays as it was.
  Entry* Find(int32_t number) noexcept {
    if (afterHit_ && afterHit_->number_ == number) return afterHit_;
    int checked = 0;
    for (Entry* p = newest_; p && checked < kRecentChecked; p = p->older_, ++checked)
      if (p->number_ == number) return p;
    const std::size_t i = LowerBound(number);
    return i < sorted_.size() && sorted_[i].number == number ? sorted_[i].entry : nullptr;
  }

  // The entry becomes the newest and is pinned.
  Entry* Hit(Entry* entry) noexcept {
    Entry* behind = entry->older_;
    Touch(entry);
    afterHit_ = behind;
    ++entry->pins_;
    return entry;
  }
  // The entry becomes the newest.
  void Touch(Entry* entry) noexcept {
    if (newest_ == entry) return;
    Unlink(entry);
    LinkFront(entry);
  }
  static void Pin(Entry* entry) noexcept { ++entry->pins_; }
  // An entry dropped while pinned goes to the pool with its last pin.
  void Release(Entry* entry) {
    if (!entry || entry->pins_ == 0) return;
    if (--entry->pins_ > 0 || !entry->orphan_) return;
    std::unique_ptr<Entry> owned = TakeOut(orphans_, entry);
    pool_->Give(std::move(owned));
  }

  // A new entry for the number: the newest, clean and unpinned; null when the
  // number is cached already. A full cache reuses the oldest clean unpinned
  // entry; with none, flush() may write modified ones, and with still none
  // the cache grows.
  template <class Flush>
  Entry* Take(int32_t number, Flush&& flush) {
    // First: the search that found the number missing left the hint there.
    const std::size_t at = LowerBound(number);
    if (at < sorted_.size() && sorted_[at].number == number) return nullptr;
    Entry* victim = nullptr;
    if (sorted_.size() >= capacity_) {
      victim = Evictable();
      if (!victim) {
        flush();
        victim = Evictable();
      }
      if (!victim) capacity_ += growth_;
    }
    Entry* entry;
    if (victim) {
      Unlink(victim);
      Replace(victim, number, at);
      entry = victim;
    } else {
      entry = Own(pool_->Take());
      sorted_.insert(at, TSlot{number, entry});
      hint_ = at;
    }
    Fresh(entry, number);
    LinkFront(entry);
    return entry;
  }

  // Out of the cache and back to the pool.
  // REQUIRES: the entry is listed and unpinned.
  void Remove(Entry* entry) {
    Unlink(entry);
    EraseSorted(entry);
    pool_->Give(TakeOut(owned_, entry));
  }

  // Evicts clean unpinned entries, oldest first, down to the limit, and
  // gives up the room the cache grew by.
  void Trim() {
    Entry* p = oldest_;
    while (sorted_.size() > limit_ && p) {
      Entry* next = p->newer_;
      if (!p->modified_ && !p->Pinned()) Remove(p);
      p = next;
    }
    capacity_ = std::max(limit_, sorted_.size());
  }

  // Forgets every entry. One still pinned stays its holder's, unchanged,
  // until released.
  void Drop() {
    for (std::unique_ptr<Entry>& entry : owned_) {
      entry->older_ = entry->newer_ = nullptr;
      if (entry->Pinned()) {
        entry->orphan_ = true;
        entry->place_ = orphans_.size();
        orphans_.push_back(std::move(entry));
      } else {
        pool_->Give(std::move(entry));
      }
    }
    Reset();
  }

  // Frees every entry, the pinned and dropped ones too: for a file closed,
  // or opened anew.
  void Clear() {
    orphans_.clear();
    Reset();
  }

  // The modified, unpinned entries by number, except those numbered from
  // skipFirst to skipLast, appended to out.
  void Dirty(std::vector<Entry*>& out, int32_t skipFirst = 0, int32_t skipLast = -1) const {
    for (const TSlot& slot : sorted_) {
      Entry* entry = slot.entry;
      if (!entry->modified_ || entry->Pinned()) continue;
      if (slot.number >= skipFirst && slot.number <= skipLast) continue;
      out.push_back(entry);
    }
  }

  // Batches, for a caller that places many entries at once: one by one,
  // every eviction and insertion would shift the sorted list.
  //
  // Up to count clean unpinned entries, oldest first, appended to out.
  void Victims(std::size_t count, std::vector<Entry*>& out) const {
    std::size_t found = 0;
    for (Entry* p = oldest_; p && found < count; p = p->newer_) {
      if (p->modified_ || p->Pinned()) continue;
      out.push_back(p);
      ++found;
    }
  }
  // Takes the victims out of both lists in one pass; the cache still owns
  // them, loose, for Number and then Merge or Discard.
  // REQUIRES: victims from Victims, with nothing changed since.
  void Detach(std::span<Entry* const> victims) {
    if (victims.empty()) return;
    for (Entry* p : victims) {
      Unlink(p);
      p->number_ = 0;  // no listed entry has number 0
    }
    sorted_.erase_if([](const TSlot& slot) { return slot.entry->number_ == 0; });
    hint_ = 0;
  }
  // A loose entry from the pool, owned by the cache.
  Entry* Loose() {
    Entry* entry = Own(pool_->Take());
    Fresh(entry, 0);
    return entry;
  }
  static void Number(Entry* loose, int32_t number) noexcept { Fresh(loose, number); }
  // A loose entry back to the pool.
  void Discard(Entry* loose) {
    Unlink(loose);
    pool_->Give(TakeOut(owned_, loose));
  }
  // Lists loose entries in the sorted list; Touch places them by recency.
  // REQUIRES: entries ascending by number, none of them cached already.
  void Merge(std::span<Entry* const> ascending) {
    std::size_t a = sorted_.size(), b = ascending.size();
    sorted_.grow_back(b);
    for (std::size_t out = a + b; b > 0;) {
      if (a > 0 && sorted_[a - 1].number > ascending[b - 1]->number_) {
        sorted_[--out] = sorted_[--a];
      } else {
        --b;
        sorted_[--out] = TSlot{ascending[b]->number_, ascending[b]};
      }
    }
    hint_ = 0;
  }

 private:
  // The newest few are checked before the search: a caller mostly asks again
  // for what it just had.
  static constexpr int kRecentChecked = 4;

  static void Fresh(Entry* entry, int32_t number) noexcept {
    entry->number_ = number;
    entry->modified_ = false;
    entry->orphan_ = false;
    entry->pins_ = 0;
  }

  std::size_t LowerBound(int32_t number) const noexcept {
    const std::size_t n = sorted_.size();
    auto fits = [&](std::size_t i) {
      return i <= n && (i == 0 || sorted_[i - 1].number < number) && (i == n || sorted_[i].number >= number);
    };
    // Scans ask for the neighbour of the last answer, so try there first.
    if (fits(hint_)) return hint_;
    if (fits(hint_ + 1)) return ++hint_;
    if (hint_ > 0 && fits(hint_ - 1)) return --hint_;
    std::size_t lo = 0, hi = n;
    while (lo < hi) {
      const std::size_t mid = lo + (hi - lo) / 2;
      if (sorted_[mid].number < number) lo = mid + 1;
      else hi = mid;
    }
    return hint_ = lo;
  }

  // Where the listed entry stands in the sorted list.
  std::size_t PlaceOf(const Entry* entry) const noexcept {
    if (sorted_.front().entry == entry) return 0;
    if (sorted_.back().entry == entry) return sorted_.size() - 1;
    return LowerBound(entry->number_);
  }

  void EraseSorted(const Entry* entry) {
    // Eviction in a scan takes the oldest entry, which sits at one end.
    if (sorted_.front().entry == entry) {
      sorted_.pop_front();
      if (hint_ > 0) --hint_;
    } else if (sorted_.back().entry == entry) {
      sorted_.pop_back();
    } else {
      sorted_.erase(LowerBound(entry->number_));
    }
  }

  // The victim's object takes the new number and its place at `at` (where
  // the number would go with the victim still listed).
  void Replace(Entry* victim, int32_t number, std::size_t at) {
    const std::size_t i = PlaceOf(victim);
    const std::size_t to = at > i ? at - 1 : at;
    if (i == 0 || i + 1 == sorted_.size()) {
      // At an end (scans) the list drops and adds without moving anything.
      if (i == 0) sorted_.pop_front();
      else sorted_.pop_back();
      sorted_.insert(to, TSlot{number, victim});
    } else {
      // From the middle (random reads): only the entries between the two
      // places move, where removing and inserting would move more.
      TSlot* b = sorted_.begin();
      if (at > i) std::copy(b + i + 1, b + at, b + i);
      else std::copy_backward(b + at, b + i, b + i + 1);
      sorted_[to] = TSlot{number, victim};
    }
    hint_ = to;
  }

  Entry* Evictable() const noexcept {
    for (Entry* p = oldest_; p; p = p->newer_)
      if (!p->modified_ && !p->Pinned()) return p;
    return nullptr;
  }

  void LinkFront(Entry* entry) noexcept {
    entry->older_ = newest_;
    entry->newer_ = nullptr;
    if (newest_) newest_->newer_ = entry;
    newest_ = entry;
    if (!oldest_) oldest_ = entry;
  }

  void Unlink(Entry* entry) noexcept {
    if (entry == afterHit_) afterHit_ = nullptr;
    if (entry->newer_) entry->newer_->older_ = entry->older_;
    else if (newest_ == entry) newest_ = entry->older_;
    if (entry->older_) entry->older_->newer_ = entry->newer_;
    else if (oldest_ == entry) oldest_ = entry->newer_;
    entry->older_ = entry->newer_ = nullptr;
  }

  Entry* Own(std::unique_ptr<Entry> entry) {
    entry->place_ = owned_.size();
    owned_.push_back(std::move(entry));
    return owned_.back().get();
  }

  // Out of the list by the place the entry keeps; the last one fills the gap.
  static std::unique_ptr<Entry> TakeOut(std::vector<std::unique_ptr<Entry>>& list, Entry* entry) {
    const std::size_t place = entry->place_;
    std::unique_ptr<Entry> out = std::move(list[place]);
    if (place + 1 != list.size()) {
      list[place] = std::move(list.back());
      list[place]->place_ = place;
    }
    list.pop_back();
    return out;
  }

  void Reset() noexcept {
    owned_.clear();
    sorted_.clear();
    newest_ = oldest_ = afterHit_ = nullptr;
    hint_ = 0;
    capacity_ = limit_;
  }

  TEntryPool<Entry>* pool_;
  std::size_t growth_;
  std::size_t limit_ = 1;
  std::size_t capacity_ = 1;
  TSlotList<TSlot> sorted_;
  std::vector<std::unique_ptr<Entry>> owned_;  // every entry listed or loose, in no order
  std::vector<std::unique_ptr<Entry>> orphans_;
  mutable std::size_t hint_ = 0;  // where the last search ended
  Entry* newest_ = nullptr;
  Entry* oldest_ = nullptr;
  // What stood behind the last hit in the recency list: a batch is linked in
  // the order it will be asked for, so this is most often the next request.
  Entry* afterHit_ = nullptr;
};

}  // namespace ledger
