// Play without a pointer: each key path against what a click does.

#include <gtest/gtest.h>

#include "media/media_player.h"
#include "tests/game/game_fixture.h"
#include "toolkit/application.h"

namespace game {
namespace {

using testing::TScriptedGame;
using toolkit::TKey;
using namespace toolkit;

const tamblo::testing::TWordLists kCat{{"Conson", {{"cat"}}}};
const tamblo::testing::TWordLists kBlends{{"Blend", {{"church"}, {"clock"}, {"frog"}}}};

// "cat" as "_a_" with blocks b d c b z t.
void CatPuzzle(TScriptedGame& g) { g.Puzzle(kConsonantMode, {0, 2, 80, 2, 5, 0, 1, 2, 15, 0, 18}); }
// "frog" as "__og" with blocks fr bl ck bl.
void FrogPuzzle(TScriptedGame& g) { g.Puzzle(kBlendMode, {2, 0, 9, 0, 26, 0}); }

void Press(TfWrdCnst& f, TKey key, toolkit::TShiftState shift = 0) { f.KeyDown(key, shift); }

// The block a sequence was started for, or 0 when none started.
int Chosen(const TfWrdCnst& f) { return f.FPlacing || f.FRejecting ? f.FSelected : 0; }

void EndSequence(TfWrdCnst& f) {
  f.FPlacing = f.FRejecting = f.FBuilding = false;
  f.Timer1->SetEnabled(false);
}

TEST(Keyboard, LeftAndRightMoveTheHighlightOverTheUnplacedBlocksOnly) {
  TScriptedGame game(kCat);
  TfWrdCnst& f = *game.form;
  CatPuzzle(game);
  EXPECT_EQ(f.HighlightedBlock(), 0) << "no highlight before a key asks for one";
  f.FBlockX[2] = kPlacedX;
  struct Step {
    TKey key;
    int block;
  };
  const Step steps[] = {{VK_RIGHT, 1}, {VK_RIGHT, 3}, {VK_RIGHT, 4}, {VK_LEFT, 3},
                        {VK_LEFT, 1},  {VK_LEFT, 6},  {VK_RIGHT, 1}};
  for (const Step& s : steps) {
    Press(f, s.key);
    EXPECT_EQ(f.HighlightedBlock(), s.block);
  }
  // A highlighted block that is placed hands the highlight on to the next one.
  f.FBlockX[1] = kPlacedX;
  EXPECT_EQ(f.HighlightedBlock(), 3);
}

TEST(Keyboard, TheFirstLeftLightsTheLastBlock) {
  TScriptedGame game(kCat);
  CatPuzzle(game);
  Press(*game.form, VK_LEFT);
  EXPECT_EQ(game.form->HighlightedBlock(), 6);
}

TEST(Keyboard, TheHighlightIsDrawnAroundItsBlockAndHiddenDuringASequence) {
  TScriptedGame game(kCat);
  TfWrdCnst& f = *game.form;
  CatPuzzle(game);
  auto framed = [&](int block) {
    f.ComposeScene();
    const toolkit::TCanvas& scene = f.imgWork->Canvas();
    const int x = f.FBlockX[block] - 4, y = f.FBlockY[block] + 5;
    return scene.Pixel(x, y) == kHighlightColor && scene.Pixel(x + 1, y) == kHighlightColor;
  };
  EXPECT_FALSE(framed(1));
  Press(f, VK_RIGHT);
  EXPECT_TRUE(framed(1));
  EXPECT_FALSE(framed(2));
  Press(f, VK_RIGHT);
  EXPECT_TRUE(framed(2));
  EXPECT_FALSE(framed(1));
  f.FRejecting = true;
  EXPECT_FALSE(framed(2));
}

TEST(Keyboard, EnterChoosesTheHighlightedBlockAsAClickOnItWould) {
  for (int block : {3, 1}) {  // the right one, a wrong one
    SCOPED_TRACE(block);
    TScriptedGame byKey(kCat), byClick(kCat);
    CatPuzzle(byKey);
    CatPuzzle(byClick);
    for (int i = 0; i < block; ++i) Press(*byKey.form, VK_RIGHT);
    Press(*byKey.form, VK_RETURN);
    TfWrdCnst& c = *byClick.form;
    c.imgBackMouseUp(toolkit::TMouseButton::mbLeft, 0, c.FBlockX[block] + 2, c.FBlockY[block] + 2);
    const TfWrdCnst& k = *byKey.form;
    EXPECT_EQ(Chosen(k), block);
    EXPECT_EQ(k.FPlacing, c.FPlacing);
    EXPECT_EQ(k.FRejecting, c.FRejecting);
    EXPECT_EQ(k.FGapPos, c.FGapPos);
    EXPECT_EQ(k.FTargetX, c.FTargetX);
    EXPECT_EQ(k.FBlockColor, c.FBlockColor);
    EXPECT_EQ(k.Timer1->Enabled(), c.Timer1->Enabled());
  }
}

TEST(Keyboard, EnterWithoutAHighlightChoosesNothing) {
  TScriptedGame game(kCat);
  CatPuzzle(game);
  Press(*game.form, VK_RETURN);
  EXPECT_EQ(Chosen(*game.form), 0);
}

TEST(Keyboard, TypedLettersChooseTheFirstUnplacedBlockWithThatText) {
  struct Case {
    const char* what;
    bool blends;
    std::vector<std::pair<char, std::uint32_t>> typed;  // letter, milliseconds
    int chosen;
  };
  const Case cases[] = {
      {"a single letter", false, {{'T', 0}}, 6},
      {"the first of two alike", false, {{'B', 0}}, 1},
      {"a letter no block shows", false, {{'Q', 0}}, 0},
      {"a blend typed in time", true, {{'C', 0}, {'K', 1500}}, 3},
      {"a blend typed too slowly", true, {{'C', 0}, {'K', 1501}}, 0},
      {"a first letter alone chooses nothing", true, {{'F', 0}}, 0},
      {"a slip before a blend", true, {{'C', 0}, {'B', 100}, {'L', 200}}, 2},
      {"a letter that begins no blend", true, {{'X', 0}, {'F', 10}, {'R', 20}}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TScriptedGame game(c.blends ? kBlends : kCat);
    TfWrdCnst& f = *game.form;
    c.blends ? FrogPuzzle(game) : CatPuzzle(game);
    std::uint32_t now = 0;
    f.Now = [&] { return now; };
    for (const auto& [letter, at] : c.typed) {
      now = 4000000000u + at;  // near the counter's wrap, which must not matter
      Press(f, static_cast<TKey>(letter));
    }
    EXPECT_EQ(Chosen(f), c.chosen);
  }
}

TEST(Keyboard, APlacedBlockCannotBeTypedButItsTwinCan) {
  TScriptedGame game(kCat);
  TfWrdCnst& f = *game.form;
  CatPuzzle(game);
  f.FBlockX[1] = kPlacedX;
  Press(f, 'B');
  EXPECT_EQ(Chosen(f), 4);
}

TEST(Keyboard, DuringASequenceOnlyExitFullScreenAndSoundKeysAct) {
  TScriptedGame game(kCat);
  TfWrdCnst& f = *game.form;
  CatPuzzle(game);
  Press(f, VK_RIGHT);
  f.BlockChosen(2);
  ASSERT_TRUE(f.FRejecting);
  f.DBMediaPlayer3->Stop();
  for (TKey key : {VK_RIGHT, VK_LEFT, VK_RETURN, VK_SPACE, TKey('T'), TKey('C')}) {
    Press(f, key);
    EXPECT_EQ(f.FSelected, 2) << key;
    EXPECT_EQ(f.FHighlight, 1) << key;
  }
  EXPECT_EQ(f.DBMediaPlayer3->Mode(), media::TMPModes::mpStopped) << "Space is ignored too";
  EndSequence(f);
  Press(f, VK_SPACE);
  EXPECT_EQ(f.DBMediaPlayer3->Mode(), media::TMPModes::mpPlaying) << "Space speaks the word";
}

TEST(Keyboard, AHeldKeyChoosesOnceButAHeldArrowRunsOn) {
  TScriptedGame game(kCat);
  TfWrdCnst& f = *game.form;
  CatPuzzle(game);
  Press(f, VK_RIGHT);
  Press(f, VK_RIGHT, ssRepeat);
  EXPECT_EQ(f.HighlightedBlock(), 2);
  for (TKey key : {VK_RETURN, VK_SPACE, TKey('T'), TKey('M'), VK_F11}) Press(f, key, ssRepeat);
  EXPECT_EQ(Chosen(f), 0);
  EXPECT_FALSE(media::SoundMuted());
  EXPECT_FALSE(f.Fullscreen());
}

TEST(Keyboard, EscapeDoesNothingAndCtrlQEndsTheGameAsExitDoes) {
  TScriptedGame game(kCat);
  TfWrdCnst& f = *game.form;
  CatPuzzle(game);
  Press(f, VK_ESCAPE);
  Press(f, 'Q');
  EXPECT_FALSE(game.app.Terminated());
  EXPECT_EQ(Chosen(f), 0);
  Press(f, 'Q', toolkit::ssCtrl);
  EXPECT_TRUE(game.app.Terminated());
}

TEST(Keyboard, EnterChoosesTheNextSignWhenItIsShown) {
  TScriptedGame game(kCat);
  TfWrdCnst& f = *game.form;
  CatPuzzle(game);
  Press(f, VK_RIGHT);
  f.FLevel = 4;
  f.imgNext->SetVisible(true);
  EXPECT_EQ(f.HighlightedBlock(), 0) << "Enter belongs to the sign now";
  game.script.assign({0, 1, 0, 0, 0, 0});  // a blend puzzle on a new building
  Press(f, VK_RETURN);
  EXPECT_TRUE(game.script.empty());
  EXPECT_EQ(f.FLevel, 1);
  EXPECT_FALSE(f.imgNext->Visible());
  EXPECT_EQ(Chosen(f), 0);
}

// Sound is one switch for the whole process; every test leaves it on.
struct TSoundOnAfter {
  ~TSoundOnAfter() { media::SetSoundMuted(false); }
};

TEST(Keyboard, TypedLettersNeverSwitchSound) {
  TSoundOnAfter restore;
  // No block is "m" in a blend puzzle: a child typing guesses there, before
  // and during a sequence, must not silence the game.
  TScriptedGame game(kBlends);
  TfWrdCnst& f = *game.form;
  FrogPuzzle(game);
  Press(f, 'M');
  EXPECT_FALSE(media::SoundMuted());
  EXPECT_EQ(Chosen(f), 0);
  f.BlockChosen(2);
  Press(f, 'M');
  EXPECT_FALSE(media::SoundMuted());
}

TEST(Keyboard, CtrlMAndTheSoundOffSignSwitchSound) {
  TSoundOnAfter restore;
  TScriptedGame game(kCat);
  TfWrdCnst& f = *game.form;
  game.Puzzle(kConsonantMode, {0, 2, 80, 2, 5, 9, 0, 0, 0});  // blocks m b c b b t
  ASSERT_FALSE(f.imgSoundOff->Visible());
  Press(f, 'M', toolkit::ssCtrl);
  EXPECT_TRUE(media::SoundMuted());
  EXPECT_TRUE(f.imgSoundOff->Visible());
  EXPECT_EQ(Chosen(f), 0);
  EXPECT_EQ(f.imgSoundOff->Cursor(), toolkit::crHandPoint);
  f.imgSoundOff->Click();
  EXPECT_FALSE(media::SoundMuted());
  EXPECT_FALSE(f.imgSoundOff->Visible());
  // M is the m block's letter; Ctrl+M switches during a sequence too.
  Press(f, 'M');
  EXPECT_EQ(Chosen(f), 1);
  EXPECT_FALSE(media::SoundMuted());
  Press(f, 'M', toolkit::ssCtrl);
  EXPECT_TRUE(media::SoundMuted());
}

}  // namespace
}  // namespace game
