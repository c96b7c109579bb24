// The table component on the read path the game takes: open, count, move by
// record number, read fields, look up by key, stream blobs, close.
#include "engine/components/ledger_table.h"

#include <gtest/gtest.h>

#include "dataset/data_source.h"
#include "dataset/database_error.h"
#include "engine/components/ledger_database.h"
#include "engine/components/ledger_session.h"
#include "engine/core/data_directory.h"
#include "engine/errors/ledger_error.h"
#include "tests/components/table_fixture.h"

namespace ledger {
namespace {

using dataset::EDatabaseError;
using testing::DatabaseMessage;
using testing::TScratchDir;

// What a bound control and the scroll events see of one table.
struct TWatcher {
  explicit TWatcher(TLedgerTable& table, const char* field = "Word") : source(&table) {
    link.SetFieldName(field);
    link.SetDataSource(&source);
    link.OnDataChange = [this] { ++dataChanges; };
    table.BeforeScroll = [this](dataset::TDataSet&) { ++beforeScroll; };
    table.AfterScroll = [this](dataset::TDataSet&) { ++afterScroll; };
  }
  void Reset() { dataChanges = beforeScroll = afterScroll = 0; }
  dataset::TDataSource source;
  dataset::TFieldDataLink link;
  int dataChanges = 0, beforeScroll = 0, afterScroll = 0;
};

class LedgerTableTest : public ::testing::Test {
 protected:
  std::unique_ptr<TLedgerTable> Open(const std::string& name) {
    auto table = std::make_unique<TLedgerTable>();
    table->SetDatabaseName(dir_.Path());
    table->SetTableName(name);
    table->Open();
    return table;
  }
  std::string Word(TLedgerTable& t) { return t.FieldByName("Word").AsString(); }

  TScratchDir dir_;
};

TEST_F(LedgerTableTest, ReadsCountsAndMovesByRecordNumber) {
  testing::MakeWordTable(dir_.Path(), "Blend", testing::Words({"stop", "black", "duck", "frog"}));
  auto t = Open("Blend");
  EXPECT_EQ(t->RecordCount(), 4);
  EXPECT_EQ(t->RecNo(), 1);
  EXPECT_EQ(Word(*t), "black");
  t->SetRecNo(3);
  EXPECT_EQ(Word(*t), "frog");
  EXPECT_TRUE(t->FieldByName("Contruction").AsBoolean());
  EXPECT_EQ(t->EngineVersion(), "3.17");
}


TEST(LedgerTableNames, DirectoryAndTableNamesAreNormalisedAndSplit) {
  struct Case {
    const char* databaseName;  // set first, null to leave it
    const char* tableName;
    const char* wantDatabase;
    const char* wantTable;
  };
  const Case cases[] = {
      {nullptr, "Conson", "", "Conson"},
      {"/games/tamblo", "Conson", "/games/tamblo", "Conson"},
      {"\\games\\tamblo", "Conson", "/games/tamblo", "Conson"},
      {nullptr, "/games/tamblo/Conson", "/games/tamblo/", "Conson"},
      {nullptr, "\\games\\tamblo\\Conson", "/games/tamblo/", "Conson"},
      {"/elsewhere", "/games/Conson.DAT", "/games/", "Conson.DAT"},
      {"/", "Conson", "/", "Conson"},
      {nullptr, "/Conson", "/", "Conson"},
      {nullptr, "data/Conson", "data/", "Conson"},
      {"Memory", "Scratch", "Memory", "Scratch"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.databaseName ? c.databaseName : "-") + " " + c.tableName);
    TLedgerTable table;
    if (c.databaseName) table.SetDatabaseName(c.databaseName);
    table.SetTableName(c.tableName);
    EXPECT_EQ(table.DatabaseName(), c.wantDatabase);
    EXPECT_EQ(table.TableName(), c.wantTable);
    EXPECT_EQ(table.InMemory(), std::string(c.wantDatabase) == "Memory");
  }
}

TEST_F(LedgerTableTest, TheDirectoryMayBeGivenWithOrWithoutItsSeparator) {
  testing::MakeWordTable(dir_.Path(), "Conson", testing::Words({"cat"}));
  for (const std::string& name : {dir_.Path() + "/Conson", dir_.Path() + "//Conson.dat"}) {
    SCOPED_TRACE(name);
    TLedgerTable table;
    table.SetTableName(name);
    table.Open();
    EXPECT_EQ(table.RecordCount(), 1);
  }
}

TEST_F(LedgerTableTest, TheRootKeepsItsOneSeparator) {
  TLedgerDatabase& root = Session().OpenDatabase("/");
  EXPECT_EQ(root.Handle()->Path(), "/");
  Session().CloseDatabase(root);
}

TEST_F(LedgerTableTest, TablesOnOneDirectoryShareOneTemporaryDatabase) {
  testing::MakeWordTable(dir_.Path(), "Blend", testing::Words({"stop"}));
  testing::MakeWordTable(dir_.Path(), "SVowel", testing::Words({"cat"}));
  auto blend = Open("Blend");
  auto vowel = Open("SVowel");
  ASSERT_NE(blend->Database(), nullptr);
  EXPECT_EQ(blend->Database(), vowel->Database());
  EXPECT_TRUE(blend->Database()->Temporary());
  EXPECT_EQ(blend->Database()->UseCount(), 2);
  EXPECT_EQ(blend->Database()->Handle()->UserCount(), 1);
  EXPECT_EQ(&blend->Handle()->Directory(), &vowel->Handle()->Directory());

  TLedgerDatabase* shared = blend->Database();
  blend->Close();
  EXPECT_EQ(shared->UseCount(), 1);
  vowel->Close();
  // Sessions keep their connections by default: the next table finds it.
  EXPECT_EQ(shared->UseCount(), 0);
  EXPECT_TRUE(shared->Connected());
  auto again = Open("Blend");
  EXPECT_EQ(again->Database(), shared);
}

TEST_F(LedgerTableTest, ADatabaseThatKeepsNoConnectionGoesWithItsLastTable) {
  testing::MakeWordTable(dir_.Path(), "Blend", testing::Words({"stop"}));
  TLedgerSession session("Private");
  session.SetSessionName("KeepNothing");
  session.SetKeepConnections(false);
  TLedgerTable table;
  table.SetSessionName("KeepNothing");
  table.SetDatabaseName(dir_.Path());
  table.SetTableName("Blend");
  table.Open();
  EXPECT_EQ(session.DatabaseCount(), 1);
  EXPECT_FALSE(table.Database()->KeepConnection());
  table.Close();
  EXPECT_EQ(session.DatabaseCount(), 0);
}

TEST_F(LedgerTableTest, SettingTheShownRecordNumberFiresNothing) {
  testing::MakeWordTable(dir_.Path(), "Blend", testing::Words({"stop", "black", "duck"}));
  auto t = Open("Blend");
  TWatcher w(*t);
  t->SetRecNo(2);
  EXPECT_EQ(w.dataChanges, 1);
  EXPECT_EQ(w.beforeScroll, 1);
  EXPECT_EQ(w.afterScroll, 1);
  w.Reset();
  t->SetRecNo(2);
  EXPECT_EQ(w.dataChanges + w.beforeScroll + w.afterScroll, 0);
  EXPECT_EQ(Word(*t), "duck");
}

TEST_F(LedgerTableTest, KeyLookupFindsOrKeepsTheShownRecord) {
  testing::MakeWordTable(dir_.Path(), "SndFx",
                         testing::Words({"clack", "click", "constr", "craneh", "cranev", "konk"}));
  auto t = Open("SndFx");
  TWatcher w(*t, "Sound");
  ASSERT_TRUE(t->FindKey({"cranev"}));
  EXPECT_EQ(Word(*t), "cranev");
  EXPECT_EQ(t->RecNo(), 5);
  EXPECT_EQ(w.dataChanges, 1);
  EXPECT_EQ(w.afterScroll, 1);

  // Missing keys that fall before, between and after the stored ones.
  for (const char* missing : {"aaa", "crane", "zzz", "Konk"}) {
    SCOPED_TRACE(missing);
    w.Reset();
    EXPECT_FALSE(t->FindKey({missing}));
    EXPECT_EQ(Word(*t), "cranev");
    EXPECT_EQ(t->RecNo(), 5);
    EXPECT_EQ(static_cast<dataset::TBlobField&>(t->FieldByName("Sound")).AsString(), "cranev");
    EXPECT_EQ(w.dataChanges, 0);
    EXPECT_EQ(w.afterScroll, 0);
  }
  // The cursor went elsewhere; the next move starts from the shown record.
  t->Next();
  EXPECT_EQ(Word(*t), "konk");
  EXPECT_FALSE(t->FindKey({"aaa"}));
  t->Prior();
  EXPECT_EQ(Word(*t), "cranev");
}

TEST_F(LedgerTableTest, KeyLookupRefusesWhatTheIndexCannotTake) {
  testing::MakeWordTable(dir_.Path(), "Blend", testing::Words({"stop"}));
  testing::MakeWordTable(dir_.Path(), "Loose", testing::Words({"stop"}), false);
  auto blend = Open("Blend");
  auto loose = Open("Loose");
  EXPECT_EQ(DatabaseMessage([&] { blend->FindKey({"stop", "extra"}); }), "Field index out of range.");
  EXPECT_EQ(DatabaseMessage([&] { loose->FindKey({"stop"}); }), "No fields defined for the current index.");
  EXPECT_EQ(blend->State(), dataset::dsBrowse);
  EXPECT_TRUE(blend->FindKey({"stop"}));
  // The steps on their own: key entry, assignment, search.
  blend->SetKey();
  EXPECT_EQ(blend->State(), dataset::dsSetKey);
  blend->FieldByName("Word").SetAsString("stop");
  EXPECT_TRUE(blend->GotoKey());
  EXPECT_EQ(blend->State(), dataset::dsBrowse);
  EXPECT_EQ(DatabaseMessage([&] { blend->FieldByName("Word").SetAsString("x"); }),
            "Table is not in edit or insert mode.");
}

TEST_F(LedgerTableTest, EmptyTableCountsNothingFindsNothingAndStreamsNothing) {
  testing::MakeWordTable(dir_.Path(), "Empty", {});
  auto t = Open("Empty");
  TWatcher w(*t);
  EXPECT_EQ(t->RecordCount(), 0);
  EXPECT_EQ(t->RecNo(), 0);
  EXPECT_TRUE(t->IsEmpty());
  EXPECT_FALSE(t->FindKey({"cat"}));
  EXPECT_TRUE(t->FieldByName("Word").IsNull());
  auto stream = t->CreateBlobStream(t->FieldByName("Sound"), dataset::TBlobStreamMode::bmRead);
  char buffer[16];
  EXPECT_EQ(stream->Read(buffer, sizeof buffer), 0);
  EXPECT_EQ(stream->Seek(-4, dataset::TSeekOrigin::soEnd), -4);
  EXPECT_EQ(stream->Size(), 0);
  EXPECT_TRUE(static_cast<dataset::TBlobField&>(t->FieldByName("Sound")).AsBytes().empty());
  EXPECT_EQ(w.dataChanges, 0);
}

TEST_F(LedgerTableTest, BlobStreamReadsInPiecesUpToTheEnd) {
  std::vector<uint8_t> sound(10000);
  for (std::size_t i = 0; i < sound.size(); ++i) sound[i] = static_cast<uint8_t>(i * 31 + 7);
  testing::MakeWordTable(dir_.Path(), "SVowel", {{"cat", true, sound}, {"hat", true, {}}});
  auto t = Open("SVowel");
  auto& field = static_cast<dataset::TBlobField&>(t->FieldByName("Sound"));
  {
    auto stream = t->CreateBlobStream(field, dataset::TBlobStreamMode::bmRead);
    EXPECT_EQ(stream->Size(), 10000);
    std::vector<uint8_t> got(4096), all;
    for (int64_t expected : {4096, 4096, 1808, 0, 0}) {
      EXPECT_EQ(stream->Read(got.data(), 4096), expected);
      all.insert(all.end(), got.begin(), got.begin() + expected);
    }
    EXPECT_EQ(all, sound);
    EXPECT_EQ(stream->Position(), 10000);
    // Relative to the end, and far outside the blob.
    EXPECT_EQ(stream->Seek(-10, dataset::TSeekOrigin::soEnd), 9990);
    EXPECT_EQ(stream->Read(got.data(), 4096), 10);
    stream->Seek(int64_t{1} << 33, dataset::TSeekOrigin::soBeginning);
    EXPECT_EQ(stream->Read(got.data(), 4096), 0);
    stream->Seek(-5, dataset::TSeekOrigin::soBeginning);
    EXPECT_EQ(stream->Read(got.data(), 4096), 0);
  }
  EXPECT_EQ(field.AsBytes(), sound);
  EXPECT_EQ(t->Handle()->OpenBlobCount(), 0u) << "streams give their blobs back";
  t->Next();
  EXPECT_TRUE(field.IsNull());
  EXPECT_TRUE(field.AsBytes().empty());
  EXPECT_EQ(DatabaseMessage([&] { t->CreateBlobStream(field, dataset::TBlobStreamMode::bmWrite); }),
            "Table is not in edit or insert mode.");
}

TEST_F(LedgerTableTest, StreamsKeptWhileTheTableMovesStillGiveTheirBlobsBack) {
  std::vector<testing::TWordRow> rows;
  for (int i = 0; i < 200; ++i) rows.push_back({"w" + std::to_string(1000 + i), true, {1, 2, 3}});
  testing::MakeWordTable(dir_.Path(), "Many", rows);
  auto t = Open("Many");
  for (int i = 0; i < 199; ++i) {
    auto stream = t->CreateBlobStream(t->FieldByName("Sound"), dataset::TBlobStreamMode::bmRead);
    t->Next();
    t->Next();
    t->Prior();
  }
  EXPECT_EQ(t->Handle()->OpenBlobCount(), 0u);
  char buffer[4];
  auto stream = t->CreateBlobStream(t->FieldByName("Sound"), dataset::TBlobStreamMode::bmRead);
  EXPECT_EQ(stream->Read(buffer, 4), 3);
}

TEST_F(LedgerTableTest, ABlobRewrittenByAnotherWriterIsReadAfresh) {
  auto rows = [](const std::string& version) {
    std::vector<testing::TWordRow> out;
    for (const char* w : {"cat", "hat"}) {
      const std::string text = std::string(w) + "-" + version;
      out.push_back({w, true, {text.begin(), text.end()}});
    }
    return out;
  };
  testing::MakeWordTable(dir_.Path(), "SVowel", rows("old"));
  TLedgerSession strict("Strict");
  strict.SetSessionName("Strict");
  strict.SetStrictChangeDetection(true);
  TLedgerTable t;
  t.SetSessionName("Strict");
  t.SetDatabaseName(dir_.Path());
  t.SetTableName("SVowel");
  t.Open();
  auto& sound = static_cast<dataset::TBlobField&>(t.FieldByName("Sound"));
  ASSERT_EQ(sound.AsString(), "cat-old");

  // The shown record still names the old blob; the rewrite gave that block
  // to another blob, so the first open finds the record changed.
  testing::MakeWordTable(dir_.Path(), "SVowel", rows("new"), true, TBuildTarget::InPlace);
  TWatcher w(t, "Sound");
  w.Reset();
  EXPECT_EQ(sound.AsString(), "cat-new");
  EXPECT_EQ(w.dataChanges, 1) << "the refresh shows the new record";
}

TEST_F(LedgerTableTest, AStreamOutlivingItsTableReadsNothing) {
  testing::MakeWordTable(dir_.Path(), "SVowel", {{"cat", true, {1, 2, 3}}});
  auto t = Open("SVowel");
  auto stream = t->CreateBlobStream(t->FieldByName("Sound"), dataset::TBlobStreamMode::bmRead);
  t->Close();
  char buffer[4];
  EXPECT_EQ(stream->Read(buffer, 4), 0);
  t.reset();
  stream.reset();
}

TEST_F(LedgerTableTest, FailedOpensLeaveTheTableClosedAndTheDatabaseFree) {
  testing::MakeWordTable(dir_.Path(), "Blend", testing::Words({"stop"}));
  TLedgerTable table;
  table.SetDatabaseName(dir_.Path());
  EXPECT_EQ(DatabaseMessage([&] { table.Open(); }), "Missing table name.");
  EXPECT_FALSE(table.Active());
  EXPECT_EQ(table.Database(), nullptr);

  table.SetTableName("Missing");
  try {
    table.Open();
    ADD_FAILURE() << "opened a table that is not there";
  } catch (const ELedgerEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), LEDGER_OSENOENT);
    EXPECT_EQ(e.TableName(), "Missing");
  }
  EXPECT_FALSE(table.Active());
  EXPECT_EQ(table.Database(), nullptr);
  EXPECT_EQ(table.Handle(), nullptr);
  TLedgerDatabase* database = Session().FindDatabase(dir_.Path());
  ASSERT_NE(database, nullptr);
  EXPECT_EQ(database->UseCount(), 0);

  table.SetSessionName("Nobody");
  EXPECT_EQ(DatabaseMessage([&] { table.Open(); }), "Session name Nobody is not valid.");

  auto open = Open("Blend");
  EXPECT_EQ(DatabaseMessage([&] { open->SetTableName("Other"); }),
            "Cannot perform this operation on an open dataset.");
  EXPECT_EQ(DatabaseMessage([&] { open->SetDatabaseName("/tmp"); }),
            "Cannot perform this operation on an open database.");
}

TEST_F(LedgerTableTest, FieldDefinitionsFollowTheEngineTypes) {
  TTableDefinition def;
  def.order = TRecordOrder::Input;  // these tests name records by the order they were added
  def.data.fields = {FieldDef("S", ftString, 12),      FieldDef("Fixed", ftString, 3, fstFixedChar),
                     FieldDef("D", ftDate),             FieldDef("Memo", ftBlob, 0, fstMemo),
                     FieldDef("Pic", ftBlob, 0, fstGraphic), FieldDef("Bin", ftBlob, 0, fstBinary),
                     FieldDef("B", ftBoolean),          FieldDef("Small", ftSmallInt),
                     FieldDef("I", ftInteger),          FieldDef("Id", ftInteger, 0, fstAutoInc),
                     FieldDef("F", ftFloat),            FieldDef("Money", ftFloat, 0, fstMoney),
                     FieldDef("Dec", ftBCD, 0),         FieldDef("Raw", ftBytes, 6),
                     FieldDef("T", ftTime),             FieldDef("Stamp", ftTimeStamp),
                     FieldDef("W", ftWord),             FieldDef("LW", ftLongWord),
                     FieldDef("VB", ftVarBytes, 9),     FieldDef("L", ftLargeInt)};
  def.data.fields[12].scale = 4;
  TTableBuilder builder(dir_.Path(), "Kinds", def, TBuildTarget::NewFiles, PosixFileSystem());
  builder.Finish();
  auto t = Open("Kinds");
  struct Want {
    const char* name;
    dataset::TFieldType type;
    int size;
  };
  const Want wants[] = {
      {"S", dataset::ftString, 12},     {"Fixed", dataset::ftFixedChar, 3}, {"D", dataset::ftDate, 0},
      {"Memo", dataset::ftMemo, 0},     {"Pic", dataset::ftGraphic, 0},     {"Bin", dataset::ftBlob, 0},
      {"B", dataset::ftBoolean, 0},     {"Small", dataset::ftSmallint, 0},  {"I", dataset::ftInteger, 0},
      {"Id", dataset::ftAutoInc, 0},    {"F", dataset::ftFloat, 0},         {"Money", dataset::ftCurrency, 0},
      {"Dec", dataset::ftBCD, 4},       {"Raw", dataset::ftBytes, 6},       {"T", dataset::ftTime, 0},
      {"Stamp", dataset::ftDateTime, 0}, {"W", dataset::ftWord, 0},         {"LW", dataset::ftInteger, 0},
      {"VB", dataset::ftVarBytes, 9},   {"L", dataset::ftLargeint, 0},
  };
  ASSERT_EQ(t->FieldDefs().Count(), static_cast<int>(std::size(wants)));
  for (int i = 0; i < t->FieldDefs().Count(); ++i) {
    const dataset::TFieldDef& got = t->FieldDefs()[i];
    SCOPED_TRACE(got.Name);
    EXPECT_EQ(got.Name, wants[i].name);
    EXPECT_EQ(got.DataType, wants[i].type);
    EXPECT_EQ(got.Size, wants[i].size);
    EXPECT_EQ(got.FieldNo, i + 1);
    EXPECT_EQ(t->Fields(i).IsBlob(), dataset::IsBlobType(wants[i].type));
    EXPECT_EQ(t->Fields(i).Origin(), std::string("Kinds.") + wants[i].name);
  }
  EXPECT_EQ(t->FieldDefs().Find("Dec").Precision, 32);
}

TEST_F(LedgerTableTest, AnotherIndexOrdersTheRecordsAndNumbersThemAnew) {
  TTableDefinition def;
  def.order = TRecordOrder::Input;  // these tests name records by the order they were added
  def.data.fields = {FieldDef("Word", ftString, 20), FieldDef("Rank", ftInteger)};
  def.primary = TIndexDefinition{.fields = {"Word"}};
  def.secondary.push_back(TIndexDefinition{.name = "ByRank", .fields = {"Rank"}, .unique = false});
  {
    TTableBuilder builder(dir_.Path(), "Ranked", def, TBuildTarget::NewFiles, PosixFileSystem());
    for (auto [word, rank] : {std::pair{"ant", 3}, {"bee", 1}, {"cat", 2}}) {
      std::vector<TFieldValue> row = {std::string(word), int64_t{rank}};
      builder.Append(row);
    }
    builder.Finish();
  }
  auto t = Open("Ranked");
  ASSERT_EQ(t->IndexDefs().Count(), 2);
  EXPECT_TRUE(t->IndexDefs()[0].Primary);
  EXPECT_EQ(t->IndexDefs()[1].Fields, "Rank");
  t->SetRecNo(2);
  ASSERT_EQ(Word(*t), "bee");
  t->SetIndexName("ByRank");
  EXPECT_EQ(Word(*t), "bee") << "switching keeps the shown record";
  EXPECT_EQ(t->RecNo(), 1);
  t->SetRecNo(3);
  EXPECT_EQ(Word(*t), "ant");
  EXPECT_TRUE(t->FindKey({int64_t{2}}));
  EXPECT_EQ(Word(*t), "cat");

  t->SetIndexFieldNames("word");
  EXPECT_EQ(t->IndexName(), "");
  EXPECT_EQ(t->RecNo(), 3);
  EXPECT_EQ(DatabaseMessage([&] { t->SetIndexFieldNames("Rank;Word"); }), "No index for fields 'Rank;Word'.");
  EXPECT_EQ(t->IndexFieldNames(), "word");
  try {
    t->SetIndexName("Nowhere");
    ADD_FAILURE() << "switched to an index that does not exist";
  } catch (const ELedgerEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), LEDGER_INVALIDINDEXNAME);
  }

  // Chosen while closed, the index applies from the open on.
  t->Close();
  t->SetIndexName("ByRank");
  t->Open();
  EXPECT_EQ(Word(*t), "bee");
}
}  // namespace
}  // namespace ledger
