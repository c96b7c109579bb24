// The crane's sequences replayed tick by tick: every cue at its tick, the hook
// and the block where the rules put them, and the building going up.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <map>

#include "media/media_player.h"
#include "media/picture_view.h"
#include "tests/game/game_fixture.h"

namespace game {
namespace {

using testing::TScriptedGame;

// A game whose trace goes to a file of its own; cues are read back from it.
struct TTracedGame {
  // A file per test, since ctest runs the tests side by side.
  TTracedGame()
      : path(std::string(::testing::TempDir()) +
             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".jsonl") {
    std::remove(path.c_str());
    setenv("TAMBLO_TRACE", path.c_str(), 1);
    game = std::make_unique<TScriptedGame>(
        tamblo::testing::TWordLists{{"Conson", {{"cat"}}}});
    unsetenv("TAMBLO_TRACE");
  }
  // The game closes its trace before the file goes, so runs leave nothing behind.
  ~TTracedGame() {
    game.reset();
    std::remove(path.c_str());
  }
  // tick -> cue keys, in order.
  std::multimap<int, std::string> Cues() const {
    std::multimap<int, std::string> cues;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
      if (line.find("\"event\": \"cue\"") == std::string::npos) continue;
      const auto key = line.find("\"key\": \"") + 8;
      const std::string name = line.substr(key, line.find('"', key) - key);
      const int tick = std::stoi(line.substr(line.find("\"tick\": ") + 8));
      cues.emplace(tick, name);
    }
    return cues;
  }
  std::string path;
  std::unique_ptr<TScriptedGame> game;
};

// "cat" as "_a_" with "c" and "t" in the block slots given, "b" in the rest.
void CatPuzzle(TScriptedGame& g, int cSlot, int tSlot) {
  g.Puzzle(kConsonantMode, {0, cSlot - 1, 80, tSlot - 1, 0, 0, 0, 0});
  g.form->FHookX = 240;
  g.form->FHookY = 20;
}

TEST(Crane, RightBlockFollowsTheWorkedTiming) {
  TTracedGame traced;
  TfWrdCnst& f = *traced.game->form;
  CatPuzzle(*traced.game, 1, 2);
  ASSERT_EQ(f.FBlockText[1], "c");
  const int start = static_cast<int>(f.TickNumber());
  f.BlockChosen(1);
  ASSERT_TRUE(f.FPlacing);
  ASSERT_EQ(f.FBlockColor[1], kBlockBlue);
  EXPECT_TRUE(f.Timer1->Enabled());
  f.FTargetX = 100;
  ASSERT_EQ(f.FWordY, 152);
  struct Check {
    int tick;
    int hookX, hookY, blockX, blockY;  // -1: not checked
  };
  const Check checks[] = {{4, 276, -1, -1, -1},  {22, -1, 170, -1, -1}, {45, -1, 0, -1, 12},
                          {67, 100, -1, 96, -1}, {83, -1, 131, -1, -1}, {101, -1, 0, -1, -1}};
  std::size_t next = 0;
  for (int tick = 1; tick <= 101; ++tick) {
    f.Timer1Timer();
    if (tick == 83) {
      EXPECT_EQ(f.FShownWord, "ca_") << "the letter enters the word at the click";
    }
    if (tick == 100) {
      EXPECT_TRUE(f.FPlacing);
    }
    if (next < std::size(checks) && checks[next].tick == tick) {
      const Check& c = checks[next++];
      SCOPED_TRACE(tick);
      if (c.hookX >= 0) {
        EXPECT_EQ(f.FHookX, c.hookX);
      }
      if (c.hookY >= 0) {
        EXPECT_EQ(f.FHookY, c.hookY);
      }
      if (c.blockX >= 0) {
        EXPECT_EQ(f.FBlockX[1], c.blockX);
      }
      if (c.blockY >= 0) {
        EXPECT_EQ(f.FBlockY[1], c.blockY);
      }
    }
  }
  EXPECT_FALSE(f.FPlacing);
  EXPECT_FALSE(f.FBuilding) << "a gap is still open";
  EXPECT_EQ(f.FBlockX[1], kPlacedX);
  EXPECT_EQ(f.FBlockColor[1], kBlockGreen);
  EXPECT_TRUE(f.Timer1->Enabled()) << "the timer keeps ticking after a placement";
  const std::multimap<int, std::string> want{{0, "craneh"},  {4, "cranev"},  {22, "clack"},
                                             {25, "cranev"}, {45, "craneh"}, {67, "cranev"},
                                             {83, "click"},  {86, "cranev"}};
  std::multimap<int, std::string> got;
  for (const auto& [tick, key] : traced.Cues()) got.emplace(tick - start, key);
  EXPECT_EQ(got, want);
}

TEST(Crane, WrongBlockIsKnockedAndStaysRed) {
  TTracedGame traced;
  TfWrdCnst& f = *traced.game->form;
  CatPuzzle(*traced.game, 3, 2);
  ASSERT_EQ(f.FBlockText[1], "b");
  const int start = static_cast<int>(f.TickNumber());
  f.BlockChosen(1);
  ASSERT_TRUE(f.FRejecting);
  for (int tick = 1; tick <= 43; ++tick) {
    f.Timer1Timer();
    if (tick == 4) {
      EXPECT_EQ(f.FHookX, 280);
    }
    if (tick == 22) {
      EXPECT_EQ(f.FHookY, 159);
      EXPECT_EQ(f.FBlockColor[1], kBlockRed);
    }
    if (tick == 42) {
      EXPECT_TRUE(f.FRejecting);
    }
  }
  EXPECT_FALSE(f.FRejecting);
  EXPECT_EQ(f.FHookY, 0);
  EXPECT_EQ(f.FBlockX[1], 272) << "a wrong block stays where it is";
  std::multimap<int, std::string> got;
  for (const auto& [tick, key] : traced.Cues()) got.emplace(tick - start, key);
  EXPECT_EQ(got, (std::multimap<int, std::string>{
                     {0, "craneh"}, {4, "cranev"}, {22, "konk"}, {25, "cranev"}}));
  // Rejected, it can be chosen again.
  f.imgBackMouseUp(toolkit::TMouseButton::mbRight, 0, f.FBlockX[1] + 2, f.FBlockY[1] + 2);
  EXPECT_TRUE(f.FRejecting);
}

TEST(Crane, TheBuildingGoesUpFacadeByFacadeThenGirderByGirder) {
  TTracedGame traced;
  TfWrdCnst& f = *traced.game->form;
  CatPuzzle(*traced.game, 1, 2);
  f.FLevel = 3;  // the third word: the Next sign comes up at the end
  f.FBuilding = true;
  f.FPhase = 1;
  f.Timer1->SetEnabled(true);
  std::vector<int> facadeAt, girderAt;
  int facades = 0, girders = -1;
  for (int tick = 0; tick <= 23; ++tick) {
    f.Timer1Timer();
    if (f.FFacadeCount != facades) facadeAt.push_back(tick), facades = f.FFacadeCount;
    if (f.FGirderCount != girders && f.FGirderCount > 0) girderAt.push_back(tick);
    girders = f.FGirderCount;
    if (tick == 22) {
      EXPECT_FALSE(f.imgNext->Visible());
    }
  }
  EXPECT_EQ(facadeAt, (std::vector<int>{0, 4, 8, 12}));
  EXPECT_EQ(girderAt, (std::vector<int>{12, 15, 19, 23}));
  EXPECT_EQ(f.FLevel, 4);
  EXPECT_TRUE(f.imgNext->Visible());
  EXPECT_FALSE(f.Timer1->Enabled());
  EXPECT_FALSE(f.FBuilding);
  // Next starts a new building on the ground floor.
  traced.game->script.assign({0, 1, 0, 0, 0, 0});  // blends; "hat", position 0 being used
  f.imgNextClick();
  EXPECT_EQ(f.FLevel, 1);
  EXPECT_EQ(f.FGirderCount, 4);
  EXPECT_FALSE(f.imgNext->Visible());
}

TEST(Crane, TheTraceReportsEachBlockWhereTheHitTestFindsIt) {
  TTracedGame traced;
  TfWrdCnst& f = *traced.game->form;
  CatPuzzle(*traced.game, 1, 2);
  f.ComposeScene();
  std::ifstream in(traced.path);
  std::string puzzle;
  for (std::string line; std::getline(in, line);)
    if (line.find("\"event\": \"puzzle\"") != std::string::npos) puzzle = line;
  ASSERT_FALSE(puzzle.empty());
  const auto field = [&](std::size_t from, const char* name) {
    return std::stoi(puzzle.substr(puzzle.find(std::string("\"") + name + "\": ", from) +
                                   std::string(name).size() + 4));
  };
  std::size_t at = puzzle.find("\"blocks\"");
  for (int block = 1; block <= f.FBlockCount; ++block) {
    SCOPED_TRACE(block);
    at = puzzle.find("{\"text\"", at + 1);
    ASSERT_NE(at, std::string::npos);
    // Window coordinates: the last pixel inside is on the block, the next one is not.
    const int x = field(at, "x") - f.imgBack->Left(), y = field(at, "y") - f.imgBack->Top();
    const int w = field(at, "w"), h = field(at, "h");
    EXPECT_EQ(f.BlockAt(x + w - 1, y + h - 1), block);
    EXPECT_EQ(f.BlockAt(x + w, y + h / 2), 0);
    EXPECT_EQ(f.BlockAt(x + w / 2, y + h), 0);
  }
  // The shown word's box holds every pixel drawn for it.
  at = puzzle.find("\"shown_box\"");
  ASSERT_NE(at, std::string::npos);
  const int x = field(at, "x") - f.imgBack->Left(), y = field(at, "y") - f.imgBack->Top();
  const int w = field(at, "w"), h = field(at, "h");
  const toolkit::TCanvas& scene = f.imgWork->Canvas();
  const int sceneHeight = f.imgWork->Height();
  int inkLeft = f.imgWork->Width(), inkRight = -1, inkTop = sceneHeight, inkBottom = -1;
  for (int py = std::max(0, y - 20); py < std::min(sceneHeight, y + h + 20); ++py)
    for (int px = std::max(0, x - 20); px < std::min(f.FBlockX[1], x + w + 20); ++px)
      if (scene.Pixel(px, py) != toolkit::clAqua) {
        inkLeft = std::min(inkLeft, px), inkRight = std::max(inkRight, px);
        inkTop = std::min(inkTop, py), inkBottom = std::max(inkBottom, py);
      }
  ASSERT_GE(inkRight, 0) << "no word drawn near its box";
  EXPECT_GE(inkLeft, x);
  EXPECT_LT(inkRight, x + w);
  EXPECT_GE(inkTop, y);
  EXPECT_LT(inkBottom, y + h);
}

TEST(Crane, AnEffectsTableThatFailsMidSequenceIsToldOnceAndTheCraneGoesOnSilently) {
  TScriptedGame game({{"Conson", {{"cat"}}}});
  TfWrdCnst& f = *game.form;
  CatPuzzle(game, 1, 2);
  f.FTargetX = 100;
  f.BlockChosen(1);
  ASSERT_TRUE(f.FPlacing);
  // Every key search from here on throws.
  game.dm->dbSndFx.Close();
  for (int tick = 1; tick <= 101; ++tick) game.app.Guard([&] { f.Timer1Timer(); });
  EXPECT_EQ(game.reports.size(), 1u);
  EXPECT_FALSE(f.FPlacing);
  EXPECT_EQ(f.FShownWord, "ca_") << "the block was placed";
  EXPECT_EQ(f.FHookY, 0);
}

TEST(Crane, APuzzleThatCannotBeMadeAfterAFloorLeavesNextAndExitWorking) {
  TScriptedGame game({{"Conson", {{"cat"}}}});
  TfWrdCnst& f = *game.form;
  CatPuzzle(game, 1, 2);
  f.FBuilding = true;
  f.FPhase = 1;
  f.Timer1->SetEnabled(true);
  // The word table goes away before the next word is drawn.
  game.dm->dbConson.Close();
  for (int tick = 0; tick <= 30; ++tick) game.app.Guard([&] { f.Timer1Timer(); });
  ASSERT_EQ(game.reports.size(), 1u);
  EXPECT_FALSE(f.Timer1->Enabled());
  EXPECT_FALSE(f.FBuilding);
  EXPECT_TRUE(f.imgNext->Visible());
  EXPECT_EQ(f.FBlockCount, 0);
  f.imgBackMouseUp(toolkit::TMouseButton::mbLeft, 0, f.FBlockX[1] + 3, f.FBlockY[1] + 5);
  EXPECT_FALSE(f.FRejecting || f.FPlacing) << "a slot of the puzzle that never came was chosen";
  // Next starts a building of whatever kind is drawn, on tables that work.
  game.dm->dbConson.Open();
  game.script.assign({0, 1, 0, 0, 0, 0});  // blends; "hat"
  f.imgNextClick();
  EXPECT_FALSE(f.imgNext->Visible());
  EXPECT_EQ(f.FWord, "hat");
  EXPECT_EQ(f.FBlockCount, 4);
}

TEST(Crane, APictureClickSpeaksTheWordAgainEvenDuringASequence) {
  TScriptedGame game;
  game.Puzzle(kShortVowelMode, {0, 0, 1, 1, 1, 1, 1});
  game.form->FPlacing = true;
  game.form->DBMediaPlayer3->Stop();
  game.form->DBPictureView1Click();
  EXPECT_EQ(game.form->DBMediaPlayer3->Mode(), media::TMPModes::mpPlaying);
}

TEST(Crane, ASoundThatCannotPlayIsToldOnceAndTheGameGoesOn) {
  TScriptedGame game;
  game.form->DBMediaPlayer1->Close();
  game.Puzzle(kShortVowelMode, {0, 0, 1, 1, 1, 1, 1});
  game.form->DBMediaPlayer1->Close();
  game.Puzzle(kShortVowelMode, {1, 0, 1, 1, 1, 1, 1});
  ASSERT_EQ(game.reports.size(), 1u);
  EXPECT_EQ(game.reports[0], "No MCI device open.");
  // The word was still spoken after the failed stop.
  EXPECT_EQ(game.form->DBMediaPlayer3->Mode(), media::TMPModes::mpPlaying);
}

TEST(Crane, AMutedCueStillPlaysSilentlyAndTheSequenceKeepsItsTicks) {
  auto run = [](bool muted) {
    media::SetSoundMuted(muted);
    TTracedGame traced;
    TfWrdCnst& f = *traced.game->form;
    CatPuzzle(*traced.game, 1, 2);
    const int start = static_cast<int>(f.TickNumber());
    f.BlockChosen(1);
    EXPECT_EQ(f.DBMediaPlayer1->Mode(), media::TMPModes::mpPlaying)
        << "the effect plays, silent or not";
    for (int tick = 1; tick <= 101; ++tick) f.Timer1Timer();
    media::SetSoundMuted(false);
    std::multimap<int, std::string> cues;
    for (const auto& [tick, key] : traced.Cues()) cues.emplace(tick - start, key);
    return cues;
  };
  const auto loud = run(false);
  const auto muted = run(true);
  EXPECT_FALSE(loud.empty());
  EXPECT_EQ(muted, loud);
}

}  // namespace
}  // namespace game
