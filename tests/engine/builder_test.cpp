// Tables made by the builder, read back through the engine's own file classes.
#include "engine/build/table_builder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/build/table_verifier.h"
#include "engine/files/blob_buffer.h"
#include "engine/files/blob_file.h"
#include "engine/files/byte_order.h"
#include "engine/files/file_list.h"
#include "engine/files/index_file.h"
#include "engine/files/scramble.h"
#include "table_files_util.h"

namespace ledger {
namespace {

using testing::CodeOf;
using testing::TScratchDir;


// Word (string 20), Count (integer), Flag (Boolean), Picture (blob), RecID (autoinc).
TTableDefinition WordTable() {
  TTableDefinition def;
  def.order = TRecordOrder::Input;  // these tests name records by the order they were added
  def.data.fields = {FieldDef("Word", ftString, 20), FieldDef("Count", ftInteger), FieldDef("Flag", ftBoolean),
                     FieldDef("Picture", ftBlob, 0, fstGraphic), FieldDef("RecID", ftInteger, 0, fstAutoInc)};
  TIndexDefinition primary;
  primary.fields = {"Word"};
  def.primary = primary;
  return def;
}

std::string WordOf(int i) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "w%07d", (i * 7919) % 100003);
  return buf;
}

std::vector<TFieldValue> Row(int i, std::vector<uint8_t> blob = {}) {
  TFieldValue picture;
  if (!blob.empty()) picture = std::move(blob);
  return {std::string(WordOf(i)), int64_t{i}, i % 2 == 0, picture, std::monostate{}};
}

struct TOpenTable {
  explicit TOpenTable(const TScratchDir& dir, const std::string& table = "Words") {
    data.SetFileName(dir / (table + ".DAT"));
    data.Open();
    data.CheckStructure();
    index.SetFileName(dir / (table + ".IDX"));
    index.SetEncrypted(data.Encrypted());
    index.Open();
    index.CheckStructure(data.Fields(), data.LocaleId());
  }
  // Levels of a slot's tree, counted down its leftmost path.
  int Depth(int slot) {
    int depth = 0;
    int32_t p = index.Descriptor(slot).rootPage;
    while (p != 0) {
      ++depth;
      TPage* page = index.GetPage(slot, p);
      p = page->IsLeaf() ? 0 : page->Ref(1);
      index.ReleasePage(page);
    }
    return depth;
  }
  std::string WordAt(int32_t r) {
    TRecord* rec = data.GetRecord(r);
    TFieldValue v = ReadValue(rec->Image(), data.Field(1));
    data.ReleaseRecord(rec);
    return std::get<std::string>(v);
  }
  TDataFile data;
  TIndexFile index;
};

struct TShape {
  const char* name;
  int records;
  double fill;
  uint8_t compression;
  bool descending;
  bool encrypted;
  int depth;
};

class BuilderShapes : public ::testing::TestWithParam<TShape> {};

// Every n-th key, first/last, walking with next and prior, and the order
// against the words sorted independently.
TEST_P(BuilderShapes, TreesHoldEveryKeyInOrder) {
  const TShape& shape = GetParam();
  TScratchDir dir;
  TTableDefinition def = WordTable();
  def.fillFactor = shape.fill;
  def.primary->compression = shape.compression;
  if (shape.descending) def.primary->descendingFields = {"word"};
  def.data.encrypted = shape.encrypted;
  {
    TTableBuilder builder(dir.Path(), "Words", def, TBuildTarget::NewFiles, PosixFileSystem());
    for (int i = 1; i <= shape.records; ++i) builder.Append(Row(i));
    builder.Finish();
  }
  EXPECT_EQ(TTableVerifier(dir.Path(), "Words", PosixFileSystem()).Run(), "ok");

  std::vector<std::string> words;
  for (int i = 1; i <= shape.records; ++i) words.push_back(WordOf(i));
  std::sort(words.begin(), words.end());
  if (shape.descending) std::reverse(words.begin(), words.end());

  TOpenTable t(dir);
  EXPECT_EQ(t.Depth(0), shape.depth);
  EXPECT_EQ(t.index.TotalKeys(0), shape.records);
  EXPECT_EQ(t.index.TotalKeys(kSlotDeleted), shape.records);
  EXPECT_EQ(t.index.ActiveRecordCount(), shape.records);
  const int step = shape.records > 3000 ? 97 : 1;
  for (int n = 1; n <= shape.records; n += step) {
    TKeyPosition at = t.index.Nth(0, n);
    ASSERT_TRUE(at.found) << n;
    ASSERT_EQ(at.position, n);
    ASSERT_EQ(t.WordAt(at.record), words[n - 1]) << n;
  }
  EXPECT_FALSE(t.index.Nth(0, shape.records + 1).found);
  EXPECT_EQ(t.WordAt(t.index.First(0).record), words.front());
  EXPECT_EQ(t.WordAt(t.index.Last(0).record), words.back());

  TKeyPosition at = t.index.First(0);
  int n = 1;
  while ((at = t.index.Next(0, at)).found) ++n;
  EXPECT_EQ(n, shape.records);
  at = t.index.Last(0);
  n = 1;
  while ((at = t.index.Prior(0, at)).found) ++n;
  EXPECT_EQ(n, shape.records);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, BuilderShapes,
    ::testing::Values(TShape{"OneLeaf", 10, 1.0, lcNone, false, false, 1},
                      TShape{"TwoLevels", 1000, 1.0, lcNone, false, false, 2},
                      TShape{"ThreeLevels", 1000, 0.1, lcNone, false, false, 3},
                      TShape{"FourLevels", 1000, 0.05, lcNone, false, false, 4},
                      TShape{"Descending", 1000, 0.1, lcNone, true, false, 3},
                      TShape{"Duplicates", 2000, 1.0, lcDuplicate, false, false, 2},
                      TShape{"Trailing", 2000, 1.0, lcTrailing, false, false, 2},
                      TShape{"Full", 2000, 0.5, lcFull, false, false, 2},
                      TShape{"Encrypted", 1000, 0.1, lcFull, false, true, 3},
                      TShape{"Large", 60000, 1.0, lcNone, false, false, 3}),
    [](const auto& info) { return std::string(info.param.name); });

// Searches for present, absent, below-all and above-all keys on a built tree.
TEST(Builder, SearchesFindTheirKeys) {
  TScratchDir dir;
  TTableDefinition def = WordTable();
  def.fillFactor = 0.05;
  {
    TTableBuilder builder(dir.Path(), "Words", def, TBuildTarget::NewFiles, PosixFileSystem());
    for (int i = 1; i <= 500; ++i) builder.Append(Row(i));
    builder.Finish();
  }
  std::vector<std::string> words;
  for (int i = 1; i <= 500; ++i) words.push_back(WordOf(i));
  std::sort(words.begin(), words.end());

  TOpenTable t(dir);
  const TKeyDef& key = t.index.KeyDef(0);
  auto search = [&](const std::string& word) {
    std::vector<uint8_t> k(key.KeyLength());
    std::vector<TFieldValue> values{word};
    key.BuildFromValues(values, 0, k.data());
    return t.index.FindNotBelow(0, k.data());
  };
  for (std::size_t i = 0; i < words.size(); i += 13) {
    TKeyPosition at = search(words[i]);
    ASSERT_TRUE(at.found);
    EXPECT_EQ(at.position, static_cast<int64_t>(i) + 1);
    EXPECT_EQ(t.WordAt(at.record), words[i]);
    // Just after the word: the next one.
    at = search(words[i] + "a");
    if (i + 1 < words.size()) {
      EXPECT_EQ(t.WordAt(at.record), words[i + 1]);
    }
  }
  EXPECT_EQ(search("a").position, 1);
  EXPECT_FALSE(search("zzz").found);
}

TEST(Builder, DeletedRecordsLeaveIndexesAndJoinTheFreeChain) {
  for (bool encrypted : {false, true}) {
    SCOPED_TRACE(encrypted ? "encrypted" : "plain");
    TScratchDir dir;
    TTableDefinition def = WordTable();
    def.data.encrypted = encrypted;
    TIndexDefinition byCount;
    byCount.name = "ByCount";
    byCount.fields = {"Count"};
    byCount.unique = false;
    byCount.compression = lcFull;
    def.secondary = {byCount};
    {
      TTableBuilder builder(dir.Path(), "Words", def, TBuildTarget::NewFiles, PosixFileSystem());
      for (int i = 1; i <= 300; ++i) builder.Append(Row(i));
      for (int r : {5, 200, 17}) builder.MarkDeleted(r);
      EXPECT_THROW(builder.MarkDeleted(5), std::invalid_argument);
      EXPECT_THROW(builder.MarkDeleted(301), std::out_of_range);
      builder.Finish();
    }
    EXPECT_EQ(TTableVerifier(dir.Path(), "Words", PosixFileSystem()).Run(), "ok");
    TOpenTable t(dir);
    EXPECT_EQ(t.data.RecordCount(), 300);
    EXPECT_EQ(t.index.ActiveRecordCount(), 297);
    EXPECT_EQ(t.index.TotalKeys(0), 297);
    EXPECT_EQ(t.index.TotalKeys(1), 297);
    EXPECT_EQ(t.index.TotalKeys(kSlotDeleted), 300);
    // The last deletion heads the chain: 17 -> 200 -> 5 -> end.
    std::vector<int32_t> chain;
    for (int32_t r = t.data.Header().firstFree; r != 0;) {
      chain.push_back(r);
      TRecord* rec = t.data.GetRecord(r);
      EXPECT_TRUE(rec->Deleted());
      r = rec->Link();
      t.data.ReleaseRecord(rec);
    }
    EXPECT_EQ(chain, (std::vector<int32_t>{17, 200, 5}));
    // "Sys Deleted" lists the live records first, the deleted ones last.
    EXPECT_EQ(t.index.Nth(kSlotDeleted, 298).record, 5);
    EXPECT_EQ(t.index.Nth(kSlotDeleted, 300).record, 200);
  }
}

// Record numbers follow the primary key, deleted records included; the
// auto-increment values keep the order the records came in.
TEST(Builder, KeyOrderNumbersRecordsByKeyAndDeletedOnesKeepTheirPlace) {
  for (bool encrypted : {false, true}) {
    SCOPED_TRACE(encrypted ? "encrypted" : "plain");
    TScratchDir dir;
    TTableDefinition def = WordTable();
    def.order = TRecordOrder::PrimaryKey;
    def.data.encrypted = encrypted;
    TIndexDefinition byCount;
    byCount.name = "ByCount";
    byCount.fields = {"Count"};
    byCount.unique = false;
    def.secondary = {byCount};
    {
      TTableBuilder builder(dir.Path(), "Words", def, TBuildTarget::NewFiles, PosixFileSystem());
      for (int i = 1; i <= 300; ++i) EXPECT_EQ(builder.Append(Row(i)), i);
      // A deleted record may share a live one's key; it comes after it.
      EXPECT_EQ(builder.Append(Row(7, {1, 2, 3})), 301);
      for (int a : {5, 200, 301, 17}) builder.MarkDeleted(a);
      builder.Finish();
    }
    EXPECT_EQ(TTableVerifier(dir.Path(), "Words", PosixFileSystem()).Run(), "ok");
    TOpenTable t(dir);
    ASSERT_EQ(t.data.RecordCount(), 301);
    auto appendNumberAt = [&](int32_t r) {
      TRecord* rec = t.data.GetRecord(r);
      const int64_t a = std::get<int64_t>(ReadValue(rec->Image(), t.data.Field(5)));
      t.data.ReleaseRecord(rec);
      return static_cast<int32_t>(a);
    };
    std::map<int32_t, int32_t> slotOf;  // append number -> record number
    for (int32_t r = 1; r <= 301; ++r) {
      slotOf[appendNumberAt(r)] = r;
      if (r > 1) {
        EXPECT_LE(t.WordAt(r - 1), t.WordAt(r)) << r;
      }
    }
    ASSERT_EQ(slotOf.size(), 301u);
    EXPECT_EQ(slotOf[301], slotOf[7] + 1);
    int32_t previous = 0;
    for (int32_t k = 1; k <= t.index.TotalKeys(0); ++k) {
      const int32_t r = t.index.Nth(0, k).record;
      EXPECT_GT(r, previous);
      previous = r;
    }
    // Each secondary entry leads to the record its count came from.
    for (int32_t k = 1; k <= t.index.TotalKeys(1); ++k) {
      const int32_t r = t.index.Nth(1, k).record;
      TRecord* rec = t.data.GetRecord(r);
      EXPECT_EQ(std::get<int64_t>(ReadValue(rec->Image(), t.data.Field(2))), appendNumberAt(r));
      t.data.ReleaseRecord(rec);
    }
    // The last deletion heads the chain, which runs through every deleted slot.
    std::vector<int32_t> chain;
    for (int32_t r = t.data.Header().firstFree; r != 0 && chain.size() < 10;) {
      chain.push_back(appendNumberAt(r));
      TRecord* rec = t.data.GetRecord(r);
      EXPECT_TRUE(rec->Deleted());
      r = rec->Link();
      t.data.ReleaseRecord(rec);
    }
    EXPECT_EQ(chain, (std::vector<int32_t>{17, 301, 200, 5}));
    // "Sys Deleted" orders within a status by the auto-increment value.
    EXPECT_EQ(t.index.Nth(kSlotDeleted, 1).record, slotOf[1]);
    EXPECT_EQ(t.index.Nth(kSlotDeleted, 298).record, slotOf[5]);
    EXPECT_EQ(t.index.Nth(kSlotDeleted, 301).record, slotOf[301]);
  }
}

TEST(Builder, DuplicatePrimaryKeyLeavesNoTable) {
  TScratchDir dir;
  {
    TTableBuilder builder(dir.Path(), "Words", WordTable(), TBuildTarget::NewFiles, PosixFileSystem());
    builder.Append(Row(1, {1, 2, 3}));
    builder.Append(Row(2));
    builder.Append(Row(1));
    EXPECT_EQ(CodeOf([&] { builder.Finish(); }), LEDGER_KEYVIOL);
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(Builder, DuplicateOfADeletedRecordIsAllowed) {
  TScratchDir dir;
  TTableBuilder builder(dir.Path(), "Words", WordTable(), TBuildTarget::NewFiles, PosixFileSystem());
  builder.Append(Row(1));
  builder.MarkDeleted(1);
  builder.Append(Row(1));
  builder.Finish();
  EXPECT_EQ(TTableVerifier(dir.Path(), "Words", PosixFileSystem()).Run(), "ok");
}

TEST(Builder, AbandonedBuildLeavesNoFiles) {
  TScratchDir dir;
  {
    TTableBuilder builder(dir.Path(), "Words", WordTable(), TBuildTarget::NewFiles, PosixFileSystem());
    builder.Append(Row(1));
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

class BuilderBlobs : public ::testing::TestWithParam<bool> {};

// Chains at block boundaries, in plain and scrambled tables.
TEST_P(BuilderBlobs, ComeBackWhole) {
  TScratchDir dir;
  TTableDefinition def = WordTable();
  def.data.blockSize = 256;
  def.data.encrypted = GetParam();
  const std::size_t room = 256 - kBlockHeaderSize;
  std::vector<std::size_t> sizes{0, 1, room, room + 1, 100000};
  {
    TTableBuilder builder(dir.Path(), "Words", def, TBuildTarget::NewFiles, PosixFileSystem());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
      std::vector<uint8_t> blob(sizes[i]);
      for (std::size_t j = 0; j < blob.size(); ++j) blob[j] = static_cast<uint8_t>(j * 31 + i);
      builder.Append(Row(static_cast<int>(i) + 1, blob));
    }
    builder.Finish();
  }
  EXPECT_EQ(TTableVerifier(dir.Path(), "Words", PosixFileSystem()).Run(), "ok");
  TOpenTable t(dir);
  TBlobFile blob;
  blob.SetFileName(dir / "Words.BLB");
  blob.SetBlockSize(t.data.Header().blockSize);
  blob.SetEncrypted(t.data.Encrypted());
  blob.Open();
  blob.CheckStructure();
  std::vector<int32_t> ids;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    TRecord* rec = t.data.GetRecord(static_cast<int32_t>(i) + 1);
    TFieldValue v = ReadValue(rec->Image(), t.data.Field(4));
    t.data.ReleaseRecord(rec);
    TBlobRef ref = sizes[i] == 0 ? TBlobRef{} : std::get<TBlobRef>(v);
    if (sizes[i] == 0) {
      EXPECT_TRUE(std::holds_alternative<std::monostate>(v));
    }
    TBlobBuffer buffer(4, static_cast<int32_t>(i) + 1, ref);
    buffer.Load(blob);
    ASSERT_EQ(buffer.Size(), sizes[i]);
    for (std::size_t j = 0; j < sizes[i]; ++j)
      ASSERT_EQ(buffer.Data()[j], static_cast<uint8_t>(j * 31 + i));
    if (ref.blobId != 0) ids.push_back(ref.blobId);
  }
  std::vector<int32_t> sorted = ids;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::unique(sorted.begin(), sorted.end()), sorted.end()) << "blob identifiers repeat";
  EXPECT_EQ(t.data.Header().lastBlobId, static_cast<int32_t>(ids.size()));
  // room, room + 1 (2 blocks), 1, and the big one.
  EXPECT_EQ(blob.BlockCount(), static_cast<int32_t>(1 + 1 + 2 + (100000 + room - 1) / room));
}

INSTANTIATE_TEST_SUITE_P(Plain, BuilderBlobs, ::testing::Values(false));
INSTANTIATE_TEST_SUITE_P(Encrypted, BuilderBlobs, ::testing::Values(true));

// A blob read piece by piece lands like one given whole; a source that runs
// dry refuses the record and takes its blocks back.
TEST(Builder, BlobSourcesStreamIntoChains) {
  TScratchDir dir;
  const uint64_t size = 3000000;
  auto reader = [](uint64_t total, uint64_t& pos) {
    return [total, &pos](uint8_t* out, std::size_t count) {
      std::size_t n = static_cast<std::size_t>(std::min<uint64_t>({count, total - pos, 777}));
      for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>((pos + i) % 251);
      pos += n;
      return n;
    };
  };
  {
    TTableBuilder builder(dir.Path(), "Words", WordTable(), TBuildTarget::NewFiles, PosixFileSystem());
    uint64_t pos = 0;
    std::vector<TBlobSource> sources{{4, size, reader(size, pos)}};
    builder.Append(Row(1), sources);
    uint64_t shortPos = 0;
    std::vector<TBlobSource> dry{{4, 5000, reader(4000, shortPos)}};
    EXPECT_EQ(CodeOf([&] { builder.Append(Row(2), dry); }), LEDGER_ENDOFBLOB);
    std::vector<TBlobSource> notBlob{{1, 10, reader(10, shortPos)}};
    EXPECT_THROW(builder.Append(Row(2), notBlob), std::invalid_argument);
    builder.Append(Row(3, {9, 9}));
    builder.Finish();
    EXPECT_EQ(builder.RecordCount(), 2);
  }
  EXPECT_EQ(TTableVerifier(dir.Path(), "Words", PosixFileSystem()).Run(), "ok");
  TOpenTable t(dir);
  TBlobFile blob;
  blob.SetFileName(dir / "Words.BLB");
  blob.SetBlockSize(t.data.Header().blockSize);
  blob.Open();
  TRecord* rec = t.data.GetRecord(1);
  TBlobBuffer buffer(4, 1, std::get<TBlobRef>(ReadValue(rec->Image(), t.data.Field(4))));
  t.data.ReleaseRecord(rec);
  buffer.Load(blob);
  ASSERT_EQ(buffer.Size(), size);
  for (uint64_t i = 0; i < size; i += 4099) ASSERT_EQ(buffer.Data()[i], static_cast<uint8_t>(i % 251));
  EXPECT_EQ(t.data.Header().lastBlobId, 2);
}

TEST(Builder, TableWithoutPrimaryKeepsInsertionOrder) {
  TScratchDir dir;
  TTableDefinition def = WordTable();
  def.primary.reset();
  TIndexDefinition byWord;
  byWord.name = "ByWord";
  byWord.fields = {"Word"};
  byWord.unique = false;
  def.secondary = {byWord};
  {
    TTableBuilder builder(dir.Path(), "Words", def, TBuildTarget::NewFiles, PosixFileSystem());
    for (int i = 1; i <= 50; ++i) builder.Append(Row(i % 5));  // repeated words are fine
    builder.MarkDeleted(3);
    builder.MarkDeleted(4);
    builder.Finish();
  }
  EXPECT_EQ(TTableVerifier(dir.Path(), "Words", PosixFileSystem()).Run(), "ok");
  TOpenTable t(dir);
  EXPECT_TRUE(t.index.NoPrimary());
  EXPECT_FALSE(t.index.Descriptor(0).Defined());
  EXPECT_EQ(t.index.TotalKeys(1), 48);
  EXPECT_EQ(t.data.Header().firstFree, 4);
  TRecord* rec = t.data.GetRecord(4);
  EXPECT_EQ(rec->Link(), 0);  // slots of such a table are never reused
  t.data.ReleaseRecord(rec);
}

TEST(Builder, LocaleAndCaseInsensitiveKeys) {
  TScratchDir dir;
  TTableDefinition def = WordTable();
  def.data.languageId = 1033;
  def.primary->caseInsensitive = true;
  const std::vector<std::string> words{"cat", "Dog", "apple", "Banana", "cherry"};
  {
    TTableBuilder builder(dir.Path(), "Words", def, TBuildTarget::NewFiles, PosixFileSystem());
    for (std::size_t i = 0; i < words.size(); ++i)
      builder.Append(std::vector<TFieldValue>{words[i], int64_t{1}, true, std::monostate{}, std::monostate{}});
    builder.Finish();
  }
  EXPECT_EQ(TTableVerifier(dir.Path(), "Words", PosixFileSystem()).Run(), "ok");
  TOpenTable t(dir);
  std::vector<std::string> order;
  for (int n = 1; n <= 5; ++n) order.push_back(t.WordAt(t.index.Nth(0, n).record));
  EXPECT_EQ(order, (std::vector<std::string>{"apple", "Banana", "cat", "cherry", "Dog"}));
}

// Descending secondary indexes, whole or per field, with and without a locale.
TEST(Builder, DescendingSecondaryIndexes) {
  struct TCase {
    uint16_t language;
    bool whole;
    bool field;
  };
  const TCase cases[] = {{0, true, false}, {0, false, true}, {1033, true, false}, {1033, false, true}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.language << " whole " << c.whole << " field " << c.field);
    TScratchDir dir;
    TTableDefinition def = WordTable();
    def.data.languageId = c.language;
    TIndexDefinition down;
    down.name = "Down";
    down.fields = {"Count", "Word"};
    down.descending = c.whole;
    if (c.field) down.descendingFields = {"Count", "Word"};
    down.unique = false;
    down.compression = lcTrailing;
    def.secondary = {down};
    def.fillFactor = 0.2;
    {
      TTableBuilder builder(dir.Path(), "Words", def, TBuildTarget::NewFiles, PosixFileSystem());
      for (int i = 1; i <= 400; ++i) builder.Append(Row(i));
      builder.Finish();
    }
    EXPECT_EQ(TTableVerifier(dir.Path(), "Words", PosixFileSystem()).Run(), "ok");
    TOpenTable t(dir);
    for (int n = 1; n <= 400; n += 37) EXPECT_EQ(t.index.Nth(1, n).record, 401 - n);  // Count = record number
  }
}

TEST(Builder, CaseInsensitiveDuplicatesAreRefused) {
  TScratchDir dir;
  TTableDefinition def = WordTable();
  def.primary->caseInsensitive = true;
  TTableBuilder builder(dir.Path(), "Words", def, TBuildTarget::NewFiles, PosixFileSystem());
  builder.Append(std::vector<TFieldValue>{std::string("cat"), int64_t{1}, true, std::monostate{}, std::monostate{}});
  builder.Append(std::vector<TFieldValue>{std::string("CAT"), int64_t{2}, true, std::monostate{}, std::monostate{}});
  EXPECT_EQ(CodeOf([&] { builder.Finish(); }), LEDGER_KEYVIOL);
}

// The clock reading a test sets; everything else is the real system.
class TSetClock : public TPosixFileSystem {
 public:
  std::chrono::system_clock::time_point now;
  std::chrono::system_clock::time_point Now() override { return now; }
};

// The zone local time is taken in, for a scope.
class TTimeZone {
 public:
  explicit TTimeZone(const char* zone) {
    if (const char* was = std::getenv("TZ")) was_ = was;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~TTimeZone() {
    if (was_) {
      setenv("TZ", was_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> was_;
};

// The builder and a later header write by the data file stamp one reading of
// the system's clock alike, in local time: two hours east of UTC, 22:13:20
// UTC is already the next day.
TEST(Builder, BothWritersStampTheLocalTimeOfTheClock) {
  TTimeZone zone("UTC-2");
  auto clock = std::make_shared<TSetClock>();
  clock->now = std::chrono::system_clock::from_time_t(1700000000) + std::chrono::milliseconds(250);
  const double local = (1700000000.0 + 2 * 3600) / 86400.0 + 25569.0;  // days since 1899-12-30
  TScratchDir dir;
  TTableBuilder builder(dir.Path(), "Words", WordTable(), TBuildTarget::NewFiles, clock);
  builder.Append(Row(1));
  builder.Finish();
  const double built = TOpenTable(dir).data.Header().lastWrite;
  EXPECT_NEAR(built, local, 1e-7);

  TDataFile file;
  file.SetFileName(dir / "Words.DAT");
  file.SetSystem(clock);
  file.Open();
  file.WriteHeader(true);
  file.Close();
  EXPECT_EQ(TOpenTable(dir).data.Header().lastWrite, built);
}

TEST(Builder, RefusesDefinitionsTheEngineCannotHold) {
  struct TCase {
    const char* what;
    void (*change)(TTableDefinition&);
    TErrorCode code;
  };
  const TCase cases[] = {
      {"blob key", [](TTableDefinition& d) { d.primary->fields = {"Picture"}; }, LEDGER_SEARCHCOLREQD},
      {"no key fields", [](TTableDefinition& d) { d.primary->fields.clear(); }, LEDGER_INVALIDKEY},
      {"unnamed secondary",
       [](TTableDefinition& d) {
         TIndexDefinition s;
         s.fields = {"Count"};
         d.secondary = {s};
       },
       LEDGER_INDEXNAMEREQUIRED},
      {"bad secondary name",
       [](TTableDefinition& d) {
         TIndexDefinition s;
         s.name = "1st";
         s.fields = {"Count"};
         d.secondary = {s};
       },
       LEDGER_INVALIDINDEXNAME},
      {"repeated secondary name",
       [](TTableDefinition& d) {
         TIndexDefinition s;
         s.name = "ByCount";
         s.fields = {"Count"};
         d.secondary = {s, s};
         d.secondary[1].name = "BYCOUNT";
       },
       LEDGER_INDEXEXISTS},
  };
  for (const TCase& c : cases) {
    TScratchDir dir;
    TTableDefinition def = WordTable();
    c.change(def);
    EXPECT_EQ(CodeOf([&] { TTableBuilder(dir.Path(), "Words", def, TBuildTarget::NewFiles, PosixFileSystem()); }),
              c.code)
        << c.what;
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path())) << c.what;
  }
}


// ---------------------------------------------------------------- in place

// Version v of a table: its own number of records, every value and blob byte
// telling the version, so a read of the other version cannot pass.
struct TVersion {
  int version;
  int records;
  bool encrypted;
  bool blobs;
};

int BuildVersion(const TScratchDir& dir, const TVersion& v, TBuildTarget target,
                 std::shared_ptr<TFileSystem> system = PosixFileSystem()) {
  TTableDefinition def = WordTable();
  def.data.encrypted = v.encrypted;
  if (!v.blobs) def.data.fields.erase(def.data.fields.begin() + 3);
  TTableBuilder builder(dir.Path(), "Words", def, target, std::move(system));
  for (int i = 1; i <= v.records; ++i) {
    std::vector<TFieldValue> row = Row(i + 1000 * v.version, std::vector<uint8_t>(300 + i, static_cast<uint8_t>(v.version)));
    row[1] = int64_t{v.version};
    if (!v.blobs) row.erase(row.begin() + 3);
    builder.Append(row);
  }
  builder.Finish();
  return v.records;
}

void ExpectVersion(const TScratchDir& dir, const TVersion& v) {
  ASSERT_EQ(TTableVerifier(dir.Path(), "Words", PosixFileSystem()).Run(), "ok");
  TOpenTable t(dir);
  ASSERT_EQ(t.data.RecordCount(), v.records);
  EXPECT_EQ(t.index.ActiveRecordCount(), v.records);
  EXPECT_EQ(t.data.BlobFieldCount(), v.blobs ? 1 : 0);
  EXPECT_EQ(t.data.Encrypted(), v.encrypted);
  TBlobFile blob;
  if (v.blobs) {
    blob.SetFileName(dir / "Words.BLB");
    blob.SetBlockSize(t.data.Header().blockSize);
    blob.SetEncrypted(v.encrypted);
    blob.Open();
  }
  for (int32_t r = 1; r <= v.records; ++r) {
    TRecord* rec = t.data.GetRecord(r);
    EXPECT_EQ(std::get<std::string>(ReadValue(rec->Image(), t.data.Field(1))), WordOf(r + 1000 * v.version));
    EXPECT_EQ(std::get<int64_t>(ReadValue(rec->Image(), t.data.Field(2))), v.version);
    if (v.blobs) {
      TBlobBuffer buffer(4, r, std::get<TBlobRef>(ReadValue(rec->Image(), t.data.Field(4))));
      buffer.Load(blob);
      EXPECT_EQ(buffer.Data(), std::vector<uint8_t>(300 + r, static_cast<uint8_t>(v.version))) << r;
    }
    t.data.ReleaseRecord(rec);
  }
}

const char* const kExtensions[] = {".DAT", ".IDX", ".BLB"};

// Counters as the files hold them; 0 for a file that is not there.
std::array<int32_t, 3> Counters(const TScratchDir& dir, bool encrypted) {
  std::array<int32_t, 3> counters{};
  for (int i = 0; i < 3; ++i) {
    std::vector<uint8_t> bytes = testing::ReadBytes(dir / (std::string("Words") + kExtensions[i]));
    if (bytes.size() < 4) continue;
    if (encrypted && i > 0) Scramble(bytes.data(), 4, kRecordKey);
    counters[i] = GetI32(bytes.data(), 0);
  }
  return counters;
}

void SetCounters(const TScratchDir& dir, bool encrypted, int32_t value) {
  for (int i = 0; i < 3; ++i) {
    const std::string path = dir / (std::string("Words") + kExtensions[i]);
    std::vector<uint8_t> bytes = testing::ReadBytes(path);
    if (bytes.size() < 4) continue;
    PutI32(bytes.data(), 0, value);
    if (encrypted && i > 0) Scramble(bytes.data(), 4, kRecordKey);
    testing::WriteBytes(path, bytes);
  }
}

ino_t InodeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

bool NoBuildLeftovers(const TScratchDir& dir) {
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
    if (entry.path().extension() == ".building") return false;
  return true;
}

// Each file keeps its inode and counts on from its own counter; a file the
// old table lacks is renamed in, one the new table lacks goes away.
TEST(BuilderInPlace, RewritesTheSameFilesAndCountsOn) {
  const struct {
    const char* label;
    TVersion before;
    TVersion after;
    int32_t counter;  // put into every old header first
  } cases[] = {
      {"shrinks", {1, 40, false, true}, {2, 5, false, true}, 700},
      {"grows", {1, 5, false, true}, {2, 60, false, true}, 700},
      {"scrambled", {1, 20, true, true}, {2, 30, true, true}, 700},
      {"scrambled to plain", {1, 20, true, true}, {2, 30, false, true}, 700},
      {"plain to scrambled", {1, 20, false, true}, {2, 30, true, true}, 700},
      {"past the largest counter", {1, 10, false, true}, {2, 10, false, true}, INT32_MAX},
      {"blob file added", {1, 10, false, false}, {2, 10, false, true}, 700},
      {"blob file dropped", {1, 10, false, true}, {2, 10, false, false}, 700},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TScratchDir dir;
    BuildVersion(dir, c.before, TBuildTarget::NewFiles);
    SetCounters(dir, c.before.encrypted, c.counter);
    std::array<ino_t, 3> inodes{};
    for (int i = 0; i < 3; ++i) inodes[i] = InodeOf(dir / (std::string("Words") + kExtensions[i]));
    const int32_t lastBlobId = TOpenTable(dir).data.Header().lastBlobId;

    BuildVersion(dir, c.after, TBuildTarget::InPlace);
    ExpectVersion(dir, c.after);
    EXPECT_TRUE(NoBuildLeftovers(dir));
    // New blob identifiers follow the old ones: a stale reference cannot match.
    if (c.after.blobs) {
      EXPECT_EQ(TOpenTable(dir).data.Header().lastBlobId, lastBlobId + c.after.records);
    }
    const int32_t next = c.counter == INT32_MAX ? 1 : c.counter + 1;
    const std::array<int32_t, 3> counters = Counters(dir, c.after.encrypted);
    EXPECT_EQ(counters[0], next);
    EXPECT_EQ(counters[1], next);
    if (c.after.blobs && c.before.blobs) {
      EXPECT_EQ(counters[2], next);
    }
    for (int i = 0; i < 2; ++i) EXPECT_EQ(InodeOf(dir / (std::string("Words") + kExtensions[i])), inodes[i]);
    const ino_t blob = InodeOf(dir / "Words.BLB");
    if (!c.after.blobs) {
      EXPECT_EQ(blob, 0u) << "stale blob file left";
    } else if (c.before.blobs) {
      EXPECT_EQ(blob, inodes[2]);
    }
  }
}

// A process holding the old table open cannot read one of another shape
// through what it knows of the old: it is told, and given nothing.
TEST(BuilderInPlace, OpenReadersRefuseATableOfAnotherShape) {
  const struct {
    const char* label;
    std::function<void(TTableDefinition&)> reshape;
    TErrorCode data;   // answered by the data file's change check
    TErrorCode index;  // by the index file's
  } cases[] = {
      {"same shape", [](TTableDefinition&) {}, 0, 0},
      {"another key", [](TTableDefinition& d) { d.primary->fields = {"Count"}; }, 0, LEDGER_HEADERCORRUPT},
      {"an index more",
       [](TTableDefinition& d) {
         TIndexDefinition byCount;
         byCount.name = "ByCount";
         byCount.fields = {"Count"};
         byCount.unique = false;
         d.secondary = {byCount};
       },
       0, LEDGER_HEADERCORRUPT},
      {"a wider word", [](TTableDefinition& d) { d.data.fields[0].size = 30; }, LEDGER_HEADERCORRUPT,
       LEDGER_HEADERCORRUPT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TScratchDir dir;
    BuildVersion(dir, {1, 10, false, true}, TBuildTarget::NewFiles);
    TOpenTable reader(dir);
    TTableDefinition def = WordTable();
    c.reshape(def);
    {
      TTableBuilder builder(dir.Path(), "Words", def, TBuildTarget::InPlace, PosixFileSystem());
      for (int i = 1; i <= 12; ++i) builder.Append(Row(i));
      builder.Finish();
    }
    bool changed = false;
    EXPECT_EQ(CodeOf([&] { changed = reader.data.HeaderChanged(); }), c.data);
    if (c.data == 0) {
      EXPECT_TRUE(changed);
    }
    EXPECT_EQ(CodeOf([&] { changed = reader.index.HeaderChanged(); }), c.index);
    if (c.index == 0) {
      EXPECT_TRUE(changed);
      EXPECT_EQ(reader.index.TotalKeys(0), 12);
    }
  }
}

TEST(BuilderInPlace, CreatesATableThatIsNotThere) {
  TScratchDir dir;
  BuildVersion(dir, {3, 12, false, true}, TBuildTarget::InPlace);
  ExpectVersion(dir, {3, 12, false, true});
  EXPECT_TRUE(NoBuildLeftovers(dir));
}

TEST(BuilderInPlace, RefusedRewriteLeavesTheOldTable) {
  TScratchDir dir;
  BuildVersion(dir, {1, 8, false, true}, TBuildTarget::NewFiles);
  std::vector<std::vector<uint8_t>> before;
  for (const char* ext : kExtensions) before.push_back(testing::ReadBytes(dir / (std::string("Words") + ext)));
  {
    TTableBuilder builder(dir.Path(), "Words", WordTable(), TBuildTarget::InPlace, PosixFileSystem());
    builder.Append(Row(1));
    builder.Append(Row(1));
    EXPECT_EQ(CodeOf([&] { builder.Finish(); }), LEDGER_KEYVIOL);
  }
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(testing::ReadBytes(dir / (std::string("Words") + kExtensions[i])), before[i]) << kExtensions[i];
  EXPECT_TRUE(NoBuildLeftovers(dir));
}

// Lock waits are counted instead of slept; after a chosen number of them the
// other holder lets go (or never does).
class TPatientSystem : public TPosixFileSystem {
 public:
  int sleeps = 0;
  int releaseAfter = -1;
  std::function<void()> release;
  void SleepMs(unsigned) override {
    if (++sleeps == releaseAfter) release();
  }
};

bool OtherLock(int fd, short type, uint64_t offset, uint64_t length) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

// Another open of a file (its own open file description, as another process
// has) holds one lock byte while the table is rewritten in place.
TEST(BuilderInPlace, WaitsForEveryLockAndGivesUpWithoutHarm) {
  const struct {
    const char* label;
    const char* ext;
    uint64_t offset;
    short type;
    int releaseAfter;  // -1: never
  } cases[] = {
      {"reader on the index", ".IDX", ReadLockOffset(7), F_RDLCK, 4},
      {"reader on the blobs", ".BLB", ReadLockOffset(65535), F_RDLCK, 2},
      {"writer on the data", ".DAT", kDataWriteByte, F_WRLCK, 3},
      {"reader that stays", ".IDX", ReadLockOffset(1), F_RDLCK, -1},
      {"blob reader that stays", ".BLB", ReadLockOffset(300), F_RDLCK, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TScratchDir dir;
    BuildVersion(dir, {1, 10, false, true}, TBuildTarget::NewFiles);
    std::vector<std::vector<uint8_t>> before;
    for (const char* ext : kExtensions) before.push_back(testing::ReadBytes(dir / (std::string("Words") + ext)));
    const int other = ::open((dir / (std::string("Words") + c.ext)).c_str(), O_RDWR);
    ASSERT_GE(other, 0);
    ASSERT_TRUE(OtherLock(other, c.type, c.offset, 1));
    auto system = std::make_shared<TPatientSystem>();
    system->releaseAfter = c.releaseAfter;
    system->release = [&] { OtherLock(other, F_UNLCK, c.offset, 1); };
    TErrorCode code = CodeOf([&] { BuildVersion(dir, {2, 10, false, true}, TBuildTarget::InPlace, system); });
    if (c.releaseAfter > 0) {
      EXPECT_EQ(code, 0);
      EXPECT_EQ(system->sleeps, c.releaseAfter);
      ExpectVersion(dir, {2, 10, false, true});
    } else {
      EXPECT_EQ(code, LEDGER_LOCKTIMEOUT);
      EXPECT_EQ(system->sleeps, kLockAttempts - 1);
      for (int i = 0; i < 3; ++i)
        EXPECT_EQ(testing::ReadBytes(dir / (std::string("Words") + kExtensions[i])), before[i]) << kExtensions[i];
      OtherLock(other, F_UNLCK, c.offset, 1);
    }
    EXPECT_TRUE(NoBuildLeftovers(dir));
    // Whatever the rewrite took is free again.
    EXPECT_TRUE(OtherLock(other, F_WRLCK, kWriteRangeStart, kWriteRangeLength + 1));
    ::close(other);
    for (const char* ext : {".DAT", ".IDX"}) {
      const int fd = ::open((dir / (std::string("Words") + ext)).c_str(), O_RDWR);
      EXPECT_TRUE(OtherLock(fd, F_WRLCK, kWriteRangeStart, kWriteRangeLength + 1)) << ext;
      ::close(fd);
    }
  }
}

// ---------------------------------------------------------------- new files

// Fails the k-th rename the builder asks for; everything else is real.
class TFailingRename : public TPosixFileSystem {
 public:
  int failAt = 0;
  int renames = 0;
  int Rename(const std::string& from, const std::string& to) override {
    return ++renames == failAt ? -EIO : TPosixFileSystem::Rename(from, to);
  }
};

// Every file in the directory by name, with its bytes.
std::map<std::string, std::vector<uint8_t>> FilesIn(const TScratchDir& dir) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
    files[entry.path().filename().string()] = testing::ReadBytes(entry.path().string());
  return files;
}

std::vector<std::string> NamesOf(const std::map<std::string, std::vector<uint8_t>>& files) {
  std::vector<std::string> names;
  for (const auto& [name, bytes] : files) names.push_back(name);
  return names;
}

// The new files replace the old set whole or not at all: whichever rename
// fails, the old table is left as it was and readable, with nothing beside it.
TEST(BuilderNewFiles, AFailedRenameLeavesTheOldTableWhole) {
  const struct {
    const char* label;
    TVersion before;
    TVersion after;
  } shapes[] = {
      {"same files", {1, 10, false, true}, {2, 12, false, true}},
      {"blob file dropped", {1, 10, false, true}, {2, 12, false, false}},
      {"blob file added", {1, 10, false, false}, {2, 12, false, true}},
  };
  for (const auto& shape : shapes) {
    for (int k = 1;; ++k) {
      SCOPED_TRACE(std::string(shape.label) + ", rename " + std::to_string(k) + " fails");
      ASSERT_LE(k, 10) << "more renames than replacing three files takes";
      TScratchDir dir;
      BuildVersion(dir, shape.before, TBuildTarget::NewFiles);
      const auto before = FilesIn(dir);
      auto system = std::make_shared<TFailingRename>();
      system->failAt = k;
      const TErrorCode code = CodeOf([&] { BuildVersion(dir, shape.after, TBuildTarget::NewFiles, system); });
      const auto after = FilesIn(dir);
      if (system->renames < k) {  // every rename went through
        EXPECT_EQ(code, 0);
        std::vector<std::string> expected = {"Words.DAT", "Words.IDX"};
        if (shape.after.blobs) expected.insert(expected.begin(), "Words.BLB");
        EXPECT_EQ(NamesOf(after), expected);
        ExpectVersion(dir, shape.after);
        break;
      }
      EXPECT_EQ(code, LEDGER_WRITEERR);
      ASSERT_EQ(NamesOf(after), NamesOf(before));
      for (const auto& [name, bytes] : before) EXPECT_TRUE(after.at(name) == bytes) << name << " changed";
      ExpectVersion(dir, shape.before);
    }
  }
}

}  // namespace
}  // namespace ledger
