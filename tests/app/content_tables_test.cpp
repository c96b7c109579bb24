// The main window's creation finds the content tables beside the program file
// and opens them in order; a table that cannot open is reported and the rest
// stay closed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "content/data_module.h"
#include "dataset/data_source.h"
#include "game/wrdcnst_form.h"
#include "media/image_library.h"
#include "tests/app/content_tables.h"
#include "toolkit/application.h"
#include "toolkit/platform.h"

namespace {

using content::TDataModule1;
using tamblo::testing::TContentDir;

struct TGame {
  explicit TGame(const std::filesystem::path& programFile) {
    media::TPictureLibrary::SetSearchDirectory(TAMBLO_RUNTIME_DIR);
    app.SetReporter([this](const std::string&, const std::string& text) { reports.push_back(text); });
    dm = &app.CreateForm<TDataModule1>();
    form = &app.CreateForm<game::TfWrdCnst>(TAMBLO_ASSET_DIR, *dm, programFile);
  }
  std::vector<bool> OpenInOrder() const {
    return {dm->dbBlend.Active(), dm->dbSndFx.Active(), dm->dbConson.Active(), dm->dbLVowel.Active(),
            dm->dbSVowel.Active()};
  }

  toolkit::Application app;
  std::vector<std::string> reports;
  TDataModule1* dm = nullptr;
  game::TfWrdCnst* form = nullptr;
};

TEST(ContentTables, TheDataModuleStartsWithItsTablesClosedAndNamed) {
  toolkit::Application app;
  TDataModule1& dm = app.CreateForm<TDataModule1>();
  const std::pair<ledger::TLedgerTable*, const char*> tables[] = {
      {&dm.dbConson, "Conson"}, {&dm.dbBlend, "Blend"}, {&dm.dbSndFx, "SndFx"},
      {&dm.dbLVowel, "LVowel"}, {&dm.dbSVowel, "SVowel"}};
  for (auto [table, name] : tables) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(table->Active());
    EXPECT_EQ(table->TableName(), name);
    EXPECT_EQ(table->DatabaseName(), "");
    EXPECT_EQ(table->IndexName(), "");
    EXPECT_FALSE(table->AutoDisplayLabels());
    EXPECT_FALSE(table->CopyOnAppend());
    EXPECT_EQ(table->EngineVersion(), "3.17");
  }
  EXPECT_EQ(dm.dsBlend.DataSet(), &dm.dbBlend);
  EXPECT_EQ(dm.dsSndFx.DataSet(), &dm.dbSndFx);
  EXPECT_EQ(dm.dsConson.DataSet(), &dm.dbConson);
  EXPECT_EQ(dm.dsLVowel.DataSet(), &dm.dbLVowel);
  EXPECT_EQ(dm.dsSVowel.DataSet(), &dm.dbSVowel);
}

TEST(ContentTables, FoundBesideTheProgramWhereverTheProgramRunsFrom) {
  TContentDir content;
  const std::string here = toolkit::GetCurrentDir();
  toolkit::SetCurrentDir("/");
  TGame game(content.ProgramFile());
  toolkit::SetCurrentDir(here);
  EXPECT_TRUE(game.reports.empty()) << game.reports.front();
  EXPECT_EQ(game.form->FDataDir, content.Path().string());
  EXPECT_EQ(game.OpenInOrder(), std::vector<bool>(5, true));
  EXPECT_EQ(game.dm->dbSVowel.DatabaseName(), content.Path().string());
  EXPECT_EQ(game.dm->dbBlend.RecordCount(), 3);
  EXPECT_TRUE(game.dm->dbSndFx.FindKey({"craneh"}));
  EXPECT_EQ(static_cast<dataset::TBlobField&>(game.dm->dbSndFx.FieldByName("SoundFile")).AsBytes(),
            TContentDir::EffectSound("craneh"));
}

TEST(ContentTables, ATableThatCannotOpenIsReportedOnceAndTheLaterOnesStayClosed) {
  struct Case {
    const char* broken;
    bool missing;  // else its data file is garbage
    std::vector<bool> open;
  };
  const Case cases[] = {
      {"Conson", true, {true, true, false, false, false}},
      {"SVowel", true, {true, true, true, true, false}},
      {"Blend", false, {false, false, false, false, false}},
      {"SndFx", false, {true, false, false, false, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.broken);
    std::set<std::string> missing;
    if (c.missing) missing.insert(c.broken);
    TContentDir content(missing);
    if (!c.missing) std::ofstream(content.Path() / (std::string(c.broken) + ".DAT")) << "not a table";
    TGame game(content.ProgramFile());
    ASSERT_EQ(game.reports.size(), 1u);
    EXPECT_NE(game.reports[0].find(c.broken), std::string::npos) << game.reports[0];
    EXPECT_EQ(game.OpenInOrder(), c.open);
    // The program goes on: the window is there and answers.
    EXPECT_EQ(game.app.MainForm(), game.form);
  }
}

TEST(ContentTables, AProgramInTheRootLooksInTheRoot) {
  TGame game("/tamblo");
  EXPECT_EQ(game.form->FDataDir, "/");
  EXPECT_EQ(game.dm->dbBlend.DatabaseName(), "/");
  EXPECT_EQ(game.reports.size(), 1u) << "no tables in the root";
}

TEST(ContentTables, RebindingAControlShowsTheOtherTablesRecord) {
  TContentDir content;
  TGame game(content.ProgramFile());
  TDataModule1& dm = *game.dm;
  dm.dbBlend.SetRecNo(2);
  dm.dbSVowel.SetRecNo(3);
  dataset::TFieldDataLink picture;
  picture.SetFieldName("Graphic");
  picture.SetDataSource(&dm.dsBlend);
  std::vector<std::vector<uint8_t>> loads;
  picture.OnDataChange = [&] {
    loads.push_back(static_cast<dataset::TBlobField*>(picture.Field())->AsBytes());
  };
  picture.SetDataSource(&dm.dsSVowel);
  const auto sled = TContentDir::Picture("SVowel", 2), cat = TContentDir::Picture("SVowel", 0);
  EXPECT_EQ(loads, std::vector<std::vector<uint8_t>>{sled});
  dm.dbSVowel.SetRecNo(3);
  dm.dbSVowel.SetRecNo(1);
  EXPECT_EQ(loads, (std::vector<std::vector<uint8_t>>{sled, cat}));
}

}  // namespace
