// Page encoding: every compression round-trips, and bytes that cannot be a
// page are refused instead of read past their end.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstring>
#include <random>
#include <vector>

#include "engine/files/byte_order.h"
#include "engine/files/index_page.h"

namespace ledger {
namespace {

TPageFormat Format(int k, bool unique, uint8_t compression) {
  TPageFormat f;
  f.keyLength = k;
  f.unique = unique;
  f.compression = compression;
  return f;
}

using Keys = std::vector<std::vector<uint8_t>>;

// Keys in order with long shared prefixes, runs of zeros and zero suffix bytes.
Keys Shapes(int k, bool unique, std::mt19937& rng) {
  Keys keys;
  std::vector<uint8_t> key(static_cast<std::size_t>(k), 0);
  for (int i = 0; i < 400; ++i) {
    int from = static_cast<int>(rng() % static_cast<unsigned>(k));
    key[from] = static_cast<uint8_t>(key[from] + 1 + rng() % 3);
    for (int j = from + 1; j < k; ++j) key[j] = (rng() % 3 == 0) ? static_cast<uint8_t>(rng()) : 0;
    if (!unique) {
      // The suffix often holds zeros itself; they must survive.
      PutU32(key.data(), static_cast<std::size_t>(k - 4), (rng() % 2) ? 0x01000000u : 0u);
    }
    keys.push_back(key);
  }
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  return keys;
}

// Fills a page with as many keys as fit, round-trips it and compares.
void RoundTrip(const TPageFormat& f, const Keys& keys, uint8_t type, const std::string& what) {
  TPage page;
  page.Reset(f, 0, 7);
  page.type = type;
  page.prevPage = 3;
  page.nextPage = 9;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    page.Append(keys[i].data(), static_cast<int32_t>(1000 + i), static_cast<int32_t>(i + 1));
    int room = page.IsLeaf() && f.compression != lcNone ? kPageDataSize
               : page.IsLeaf()                          ? f.LeafCapacity() * (f.keyLength + 4)
                                                        : f.BranchCapacity() * f.BranchEntrySize();
    if (page.EncodedSize() > room) {
      TPage bigger = page;
      std::vector<uint8_t> raw(kIndexPageSize);
      EXPECT_FALSE(bigger.Encode(raw.data())) << what;
      // Drop the entry that did not fit.
      TPage trimmed;
      trimmed.Reset(f, 0, 7);
      trimmed.type = type;
      trimmed.prevPage = 3;
      trimmed.nextPage = 9;
      for (int s = 1; s < page.Count(); ++s) trimmed.Append(page.Key(s), page.Ref(s), page.KeyCount(s));
      page = trimmed;
      break;
    }
  }
  std::vector<uint8_t> raw(kIndexPageSize);
  ASSERT_TRUE(page.Encode(raw.data())) << what;
  EXPECT_EQ(GetU16(raw.data(), 1), page.Count()) << what;
  bool compressed = page.IsLeaf() && f.compression != lcNone;
  EXPECT_EQ(GetU16(raw.data(), 11), compressed ? page.EncodedSize() : 0) << what;
  if (compressed && f.compression != lcTrailing) {
    EXPECT_EQ(raw[13], 0) << what << ": first prefix";
  }
  TPage back;
  back.Reset(f, 0, 7);
  ASSERT_TRUE(back.Decode(raw.data())) << what;
  EXPECT_EQ(back.type, type);
  EXPECT_EQ(back.prevPage, 3);
  EXPECT_EQ(back.nextPage, 9);
  ASSERT_EQ(back.Count(), page.Count()) << what;
  for (int s = 1; s <= page.Count(); ++s) {
    ASSERT_EQ(0, std::memcmp(back.Key(s), page.Key(s), static_cast<std::size_t>(f.keyLength)))
        << what << " entry " << s;
    EXPECT_EQ(back.Ref(s), page.Ref(s));
    EXPECT_EQ(back.KeyCount(s), page.IsLeaf() ? 1 : (f.noCounts ? 0 : page.KeyCount(s)));
  }
  std::vector<uint8_t> again(kIndexPageSize);
  ASSERT_TRUE(back.Encode(again.data()));
  EXPECT_EQ(again, raw) << what;
}

TEST(IndexPage, EveryShapeRoundTrips) {
  std::mt19937 rng(4);
  for (int k : {5, 6, 9, 23, 70, 300}) {
    for (bool unique : {true, false}) {
      Keys keys = Shapes(k, unique, rng);
      for (uint8_t c = lcNone; c <= lcFull; ++c) {
        std::string what = "K=" + std::to_string(k) + (unique ? " unique" : " non-unique") +
                           " compression " + std::to_string(c);
        RoundTrip(Format(k, unique, c), keys, ptLeaf, what);
      }
      TPageFormat branch = Format(k, unique, lcFull);
      RoundTrip(branch, keys, ptRootBranch, "branch K=" + std::to_string(k));
      branch.noCounts = true;
      RoundTrip(branch, keys, ptBranch, "branch without counts K=" + std::to_string(k));
    }
  }
}

TEST(IndexPage, CompressedEntryBytes) {
  // Two 300-byte keys equal but for the last byte: the prefix stops at 254.
  std::vector<uint8_t> a(300, 7), b(300, 7);
  b[299] = 8;
  TPage page;
  page.Reset(Format(300, true, lcDuplicate), 0, 1);
  page.type = ptRootLeaf;
  page.Append(a.data(), 1);
  page.Append(b.data(), 2);
  std::vector<uint8_t> raw(kIndexPageSize);
  ASSERT_TRUE(page.Encode(raw.data()));
  EXPECT_EQ(raw[13], 0);
  EXPECT_EQ(raw[13 + 1 + 300 + 4], 254);
  EXPECT_EQ(GetU16(raw.data(), 11), (1 + 300 + 4) + (1 + 46 + 4));

  // Non-unique, trailing bytes: zeros are dropped before the suffix only.
  std::vector<uint8_t> k = {1, 'a', 0, 0, 0, 0, 0, 0, 0, 5};
  page.Reset(Format(10, false, lcTrailing), 0, 1);
  page.type = ptLeaf;
  page.Append(k.data(), 77);
  ASSERT_TRUE(page.Encode(raw.data()));
  EXPECT_EQ(raw[13], 4);  // the four zeros of the string, not those of the suffix
  EXPECT_EQ(std::vector<uint8_t>(raw.begin() + 14, raw.begin() + 20), (std::vector<uint8_t>{1, 'a', 0, 0, 0, 5}));
  EXPECT_EQ(GetI32(raw.data(), 20), 77);

  // Full compression of 5-byte non-unique keys: after the prefix fewer than
  // five bytes remain, so no trailing count and no separate suffix.
  std::vector<uint8_t> x = {1, 0, 0, 0, 1}, y = {1, 0, 0, 0, 2};
  page.Reset(Format(5, false, lcFull), 0, 1);
  page.type = ptLeaf;
  page.Append(x.data(), 1);
  page.Append(y.data(), 2);
  ASSERT_TRUE(page.Encode(raw.data()));
  EXPECT_EQ(std::vector<uint8_t>(raw.begin() + 13, raw.begin() + 13 + 11),
            (std::vector<uint8_t>{0, 0, 1, 0, 0, 0, 1, 1, 0, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(raw.begin() + 24, raw.begin() + 31), (std::vector<uint8_t>{4, 0, 2, 2, 0, 0, 0}));
}

TEST(IndexPage, DecodingGarbageNeverReadsPastThePage) {
  std::mt19937 rng(11);
  std::vector<uint8_t> raw(kIndexPageSize);
  int accepted = 0;
  for (int round = 0; round < 4000; ++round) {
    for (auto& b : raw) b = static_cast<uint8_t>(rng() % 4 == 0 ? rng() : 0);
    raw[0] = static_cast<uint8_t>(rng() % 6);
    PutU16(raw.data(), 1, static_cast<uint16_t>(rng() % 600));
    PutU16(raw.data(), 11, static_cast<uint16_t>(rng() % 4200));
    TPage page;
    page.Reset(Format(1 + static_cast<int>(rng() % 40), rng() % 2, static_cast<uint8_t>(rng() % 4)), 0, 1);
    if (page.Decode(raw.data())) {
      ++accepted;
      std::vector<uint8_t> out(kIndexPageSize);
      page.Encode(out.data());
    }
  }
  EXPECT_GT(accepted, 0);
}

TEST(IndexPage, RefusedLayouts) {
  struct Case {
    const char* what;
    TPageFormat format;
    std::vector<std::pair<int, uint8_t>> bytes;  // offset, value
  } cases[] = {
      {"parameter page as index page", Format(5, true, lcNone), {{0, 4}}},
      {"more entries than fit", Format(5, true, lcNone), {{0, 2}, {1, 0xFF}, {2, 0x01}}},
      {"used bytes beyond the page", Format(5, true, lcDuplicate), {{0, 2}, {11, 0xF4}, {12, 0x0F}}},
      {"first entry with a prefix", Format(5, true, lcDuplicate), {{0, 2}, {1, 1}, {11, 10}, {13, 2}}},
      {"entry beyond the used bytes", Format(5, true, lcDuplicate), {{0, 2}, {1, 1}, {11, 5}}},
      {"trailing count beyond the key", Format(5, true, lcTrailing), {{0, 2}, {1, 1}, {11, 5}, {13, 6}}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> raw(kIndexPageSize);
    for (auto [at, v] : c.bytes) raw[static_cast<std::size_t>(at)] = v;
    TPage page;
    page.Reset(c.format, 0, 1);
    EXPECT_FALSE(page.Decode(raw.data())) << c.what;
  }
}

// Bytes the heap has handed out, large blocks included.
int64_t HeapInUse() {
  const struct mallinfo2 m = mallinfo2();
  return static_cast<int64_t>(m.uordblks + m.hblkhd);
}

// Pages go back to a pool that keeps their memory, so a count no page can
// hold must be refused before it sizes anything: 65535 entries of a long key
// would be kept as some 17 MB.
TEST(IndexPage, ACompressedLeafCountBeyondItsBytesSizesNothing) {
  for (uint8_t compression : {lcDuplicate, lcTrailing, lcFull}) {
    std::vector<uint8_t> raw(kIndexPageSize);
    raw[0] = ptLeaf;
    PutU16(raw.data(), 1, 0xFFFF);
    PutU16(raw.data(), 11, 10);
    TPage page;
    page.Reset(Format(250, true, compression), 0, 1);
    const int64_t before = HeapInUse();
    EXPECT_FALSE(page.Decode(raw.data()));
    EXPECT_LT(HeapInUse() - before, 1 << 20) << "compression " << int{compression};
  }
}

}  // namespace
}  // namespace ledger
