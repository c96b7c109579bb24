// The scene: composed off-screen from the state, shown in one copy, and the
// pointer's view of the letter blocks.

#include "game/wrdcnst_form.h"

namespace game {

using namespace toolkit;

namespace {

constexpr int kSceneWidth = 481;
constexpr int kSceneHeight = 248;
constexpr std::array kFloorY{208, 144, 80};
constexpr std::array kCellX{8, 72, 136, 200};

// Copies the picture into `count` cells of the row at y, stepping by its width.
void FillCells(TCanvas& canvas, const TBitmap& picture, int y, int count) {
  for (int i = 0; i < count; ++i) canvas.Draw(kCellX[0] + i * picture.Width(), y, picture);
}

}  // namespace

TFont SceneFont(int points) {
  TFont font;
  font.Name = "Times New Roman";
  font.SetSize(points);
  font.Color = clBlack;
  return font;
}

void TfWrdCnst::ComposeScene() {
  TCanvas& work = imgWork->Canvas();
  work.Brush.Color = clAqua;
  work.Brush.Style = TBrushStyle::bsSolid;
  work.FillRect(Rect(0, 0, imgWork->Width(), imgWork->Height()));
  imgBack->Canvas().Font = SceneFont(kBlockPoints);

  work.Font = SceneFont(kWordPoints);
  work.TextOut(FWordX, FWordY, FShownWord);

  work.Font = SceneFont(kBlockPoints);
  for (int i = 1; i <= FBlockCount; ++i) {
    work.Font.Color = FBlockColor[i];
    work.TextOut(FBlockX[i], FBlockY[i], FBlockText[i]);
  }
  // Later measurements use the font the blocks were drawn in, in black.
  work.Font.Color = clBlack;
  if (const int h = HighlightedBlock()) {
    // Two pixels wide, clear of the letters, so the block's colour still shows.
    const TPoint size = BlockExtent(h);
    work.Brush.Color = kHighlightColor;
    for (int inset = 0; inset < 2; ++inset)
      work.FrameRect(Rect(FBlockX[h] - 4 + inset, FBlockY[h] - 1 + inset,
                          FBlockX[h] + size.X + 4 - inset, FBlockY[h] + size.Y + 1 - inset));
  }

  work.Pen.Color = clBlack;
  work.MoveTo(FHookX + 3, 0);
  work.LineTo(FHookX + 3, FHookY);
  work.Draw(FHookX, FHookY, imgHook->Picture());

  const TBitmap& girder = Girder1->Picture();
  for (int floor = 1; floor <= 3; ++floor) {
    if (FLevel <= floor) continue;
    const int y = kFloorY[floor - 1];
    FillCells(work, girder, y, 4);
    const int facades = FLevel == floor + 1 ? FFacadeCount : 4;
    FillCells(work, build[floor - 1]->Picture(), y, facades);
  }
  if (FLevel < 4 && FGirderCount > 0)
    FillCells(work, girder, 272 - 64 * FLevel, FLevel == 1 ? 4 : FGirderCount);
}

void TfWrdCnst::ShowScene() {
  imgBack->Canvas().CopyRect(Rect(0, 0, kSceneWidth, kSceneHeight), imgWork->Canvas(),
                             Rect(0, 0, kSceneWidth, kSceneHeight));
}

toolkit::TPoint TfWrdCnst::BlockExtent(int block) const {
  // Measured in the blocks' own font whatever imgBack's canvas holds just
  // now: a puzzle being set up measures its word there in the word's font.
  TCanvas measure;
  measure.Font = SceneFont(kBlockPoints);
  return measure.TextExtent(FBlockText[block]);
}

int TfWrdCnst::BlockAt(int x, int y) const {
  // The form keeps sending a drag's pointer to the control it began on: a
  // release beside the scene would otherwise reach slots that lie past its
  // edge, or placed blocks parked to its left.
  if (x < 0 || y < 0 || x >= imgBack->Width() || y >= imgBack->Height()) return 0;
  for (int i = 1; i <= FBlockCount; ++i) {
    if (!Unplaced(i)) continue;
    const TPoint size = BlockExtent(i);
    // Strict on every edge: a pointer on the rectangle's border is not on it.
    if (FBlockX[i] < x && x < FBlockX[i] + size.X && FBlockY[i] < y && y < FBlockY[i] + size.Y)
      return i;
  }
  return 0;
}

void TfWrdCnst::imgBackMouseMove(TShiftState, int x, int y) {
  imgBack->SetCursor(!Busy() && BlockAt(x, y) ? crHandPoint : crArrow);
}

void TfWrdCnst::imgBackMouseUp(TMouseButton, TShiftState, int x, int y) {
  if (Busy()) return;
  // Any button chooses.
  if (const int block = BlockAt(x, y)) BlockChosen(block);
}

}  // namespace game
