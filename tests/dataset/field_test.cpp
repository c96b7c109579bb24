// What field objects make of the values a dataset hands them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "dataset/database_error.h"
#include "dataset/stream.h"
#include "tests/dataset/memory_data_set.h"

namespace {

using namespace dataset;
using dataset::testing::TMemoryDataSet;

TEST(FieldValues, ConversionsOfEachKind) {
  struct Case {
    TFieldData value;
    std::string asString;
    bool asBoolean;
    int32_t asInteger;
  };
  const Case cases[] = {
      {std::monostate{}, "", false, 0},
      {std::string("12"), "12", false, 12},  // no Boolean reading: see below
      {true, "True", true, 1},
      {false, "False", false, 0},
      {int64_t{-7}, "-7", true, -7},
      {2.5, "2.5", true, 3},
      {std::string("yes"), "yes", true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(FieldDataToString(c.value));
    TMemoryDataSet ds({{"V", ftUnknown}}, {{c.value}});
    ds.Open();
    TField& f = ds.FieldByName("v");
    EXPECT_EQ(f.IsNull(), std::holds_alternative<std::monostate>(c.value));
    EXPECT_EQ(f.AsString(), c.asString);
    if (c.asString != "12") {
      EXPECT_EQ(f.AsBoolean(), c.asBoolean);
    } else {
      EXPECT_THROW(f.AsBoolean(), EDatabaseError);
    }
    if (c.asString != "yes") {
      EXPECT_EQ(f.AsInteger(), c.asInteger);
    } else {
      EXPECT_THROW(f.AsInteger(), EDatabaseError);
    }
  }
}

TEST(FieldValues, IntegerOutsideThirtyTwoBitsIsRefusedNotWrapped) {
  TMemoryDataSet ds({{"V", ftLargeint}}, {{int64_t{1} << 40}});
  ds.Open();
  EXPECT_THROW(ds.Fields(0).AsInteger(), EDatabaseError);
  EXPECT_EQ(ds.Fields(0).AsLargeInt(), int64_t{1} << 40);
}

TEST(FieldValues, WritingOutsideEditingIsRefused) {
  TMemoryDataSet ds({{"V", ftString}}, {{std::string("a")}});
  ds.Open();
  EXPECT_THROW(ds.Fields(0).SetAsString("b"), EDatabaseError);
  EXPECT_EQ(ds.Fields(0).AsString(), "a");
}

TEST(FieldValues, DisplayLabelDefaultsToTheName) {
  TMemoryDataSet ds({{"Word", ftString}}, {});
  ds.Open();
  TField& f = ds.Fields(0);
  EXPECT_EQ(f.DisplayLabel(), "Word");
  f.SetDisplayLabel("The word");
  EXPECT_EQ(f.DisplayLabel(), "The word");
}

class BlobFieldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/dataset-blob-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path dir_;
};

TEST_F(BlobFieldTest, ContentToStreamAndFile) {
  const std::vector<uint8_t> sound = {'R', 'I', 'F', 'F', 0, 1, 2, 0xFF};
  TMemoryDataSet ds({{"Sound", ftBlob}}, {{sound}});
  ds.Open();
  auto* blob = dynamic_cast<TBlobField*>(&ds.FieldByName("Sound"));
  ASSERT_NE(blob, nullptr);
  EXPECT_TRUE(blob->IsBlob());
  EXPECT_EQ(blob->AsBytes(), sound);
  EXPECT_EQ(blob->BlobSize(), 8);

  TMemoryStream memory;
  blob->SaveToStream(memory);
  EXPECT_EQ(memory.Bytes(), sound);

  const auto file = dir_ / "out.wav";
  std::ofstream(file) << "an older and longer file";
  blob->SaveToFile(file);
  std::ifstream in(file, std::ios::binary);
  EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}), sound);
}

TEST_F(BlobFieldTest, SaveToFileRefusesALinkInPlaceOfTheFile) {
  TMemoryDataSet ds({{"Sound", ftBlob}}, {{std::vector<uint8_t>{1, 2, 3}}});
  ds.Open();
  const auto target = dir_ / "precious";
  std::ofstream(target) << "keep me";
  std::filesystem::create_symlink(target, dir_ / "twcns1.wav");
  auto& blob = static_cast<TBlobField&>(ds.Fields(0));
  EXPECT_THROW(blob.SaveToFile(dir_ / "twcns1.wav"), EDatabaseError);
  std::ifstream in(target);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep me");
}

}  // namespace
