// Record bitmaps against a plain vector of flags, and the pool they come from.
#include "engine/core/records_bitmap.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace ledger {
namespace {

struct TModel {
  std::vector<bool> bits;  // index r - 1
  int32_t Size() const { return static_cast<int32_t>(bits.size()); }
  int32_t Rank(int32_t r) const {
    int32_t n = 0;
    for (int32_t i = 1; i < r && i <= Size(); ++i) n += bits[i - 1];
    return n;
  }
};

// Dense runs, sparse runs, all-ones and all-zeros words: the word skipping
// has to be right at every boundary.
TModel RandomModel(std::mt19937& rng, int32_t size) {
  TModel m;
  m.bits.resize(static_cast<std::size_t>(size));
  std::uniform_int_distribution<int> run(1, 80), kind(0, 3);
  for (int32_t i = 0; i < size;) {
    int len = run(rng);
    int k = kind(rng);
    for (int j = 0; j < len && i < size; ++j, ++i)
      m.bits[i] = k == 0 ? false : k == 1 ? true : (rng() % (k == 2 ? 2 : 9)) == 0;
  }
  return m;
}

TRecordsBitmap FromModel(const TModel& m) {
  TRecordsBitmap b(m.Size());
  for (int32_t r = 1; r <= m.Size(); ++r)
    if (m.bits[r - 1]) b.Set(r);
  return b;
}

TEST(RecordsBitmap, SearchesAndCountsAgreeWithModel) {
  std::mt19937 rng(20240611);
  for (int32_t size : {0, 1, 31, 32, 33, 64, 95, 200, 1000}) {
    for (int round = 0; round < 6; ++round) {
      TModel m = RandomModel(rng, size);
      TRecordsBitmap b = FromModel(m);
      int32_t total = m.Rank(size + 1);
      ASSERT_EQ(b.Count(), total);
      for (int32_t r = 0; r <= size + 1; ++r) {
        ASSERT_EQ(b.Test(r), r >= 1 && r <= size && m.bits[r - 1]) << r;
        ASSERT_EQ(b.Rank(r), m.Rank(r)) << "size " << size << " r " << r;
        for (int32_t k : {1, 2, 5, 33, 70}) {
          // Model: walk one record at a time.
          int32_t wantR = r, wantPos = 100, passed = 0, lastSet = -1;
          for (int32_t x = std::max(r, 0) + 1; x <= size && passed < k; ++x)
            if (m.bits[x - 1]) ++passed, lastSet = x;
          bool wantFound = passed == k;
          if (passed > 0) wantR = lastSet, wantPos += passed;
          int32_t gotR = r, gotPos = 100;
          ASSERT_EQ(b.FindNext(gotR, k, gotPos), wantFound) << "next size " << size << " r " << r << " k " << k;
          ASSERT_EQ(gotR, wantR);
          ASSERT_EQ(gotPos, wantPos);

          wantR = r, wantPos = 100, passed = 0, lastSet = -1;
          for (int32_t x = std::min(r, size + 1) - 1; x >= 1 && passed < k; --x)
            if (m.bits[x - 1]) ++passed, lastSet = x;
          wantFound = passed == k;
          if (passed > 0) wantR = lastSet, wantPos -= passed;
          gotR = r, gotPos = 100;
          ASSERT_EQ(b.FindPrior(gotR, k, gotPos), wantFound) << "prior size " << size << " r " << r << " k " << k;
          ASSERT_EQ(gotR, wantR);
          ASSERT_EQ(gotPos, wantPos);
        }
      }
    }
  }
}

TEST(RecordsBitmap, SetOperationsKeepBitsPastTheSizeClear) {
  std::mt19937 rng(7);
  TModel ma = RandomModel(rng, 77), mb = RandomModel(rng, 77);
  TRecordsBitmap a = FromModel(ma), b = FromModel(mb);

  TRecordsBitmap x;
  x.CopyFrom(a);
  x.And(b);
  TRecordsBitmap y;
  y.CopyFrom(a);
  y.Or(b);
  TRecordsBitmap z;
  z.CopyFrom(a);
  z.Not();
  for (int32_t r = 1; r <= 77; ++r) {
    EXPECT_EQ(x.Test(r), ma.bits[r - 1] && mb.bits[r - 1]);
    EXPECT_EQ(y.Test(r), ma.bits[r - 1] || mb.bits[r - 1]);
    EXPECT_EQ(z.Test(r), !ma.bits[r - 1]);
  }
  // NOT of an empty set is every record, and no more than that.
  TRecordsBitmap e(70);
  e.Not();
  EXPECT_EQ(e.Count(), 70);
  e.SetAll();
  EXPECT_EQ(e.Count(), 70);
  int32_t r = 71, pos = 71;
  EXPECT_TRUE(e.FindPrior(r, 1, pos));
  EXPECT_EQ(r, 70);

  // Growing keeps the bits and adds clear records; shrinking drops them.
  e.SetSize(100);
  EXPECT_EQ(e.Count(), 70);
  EXPECT_FALSE(e.Test(71));
  e.SetSize(40);
  EXPECT_EQ(e.Count(), 40);
  e.SetSize(64);
  EXPECT_EQ(e.Count(), 40);

  // AND with a shorter set: records it does not reach are not in it.
  TRecordsBitmap longer(100), shorter(40);
  longer.SetAll();
  shorter.SetAll();
  longer.And(shorter);
  EXPECT_EQ(longer.Count(), 40);
  EXPECT_FALSE(longer.Test(41));
}

TEST(RecordsBitmap, OutOfRangeRecordsAreIgnored) {
  TRecordsBitmap b(10);
  b.Set(0);
  b.Set(11);
  b.Set(-3);
  EXPECT_EQ(b.Count(), 0);
  b.SetAll();
  b.Clear(0);
  b.Clear(11);
  EXPECT_EQ(b.Count(), 10);
}

TEST(RecordsBitmapStack, HandsOutClearedBitmapsAndKeepsAtMostItsLimit) {
  TRecordsBitmapStack& stack = TRecordsBitmapStack::Instance();
  std::vector<std::unique_ptr<TRecordsBitmap>> taken;
  for (std::size_t i = 0; i < TRecordsBitmapStack::kLimit + 10; ++i) {
    auto b = stack.Take();
    ASSERT_EQ(b->Size(), 0);
    b->SetSize(50);
    b->SetAll();
    taken.push_back(std::move(b));
  }
  for (auto& b : taken) stack.Give(std::move(b));
  EXPECT_EQ(stack.Count(), TRecordsBitmapStack::kLimit);
  auto again = stack.Take();
  EXPECT_EQ(again->Size(), 0);
  again->SetSize(50);
  EXPECT_EQ(again->Count(), 0);
  EXPECT_EQ(stack.Count(), TRecordsBitmapStack::kLimit - 1);
  stack.Give(std::move(again));
}

}  // namespace
}  // namespace ledger
