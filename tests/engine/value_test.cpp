#include "engine/files/value.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "engine/files/scramble.h"

namespace ledger {
namespace {

TFieldDesc Field(uint8_t type, uint8_t size = 0, uint8_t subtype = 0, uint16_t offset = 9) {
  TFieldDesc d;
  d.name = "F";
  d.type = type;
  d.size = size;
  d.subtype = subtype;
  d.offset = offset;
  return d;
}

TBcd Bcd(const char* text) {
  TBcd bcd;
  EXPECT_TRUE(BcdFromText(text, bcd)) << text;
  return bcd;
}

struct RoundTrip {
  const char* label;
  TFieldDesc desc;
  TFieldValue value;
};

TEST(ValueTest, EveryTypeRoundTripsAndClearsItsFlagForNull) {
  const RoundTrip cases[] = {
      {"string", Field(ftString, 10), std::string("cat")},
      {"fixed char", Field(ftString, 4, fstFixedChar), std::string("ab")},
      {"date", Field(ftDate), int64_t{EncodeDate(2024, 2, 29)}},
      {"blob", Field(ftBlob, 0, fstGraphic), TBlobRef{7, 42}},
      {"boolean", Field(ftBoolean), true},
      {"boolean false", Field(ftBoolean), false},
      {"smallint", Field(ftSmallInt), int64_t{-32768}},
      {"integer", Field(ftInteger), int64_t{-2147483647 - 1}},
      {"float", Field(ftFloat), 3.25},
      {"money", Field(ftFloat, 0, fstMoney), -0.5},
      {"bcd", Field(ftBCD), Bcd("-1234.5678")},
      {"bytes", Field(ftBytes, 3), std::vector<uint8_t>{1, 0, 255}},
      {"time", Field(ftTime), int64_t{86399999}},
      {"timestamp", Field(ftTimeStamp), 63839376000000.0 + 1234},
      {"word", Field(ftWord), int64_t{65535}},
      {"longword", Field(ftLongWord), int64_t{4294967295LL}},
      {"varbytes", Field(ftVarBytes, 2), std::vector<uint8_t>{9, 8}},
      {"largeint", Field(ftLargeInt), int64_t{-9000000000000000000LL}},
  };
  for (const RoundTrip& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<uint8_t> image(9 + 1 + 251, 0xEE);
    WriteValue(image, c.desc, c.value, 0);
    EXPECT_EQ(image[c.desc.offset], 1);
    EXPECT_EQ(ReadValue(image, c.desc), c.value);
    WriteValue(image, c.desc, std::monostate{}, 0);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(ReadValue(image, c.desc)));
    int size = PhysicalSizeOf(c.desc.type, c.desc.size);
    for (int i = 0; i <= size; ++i) EXPECT_EQ(image[c.desc.offset + i], 0) << i;
  }
}

TEST(ValueTest, WriterRulesForStringsBooleansAndBlobReferences) {
  struct Case {
    const char* label;
    TFieldDesc desc;
    TFieldValue written;
    TFieldValue read;
  };
  TFieldDesc lower = Field(ftString, 10);
  lower.charCase = ccLower;
  TFieldDesc upper = Field(ftString, 10);
  upper.charCase = ccUpper;
  const Case cases[] = {
      {"trailing blanks go", Field(ftString, 10), std::string("dog   "), std::string("dog")},
      {"leading blanks stay", Field(ftString, 10), std::string("  dog"), std::string("  dog")},
      {"cut to size", Field(ftString, 3), std::string("crane"), std::string("cra")},
      {"empty is null", Field(ftString, 10), std::string(""), std::monostate{}},
      {"blanks are null", Field(ftString, 10), std::string("   "), std::monostate{}},
      {"lower case", lower, std::string("BlEnD"), std::string("blend")},
      {"upper case", upper, std::string("\xe9t\xe9"), std::string("\xc9T\xc9")},
      {"empty blob is null", Field(ftBlob), TBlobRef{0, 5}, std::monostate{}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<uint8_t> image(64, 0);
    WriteValue(image, c.desc, c.written, 0);
    EXPECT_EQ(ReadValue(image, c.desc), c.read);
  }
  // Any non-zero word reads as true, the writer stores 1.
  std::vector<uint8_t> image(16, 0);
  TFieldDesc b = Field(ftBoolean);
  image[9] = 1;
  image[10] = 7;
  EXPECT_EQ(ReadValue(image, b), TFieldValue(true));
  WriteValue(image, b, true, 0);
  EXPECT_EQ(image[10], 1);
  EXPECT_EQ(image[11], 0);
}

TEST(ValueTest, AutoIncrementLivesInTheRecordHeaderWithoutFlag) {
  TFieldDesc d = Field(ftInteger, 0, fstAutoInc, 5);
  std::vector<uint8_t> image(9, 0);
  WriteValue(image, d, int64_t{77}, 0);
  EXPECT_EQ(image[5], 77);
  EXPECT_EQ(ReadValue(image, d), TFieldValue(int64_t{77}));
}

TEST(ValueTest, RejectsValuesOfTheWrongKindOrRange) {
  std::vector<uint8_t> image(64, 0);
  EXPECT_THROW(WriteValue(image, Field(ftSmallInt), int64_t{40000}, 0), std::invalid_argument);
  EXPECT_THROW(WriteValue(image, Field(ftWord), int64_t{-1}, 0), std::invalid_argument);
  EXPECT_THROW(WriteValue(image, Field(ftString, 5), true, 0), std::invalid_argument);
  EXPECT_THROW(WriteValue(image, Field(ftTime), int64_t{86400000}, 0), std::invalid_argument);
  EXPECT_THROW(ReadValue(std::span<const uint8_t>(image.data(), 12), Field(ftFloat)), std::out_of_range);
}

TEST(ValueTest, DecimalTextRoundTrips) {
  for (const char* text : {"0", "1", "-1", "123.45", "0.001", "-98765432109876543210.5"}) {
    TBcd bcd = Bcd(text);
    EXPECT_EQ(BcdToText(bcd), text);
  }
  TBcd bcd;
  EXPECT_FALSE(BcdFromText("", bcd));
  EXPECT_FALSE(BcdFromText("1.2.3", bcd));
  EXPECT_FALSE(BcdFromText("12a", bcd));
  EXPECT_EQ(Bcd("123.45").precision, 5);
  EXPECT_EQ(Bcd("123.45").signSpecialPlaces, 2);
  EXPECT_EQ(Bcd("123.45").fraction[0], 0x12);
}

TEST(ValueTest, DayNumbersCountFromYearOne) {
  EXPECT_EQ(EncodeDate(1, 1, 1), 1);
  EXPECT_EQ(EncodeDate(1899, 12, 30), 693594);
  EXPECT_EQ(EncodeDate(2023, 2, 29), 0);
  for (int32_t day : {1, 59, 60, 693594, 730120, 3652059}) {
    int y, m, d;
    ASSERT_TRUE(DecodeDate(day, y, m, d));
    EXPECT_EQ(EncodeDate(y, m, d), day);
  }
}

TEST(ValueTest, MinimumMaximumAndDefaultTexts) {
  TFieldDesc bcd = Field(ftBCD);
  bcd.scale = 2;
  TFieldDesc autoInc = Field(ftInteger, 0, fstAutoInc, 5);
  struct Case {
    TFieldDesc desc;
    const char* text;
    bool valid;
  };
  const Case cases[] = {
      {Field(ftString, 3), "abc", true},       {Field(ftString, 3), "abcd", false},
      {Field(ftBoolean), "true", true},        {Field(ftBoolean), "yes", false},
      {Field(ftSmallInt), "-32768", true},     {Field(ftSmallInt), "32768", false},
      {Field(ftWord), "-1", false},            {Field(ftInteger), "12x", false},
      {Field(ftFloat), "1.5e3", true},         {Field(ftFloat), "1.5.3", false},
      {Field(ftFloat), "+2", true},            {Field(ftFloat), "-.5", true},
      {Field(ftFloat), " 1", false},           {Field(ftFloat), "0x10", false},
      {Field(ftFloat), "1e999", false},        {Field(ftFloat), "inf", false},
      {Field(ftFloat), "-", false},            {Field(ftFloat), "1e", false},
      {bcd, "12.34", true},                    {bcd, "1.234", false},
      {Field(ftDate), "2024-02-29", true},     {Field(ftDate), "2023-02-29", false},
      {Field(ftDate), "CURRENT_DATE", true},   {Field(ftDate), "CURRENT_TIME", false},
      {Field(ftTime), "23:59:59.999", true},   {Field(ftTime), "24:00", false},
      {Field(ftTimeStamp), "CURRENT_TIMESTAMP", true},
      {Field(ftTimeStamp), "2024-01-02 03:04:05", true},
      {Field(ftBlob), "x", false},             {Field(ftBlob), "", true},
      {autoInc, "5", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsValidValueText(c.desc, c.text), c.valid) << c.text;
}

TEST(ValueTest, LocalesKnownToTheCollatorAreInstalled) {
  EXPECT_TRUE(IsLocaleInstalled(1033));
  EXPECT_EQ(LocaleName(0), "en_US");
  EXPECT_FALSE(IsLocaleInstalled(0xFFFF));
}

TEST(ScrambleTest, IsItsOwnInverseAndRestartsPerRun) {
  std::vector<uint8_t> bytes(300);
  std::iota(bytes.begin(), bytes.end(), 0);
  std::vector<uint8_t> copy = bytes;
  Scramble(copy.data(), copy.size(), kRecordKey);
  EXPECT_NE(copy, bytes);
  // The key steps per byte: equal bytes at different places scramble apart.
  std::vector<uint8_t> zeros(4, 0);
  Scramble(zeros.data(), zeros.size(), kRecordKey);
  EXPECT_NE(zeros[0], zeros[1]);
  EXPECT_EQ(zeros[0], kRecordKey.low ^ kRecordKey.high);
  Scramble(copy.data(), copy.size(), kRecordKey);
  EXPECT_EQ(copy, bytes);
}

TEST(ScrambleTest, RunsOfWhole64KiBMultiplesStayAsTheyAre) {
  std::vector<uint8_t> bytes(65536, 0x11);
  Scramble(bytes.data(), bytes.size(), kRecordKey);
  EXPECT_EQ(bytes, std::vector<uint8_t>(65536, 0x11));
}

}  // namespace
}  // namespace ledger
