// Key bytes for every key field type, their order, and locale comparison.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

#include "engine/files/index_key.h"
#include "engine/files/locale_order.h"

namespace ledger {
namespace {

TFieldDesc Field(uint8_t type, uint8_t size = 0, uint16_t number = 1) {
  TFieldDesc f;
  f.number = number;
  f.name = "F" + std::to_string(number);
  f.type = type;
  f.size = size;
  f.physicalSize = static_cast<uint8_t>(std::max(PhysicalSizeOf(type, size), 0));
  return f;
}

// A one-field unique index over field, optionally descending per field.
TKeyDef OneFieldKey(const TFieldDesc& field, bool fieldDescending, uint32_t lcid = 0,
                    bool caseInsensitive = false) {
  TIndexDesc d;
  d.unique = true;
  d.fieldCount = 1;
  d.fields[0] = 1;
  d.fieldDescending[0] = fieldDescending;
  d.caseInsensitive = caseInsensitive;
  d.keyLength = static_cast<uint16_t>(KeyPartSize(field) + 1);
  return TKeyDef(0, d, {field}, lcid);
}

std::vector<uint8_t> KeyOf(const TKeyDef& def, const TFieldValue& v) {
  std::vector<uint8_t> key(static_cast<std::size_t>(def.KeyLength()));
  def.BuildFromValues(std::span(&v, 1), 0, key.data());
  return key;
}

TBcd Bcd(const char* text) {
  TBcd b;
  EXPECT_TRUE(BcdFromText(text, b));
  return b;
}

struct KeyCase {
  const char* what;
  uint8_t type;
  uint8_t size;
  TFieldValue value;
  bool descending;
  std::vector<uint8_t> bytes;
};

TEST(IndexKey, KeyPartsByType) {
  const KeyCase cases[] = {
      {"integer 1", ftInteger, 0, int64_t{1}, false, {1, 0x80, 0, 0, 1}},
      {"integer -1", ftInteger, 0, int64_t{-1}, false, {1, 0x7F, 0xFF, 0xFF, 0xFF}},
      {"null integer", ftInteger, 0, std::monostate{}, false, {0, 0, 0, 0, 0}},
      {"date", ftDate, 0, int64_t{0x01020304}, false, {1, 0x81, 2, 3, 4}},
      {"time", ftTime, 0, int64_t{1000}, false, {1, 0x80, 0, 0x03, 0xE8}},
      {"small integer -2", ftSmallInt, 0, int64_t{-2}, false, {1, 0x7F, 0xFE}},
      {"boolean", ftBoolean, 0, true, false, {1, 0, 1}},
      {"word", ftWord, 0, int64_t{0x1234}, false, {1, 0x12, 0x34}},
      {"large integer", ftLargeInt, 0, int64_t{5}, false, {1, 0x80, 0, 0, 0, 0, 0, 0, 5}},
      {"float 1", ftFloat, 0, 1.0, false, {1, 0xBF, 0xF0, 0, 0, 0, 0, 0, 0}},
      {"float -1", ftFloat, 0, -1.0, false, {1, 0x40, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"timestamp 0", ftTimeStamp, 0, 0.0, false, {1, 0x80, 0, 0, 0, 0, 0, 0, 0}},
      {"bcd 1.5", ftBCD, 0, Bcd("1.5"), false, {1, 0x80, 0, 0, 0, 0, 0, 0x3A, 0x98}},
      {"bcd rounds", ftBCD, 4, Bcd("-0.00005"), false, {1, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"string padded", ftString, 4, std::string("ab"), false, {1, 'a', 'b', 0, 0, 0}},
      {"bytes unchanged", ftBytes, 3, std::vector<uint8_t>{9, 0, 7}, false, {1, 9, 0, 7}},
      {"descending integer", ftInteger, 0, int64_t{1}, true, {0xFE, 0x7F, 0xFF, 0xFF, 0xFE}},
      {"descending string keeps its last byte", ftString, 3, std::string("ab"), true,
       {0xFE, 0x9E, 0x9D, 0xFF, 0x00}},
      {"descending null", ftSmallInt, 0, std::monostate{}, true, {0xFF, 0xFF, 0xFF}},
  };
  for (const KeyCase& c : cases) {
    TKeyDef def = OneFieldKey(Field(c.type, c.size), c.descending);
    EXPECT_EQ(KeyOf(def, c.value), c.bytes) << c.what;
  }
}

TEST(IndexKey, BytewiseOrderFollowsValues) {
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<TFieldValue> floats = {-inf, -1e300, -10.5, -1.0, -0.5, 0.0, 1e-300, 0.5, 1.0, 1e300, inf};
  std::vector<TFieldValue> ints = {int64_t{INT32_MIN}, int64_t{-65536}, int64_t{-1}, int64_t{0},
                                   int64_t{1}, int64_t{255}, int64_t{256}, int64_t{INT32_MAX}};
  std::vector<TFieldValue> bcds = {Bcd("-1000"), Bcd("-0.25"), Bcd("0"), Bcd("0.0001"), Bcd("12.5")};
  struct Run {
    uint8_t type;
    std::vector<TFieldValue>* values;
  } runs[] = {{ftFloat, &floats}, {ftInteger, &ints}, {ftBCD, &bcds}};
  for (bool descending : {false, true}) {
    for (const Run& r : runs) {
      TKeyDef def = OneFieldKey(Field(r.type, 4), descending);
      // Null sorts before every value.
      std::vector<uint8_t> prev = KeyOf(def, std::monostate{});
      for (const TFieldValue& v : *r.values) {
        std::vector<uint8_t> key = KeyOf(def, v);
        EXPECT_EQ(def.Compare(prev.data(), key.data()), descending ? 1 : -1)
            << "type " << int(r.type) << " descending " << descending;
        prev = key;
      }
    }
  }
}

TEST(IndexKey, CaseInsensitiveKeysAreUpperCase) {
  TKeyDef def = OneFieldKey(Field(ftString, 5), false, 0, true);
  EXPECT_EQ(KeyOf(def, std::string("cat")), (std::vector<uint8_t>{1, 'C', 'A', 'T', 0, 0, 0}));
  EXPECT_EQ(KeyOf(def, std::string("\xE9t\xE9")), (std::vector<uint8_t>{1, 0xC9, 'T', 0xC9, 0, 0, 0}));
}

TEST(IndexKey, NonUniqueKeysEndInTheAutoIncrementValue) {
  TIndexDesc d;
  d.fieldCount = 2;
  d.fields = {1, 2};
  d.keyLength = 3 + 5 + 4;
  d.unique = false;
  TFieldDesc word = Field(ftWord, 0, 1), num = Field(ftInteger, 0, 2);
  word.offset = 9;
  num.offset = 12;
  TKeyDef def(1, d, {word, num}, 0);
  std::vector<uint8_t> image(17);
  WriteValue(image, word, int64_t{7}, 0);
  WriteValue(image, num, int64_t{-3}, 0);
  image[5] = 42;  // auto-increment value
  std::vector<uint8_t> key(12);
  def.Build(image, key.data());
  EXPECT_EQ(key, (std::vector<uint8_t>{1, 0, 7, 1, 0x7F, 0xFF, 0xFF, 0xFD, 0x80, 0, 0, 42}));
  // Equal field values: the suffix decides.
  std::vector<uint8_t> other = key;
  other[11] = 43;
  EXPECT_EQ(def.Compare(key.data(), other.data()), -1);
  EXPECT_EQ(def.Compare(key.data(), other.data(), 8), 0);
}

TEST(IndexKey, LocaleComparison) {
  TFieldDesc s = Field(ftString, 10);
  struct Case {
    const char* a;
    const char* b;
    uint32_t lcid;
    bool descending;
    int expected;
  } cases[] = {
      {"apple", "Banana", 0, false, 1},      // bytes: 'B' before 'a'
      {"apple", "Banana", 1033, false, -1},  // locale: letters before case
      {"ab", "abc", 1033, false, -1},        // a string sorts before its extensions
      {"resume", "r\xE9sum\xE9", 1033, false, 0},  // non-spacing marks carry no weight
      {"cat", "Cat", 1033, false, -1},       // case still counts
      {"ab", "abc", 1033, true, 1},          // a descending field negates the result
      {"", "a", 1033, false, -1},            // null before any value
  };
  for (const Case& c : cases) {
    TKeyDef def = OneFieldKey(s, c.descending, c.lcid);
    auto value = [](const char* t) { return *t ? TFieldValue{std::string(t)} : TFieldValue{}; };
    std::vector<uint8_t> a = KeyOf(def, value(c.a)), b = KeyOf(def, value(c.b));
    EXPECT_EQ(def.Compare(a.data(), b.data()), c.expected) << c.a << " / " << c.b << " " << c.lcid;
    EXPECT_EQ(def.Compare(b.data(), a.data()), -c.expected) << c.a << " / " << c.b;
  }
}

TEST(IndexKey, ZeroPaddingHasNoWeight) {
  EXPECT_EQ(LocaleCompare(1033, std::string_view("ab\0\0\0", 5), std::string_view("ab", 2)), 0);
  EXPECT_EQ(LocaleCompare(1033, std::string_view("ab\0", 3), std::string_view("ab\0\0\0\0", 6)), 0);
  EXPECT_EQ(LocaleCompare(1033, std::string_view("ab\0z", 4), std::string_view("ab", 2)), 0);
  EXPECT_EQ(LocaleCompare(1033, "CAT", "cat", true), 0);
}

TEST(IndexKey, PartialKeysCompareTheirPrefix) {
  TKeyDef def = OneFieldKey(Field(ftString, 10), false, 1033);
  std::vector<uint8_t> full = KeyOf(def, std::string("carrot")), part = KeyOf(def, std::string("car"));
  EXPECT_EQ(def.Compare(full.data(), part.data(), 4), 0);
  EXPECT_EQ(def.Compare(full.data(), part.data()), 1);
}

TEST(IndexKey, CharacterOrderMaps) {
  auto& list = TLanguageCharMapsList::Instance();
  const TCharOrderMap& identity = list.Map(0, 0);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(identity[i], i);
  const TCharOrderMap& english = list.Map(1033, 0);
  EXPECT_EQ(&english, &list.Map(1033, 0));  // built once
  std::vector<int> sorted(english.begin(), english.end());
  std::sort(sorted.begin(), sorted.end());
  std::vector<int> all(256);
  std::iota(all.begin(), all.end(), 0);
  EXPECT_EQ(sorted, all);
  EXPECT_EQ(english[0], 0);
  auto rank = [&](char c) {
    return std::find(english.begin(), english.end(), static_cast<uint8_t>(c)) - english.begin();
  };
  EXPECT_LT(rank('a'), rank('B'));
  EXPECT_LT(rank('9'), rank('a'));
  EXPECT_LT(rank('y'), rank('Z'));
  EXPECT_LT(LocaleCompare(1033, std::string(1, static_cast<char>(english[254])),
                          std::string(1, static_cast<char>(english[255]))),
            1);
}

}  // namespace
}  // namespace ledger
