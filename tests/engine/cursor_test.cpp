// The cursor over tables made by the builder: positions and cracks, deleted
// records, key lookups, bookmarks, index switching, passwords, fields, blobs,
// sharing one table between cursors, and corrupt files met on the way.
#include "engine/core/data_cursor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/build/table_builder.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
#include "engine/core/data_table.h"
#include "engine/files/byte_order.h"
#include "table_files_util.h"

namespace ledger {
namespace {

using testing::CodeOf;
using testing::TScratchDir;


enum class TOrder { Primary, NoPrimary, NoIndex };

// Word (string 20), Count (integer), Picture (blob), RecID (autoinc); the
// primary index on Word, a non-unique "ByCount" on Count.
TTableDefinition WordTable(bool primary = true) {
  TTableDefinition def;
  def.order = TRecordOrder::Input;  // these tests name records by the order they were added
  def.data.fields = {FieldDef("Word", ftString, 20), FieldDef("Count", ftInteger), FieldDef("Picture", ftBlob, 0, fstGraphic),
                     FieldDef("RecID", ftInteger, 0, fstAutoInc)};
  if (primary) {
    TIndexDefinition p;
    p.fields = {"Word"};
    def.primary = p;
  }
  TIndexDefinition byCount;
  byCount.name = "ByCount";
  byCount.fields = {"Count"};
  byCount.unique = false;
  def.secondary = {byCount};
  return def;
}

struct TRow {
  std::string word;
  int64_t count = 0;
  std::vector<uint8_t> picture;
};

void Build(const TScratchDir& dir, const std::string& name, const std::vector<TRow>& rows,
           const std::set<int32_t>& deleted = {}, TTableDefinition def = WordTable()) {
  TTableBuilder builder(dir.Path(), name, std::move(def), TBuildTarget::NewFiles, PosixFileSystem());
  for (const TRow& r : rows) {
    TFieldValue picture;
    if (!r.picture.empty()) picture = r.picture;
    builder.Append(std::vector<TFieldValue>{r.word, r.count, picture, std::monostate{}});
  }
  for (int32_t r : deleted) builder.MarkDeleted(r);
  builder.Finish();
}

struct TFixture {
  TScratchDir dir;
  TDataSession session{PosixFileSystem()};
  TDataDirectory& directory = session.OpenDirectory("", dir.Path());

  std::unique_ptr<TDataCursor> Open(const std::string& name, TOrder order = TOrder::Primary) {
    auto c = std::make_unique<TDataCursor>(directory);
    c->SetTableName(name);
    c->SetNoIndex(order == TOrder::NoIndex);
    c->Open();
    return c;
  }
};

std::string WordOf(const TDataCursor& c, std::span<const uint8_t> image) {
  TFieldValue v = c.FieldValue(1, image);
  return std::holds_alternative<std::string>(v) ? std::get<std::string>(v) : std::string();
}
std::string Word(const TDataCursor& c) { return WordOf(c, c.CurrentRecord()); }

std::vector<uint8_t> KeyFor(TDataCursor& c, const std::string& word) {
  std::vector<uint8_t> image(static_cast<std::size_t>(c.RecordSize()), 0);
  c.PutField(1, image, word);
  std::vector<uint8_t> key(static_cast<std::size_t>(c.ActiveIndexDescriptor().keyLength), 0);
  c.BuildKey(image, key.data());
  return key;
}

bool AllZero(const std::vector<uint8_t>& b) {
  return std::all_of(b.begin(), b.end(), [](uint8_t x) { return x == 0; });
}

// ---------------------------------------------------------------- positions

struct TOrderCase {
  const char* name;
  TOrder order;
};

class CursorOrders : public ::testing::TestWithParam<TOrderCase> {};

TEST_P(CursorOrders, ThreeRecordsPositionsAndCracks) {
  TFixture f;
  const TOrder order = GetParam().order;
  Build(f.dir, "Fruit", {{"pear"}, {"apple"}, {"fig"}}, {}, WordTable(order != TOrder::NoPrimary));
  auto c = f.Open("Fruit", order);
  const std::vector<std::string> want =
      order == TOrder::Primary ? std::vector<std::string>{"apple", "fig", "pear"}
                               : std::vector<std::string>{"pear", "apple", "fig"};
  EXPECT_EQ(c->PhysicalOrder(), order != TOrder::Primary);
  EXPECT_EQ(c->RecordCount(), 3);
  std::vector<uint8_t> buf(static_cast<std::size_t>(c->RecordSize()));

  c->SetToBeginning();
  EXPECT_TRUE(c->AtBeginning());
  EXPECT_EQ(c->Current(buf.data()), kStatusBeginning);
  EXPECT_EQ(c->Next(buf.data()), kStatusOk);
  EXPECT_EQ(c->RecordNumber(), 1);
  EXPECT_EQ(WordOf(*c, buf), want[0]);
  EXPECT_EQ(c->Current(buf.data()), kStatusOk);
  EXPECT_EQ(WordOf(*c, buf), want[0]);

  EXPECT_TRUE(c->GoToPosition(3));
  EXPECT_EQ(c->RecordNumber(), 3);
  EXPECT_EQ(Word(*c), want[2]);
  EXPECT_FALSE(c->GoToPosition(4));
  EXPECT_TRUE(c->AtEnd());
  EXPECT_EQ(c->Current(buf.data()), kStatusEnd);
  EXPECT_TRUE(AllZero(buf));
  EXPECT_EQ(c->Prior(buf.data()), kStatusOk);
  EXPECT_EQ(c->RecordNumber(), 3);
  EXPECT_EQ(WordOf(*c, buf), want[2]);

  EXPECT_EQ(c->Next(buf.data()), kStatusEnd);
  EXPECT_TRUE(AllZero(buf));
  EXPECT_EQ(c->Next(buf.data()), kStatusEnd);
  for (int i = 2; i >= 0; --i) {
    ASSERT_EQ(c->Prior(buf.data()), kStatusOk);
    EXPECT_EQ(WordOf(*c, buf), want[static_cast<std::size_t>(i)]);
    EXPECT_EQ(c->RecordNumber(), i + 1);
  }
  EXPECT_EQ(c->Prior(buf.data()), kStatusBeginning);
  EXPECT_TRUE(AllZero(buf));
  EXPECT_EQ(c->Next(buf.data()), kStatusOk);
  EXPECT_EQ(WordOf(*c, buf), want[0]);

  c->SetToEnd();
  EXPECT_EQ(c->Prior(buf.data()), kStatusOk);
  EXPECT_EQ(WordOf(*c, buf), want[2]);
  // Below 1: the first record; in key order on its beginning crack.
  EXPECT_FALSE(c->GoToPosition(0));
  EXPECT_EQ(c->AtBeginning(), order == TOrder::Primary);
  EXPECT_EQ(Word(*c), want[0]);
  EXPECT_EQ(c->RecordNumber(), 1);
}

TEST_P(CursorOrders, EmptyTableHasNoRecordAnywhere) {
  TFixture f;
  const TOrder order = GetParam().order;
  Build(f.dir, "None", {}, {}, WordTable(order != TOrder::NoPrimary));
  auto c = f.Open("None", order);
  std::vector<uint8_t> buf(static_cast<std::size_t>(c->RecordSize()), 0xAB);
  EXPECT_EQ(c->RecordCount(), 0);
  EXPECT_EQ(c->Current(buf.data()), kStatusNoCurrentRecord);
  EXPECT_TRUE(AllZero(buf));
  EXPECT_EQ(c->Next(buf.data()), kStatusEnd);
  EXPECT_EQ(c->Prior(buf.data()), kStatusBeginning);
  EXPECT_FALSE(c->GoToPosition(1));
  EXPECT_FALSE(c->GoToPosition(0));
  EXPECT_EQ(c->RecordNumber(), 0);
  EXPECT_TRUE(AllZero(c->Bookmark()));
}

// Every third record deleted, the first and the last too: positions count
// only the live ones, in key order or in physical order.
TEST_P(CursorOrders, DeletedRecordsAreSkippedAndNotCounted) {
  TFixture f;
  const TOrder order = GetParam().order;
  std::vector<TRow> rows;
  std::set<int32_t> deleted = {1, 40};
  for (int i = 1; i <= 40; ++i) {
    char w[16];
    std::snprintf(w, sizeof w, "w%03d", (i * 17) % 41);
    rows.push_back({w, i});
    if (i % 3 == 0) deleted.insert(i);
  }
  Build(f.dir, "Holes", rows, deleted, WordTable(order != TOrder::NoPrimary));
  auto c = f.Open("Holes", order);

  std::vector<std::string> want;
  for (int i = 1; i <= 40; ++i)
    if (!deleted.count(i)) want.push_back(rows[static_cast<std::size_t>(i - 1)].word);
  if (order == TOrder::Primary) std::sort(want.begin(), want.end());
  const int32_t n = static_cast<int32_t>(want.size());
  EXPECT_EQ(c->RecordCount(), n);

  for (int32_t p = n; p >= 1; --p) {
    ASSERT_TRUE(c->GoToPosition(p)) << p;
    EXPECT_EQ(Word(*c), want[static_cast<std::size_t>(p - 1)]) << p;
  }
  std::vector<uint8_t> buf(static_cast<std::size_t>(c->RecordSize()));
  std::vector<std::string> forward, backward;
  c->SetToBeginning();
  while (c->Next(buf.data()) == kStatusOk) forward.push_back(WordOf(*c, buf));
  while (c->Prior(buf.data()) == kStatusOk) backward.push_back(WordOf(*c, buf));
  std::reverse(backward.begin(), backward.end());
  EXPECT_EQ(forward, want);
  EXPECT_EQ(backward, want);
}

INSTANTIATE_TEST_SUITE_P(, CursorOrders,
                         ::testing::Values(TOrderCase{"Primary", TOrder::Primary},
                                           TOrderCase{"NoPrimary", TOrder::NoPrimary},
                                           TOrderCase{"NoIndex", TOrder::NoIndex}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- keys

TEST(Cursor, FindingAKey) {
  TFixture f;
  Build(f.dir, "Fruit", {{"pear"}, {"apple"}, {"fig"}, {"peach"}});
  auto c = f.Open("Fruit");

  EXPECT_TRUE(c->FindKey(KeyFor(*c, "fig").data(), 1));
  EXPECT_EQ(Word(*c), "fig");
  EXPECT_EQ(c->RecordNumber(), 2);

  // Not there: false, and the cursor stands on the next key in order.
  EXPECT_FALSE(c->FindKey(KeyFor(*c, "banana").data(), 1));
  EXPECT_EQ(Word(*c), "fig");
  EXPECT_FALSE(c->AtEnd());
  // Past every key: the last record, not the end crack.
  EXPECT_FALSE(c->FindKey(KeyFor(*c, "zucchini").data(), 1));
  EXPECT_EQ(Word(*c), "pear");
  EXPECT_FALSE(c->AtEnd());
  std::vector<uint8_t> buf(static_cast<std::size_t>(c->RecordSize()));
  EXPECT_EQ(c->Next(buf.data()), kStatusEnd);

  // A partial length searches on the leading characters.
  EXPECT_TRUE(c->FindKey(KeyFor(*c, "pe").data(), 0, 2));
  EXPECT_EQ(Word(*c), "peach");
  EXPECT_FALSE(c->FindKey(KeyFor(*c, "pz").data(), 0, 2));
}

TEST(Cursor, FindingAKeyInPhysicalOrderAnswersFalse) {
  TFixture f;
  Build(f.dir, "Fruit", {{"pear"}, {"apple"}}, {}, WordTable(false));
  auto c = f.Open("Fruit");
  std::vector<uint8_t> key(64, 0);
  EXPECT_FALSE(c->FindKey(key.data(), 1));
}

// A value repeated over several leaves: the search must land on the first of
// its keys, not on the first key of the last leaf holding it.
TEST(Cursor, PartialFindOnDuplicatesLandsOnTheFirstOfThem) {
  TFixture f;
  std::vector<TRow> rows;
  for (int i = 0; i < 3000; ++i) rows.push_back({"w" + std::to_string(i), i % 3});
  TTableDefinition def = WordTable();
  def.fillFactor = 0.3;
  Build(f.dir, "Dups", rows, {}, def);
  auto c = f.Open("Dups");
  c->SwitchToIndex("ByCount");
  for (int64_t value : {0, 1, 2}) {
    std::vector<uint8_t> image(static_cast<std::size_t>(c->RecordSize()), 0);
    c->PutField(2, image, value);
    std::vector<uint8_t> key(static_cast<std::size_t>(c->ActiveIndexDescriptor().keyLength), 0);
    c->BuildKey(image, key.data());
    ASSERT_TRUE(c->FindKey(key.data(), 1)) << value;
    EXPECT_EQ(c->RecordNumber(), value * 1000 + 1) << value;
    EXPECT_EQ(std::get<int64_t>(c->FieldValue(2, c->CurrentRecord())), value);
  }
}

// ---------------------------------------------------------------- bookmarks

TEST_P(CursorOrders, BookmarksRoundTrip) {
  TFixture f;
  const TOrder order = GetParam().order;
  std::vector<TRow> rows;
  for (int i = 0; i < 50; ++i) rows.push_back({"b" + std::to_string((i * 7) % 50), i});
  Build(f.dir, "Marks", rows, {}, WordTable(order != TOrder::NoPrimary));
  auto c = f.Open("Marks", order);
  EXPECT_EQ(c->BookmarkSize(), order == TOrder::Primary ? c->ActiveIndexDescriptor().keyLength : 4);

  std::vector<std::vector<uint8_t>> marks;
  std::vector<std::string> words;
  std::vector<uint8_t> buf(static_cast<std::size_t>(c->RecordSize()));
  c->SetToBeginning();
  while (c->Next(buf.data()) == kStatusOk) {
    marks.push_back(c->Bookmark());
    words.push_back(WordOf(*c, buf));
  }
  ASSERT_EQ(marks.size(), 50u);
  for (std::size_t i = marks.size(); i-- > 0;) {
    ASSERT_TRUE(c->GoToBookmark(marks[i].data()));
    EXPECT_EQ(Word(*c), words[i]);
    EXPECT_EQ(c->RecordNumber(), static_cast<int32_t>(i + 1));
    if (i > 0) {
      EXPECT_EQ(c->CompareBookmarks(marks[i - 1].data(), marks[i].data()), -1);
      EXPECT_EQ(c->CompareBookmarks(marks[i].data(), marks[i - 1].data()), 1);
    }
    EXPECT_EQ(c->CompareBookmarks(marks[i].data(), marks[i].data()), 0);
  }
}

TEST(Cursor, BookmarkOfAMissingRecordGoesToTheNearest) {
  TFixture f;
  Build(f.dir, "Fruit", {{"apple"}, {"fig"}, {"pear"}});
  auto c = f.Open("Fruit");
  EXPECT_FALSE(c->GoToBookmark(KeyFor(*c, "banana").data()));
  EXPECT_EQ(Word(*c), "fig");
  EXPECT_TRUE(c->GoToBookmark(KeyFor(*c, "banana").data(), true));
  EXPECT_FALSE(c->GoToBookmark(KeyFor(*c, "zebra").data()));
  EXPECT_EQ(Word(*c), "pear");

  TFixture g;
  Build(g.dir, "Phys", {{"a"}, {"b"}, {"c"}, {"d"}}, {2, 4}, WordTable(false));
  auto p = g.Open("Phys");
  uint8_t mark[4];
  PutI32(mark, 0, 2);  // deleted: the next live one
  EXPECT_FALSE(p->GoToBookmark(mark));
  EXPECT_EQ(Word(*p), "c");
  EXPECT_EQ(p->RecordNumber(), 2);
  PutI32(mark, 0, 99);  // beyond the slots: clamped, then the nearest before
  EXPECT_FALSE(p->GoToBookmark(mark));
  EXPECT_EQ(Word(*p), "c");
}

// ---------------------------------------------------------------- indexes

TEST(Cursor, SwitchingIndexKeepsTheCurrentRecord) {
  TFixture f;
  Build(f.dir, "Fruit", {{"pear", 1}, {"apple", 3}, {"fig", 2}});
  auto c = f.Open("Fruit");
  ASSERT_TRUE(c->GoToPosition(3));
  EXPECT_EQ(Word(*c), "pear");

  c->SwitchToIndex("bycount");
  EXPECT_EQ(c->ActiveIndex(), 1);
  EXPECT_EQ(Word(*c), "pear");
  EXPECT_EQ(c->RecordNumber(), 1);
  std::vector<uint8_t> buf(static_cast<std::size_t>(c->RecordSize()));
  ASSERT_EQ(c->Next(buf.data()), kStatusOk);
  EXPECT_EQ(WordOf(*c, buf), "fig");

  c->SwitchToIndex("");
  EXPECT_EQ(c->ActiveIndex(), 0);
  EXPECT_EQ(Word(*c), "fig");
  EXPECT_EQ(c->RecordNumber(), 2);

  try {
    c->SwitchToIndex("ByColour");
    FAIL() << "no error";
  } catch (const ELedgerEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), LEDGER_INVALIDINDEXNAME);
    EXPECT_EQ(e.IndexName(), "ByColour");
    EXPECT_EQ(e.TableName(), "Fruit");
    EXPECT_EQ(e.DatabaseName(), f.directory.Path());
  }
  EXPECT_EQ(c->ActiveIndex(), 0);
  EXPECT_EQ(Word(*c), "fig");
}

TEST(Cursor, SwitchingFromPhysicalOrderFindsTheRecordByItsKey) {
  TFixture f;
  Build(f.dir, "Fruit", {{"pear", 5}, {"apple", 9}, {"fig", 7}});
  auto c = f.Open("Fruit", TOrder::NoIndex);
  ASSERT_TRUE(c->GoToPosition(2));
  EXPECT_EQ(Word(*c), "apple");
  c->SwitchToIndex("ByCount");
  EXPECT_FALSE(c->PhysicalOrder());
  EXPECT_EQ(Word(*c), "apple");
  EXPECT_EQ(c->RecordNumber(), 3);
}

// ---------------------------------------------------------------- opening

TEST(Cursor, PasswordIsRequiredAndCanComeFromTheCallback) {
  TFixture f;
  TTableDefinition def = WordTable();
  def.data.encrypted = true;
  def.data.password = "secret";
  Build(f.dir, "Locked", {{"apple"}}, {}, def);

  TDataCursor c(f.directory);
  c.SetTableName("Locked");
  try {
    c.Open();
    FAIL() << "opened without a password";
  } catch (const ELedgerEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), LEDGER_NOTSUFFTABLERIGHTS);
    EXPECT_EQ(e.TableName(), "Locked");
    EXPECT_EQ(e.DatabaseName(), f.directory.Path());
  }
  EXPECT_FALSE(c.IsOpen());
  EXPECT_TRUE(f.directory.Tables().empty());

  int asked = 0;
  c.SetPasswordCallback([&] {
    ++asked;
    if (asked == 1) f.session.AddPassword("wrong");
    else f.session.AddPassword("secret");
    return true;
  });
  c.Open();
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(Word(c), "apple");
  c.Close();

  c.Open();  // the session holds it now
  EXPECT_EQ(asked, 2);
  c.Close();

  f.session.RemoveAllPasswords();
  c.SetPasswordCallback([] { return false; });
  EXPECT_EQ(CodeOf([&] { c.Open(); }), LEDGER_NOTSUFFTABLERIGHTS);
}

TEST(Cursor, FailedOpenLeavesTheCursorClosedAndTheTableReleased) {
  TFixture f;
  Build(f.dir, "Old", {{"apple"}});
  auto bytes = testing::ReadBytes(f.dir / "Old.DAT");
  bytes[8] = 4;  // format version
  testing::WriteBytes(f.dir / "Old.DAT", bytes);
  TDataCursor c(f.directory);
  c.SetTableName("Old.dat");
  EXPECT_EQ(CodeOf([&] { c.Open(); }), LEDGER_OLDVERSION);
  EXPECT_FALSE(c.IsOpen());
  EXPECT_TRUE(f.directory.Tables().empty());
}

// Without its index file the table gets a fresh one; the record-status
// index is rebuilt from the records, which then show in physical order with
// the deleted ones left out.
TEST(Cursor, AMissingIndexFileIsMadeAnewAndTheLiveRecordsShow) {
  TFixture f;
  Build(f.dir, "Lost", {{"d"}, {"a"}, {"c"}, {"b"}}, {2});
  std::filesystem::remove(f.dir / "Lost.IDX");
  auto c = f.Open("Lost");
  EXPECT_FALSE(c->Table()->RebuildNeeded());
  EXPECT_TRUE(c->PhysicalOrder());
  EXPECT_EQ(c->RecordCount(), 3);
  std::vector<uint8_t> buf(static_cast<std::size_t>(c->RecordSize()));
  std::vector<std::string> words;
  while (c->Next(buf.data()) == kStatusOk) words.push_back(WordOf(*c, buf));
  EXPECT_EQ(words, (std::vector<std::string>{"d", "c", "b"}));
}

TEST(Cursor, TableNameLosesItsDirectoryAndDatExtension) {
  TFixture f;
  TDataCursor c(f.directory);
  c.SetTableName("some/where/Words.dAt");
  EXPECT_EQ(c.TableName(), "Words");
  c.SetTableName("Words.txt");
  EXPECT_EQ(c.TableName(), "Words.txt");
}

// ---------------------------------------------------------------- fields

TEST(Cursor, FieldValuesAndTheirNullFlags) {
  TFixture f;
  Build(f.dir, "Fruit", {{"apple", 7, {1, 2, 3}}, {"fig", 0, {}}});
  auto c = f.Open("Fruit");
  EXPECT_EQ(c->FieldCount(), 4);
  EXPECT_EQ(c->FieldNumber("count"), 2);
  EXPECT_EQ(c->FieldOrigin(1), "Fruit.Word");
  EXPECT_EQ(CodeOf([&] { c->Field(0); }), LEDGER_OUTOFRANGE);
  EXPECT_EQ(CodeOf([&] { c->Field(5); }), LEDGER_OUTOFRANGE);
  EXPECT_EQ(CodeOf([&] { c->FieldNumber("Colour"); }), LEDGER_OUTOFRANGE);

  ASSERT_TRUE(c->GoToPosition(1));
  std::vector<uint8_t> image(c->CurrentRecord().begin(), c->CurrentRecord().end());
  uint8_t value[32] = {};
  EXPECT_TRUE(c->GetField(1, image, value));
  EXPECT_STREQ(reinterpret_cast<char*>(value), "apple");
  EXPECT_TRUE(c->GetField(2, image, value));
  EXPECT_EQ(GetI32(value), 7);
  EXPECT_TRUE(c->GetField(3, image, value));  // blob: first block and blob id
  EXPECT_GT(GetI32(value), 0);
  EXPECT_NE(GetI32(value, 4), 0);
  EXPECT_TRUE(c->GetField(4, image, value));  // auto-increment: never null
  EXPECT_EQ(GetI32(value), 1);

  ASSERT_TRUE(c->GoToPosition(2));
  image.assign(c->CurrentRecord().begin(), c->CurrentRecord().end());
  EXPECT_FALSE(c->GetField(3, image, value));
  EXPECT_TRUE(c->GetField(2, image, value));  // 0 is a value, not null
  c->BlankRecord(image);
  EXPECT_FALSE(c->GetField(1, image, value));
  EXPECT_TRUE(std::holds_alternative<std::monostate>(c->FieldValue(1, image)));
}

// ---------------------------------------------------------------- blobs

TEST(Cursor, BlobReadsStopAtTheEndOfTheBlob) {
  TFixture f;
  const std::vector<uint8_t> ten = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  Build(f.dir, "Pics", {{"apple", 1, ten}, {"fig", 2, {}}});
  auto c = f.Open("Pics");
  ASSERT_TRUE(c->GoToPosition(1));
  std::vector<uint8_t> image(c->CurrentRecord().begin(), c->CurrentRecord().end());
  const int32_t firstBlock = GetI32(image.data(), c->Field(3).offset + 1u);

  uint32_t size = 0, copied = 0;
  uint8_t out[16] = {};
  EXPECT_EQ(c->ReadBlob(3, image, 0, 4, out, copied), LEDGER_INVALIDBLOBHANDLE);
  EXPECT_EQ(c->OpenBlob(2, image, TBlobOpenMode::Read, size), LEDGER_NOTABLOB);
  ASSERT_EQ(c->OpenBlob(3, image, TBlobOpenMode::Read, size), kStatusOk);
  EXPECT_EQ(size, 10u);
  EXPECT_LT(GetI32(image.data(), c->Field(3).offset + 1u), 0);
  // Opening again through the handle finds the same buffer.
  ASSERT_EQ(c->OpenBlob(3, image, TBlobOpenMode::Read, size), kStatusOk);
  EXPECT_EQ(c->OpenBlobCount(), 1u);

  struct TReadCase {
    uint32_t offset, count, copied;
    int status;
  };
  for (const TReadCase& r : {TReadCase{0, 10, 10, kStatusOk}, TReadCase{3, 4, 4, kStatusOk},
                             TReadCase{9, 4, 1, LEDGER_ENDOFBLOB}, TReadCase{10, 4, 0, LEDGER_ENDOFBLOB},
                             TReadCase{4000000000u, 4000000000u, 0, LEDGER_ENDOFBLOB}}) {
    std::fill(std::begin(out), std::end(out), 0xEE);
    uint32_t count = std::min<uint32_t>(r.count, 16);
    if (r.offset > 10) count = r.count;  // never copied from
    EXPECT_EQ(c->ReadBlob(3, image, r.offset, count, out, copied), r.status) << r.offset;
    EXPECT_EQ(copied, r.copied) << r.offset;
    for (uint32_t i = 0; i < r.copied; ++i) EXPECT_EQ(out[i], r.offset + i);
    if (r.copied < 16) {
      EXPECT_EQ(out[r.copied], 0xEE);
    }
  }
  EXPECT_EQ(c->BlobSize(3, image, size), kStatusOk);
  EXPECT_EQ(size, 10u);

  EXPECT_EQ(c->ReleaseBlob(3, image), kStatusOk);
  EXPECT_EQ(GetI32(image.data(), c->Field(3).offset + 1u), firstBlock);
  EXPECT_EQ(image[c->Field(3).offset], 1);
  EXPECT_EQ(c->OpenBlobCount(), 0u);
  EXPECT_EQ(c->ReleaseBlob(3, image), LEDGER_INVALIDBLOBHANDLE);
  EXPECT_EQ(c->BlobSize(3, image, size), LEDGER_INVALIDBLOBHANDLE);

  // A handle this cursor never gave out.
  PutI32(image.data(), c->Field(3).offset + 1u, -77);
  EXPECT_EQ(c->OpenBlob(3, image, TBlobOpenMode::Read, size), LEDGER_INVALIDBLOBOFFSET);

  // An empty blob opens with size 0 and stays null.
  ASSERT_TRUE(c->GoToPosition(2));
  image.assign(c->CurrentRecord().begin(), c->CurrentRecord().end());
  ASSERT_EQ(c->OpenBlob(3, image, TBlobOpenMode::Read, size), kStatusOk);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(image[c->Field(3).offset], 0);
  EXPECT_EQ(c->ReadBlob(3, image, 0, 1, out, copied), LEDGER_ENDOFBLOB);
  EXPECT_EQ(copied, 0u);
}

// One vector serves blob after blob: its contents are replaced, a null blob
// empties it, and nothing stays open.
TEST(Cursor, AWholeBlobIsReadIntoTheCallersBufferWithNothingLeftOpen) {
  TFixture f;
  const std::vector<uint8_t> long_(5000, 7), ten = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  Build(f.dir, "Pics", {{"apple", 1, long_}, {"fig", 2, ten}, {"kiwi", 3, {}}});
  auto c = f.Open("Pics");
  std::vector<uint8_t> out = {42};
  struct TCase {
    int32_t position;
    const std::vector<uint8_t>* want;
  };
  const std::vector<uint8_t> none;
  for (const TCase& r : {TCase{1, &long_}, TCase{2, &ten}, TCase{3, &none}, TCase{1, &long_}}) {
    ASSERT_TRUE(c->GoToPosition(r.position));
    EXPECT_EQ(c->ReadWholeBlob(3, c->CurrentRecord(), out), kStatusOk) << r.position;
    EXPECT_EQ(out, *r.want) << r.position;
  }
  EXPECT_EQ(c->OpenBlobCount(), 0u);
  EXPECT_EQ(c->ReadWholeBlob(2, c->CurrentRecord(), out), LEDGER_NOTABLOB);

  // A blob the image has open comes from its buffer.
  ASSERT_TRUE(c->GoToPosition(2));
  std::vector<uint8_t> image(c->CurrentRecord().begin(), c->CurrentRecord().end());
  uint32_t size = 0;
  ASSERT_EQ(c->OpenBlob(3, image, TBlobOpenMode::Read, size), kStatusOk);
  EXPECT_EQ(c->ReadWholeBlob(3, image, out), kStatusOk);
  EXPECT_EQ(out, ten);
  PutI32(image.data(), c->Field(3).offset + 1u, -77);
  EXPECT_EQ(c->ReadWholeBlob(3, image, out), LEDGER_INVALIDBLOBOFFSET);
}

TEST(Cursor, The129thOpenBlobIsRefused) {
  TFixture f;
  Build(f.dir, "Pics", {{"apple", 1, {7, 7, 7}}});
  auto c = f.Open("Pics");
  ASSERT_TRUE(c->GoToPosition(1));
  std::vector<std::vector<uint8_t>> images(129, std::vector<uint8_t>(c->CurrentRecord().begin(), c->CurrentRecord().end()));
  uint32_t size = 0;
  for (std::size_t i = 0; i < 128; ++i) ASSERT_EQ(c->OpenBlob(3, images[i], TBlobOpenMode::Read, size), kStatusOk) << i;
  EXPECT_EQ(c->OpenBlob(3, images[128], TBlobOpenMode::Read, size), LEDGER_OPENBLOBLIMIT);
  EXPECT_GT(GetI32(images[128].data(), c->Field(3).offset + 1u), 0);  // untouched
  ASSERT_EQ(c->ReleaseBlob(3, images[5]), kStatusOk);
  EXPECT_EQ(c->OpenBlob(3, images[128], TBlobOpenMode::Read, size), kStatusOk);
  // Handles stay distinct after the release.
  std::set<int32_t> handles;
  for (std::size_t i = 0; i < 129; ++i)
    if (i != 5) handles.insert(GetI32(images[i].data(), c->Field(3).offset + 1u));
  EXPECT_EQ(handles.size(), 128u);
  uint8_t out[3];
  uint32_t copied = 0;
  EXPECT_EQ(c->ReadBlob(3, images[128], 0, 3, out, copied), kStatusOk);
  EXPECT_EQ(out[2], 7);
}

// Open blobs are reached through negative handles in record images; a record
// whose file bytes hold a negative block number is damaged, and must not
// hand out the blob another record has open.
TEST(Cursor, ANegativeBlockNumberInTheFileIsCorruptNotAHandle) {
  TFixture f;
  Build(f.dir, "Pics", {{"apple", 1, {1, 2, 3}}, {"fig", 2, {4, 5}}});
  // Every cursor hands out the same first handle.
  int32_t handle = 0;
  std::size_t reference = 0;
  {
    auto c = f.Open("Pics");
    ASSERT_TRUE(c->GoToPosition(1));
    std::vector<uint8_t> image(c->CurrentRecord().begin(), c->CurrentRecord().end());
    uint32_t size = 0;
    ASSERT_EQ(c->OpenBlob(3, image, TBlobOpenMode::Read, size), kStatusOk);
    reference = c->Field(3).offset + 1u;
    handle = GetI32(image.data(), reference);
  }
  auto bytes = testing::ReadBytes(f.dir / "Pics.DAT");
  const std::size_t recordSize = GetU16(bytes.data(), 21);
  const std::size_t record2 = 127 + 768 * std::size_t{GetU16(bytes.data(), 23)} + recordSize;
  PutI32(bytes.data(), record2 + reference, handle);
  testing::WriteBytes(f.dir / "Pics.DAT", bytes);

  auto c = f.Open("Pics");
  ASSERT_TRUE(c->GoToPosition(1));
  std::vector<uint8_t> apple(c->CurrentRecord().begin(), c->CurrentRecord().end());
  uint32_t size = 0;
  ASSERT_EQ(c->OpenBlob(3, apple, TBlobOpenMode::Read, size), kStatusOk);
  ASSERT_EQ(GetI32(apple.data(), reference), handle);
  EXPECT_EQ(CodeOf([&] { c->GoToPosition(2); }), LEDGER_MEMOCORRUPT);
  EXPECT_EQ(c->OpenBlobCount(), 1u);
  ASSERT_TRUE(c->GoToPosition(1));
  EXPECT_EQ(Word(*c), "apple");
}

// ---------------------------------------------------------------- sharing

// Two cursors in one directory share the table object and its files; one
// deletes a record through the table's files and the other, at its next
// operation, sees the new count and stays on its record.
TEST(Cursor, TwoCursorsShareOneTableAndSeeEachOthersChanges) {
  TFixture f;
  Build(f.dir, "Shared", {{"a"}, {"b"}, {"c"}, {"d"}, {"e"}}, {}, WordTable(false));
  auto one = f.Open("Shared");
  auto two = f.Open("Shared");
  ASSERT_EQ(one->Table(), two->Table());
  EXPECT_EQ(f.directory.Tables().size(), 1u);
  TDataTable& table = *one->Table();
  EXPECT_EQ(table.CursorCount(), 2);

  ASSERT_TRUE(two->GoToPosition(4));
  EXPECT_EQ(Word(*two), "d");

  // Delete record 2 ("b") the way a writer would, under the write lock.
  table.WriteLock();
  TRecord* rec = table.Data().GetRecord(2);
  table.Data().FreeRecordSlot(rec);
  table.Data().ReleaseRecord(rec);
  table.Flush(false, false);
  table.ReleaseWriteLock();
  table.RebuildDeletedIndex();  // recounts the active records too

  EXPECT_EQ(two->RecordCount(), 4);
  EXPECT_EQ(Word(*two), "d");
  EXPECT_EQ(two->RecordNumber(), 3);
  std::vector<uint8_t> buf(static_cast<std::size_t>(two->RecordSize()));
  ASSERT_EQ(two->Prior(buf.data()), kStatusOk);
  EXPECT_EQ(WordOf(*two, buf), "c");
  ASSERT_EQ(two->Prior(buf.data()), kStatusOk);
  EXPECT_EQ(WordOf(*two, buf), "a");

  // The first cursor stood on its beginning crack: it stays there.
  ASSERT_EQ(one->Next(buf.data()), kStatusOk);
  EXPECT_EQ(WordOf(*one, buf), "a");
  ASSERT_EQ(one->Next(buf.data()), kStatusOk);
  EXPECT_EQ(WordOf(*one, buf), "c");

  one->Close();
  EXPECT_EQ(table.CursorCount(), 1);
  two->Close();
  EXPECT_TRUE(f.directory.Tables().empty());
}

// Another process's rewrite: with strict detection the next operation sees
// it; without, the cursor keeps its caches until it must read from disk, and
// a refresh looks whatever the setting.
TEST(Cursor, ARewriteByAnotherWriterIsSeenAtTheNextLock) {
  for (bool strict : {true, false}) {
    SCOPED_TRACE(strict ? "strict" : "lazy");
    TFixture f;
    f.session.SetStrictChangeDetection(strict);
    Build(f.dir, "Fruit", {{"apple"}, {"fig"}, {"pear"}});
    auto c = f.Open("Fruit");
    ASSERT_TRUE(c->GoToPosition(2));
    EXPECT_EQ(Word(*c), "fig");
    {
      TTableBuilder again(f.dir.Path(), "Fruit", WordTable(), TBuildTarget::InPlace, PosixFileSystem());
      for (const char* w : {"apple", "banana", "cherry", "fig", "pear"})
        again.Append(std::vector<TFieldValue>{std::string(w), int64_t{0}, std::monostate{}, std::monostate{}});
      again.Finish();
    }
    EXPECT_EQ(c->RecordCount(), strict ? 5 : 3);
    c->Refresh();
    EXPECT_EQ(c->RecordCount(), 5);
    EXPECT_EQ(Word(*c), "fig");
    EXPECT_EQ(c->RecordNumber(), 4);
  }
}

// A walk that meets another writer's rewrite halfway. Lazily, cached pages
// and records may still serve the old table for a while; once a read from
// disk finds the change the walk goes on in the new table from where it
// stood. Either way keys come in order, none twice, and after the first new
// key no new key is skipped.
TEST(Cursor, AWalkAcrossARewriteGoesOnInTheNewTable) {
  auto rows = [](int from, int step, char suffix) {
    std::vector<TRow> out;
    for (int i = from; i < 3000; i += step) {
      char w[16];
      std::snprintf(w, sizeof w, "k%05d%c", i, suffix);
      out.push_back({w, i});
    }
    return out;
  };
  for (bool strict : {true, false}) {
    SCOPED_TRACE(strict ? "strict" : "lazy");
    TFixture f;
    f.session.SetStrictChangeDetection(strict);
    Build(f.dir, "Walk", rows(0, 1, 'a'));
    auto c = f.Open("Walk");
    std::vector<uint8_t> buf(static_cast<std::size_t>(c->RecordSize()));
    std::vector<std::string> seen;
    for (int i = 0; i < 700; ++i) {
      ASSERT_EQ(c->Next(buf.data()), kStatusOk);
      seen.push_back(WordOf(*c, buf));
    }
    const std::vector<TRow> fresh = rows(1, 3, 'b');
    {
      TTableBuilder again(f.dir.Path(), "Walk", WordTable(), TBuildTarget::InPlace, PosixFileSystem());
      for (const TRow& r : fresh)
        again.Append(std::vector<TFieldValue>{r.word, r.count, std::monostate{}, std::monostate{}});
      again.Finish();
    }
    int status;
    while ((status = c->Next(buf.data())) == kStatusOk) seen.push_back(WordOf(*c, buf));
    EXPECT_EQ(status, kStatusEnd);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end());
    auto firstNew = std::find_if(seen.begin(), seen.end(), [](const std::string& w) { return w.back() == 'b'; });
    ASSERT_NE(firstNew, seen.end());
    if (strict) {
      EXPECT_EQ(firstNew - seen.begin(), 700);
    }
    std::vector<std::string> wantTail;
    for (const TRow& r : fresh)
      if (r.word >= *firstNew) wantTail.push_back(r.word);
    EXPECT_EQ(std::vector<std::string>(firstNew, seen.end()), wantTail);
    EXPECT_EQ(c->RecordCount(), static_cast<int32_t>(fresh.size()));
  }
}

// Records stored in another order than their keys: a record the cache
// misses on a walk brings along those the rest of its leaf names, so the walk
// goes to disk (and takes the read lock) about once per leaf, or once per
// cacheful when the cache holds fewer records than a leaf. Without that every
// step would miss.
TEST(Cursor, AKeyOrderWalkReadsTheRecordsOfALeafTogether) {
  constexpr int kRows = 2000;
  std::vector<TRow> rows;
  for (int i = 0; i < kRows; ++i) {
    char w[16];
    std::snprintf(w, sizeof w, "k%05d", (i * 7919) % kRows);
    rows.push_back({w, i});
  }
  struct Case {
    const char* name;
    int32_t cacheBytes;  // 44-byte records
    bool forward;
  };
  const Case cases[] = {
      {"forward", 16384, true},
      {"backward", 16384, false},
      {"forward, ten records cached", 440, true},
      {"backward, ten records cached", 440, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    TFixture f;
    TCacheLimits limits;
    limits.dataCacheBytes = k.cacheBytes;
    f.session.SetCacheLimits(limits, kDefaultIndexCacheBytes);
    Build(f.dir, "Walk", rows);
    auto c = f.Open("Walk");
    TDataFile& data = c->Table()->Data();
    TIndexFile& index = c->Table()->Index();
    int leaves = 0;
    for (int32_t p = index.First(0).leafPage; p != 0; ++leaves) {
      TPage* page = index.GetPage(0, p);
      p = page->nextPage;
      index.ReleasePage(page);
    }

    if (k.forward) c->SetToBeginning();
    else c->SetToEnd();
    data.ResetStats();
    std::vector<uint8_t> buf(static_cast<std::size_t>(c->RecordSize()));
    std::vector<std::string> seen;
    while ((k.forward ? c->Next(buf.data()) : c->Prior(buf.data())) == kStatusOk) seen.push_back(WordOf(*c, buf));
    if (!k.forward) std::reverse(seen.begin(), seen.end());
    ASSERT_EQ(seen.size(), rows.size());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end());
    const int64_t misses = kRows - data.Stats().cacheHits;
    EXPECT_LE(misses, leaves + kRows / static_cast<int64_t>(data.CacheLimit()));
  }
}

// ---------------------------------------------------------------- corruption

// A leaf in the middle of the chain turns out broken: the walk raises with
// the table's context, and the cursor stays open and usable.
TEST(Cursor, ACorruptLeafMetWhileWalkingRaisesAndTheCursorStaysUsable) {
  TFixture f;
  std::vector<TRow> rows;
  for (int i = 0; i < 2000; ++i) {
    char w[16];
    std::snprintf(w, sizeof w, "k%05d", i);
    rows.push_back({w, i});
  }
  Build(f.dir, "Broken", rows);
  // Find the primary index's second leaf and break its page type.
  int32_t second = 0;
  {
    TIndexFile idx;
    idx.SetFileName(f.dir / "Broken.IDX");
    idx.Open();
    TKeyPosition first = idx.First(0);
    TPage* leaf = idx.GetPage(0, first.leafPage);
    second = leaf->nextPage;
    idx.ReleasePage(leaf);
    idx.Close();
  }
  ASSERT_GT(second, 0);
  auto bytes = testing::ReadBytes(f.dir / "Broken.IDX");
  bytes[static_cast<std::size_t>(second) * kIndexPageSize] = 9;
  testing::WriteBytes(f.dir / "Broken.IDX", bytes);

  auto c = f.Open("Broken");
  std::vector<uint8_t> buf(static_cast<std::size_t>(c->RecordSize()));
  int walked = 0;
  try {
    while (c->Next(buf.data()) == kStatusOk) ++walked;
    FAIL() << "walked past a broken leaf";
  } catch (const ELedgerEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), LEDGER_INDEXCORRUPT);
    EXPECT_EQ(e.TableName(), "Broken");
    EXPECT_EQ(e.DatabaseName(), f.directory.Path());
  }
  EXPECT_GT(walked, 0);
  EXPECT_TRUE(c->IsOpen());
  EXPECT_EQ(Word(*c), rows[static_cast<std::size_t>(walked - 1)].word);
  ASSERT_EQ(c->Prior(buf.data()), kStatusOk);
  EXPECT_EQ(WordOf(*c, buf), rows[static_cast<std::size_t>(walked - 2)].word);
  c->SetToBeginning();
  ASSERT_EQ(c->Next(buf.data()), kStatusOk);
  EXPECT_EQ(WordOf(*c, buf), "k00000");
  EXPECT_TRUE(c->GoToPosition(2000));  // reached by descent, past the broken leaf
  EXPECT_EQ(Word(*c), "k01999");
  c->Close();
  EXPECT_TRUE(f.directory.Tables().empty());
}

}  // namespace
}  // namespace ledger
