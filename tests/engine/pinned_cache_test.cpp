#include "engine/files/pinned_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <list>
#include <map>
#include <random>
#include <vector>

namespace ledger {
namespace {

struct TItem : TCacheEntry<TItem> {
  int payload = 0;
};

using TCache = TPinnedCache<TItem>;

// A cache of `limit` entries over a pool of 4, growing by 8.
struct TFixture {
  explicit TFixture(std::size_t limit) { cache.SetLimit(limit); }
  TItem* Take(int32_t n) {
    TItem* item = cache.Take(n, [this] { ++flushes; });
    if (item) item->payload = n;
    return item;
  }
  std::vector<int32_t> Numbers() const {
    std::vector<int32_t> out;
    for (const TCache::TSlot& slot : cache.Sorted()) out.push_back(slot.number);
    return out;
  }
  TEntryPool<TItem> pool{4};
  TCache cache{pool, 8};
  int flushes = 0;
};

TEST(PinnedCache, FindsWhatItTookAndRefusesANumberTwice) {
  TFixture f(4);
  TItem* two = f.Take(2);
  TItem* one = f.Take(1);
  ASSERT_NE(two, nullptr);
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(f.cache.Find(2), two);
  EXPECT_EQ(f.cache.Find(1), one);
  EXPECT_EQ(f.cache.Find(3), nullptr);
  EXPECT_EQ(f.Take(2), nullptr);
  EXPECT_EQ(f.Numbers(), (std::vector<int32_t>{1, 2}));
  EXPECT_FALSE(one->Pinned());
  EXPECT_FALSE(one->Modified());
  f.cache.Hit(one);
  f.cache.Hit(one);
  EXPECT_EQ(one->PinCount(), 2);
  f.cache.Release(one);
  f.cache.Release(one);
  f.cache.Release(one);  // one too many changes nothing
  EXPECT_EQ(one->PinCount(), 0);
}

// The oldest clean unpinned entry makes room; a hit makes an entry the
// newest. A modified entry stays until a flush writes it, and with nothing
// to evict after the flush the cache grows.
TEST(PinnedCache, EvictsTheOldestCleanUnpinnedEntry) {
  struct Case {
    const char* name;
    std::vector<int32_t> pinned;
    std::vector<int32_t> modified;
    bool flushWrites;  // the flush clears the modified flags
    std::vector<int32_t> cached;  // after taking 4
    int flushes;
    std::size_t capacity;
  };
  const Case cases[] = {
      {"the oldest goes", {}, {}, false, {1, 3, 4}, 0, 3},
      {"a pinned one stays", {2}, {}, false, {1, 2, 4}, 0, 3},
      {"a modified one stays", {}, {2}, false, {1, 2, 4}, 0, 3},
      {"with none to evict the cache grows", {1, 3}, {2}, false, {1, 2, 3, 4}, 1, 11},
      {"a flush frees the modified one", {1, 3}, {2}, true, {1, 3, 4}, 1, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TFixture f(3);
    for (int32_t n = 1; n <= 3; ++n) f.Take(n);
    f.cache.Release(f.cache.Hit(f.cache.Find(1)));  // 1 the newest: 2 is now the oldest
    for (int32_t n : c.pinned) TCache::Pin(f.cache.Find(n));
    for (int32_t n : c.modified) f.cache.Find(n)->SetModified(true);
    TItem* fourth = f.cache.Take(4, [&] {
      ++f.flushes;
      if (c.flushWrites) {
        std::vector<TItem*> dirty;
        f.cache.Dirty(dirty);
        for (TItem* item : dirty) item->SetModified(false);
      }
    });
    ASSERT_NE(fourth, nullptr);
    EXPECT_EQ(f.Numbers(), c.cached);
    EXPECT_EQ(f.flushes, c.flushes);
    EXPECT_EQ(f.cache.Capacity(), c.capacity);
    for (int32_t n : c.cached) EXPECT_NE(f.cache.Find(n), nullptr) << n;
  }
}

TEST(PinnedCache, TrimGivesBackWhatTheCacheGrewBy) {
  TFixture f(2);
  std::vector<TItem*> held;
  for (int32_t n = 1; n <= 4; ++n) {
    held.push_back(f.Take(n));
    TCache::Pin(held.back());
  }
  EXPECT_EQ(f.cache.Capacity(), 10u);
  EXPECT_EQ(f.cache.PinnedCount(), 4u);
  held[1]->SetModified(true);
  for (TItem* item : held) f.cache.Release(item);
  f.cache.Trim();
  // 1 and 3 evicted, oldest first; the modified 2 stays.
  EXPECT_EQ(f.Numbers(), (std::vector<int32_t>{2, 4}));
  EXPECT_EQ(f.cache.Capacity(), 2u);
  EXPECT_EQ(f.pool.Count(), 2u);
}

TEST(PinnedCache, DirtyListsModifiedUnpinnedEntriesByNumberOutsideTheSkippedRange) {
  TFixture f(10);
  for (int32_t n : {7, 3, 5, 1, 9}) f.Take(n)->SetModified(true);
  f.Take(4);
  TCache::Pin(f.cache.Find(9));
  std::vector<TItem*> dirty;
  f.cache.Dirty(dirty, 5, 6);
  std::vector<int32_t> numbers;
  for (TItem* item : dirty) numbers.push_back(item->Number());
  EXPECT_EQ(numbers, (std::vector<int32_t>{1, 3, 7}));
}

// A drop forgets every entry; one still held stays its holder's, unchanged,
// and reaches the pool only when released.
TEST(PinnedCache, DropKeepsHeldEntriesAliveUntilReleased) {
  TFixture f(8);
  TItem* held = f.Take(5);
  TCache::Pin(held);
  for (int32_t n = 1; n <= 3; ++n) f.Take(n);
  f.cache.Drop();
  EXPECT_EQ(f.cache.Count(), 0u);
  EXPECT_EQ(f.cache.Find(5), nullptr);
  EXPECT_EQ(f.cache.PinnedCount(), 1u);
  EXPECT_EQ(f.pool.Count(), 3u);
  EXPECT_EQ(held->Number(), 5);
  EXPECT_EQ(held->payload, 5);

  // Taken again, 5 is another entry; the held one does not come back.
  TItem* again = f.Take(5);
  EXPECT_NE(again, held);
  EXPECT_EQ(f.pool.Count(), 2u);
  f.cache.Release(held);
  EXPECT_EQ(f.cache.PinnedCount(), 0u);
  EXPECT_EQ(f.pool.Count(), 3u);
  EXPECT_EQ(f.cache.Find(5), again);
}

TEST(PinnedCache, BatchesDetachVictimsAndMergeNewEntriesInOrder) {
  TFixture f(6);
  for (int32_t n : {10, 20, 30, 40, 50, 60}) f.Take(n);
  TCache::Pin(f.cache.Find(10));
  f.cache.Touch(f.cache.Find(20));
  std::vector<TItem*> victims;
  f.cache.Victims(2, victims);  // the oldest clean unpinned: 30 and 40
  ASSERT_EQ(victims.size(), 2u);
  EXPECT_EQ(victims[0]->Number(), 30);
  EXPECT_EQ(victims[1]->Number(), 40);
  f.cache.Detach(victims);
  EXPECT_EQ(f.Numbers(), (std::vector<int32_t>{10, 20, 50, 60}));

  std::vector<TItem*> fresh = {victims[0], victims[1], f.cache.Loose(), f.cache.Loose()};
  const int32_t numbers[] = {5, 35, 45, 70};
  for (std::size_t i = 0; i < fresh.size(); ++i) TCache::Number(fresh[i], numbers[i]);
  f.cache.Discard(fresh[2]);  // a short read: 45 never came
  fresh.erase(fresh.begin() + 2);
  for (TItem* item : fresh) f.cache.Touch(item);
  f.cache.Merge(fresh);
  EXPECT_EQ(f.Numbers(), (std::vector<int32_t>{5, 10, 20, 35, 50, 60, 70}));
  for (int32_t n : {5, 35, 70}) EXPECT_EQ(f.cache.Find(n)->Number(), n);
  EXPECT_EQ(f.cache.Find(45), nullptr);
  // The merged ones are the newest: the next victim is 50.
  victims.clear();
  f.cache.Victims(1, victims);
  EXPECT_EQ(victims.at(0)->Number(), 50);
}

// A scan evicts at one end of the sorted list and adds at the other, in
// either direction, long past the room the list keeps at its ends.
TEST(PinnedCache, ScansSlideThroughTheSortedList) {
  for (const bool forward : {true, false}) {
    SCOPED_TRACE(forward ? "forward" : "backward");
    TFixture f(8);
    for (int32_t i = 1; i <= 1000; ++i) {
      const int32_t n = forward ? i : 1001 - i;
      ASSERT_NE(f.Take(n), nullptr);
    }
    std::vector<int32_t> expected;
    for (int32_t n = forward ? 993 : 1; expected.size() < 8; ++n) expected.push_back(n);
    EXPECT_EQ(f.Numbers(), expected);
    for (int32_t n : expected) EXPECT_EQ(f.cache.Find(n)->payload, n);
  }
}

// Random takes, hits, releases and removals against a plain model of the
// rules: the sorted list, the lookups and the choice of victim must agree.
TEST(PinnedCache, AgreesWithAModelUnderRandomUse) {
  std::mt19937 random(1234);
  for (std::size_t limit : {1u, 3u, 16u}) {
    SCOPED_TRACE(limit);
    TFixture f(limit);
    std::map<int32_t, TItem*> model;
    std::list<int32_t> recency;  // newest first
    std::map<int32_t, int> pins;
    auto touch = [&](int32_t n) {
      recency.remove(n);
      recency.push_front(n);
    };
    for (int step = 0; step < 20000; ++step) {
      const int32_t n = static_cast<int32_t>(random() % 64) + 1;
      const int action = static_cast<int>(random() % 4);
      TItem* found = f.cache.Find(n);
      ASSERT_EQ(found, model.count(n) ? model[n] : nullptr) << step;
      if (action == 0 && found) {
        f.cache.Hit(found);
        ++pins[n];
        touch(n);
      } else if (action == 1 && found && pins[n] > 0) {
        f.cache.Release(found);
        --pins[n];
      } else if (action == 2 && found && pins[n] == 0) {
        f.cache.Remove(found);
        model.erase(n);
        recency.remove(n);
      } else if (!found) {
        int32_t victim = 0;
        if (model.size() >= f.cache.Capacity())
          for (auto it = recency.rbegin(); it != recency.rend() && victim == 0; ++it)
            if (pins[*it] == 0) victim = *it;
        TItem* item = f.Take(n);
        ASSERT_NE(item, nullptr);
        if (victim != 0) {
          EXPECT_EQ(item, model[victim]) << step;
          model.erase(victim);
          recency.remove(victim);
        }
        model[n] = item;
        touch(n);
      }
      std::vector<int32_t> expected;
      for (const auto& [number, item] : model) expected.push_back(number);
      ASSERT_EQ(f.Numbers(), expected) << step;
    }
  }
}

}  // namespace
}  // namespace ledger
