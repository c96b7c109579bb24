// Where a dataset tells its data sources of a change, and where it must not.
#include <gtest/gtest.h>

#include "dataset/data_source.h"
#include "dataset/database_error.h"
#include "tests/dataset/memory_data_set.h"

namespace {

using namespace dataset;
using dataset::testing::TMemoryDataSet;

std::unique_ptr<TMemoryDataSet> Words(std::vector<std::string> words) {
  std::vector<TMemoryDataSet::TRow> rows;
  for (auto& w : words) rows.push_back({w, w.size() > 3});
  return std::make_unique<TMemoryDataSet>(
      std::vector<TFieldDef>{{"Word", ftString, 20}, {"Long", ftBoolean}}, std::move(rows));
}

// A control's view of a dataset: one field link on one source.
struct TWatcher {
  explicit TWatcher(TDataSet& ds) : source(&ds) {
    link.SetFieldName("Word");
    link.SetDataSource(&source);
    link.OnDataChange = [this] {
      ++dataChanges;
      shown = link.Field() ? link.Field()->AsString() : "<none>";
    };
    ds.BeforeScroll = [this](TDataSet&) { ++beforeScroll; };
    ds.AfterScroll = [this](TDataSet&) { ++afterScroll; };
  }
  void Reset() { dataChanges = beforeScroll = afterScroll = 0; }

  TDataSource source;
  TFieldDataLink link;
  int dataChanges = 0;
  int beforeScroll = 0;
  int afterScroll = 0;
  std::string shown;
};

TEST(DataSetNotifications, OpenMovesAndCloseEachReportOnce) {
  auto ds = Words({"ant", "bee", "cat", "dog"});
  TWatcher w(*ds);
  ds->Open();
  EXPECT_EQ(w.dataChanges, 1);
  EXPECT_EQ(w.shown, "ant");
  EXPECT_EQ(ds->RecNo(), 1);

  struct Move {
    const char* name;
    std::function<void()> run;
    std::string shown;
  };
  const Move moves[] = {
      {"Next", [&] { ds->Next(); }, "bee"},
      {"Last", [&] { ds->Last(); }, "dog"},
      {"Prior", [&] { ds->Prior(); }, "cat"},
      {"First", [&] { ds->First(); }, "ant"},
      {"SetRecNo", [&] { ds->SetRecNo(3); }, "cat"},
      {"found key", [&] { EXPECT_TRUE(ds->FindKey("bee")); }, "bee"},
  };
  for (const Move& m : moves) {
    SCOPED_TRACE(m.name);
    w.Reset();
    m.run();
    EXPECT_EQ(w.dataChanges, 1);
    EXPECT_EQ(w.beforeScroll, 1);
    EXPECT_EQ(w.afterScroll, 1);
    EXPECT_EQ(w.shown, m.shown);
  }

  w.Reset();
  ds->Close();
  EXPECT_EQ(w.dataChanges, 1);
  EXPECT_EQ(w.shown, "<none>");
  EXPECT_EQ(w.link.Field(), nullptr);
}

TEST(DataSetNotifications, SettingTheShownRecordNumberDoesNothing) {
  auto ds = Words({"ant", "bee", "cat"});
  ds->Open();
  ds->SetRecNo(2);
  TWatcher w(*ds);
  w.Reset();
  ds->SetRecNo(2);
  EXPECT_EQ(w.dataChanges, 0);
  EXPECT_EQ(w.beforeScroll, 0);
  EXPECT_EQ(w.afterScroll, 0);
  EXPECT_EQ(ds->RecNo(), 2);
}

TEST(DataSetNotifications, FailedLookupKeepsTheShownRecordAndTheNextMoveStartsFromIt) {
  auto ds = Words({"ant", "bee", "cat", "dog"});
  ds->Open();
  ds->SetRecNo(2);
  TWatcher w(*ds);
  w.Reset();
  // "bat" would put the cursor on "bee"'s neighbour; "zzz" past the end.
  for (const char* missing : {"bat", "zzz", "cow"}) {
    SCOPED_TRACE(missing);
    EXPECT_FALSE(ds->FindKey(missing));
    EXPECT_EQ(ds->RecNo(), 2);
    EXPECT_EQ(ds->FieldByName("Word").AsString(), "bee");
  }
  EXPECT_EQ(w.dataChanges, 0);
  EXPECT_EQ(w.afterScroll, 0);

  ds->Next();
  EXPECT_EQ(ds->FieldByName("Word").AsString(), "cat");
  EXPECT_FALSE(ds->FindKey("zzz"));
  ds->Prior();
  EXPECT_EQ(ds->FieldByName("Word").AsString(), "bee");
}

TEST(DataSetNotifications, MovingOffEitherEndKeepsTheRecordAndTurnsBackFromIt) {
  auto ds = Words({"ant", "bee", "cat"});
  ds->Open();
  ds->SetRecNo(3);
  TWatcher w(*ds);
  w.Reset();
  ds->Next();
  EXPECT_TRUE(ds->Eof());
  EXPECT_EQ(ds->FieldByName("Word").AsString(), "cat");
  EXPECT_EQ(w.dataChanges, 0);
  EXPECT_EQ(w.beforeScroll, 1);
  ds->Next();  // at the end already: not even scroll events
  EXPECT_EQ(w.beforeScroll, 1);
  ds->Prior();
  EXPECT_EQ(ds->FieldByName("Word").AsString(), "bee");

  ds->First();
  ds->Prior();
  EXPECT_TRUE(ds->Bof());
  ds->Next();
  EXPECT_EQ(ds->FieldByName("Word").AsString(), "bee");
}

TEST(DataSetNotifications, RecordNumberBeyondTheCountShowsTheLastRecord) {
  auto ds = Words({"ant", "bee"});
  ds->Open();
  ds->SetRecNo(9);
  EXPECT_EQ(ds->RecNo(), 2);
}

TEST(DataSetNotifications, EmptyDatasetShowsNothing) {
  auto ds = Words({});
  TWatcher w(*ds);
  ds->Open();
  EXPECT_EQ(w.dataChanges, 1);
  EXPECT_TRUE(ds->IsEmpty());
  EXPECT_TRUE(ds->Bof() && ds->Eof());
  EXPECT_EQ(ds->RecordCount(), 0);
  EXPECT_EQ(ds->RecNo(), 0);
  EXPECT_TRUE(ds->FieldByName("Word").IsNull());
  EXPECT_EQ(ds->FieldByName("Word").AsString(), "");
  EXPECT_FALSE(ds->FieldByName("Long").AsBoolean());
  EXPECT_FALSE(ds->FindKey("ant"));
  ds->Next();
  ds->Last();
  EXPECT_TRUE(ds->IsEmpty());
}

TEST(DataLinks, RebindingReportsOneDataChange) {
  auto words = Words({"ant", "bee"});
  auto more = Words({"cow"});
  words->Open();
  more->Open();
  TDataSource other(more.get());
  TWatcher w(*words);
  w.Reset();

  w.link.SetDataSource(&other);
  EXPECT_EQ(w.dataChanges, 1);
  EXPECT_EQ(w.shown, "cow");
  w.link.SetDataSource(&other);
  EXPECT_EQ(w.dataChanges, 1) << "the same source again is no change";

  // To a source whose table is closed: still one report, and no field.
  more->Close();
  w.Reset();
  w.link.SetDataSource(&w.source);
  w.link.SetDataSource(&other);
  EXPECT_EQ(w.dataChanges, 2);
  EXPECT_EQ(w.link.Field(), nullptr);

  // A source moved to another dataset tells each of its links once.
  w.Reset();
  other.SetDataSet(words.get());
  EXPECT_EQ(w.dataChanges, 1);
  EXPECT_EQ(w.shown, "ant");

  w.Reset();
  w.link.SetFieldName("Long");
  EXPECT_EQ(w.dataChanges, 1);
  EXPECT_EQ(w.link.Field()->FieldName(), "Long");
}

TEST(DataLinks, EitherEndMayGoFirst) {
  auto ds = Words({"ant"});
  ds->Open();
  {
    TDataSource source(ds.get());
    TFieldDataLink link;
    link.SetFieldName("Word");
    link.SetDataSource(&source);
    ASSERT_NE(link.Field(), nullptr);
    {
      TDataSource doomed(ds.get());
      link.SetDataSource(&doomed);
    }
    EXPECT_EQ(link.DataSource(), nullptr);
    EXPECT_EQ(link.Field(), nullptr);
    link.SetDataSource(&source);
    ds.reset();
    EXPECT_EQ(source.DataSet(), nullptr);
    EXPECT_FALSE(link.Active());
    EXPECT_EQ(link.Field(), nullptr);
  }
}

TEST(DataSetOpen, AFailedOpenLeavesItClosedAndUnreported) {
  auto ds = Words({"ant"});
  TWatcher w(*ds);
  int closes = 0;
  ds->onOpenCursor = [] { throw std::runtime_error("no table"); };
  ds->onCloseCursor = [&] { ++closes; };
  EXPECT_THROW(ds->Open(), std::runtime_error);
  EXPECT_FALSE(ds->Active());
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(w.dataChanges, 0);
}

TEST(DataSetOpen, ClosedDatasetRefusesWhatNeedsRecords) {
  auto ds = Words({"ant"});
  const std::string closed = SDataSetClosed;
  for (auto action : std::vector<std::function<void()>>{
           [&] { ds->RecordCount(); }, [&] { ds->Next(); }, [&] { ds->SetRecNo(1); },
           [&] { ds->FindKey("ant"); }, [&] { ds->Refresh(); }}) {
    try {
      action();
      ADD_FAILURE() << "no error";
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(e.what(), closed);
    }
  }
  EXPECT_EQ(ds->RecNo(), 0);
  EXPECT_EQ(ds->lookups, 0);
  ds->Open();
  try {
    ds->FieldByName("Missing");
    ADD_FAILURE() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'Missing' not found.");
  }
}

}  // namespace
