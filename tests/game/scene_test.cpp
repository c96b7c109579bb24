// The scene as pixels, and the pointer over the letter blocks.

#include <SDL.h>
#include <gtest/gtest.h>

#include "tests/game/game_fixture.h"
#include "tests/support/pointer_events.h"

namespace game {
namespace {

using testing::TScriptedGame;
using toolkit::TBitmap;
using toolkit::TCanvas;

// Whether the scene shows `picture` opaquely with its top-left at x, y, as far
// as the scene reaches (the ground floor runs past its bottom edge).
bool Shows(const TCanvas& scene, const TBitmap& picture, int x, int y, int sceneHeight = 248) {
  for (int py = 0; py < picture.Height() && y + py < sceneHeight; ++py)
    for (int px = 0; px < picture.Width(); ++px)
      if (scene.Pixel(x + px, y + py) != picture.Canvas().Pixel(px, py)) return false;
  return true;
}

bool Aqua(const TCanvas& scene, int x, int y, int w, int h, int sceneHeight = 248) {
  for (int py = y; py < y + h && py < sceneHeight; ++py)
    for (int px = x; px < x + w; ++px)
      if (scene.Pixel(px, py) != toolkit::clAqua) return false;
  return true;
}

TEST(Scene, FloorsShowTheirGirdersAndGrowingFacades) {
  TScriptedGame game;
  TfWrdCnst& f = *game.form;
  const TCanvas& scene = f.imgWork->Canvas();
  const TBitmap& girder = f.Girder1->Picture();
  constexpr int kCells[] = {8, 72, 136, 200};
  struct Case {
    int level, facades, girders;
    // Per floor row (y 208, 144, 80, 16): 'F' facade of that floor, 'G' girder, '.' aqua.
    const char* rows[4];
  };
  const Case cases[] = {
      {1, 0, 1, {"GGGG", "....", "....", "...."}},  // the ground floor always shows four
      {2, 2, 3, {"FFGG", "GGG.", "....", "...."}},
      {3, 4, 1, {"FFFF", "FFFF", "G...", "...."}},
      {4, 1, 4, {"FFFF", "FFFF", "FGGG", "...."}},  // complete: no row above
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    f.FLevel = c.level;
    f.FFacadeCount = c.facades;
    f.FGirderCount = c.girders;
    f.FBlockCount = 0;
    f.FShownWord.clear();
    f.FHookX = 400;
    f.FHookY = 0;
    f.ComposeScene();
    for (int row = 0; row < 4; ++row) {
      const int y = 208 - 64 * row;
      for (int cell = 0; cell < 4; ++cell) {
        SCOPED_TRACE(::testing::Message() << "row " << row << " cell " << cell);
        const int x = kCells[cell];
        switch (c.rows[row][cell]) {
          case 'F': EXPECT_TRUE(Shows(scene, f.build[row]->Picture(), x, y)); break;
          case 'G': EXPECT_TRUE(Shows(scene, girder, x, y)); break;
          default: EXPECT_TRUE(Aqua(scene, x, std::max(y, 0), 64, 64 + std::min(y, 0))); break;
        }
      }
    }
  }
}

TEST(Scene, CableHookWordAndBlocks) {
  TScriptedGame game;
  TfWrdCnst& f = *game.form;
  game.Puzzle(kShortVowelMode, {0, 0, 1, 1, 1, 1, 1});
  f.FHookX = 100;
  f.FHookY = 50;
  f.FBlockX[2] = kPlacedX;
  f.ComposeScene();
  const TCanvas& scene = f.imgWork->Canvas();
  for (int y = 0; y < 50; ++y) EXPECT_EQ(scene.Pixel(103, y), toolkit::clBlack) << y;
  EXPECT_TRUE(Shows(scene, f.imgHook->Picture(), 100, 50));
  // The word and the offered blocks are drawn; the placed block is not.
  EXPECT_FALSE(Aqua(scene, f.FWordX, f.FWordY, 60, 30));
  EXPECT_FALSE(Aqua(scene, f.FBlockX[1], f.FBlockY[1], 20, 30));
  EXPECT_TRUE(Aqua(scene, 272 + 36, 180, 20, 30));
  // Shown in one copy: the visible scene is the composed one, top 246 rows.
  f.ShowScene();
  for (int y = 0; y < 246; y += 7)
    for (int x = 0; x < 481; x += 5) ASSERT_EQ(f.imgBack->Canvas().Pixel(x, y), scene.Pixel(x, y));
}

TEST(Pointer, AHandOverABlockButNotOnItsLeftOrTopEdge) {
  TScriptedGame game;
  TfWrdCnst& f = *game.form;
  game.Puzzle(kShortVowelMode, {0, 0, 1, 1, 1, 1, 1});
  f.ComposeScene();
  const int x = f.FBlockX[3], y = f.FBlockY[3];
  const toolkit::TPoint size = f.imgBack->Canvas().TextExtent(f.FBlockText[3]);
  struct Case {
    int x, y;
    toolkit::TCursor cursor;
  };
  const Case cases[] = {{x + 1, y + 1, toolkit::crHandPoint},
                        {x + size.X - 1, y + size.Y - 1, toolkit::crHandPoint},
                        {x, y + 5, toolkit::crArrow},
                        {x + 3, y, toolkit::crArrow},
                        {x + size.X, y + 5, toolkit::crArrow},
                        {x + 3, y + size.Y, toolkit::crArrow}};
  for (const Case& c : cases) {
    f.imgBackMouseMove(0, c.x, c.y);
    EXPECT_EQ(f.imgBack->Cursor(), c.cursor) << c.x - x << "," << c.y - y;
    EXPECT_EQ(f.BlockAt(c.x, c.y), c.cursor == toolkit::crHandPoint ? 3 : 0);
  }
  // During a sequence the pointer is an arrow and a release chooses nothing.
  f.FBuilding = true;
  f.imgBackMouseMove(0, x + 1, y + 1);
  EXPECT_EQ(f.imgBack->Cursor(), toolkit::crArrow);
  f.imgBackMouseUp(toolkit::TMouseButton::mbLeft, 0, x + 1, y + 1);
  EXPECT_EQ(f.FBlockColor[3], toolkit::clBlack);
  // A placed block shows no hand.
  f.FBuilding = false;
  f.FBlockX[3] = kPlacedX;
  f.imgBackMouseMove(0, kPlacedX + 1, y + 1);
  EXPECT_EQ(f.imgBack->Cursor(), toolkit::crArrow);
}

TEST(Pointer, AReleaseChoosesOnlyAShownUnplacedBlockInsideTheScene) {
  // "frog" as "__og" with blocks fr bl ck bl: slots 5 and 6 are not in use and
  // slot 5 starts at the scene's right edge.
  TScriptedGame game({{"Blend", {{"church"}, {"clock"}, {"frog"}}}});
  TfWrdCnst& f = *game.form;
  game.Puzzle(kBlendMode, {2, 0, 9, 0, 26, 0});
  f.ComposeScene();
  ASSERT_EQ(f.FBlockCount, 4);
  f.FBlockX[2] = kPlacedX;
  const int y = f.FBlockY[1] + 5;
  struct Case {
    const char* what;
    int x, y;
    int chosen;
  };
  // A drag keeps reporting to the scene, so a release anywhere reaches it.
  const Case cases[] = {
      {"on block 1", f.FBlockX[1] + 3, y, 1},
      {"just right of the scene, on unused slot 5", f.FBlockX[5] + 3, y, 0},
      {"far right, on unused slot 6", f.FBlockX[6] + 3, y, 0},
      {"left of the scene, on the placed block", kPlacedX + 3, y, 0},
      {"below the scene", f.FBlockX[1] + 3, f.imgBack->Height() + f.FBlockY[1], 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(f.BlockAt(c.x, c.y), c.chosen);
    f.imgBackMouseMove(0, c.x, c.y);
    EXPECT_EQ(f.imgBack->Cursor(), c.chosen ? toolkit::crHandPoint : toolkit::crArrow);
    f.imgBackMouseUp(toolkit::TMouseButton::mbLeft, 0, c.x, c.y);
    EXPECT_EQ(f.FRejecting || f.FPlacing ? f.FSelected : 0, c.chosen);
    f.FRejecting = f.FPlacing = false;
    f.Timer1->SetEnabled(false);
  }
}

using tamblo::testing::PushButton;
using tamblo::testing::PushClick;

TEST(Pointer, ADragFromTheSceneReleasedBesideItChoosesNothing) {
  TScriptedGame game({{"Blend", {{"church"}, {"clock"}, {"frog"}}}});
  TfWrdCnst& f = *game.form;
  f.OnActivate = nullptr;  // the puzzle is the test's own
  game.Puzzle(kBlendMode, {2, 0, 9, 0, 26, 0});
  game.app.WindowScale = 1;
  f.Show();
  SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
  const int top = f.imgBack->Top() + f.FBlockY[1] + 5;
  PushButton(f.WindowId(), SDL_MOUSEBUTTONDOWN, f.imgBack->Left() + 100, top);
  PushButton(f.WindowId(), SDL_MOUSEBUTTONUP, f.imgBack->Left() + f.FBlockX[5] + 3, top);
  game.app.ProcessMessages();
  EXPECT_FALSE(f.FRejecting || f.FPlacing) << "slot " << f.FSelected << " was chosen";
}


TEST(Pointer, AtEveryWindowScaleAClickFindsTheBlockItsLogicalPixelIsOn) {
  for (int scale : {1, 2, 3}) {
    SCOPED_TRACE("scale " + std::to_string(scale));
    TScriptedGame game;
    TfWrdCnst& f = *game.form;
    game.app.WindowScale = scale;
    f.OnActivate = nullptr;  // the puzzle is the test's own
    game.Puzzle(kShortVowelMode, {0, 0, 1, 1, 1, 1, 1});
    f.Show();
    ASSERT_EQ(f.WindowScale(), scale);
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    // Block 3's rectangle in window pixels: its edges are strict in logical
    // pixels, so every window pixel of an edge's square misses.
    const int left = (f.imgBack->Left() + f.FBlockX[3]) * scale;
    const int top = (f.imgBack->Top() + f.FBlockY[3]) * scale;
    const toolkit::TPoint size = f.BlockExtent(3);
    const int right = left + size.X * scale, bottom = top + size.Y * scale;
    struct Case {
      int x, y;
      bool hits;
    };
    const Case cases[] = {
        {left + scale, top + scale, true},
        {left + scale - 1, top + 5 * scale, false},
        {left + 5 * scale, top + scale - 1, false},
        {right - 1, bottom - 1, true},
        {right, top + 5 * scale, false},
        {left + 5 * scale, bottom, false},
    };
    for (const Case& c : cases) {
      PushClick(f.WindowId(), c.x, c.y);
      game.app.ProcessMessages();
      const bool hit = f.FRejecting || f.FPlacing;
      EXPECT_EQ(hit, c.hits) << "window point " << c.x - left << "," << c.y - top
                             << " from the block's corner";
      if (hit) {
        EXPECT_EQ(f.FSelected, 3);
      }
      f.FRejecting = f.FPlacing = false;
      f.Timer1->SetEnabled(false);
    }
  }
}

}  // namespace
}  // namespace game
