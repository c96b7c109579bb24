#include "engine/files/file_runs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace ledger {
namespace {

struct TUnit {
  int32_t number = 0;
  bool modified = true;
  int32_t Number() const { return number; }
  void SetModified(bool value) { modified = value; }
};

struct TWrite {
  int32_t first;
  std::vector<uint8_t> bytes;
  std::size_t count;
  bool operator==(const TWrite&) const = default;
};

// Each unit's bytes are its number, so a write shows which units it holds in what order.
std::vector<TWrite> Flush(const std::vector<int32_t>& numbers, std::size_t unitSize, bool& wrote) {
  std::vector<TUnit> units;
  for (int32_t n : numbers) units.push_back({n});
  std::vector<TUnit*> dirty;
  for (TUnit& u : units) dirty.push_back(&u);
  std::vector<TWrite> writes;
  wrote = WriteDirtyRuns(
      dirty, unitSize, [&](TUnit& u, uint8_t* out) { std::fill(out, out + unitSize, static_cast<uint8_t>(u.number)); },
      [&](int32_t first, const uint8_t* bytes, std::size_t size, std::size_t count) {
        writes.push_back({first, std::vector<uint8_t>(bytes, bytes + size), count});
      });
  for (const TUnit& u : units) EXPECT_FALSE(u.modified) << "unit " << u.number << " left dirty";
  return writes;
}

TEST(FileRuns, UnitsPerRunAreAtLeastOne) {
  EXPECT_EQ(RunUnits(1), kRunBytes);
  EXPECT_EQ(RunUnits(4096), 16u);
  EXPECT_EQ(RunUnits(5000), 13u);  // the part that does not fill a unit stays unread
  EXPECT_EQ(RunUnits(kRunBytes), 1u);
  EXPECT_EQ(RunUnits(kRunBytes + 1), 1u);
}

// Consecutive numbers go in one write until a gap or a run's worth of bytes.
TEST(FileRuns, WritesConsecutiveUnitsTogetherUpToARun) {
  struct TCase {
    const char* name;
    std::vector<int32_t> numbers;
    std::size_t unitSize;
    std::vector<std::vector<int32_t>> writes;  // the units of each write
  };
  const TCase cases[] = {
      {"nothing", {}, 8, {}},
      {"one", {5}, 2, {{5}}},
      {"a run", {1, 2, 3}, 1, {{1, 2, 3}}},
      {"split at gaps", {1, 2, 4, 7, 8}, 1, {{1, 2}, {4}, {7, 8}}},
      {"split at the run size", {3, 4, 5, 6, 7}, kRunBytes / 2, {{3, 4}, {5, 6}, {7}}},
      {"units larger than a run", {1, 2}, kRunBytes + 1, {{1}, {2}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    bool wrote = false;
    const std::vector<TWrite> writes = Flush(c.numbers, c.unitSize, wrote);
    EXPECT_EQ(wrote, !c.numbers.empty());
    std::vector<TWrite> expected;
    for (const std::vector<int32_t>& units : c.writes) {
      TWrite w{units.front(), {}, units.size()};
      for (int32_t n : units) w.bytes.insert(w.bytes.end(), c.unitSize, static_cast<uint8_t>(n));
      expected.push_back(std::move(w));
    }
    EXPECT_TRUE(writes == expected);
  }
}

}  // namespace
}  // namespace ledger
