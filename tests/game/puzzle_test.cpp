// Setting up puzzles with every draw scripted: which record, which gaps, which
// blocks, and exactly which draws are made.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "content/table_arrival.h"
#include "media/picture_view.h"
#include "tests/game/game_fixture.h"

namespace game {
namespace {

using testing::TScriptedGame;
using tamblo::testing::TWordLists;

struct TPuzzleCase {
  const char* what;
  int mode;
  TWordLists words;
  std::vector<int> script;
  std::string word, shown;
  std::vector<std::string> blocks;
  std::vector<int> draws;  // the range of each draw, in order
};

TEST(NewPuzzle, CutsGapsAndOffersBlocksAsTheDrawsSay) {
  const TWordLists blends{{"Blend", {{"church"}, {"clock"}, {"frog"}}}};
  const TWordLists consonants{{"Conson", {{"cat"}, {"plant"}, {"you"}}}};
  const TPuzzleCase cases[] = {
      {"one blend", kBlendMode, blends,
       {2, 0, 9, 0, 26, 0}, "frog", "__og", {"fr", "bl", "ck", "bl"},
       {3, 4, 27, 27, 27, 27}},
      {"a leading blend and a ck ending", kBlendMode, blends,
       {1, 1, 1, 3, 1, 26, 22, 0}, "clock", "__o__", {"th", "cl", "bl", "ck"},
       {3, 4, 4, 4, 27, 27, 27, 27}},
      {"a blend twice: one gap, at the first", kBlendMode, blends,
       {0, 0, 20, 21, 0, 1}, "church", "__urch", {"ch", "sh", "bl", "cl"},
       {3, 4, 27, 27, 27, 27}},
      // The draw of 100 is made for a short word too, and then ignored.
      {"three letters", kConsonantMode, consonants,
       {0, 2, 80, 2, 5, 0, 1, 2, 15, 0, 18}, "cat", "_a_", {"b", "d", "c", "b", "z", "t"},
       {3, 6, 100, 6, 6, 19, 19, 19, 19, 19, 19}},
      {"five letters: each further consonant on a coin toss", kConsonantMode, consonants,
       {1, 0, 70, 10, 1, 50, 0, 3, 4, 5}, "plant", "_la_t", {"p", "n", "b", "f", "g", "h"},
       {3, 6, 100, 100, 6, 100, 19, 19, 19, 19}},
      {"only vowels: no gap and no coin", kConsonantMode, consonants,
       {2, 0, 1, 2, 3, 4, 5}, "you", "you", {"b", "c", "d", "f", "g", "h"},
       {3, 19, 19, 19, 19, 19, 19}},
      {"short vowel: the letter is never a wrong block", kShortVowelMode,
       {{"SVowel", {{"bed", "b_d", "e"}}}},
       {0, 3, 1, 0, 2, 17, 12, 6}, "bed", "b_d", {"a", "i", "k", "e", "b", "a"},
       {1, 6, 18, 18, 18, 18, 18, 18}},
      {"long vowel", kLongVowelMode, {{"LVowel", {{"cake", "c_ke", "a"}}}},
       {0, 0, 0, 1, 1, 1, 1, 1}, "cake", "c_ke", {"a", "e", "e", "e", "e", "e"},
       {1, 6, 18, 18, 18, 18, 18, 18}},
  };
  for (const TPuzzleCase& c : cases) {
    SCOPED_TRACE(c.what);
    TScriptedGame game(c.words);
    ASSERT_TRUE(game.reports.empty()) << game.reports.front();
    game.Puzzle(c.mode, c.script);
    EXPECT_EQ(game.form->FWord, c.word);
    EXPECT_EQ(game.form->FShownWord, c.shown);
    EXPECT_EQ(game.Blocks(), c.blocks);
    EXPECT_EQ(game.draws, c.draws);
    // The shown word is centred on x = 136 in the 36-point face.
    EXPECT_EQ(game.form->FWordX, 136 - game.form->imgBack->Canvas().TextWidth(c.shown) / 2);
  }
}

TEST(NewPuzzle, LaysOutTheBlocksAndTheWordForTheKindAndFloor) {
  TScriptedGame game;
  game.Puzzle(kShortVowelMode, {0, 0, 1, 1, 1, 1, 1}, 2);
  EXPECT_EQ(game.form->FWordY, 88);
  EXPECT_EQ(game.form->FGapMark, "_");
  EXPECT_EQ(game.form->FBlockCount, 6);
  for (int i = 1; i <= 6; ++i) {
    EXPECT_EQ(game.form->FBlockX[i], 272 + (i - 1) * 36);
    EXPECT_EQ(game.form->FBlockY[i], 180);
    EXPECT_EQ(game.form->FBlockColor[i], toolkit::clBlack);
  }
  EXPECT_FALSE(game.form->imgNext->Visible());
  // The picture and the spoken word follow the kind's table.
  EXPECT_EQ(game.form->DBPictureView1->DataSource(), &game.dm->dsSVowel);
}

TEST(NewPuzzle, UsedMarksAreSharedByTheFourTables) {
  TScriptedGame game;
  // Blend takes position 0 ("cat"): wrong blocks only, no blend in the word.
  game.Puzzle(kBlendMode, {0, 0, 0, 0, 0});
  EXPECT_TRUE(game.form->FUsed[0]);
  // Short vowels: position 0 is used, so a second draw is made.
  game.Puzzle(kShortVowelMode, {0, 1, 0, 1, 1, 1, 1, 1});
  EXPECT_EQ(game.form->FWord, "hat");
  EXPECT_EQ(game.draws.front(), 3);
  EXPECT_EQ(game.draws[1], 3);
}

TEST(NewPuzzle, OnceEveryPositionIsUsedTheLastAllowedDrawIsTaken) {
  struct Case {
    int mode;
    int draws;
  };
  for (Case c : {Case{kBlendMode, 41}, Case{kShortVowelMode, 21}, Case{kConsonantMode, 41}}) {
    SCOPED_TRACE(c.mode);
    TScriptedGame game;
    game.form->FUsed.fill(true);
    std::deque<int> script(static_cast<std::size_t>(c.draws), 2);  // "sled" every time
    game.script = script;
    game.form->FMode = c.mode;
    game.form->FLevel = 1;
    // The rest of the set-up draws each value in turn, so every loop ends.
    int next = 0;
    game.form->Draw = [&, inner = game.form->Draw](int n) {
      return game.script.empty() ? (n == 100 ? 99 : next++ % n) : inner(n);
    };
    game.form->NewPuzzle();
    EXPECT_EQ(game.form->FWord, "sled");
    EXPECT_TRUE(game.script.empty());
    int recordDraws = 0;
    while (recordDraws < static_cast<int>(game.draws.size()) && game.draws[recordDraws] == 3) ++recordDraws;
    EXPECT_EQ(recordDraws, c.draws);
  }
}

TEST(NewPuzzle, ConsonantModeSkipsWordsNotMeantForPuzzles) {
  TScriptedGame game({{"Conson", {{"cat", "", "", false}, {"dog", "", "", true}}}});
  game.Puzzle(kConsonantMode, {0, 1, 0, 99, 1, 0, 0, 0, 0});
  EXPECT_EQ(game.form->FWord, "dog");
  EXPECT_EQ(game.form->FShownWord, "_o_");
  EXPECT_TRUE(game.form->FUsed[1]);
  EXPECT_FALSE(game.form->FUsed[0]);
}

}  // namespace
}  // namespace game

namespace game {
namespace {

// Tables whose files come later, as a browser page fetches each kind's when
// its first building begins.
class TLateTables : public content::TTableArrival {
 public:
  std::set<std::string> late;
  std::vector<std::string> requested;
  bool Arrived(const std::string& table) override { return late.count(table) == 0; }
  void Request(const std::string& table) override { requested.push_back(table); }
};

// A consonant building chosen while the consonant table is still away.
struct TLateBuilding {
  TLateBuilding() {
    tables.late = {"Conson"};
    game.form->TableArrival = &tables;
    game.form->FormCreate();
    game.script = {kConsonantMode - 1};
    game.form->FormActivate();
  }
  TScriptedGame game{{{"Conson", {{"cat"}}}}};
  TLateTables tables;
};

TEST(Building, ATableStillOnItsWayIsAskedForAndAwaitedThenItsFirstPuzzleIsDealt) {
  TLateBuilding b;
  TfWrdCnst& f = *b.game.form;
  EXPECT_TRUE(b.game.dm->dbSndFx.Active());
  EXPECT_FALSE(b.game.dm->dbConson.Active());
  EXPECT_TRUE(f.AwaitingTable());
  EXPECT_EQ(b.tables.requested, std::vector<std::string>{"Conson"});
  EXPECT_FALSE(f.imgNext->Visible());
  f.imgNextClick();  // draws nothing: the building chosen is still the one awaited
  f.ArrivalTimerTimer();
  EXPECT_TRUE(f.AwaitingTable());

  b.tables.late.clear();
  b.game.script = {0, 0, 80, 1, 0, 0, 0, 0};
  f.ArrivalTimerTimer();
  EXPECT_FALSE(f.AwaitingTable());
  EXPECT_TRUE(b.game.dm->dbConson.Active());
  EXPECT_EQ(f.FWord, "cat");
  EXPECT_EQ(f.FBlockCount, 6);
  EXPECT_TRUE(b.game.script.empty());
  EXPECT_TRUE(b.game.reports.empty());
}

TEST(Building, ATableArrivingWithoutItsFilesIsToldAndTheNextSignComesUp) {
  TLateBuilding b;
  TfWrdCnst& f = *b.game.form;
  std::filesystem::remove(b.game.content->Path() / "Conson.DAT");
  b.tables.late.clear();
  try {
    f.ArrivalTimerTimer();
    ADD_FAILURE() << "opened a table without its data file";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("Conson"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(f.AwaitingTable());
  EXPECT_EQ(f.FBlockCount, 0);
  EXPECT_TRUE(f.imgNext->Visible());
}

}  // namespace
}  // namespace game
