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

}  // namespace
}  // namespace ledger
