// Scattered reads: a missed record together with the records a caller will
// ask for next, as far as the cache can hold them.

#include "engine/files/data_file.h"

#include <algorithm>
#include <span>

#include "engine/errors/ledger_error.h"

namespace ledger {

// r and the records that follow it, as far as the cache has entries to spare
// for them without pushing out each other. The entries are taken and put in
// place all at once: one by one, every insertion and eviction would shift the
// sorted list.
TRecord* TDataFile::ReadScattered(int32_t r, std::span<const int32_t> following) {
  const std::size_t recordSize = header_.recordSize;
  const int32_t last = header_.nextRecord - 1;
  enum : uint8_t { kSkip, kMissing, kCached, kTaken };

  // The followers by number, each with its place in the caller's order; one
  // walk along the sorted list then tells which the cache holds. A number
  // named twice counts once.
  const std::size_t considered = std::min(following.size(), cache_.Limit());
  state_.assign(considered, kSkip);
  cachedAt_.assign(considered, nullptr);
  byNumber_.clear();
  for (std::size_t i = 0; i < considered; ++i)
    if (following[i] >= 1 && following[i] <= last && following[i] != r)
      byNumber_.push_back({following[i], static_cast<int32_t>(i)});
  std::sort(byNumber_.begin(), byNumber_.end(),
            [](const TCandidate& a, const TCandidate& b) { return a.number < b.number || (a.number == b.number && a.at < b.at); });
  const auto& sorted = cache_.Sorted();
  auto slot = sorted.begin();
  for (std::size_t k = 0; k < byNumber_.size(); ++k) {
    const TCandidate& c = byNumber_[k];
    if (k > 0 && byNumber_[k - 1].number == c.number) continue;
    while (slot != sorted.end() && slot->number < c.number) ++slot;
    const bool cached = slot != sorted.end() && slot->number == c.number;
    state_[static_cast<std::size_t>(c.at)] = cached ? kCached : kMissing;
    if (cached) cachedAt_[static_cast<std::size_t>(c.at)] = slot->entry;
  }

  // In the caller's order, as far as the cache holds r and them: followers
  // already cached become the most recent, so that this batch does not push
  // them out; the missing ones are taken.
  std::size_t taken = 1;  // r
  std::size_t kept = 0;
  for (std::size_t i = 0; i < considered && taken + kept < cache_.Limit(); ++i) {
    if (state_[i] == kCached) {
      cache_.Touch(cachedAt_[i]);
      ++kept;
    } else if (state_[i] == kMissing) {
      state_[i] = kTaken;
      ++taken;
    }
  }

  // Entries: free places first, then clean unpinned records from the oldest on.
  const std::size_t free = cache_.Free();
  evict_.clear();
  if (taken > free) cache_.Victims(taken - free, evict_);
  const std::size_t available = free + evict_.size();
  // Nothing to spare: the single record goes the way that can flush or grow.
  if (available == 0) return ReadWindow(r, TReadDirection::Forward, 1);
  if (taken > available) {
    std::size_t room = available - 1;  // after r
    for (std::size_t i = 0; i < considered; ++i) {
      if (state_[i] != kTaken) continue;
      if (room > 0) --room;
      else state_[i] = kMissing;
    }
    taken = available;
  }

  // The records to read in ascending order, r among them, and where each
  // follower's entry lands.
  wanted_.clear();
  wantedAt_.clear();
  slotOf_.assign(considered, -1);
  bool rPlaced = false;
  for (const TCandidate& c : byNumber_) {
    const auto at = static_cast<std::size_t>(c.at);
    if (state_[at] != kTaken || slotOf_[at] >= 0) continue;
    if (!rPlaced && r < c.number) {
      wanted_.push_back(r);
      wantedAt_.push_back(-1);
      rPlaced = true;
    }
    slotOf_[at] = static_cast<int32_t>(wanted_.size());
    wanted_.push_back(c.number);
    wantedAt_.push_back(c.at);
  }
  if (!rPlaced) {
    wanted_.push_back(r);
    wantedAt_.push_back(-1);
  }
  const std::size_t k = wanted_.size();

  // Victims leave the lists in one pass; they and the new entries stay
  // owned by the cache throughout.
  fresh_.clear();
  if (k > free) {
    evict_.resize(k - free);
    cache_.Detach(evict_);
    fresh_.assign(evict_.begin(), evict_.end());
  }
  while (fresh_.size() < k) fresh_.push_back(cache_.Loose());
  for (std::size_t i = 0; i < k; ++i) {
    fresh_[i]->Reset(this, recordSize);
    cache_.Number(fresh_[i], wanted_[i]);
  }

  // One read for the wanted records within one read-ahead window of each other.
  read_.assign(k, 0);
  try {
    const int32_t window = std::max(readAhead_, 1);
    for (std::size_t i = 0; i < k;) {
      std::size_t j = i + 1;
      while (j < k && wanted_[j] - wanted_[i] < window) ++j;
      const std::size_t span = static_cast<std::size_t>(wanted_[j - 1] - wanted_[i] + 1);
      io_.resize(span * recordSize);
      const uint64_t offset = DataStart() + uint64_t(wanted_[i] - 1) * recordSize;
      const std::size_t got = ReadAt(offset, io_.data(), io_.size(), owner_->ShortReadsAllowed());
      const std::size_t whole = got / recordSize;
      ++stats_.reads;
      stats_.recordsRead += static_cast<int64_t>(whole);
      for (std::size_t m = i; m < j; ++m) {
        const std::size_t index = static_cast<std::size_t>(wanted_[m] - wanted_[i]);
        if (index >= whole) continue;
        Refresh(fresh_[m], io_.data() + index * recordSize);
        read_[m] = 1;
      }
      i = j;
    }
  } catch (...) {
    for (TRecord* record : fresh_) cache_.Discard(record);
    throw;
  }

  // Recency in the caller's order, r the most recent.
  for (std::size_t i = considered; i-- > 0;) {
    const int32_t at = slotOf_[i];
    if (at >= 0 && read_[static_cast<std::size_t>(at)]) cache_.Touch(fresh_[static_cast<std::size_t>(at)]);
  }
  TRecord* result = nullptr;
  for (std::size_t i = 0; i < k; ++i)
    if (wantedAt_[i] < 0 && read_[i]) result = fresh_[i];
  if (result) cache_.Touch(result);

  // Merge what was read into the sorted list from the back; a short read
  // leaves the rest unread, and their entries go back to the pool.
  std::size_t placed = 0;
  for (std::size_t i = 0; i < k; ++i) {
    if (read_[i]) fresh_[placed++] = fresh_[i];
    else cache_.Discard(fresh_[i]);
  }
  cache_.Merge(std::span<TRecord* const>(fresh_.data(), placed));

  if (!result) Fail(LEDGER_FILECORRUPT);
  cache_.Pin(result);
  return result;
}

}  // namespace ledger
