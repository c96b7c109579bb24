// How the picture control paints and how the pointer moves what it shows:
// read back from the pixels it draws inside its border.
#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "dataset/field.h"
#include "media/picture_view.h"
#include "tests/media/media_fixture.h"
#include "toolkit/cursors.h"

namespace toolkit {
inline void PrintTo(const TPoint& p, std::ostream* os) { *os << "(" << p.X << ", " << p.Y << ")"; }
}  // namespace toolkit

namespace media::testing {
namespace {

using toolkit::TBitmap;
using toolkit::TColor;
using toolkit::TMouseButton;
using toolkit::TPoint;

constexpr TColor kRed{255, 0, 0};
constexpr TColor kWhite = toolkit::clWhite;
constexpr TColor kBlack = toolkit::clBlack;

// Each pixel's colour names its own coordinates, so the pixel on show tells
// which part of the picture is there.
TColor Coded(int x, int y) {
  return {static_cast<std::uint8_t>(x & 255), static_cast<std::uint8_t>(y & 255),
          static_cast<std::uint8_t>((x >> 8) | (y >> 8) << 4)};
}
TPoint Decode(TColor c) { return {c.r | (c.b & 15) << 8, c.g | (c.b >> 4) << 8}; }

bool SameImage(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if (!(a.Canvas().Pixel(x, y) == b.Canvas().Pixel(x, y))) return false;
  return true;
}

class PaintTest : public MediaTest {
 protected:
  void SetUp() override {
    MediaTest::SetUp();
    view = &form->Add<TDBPictureView>("DBPictureView1");
    view->SetBounds(10, 20, 265, 145);
    view->OnPaintArea = [this](int x, int y, int xx, int yy) { paintArea = {x, y, x + xx, y + yy}; };
  }
  // Binds the view to a table whose only record holds `blob`.
  void ShowBlob(const TBytes& blob) {
    const std::string name = "T" + std::to_string(++tables);
    MakeTable(dir, name, "Graphic", {{"a", blob}});
    bound = std::make_unique<TBoundTable>(dir, name);
    view->SetDataField("Graphic");
    view->SetDataSource(&bound->source);
  }
  void PaintNow() {
    screen.SetSize(form->ClientWidth(), form->ClientHeight(), toolkit::clAqua);
    view->Paint(screen.Canvas());
  }
  TColor Client(int x, int y) { return view->ClientImage().Canvas().Pixel(x, y); }

  TDBPictureView* view = nullptr;
  std::unique_ptr<TBoundTable> bound;
  TBitmap screen;
  toolkit::TRect paintArea{-9, -9, -9, -9};  // x, y, x + xx, y + yy as raised
  int tables = 0;
};

TEST_F(PaintTest, ASmallerPictureIsCentredOnTheOuterSize) {
  ShowBlob(SolidPng(100, 50, kRed));
  PaintNow();
  // (265 - 100) div 2 and (145 - 50) div 2, inside a client area of 263 x 143.
  EXPECT_EQ(view->CenterOffset(), (TPoint{82, 47}));
  EXPECT_EQ(paintArea, toolkit::Bounds(82, 47, 100, 50));
  EXPECT_EQ(Client(82, 47), kRed);
  EXPECT_EQ(Client(181, 96), kRed);
  for (auto [x, y] : {TPoint{81, 47}, TPoint{82, 46}, TPoint{182, 96}, TPoint{181, 97}, TPoint{0, 0},
                      TPoint{262, 142}})
    EXPECT_EQ(Client(x, y), kWhite) << x << "," << y;
  // The border, then the client area one pixel in.
  EXPECT_EQ(screen.Canvas().Pixel(10, 20), toolkit::clWindowFrame);
  EXPECT_EQ(screen.Canvas().Pixel(274, 164), toolkit::clWindowFrame);
  EXPECT_EQ(screen.Canvas().Pixel(11 + 82, 21 + 47), kRed);
  EXPECT_EQ(screen.Canvas().Pixel(275, 165), toolkit::clAqua);
}

TEST_F(PaintTest, ALargerPictureIsDraggedWithinItsEdges) {
  ShowBlob(MakePng(400, 300, Coded));
  view->SetCursor(toolkit::crHandPoint);
  PaintNow();
  EXPECT_EQ(Decode(Client(0, 0)), (TPoint{0, 0}));
  EXPECT_EQ(paintArea, toolkit::Bounds(0, 0, 265, 145));

  // Form coordinates; the control sits at (10, 20).
  form->MouseDown(TMouseButton::mbLeft, 110, 120, toolkit::ssLeft);
  ASSERT_TRUE(view->GrabScrolling());
  EXPECT_EQ(view->Cursor(), view->GrabHandCursor());
  EXPECT_EQ(toolkit::ScreenCursor(), view->GrabHandCursor());

  struct Step {
    int dx, dy;   // pointer movement
    TPoint origin;  // picture pixel at the top-left afterwards
  };
  const Step steps[] = {
      {-1, 0, {1, 0}},            // one pixel left shows one more picture column
      {0, -1, {1, 1}},
      {1, 1, {0, 0}},
      {-1000, -1000, {135, 155}},  // 400 - 265 and 300 - 145: the far edges
      {-1, -1, {135, 155}},
      {3, 0, {132, 155}},
      {5000, 5000, {0, 0}},
      {1, 1, {0, 0}},
  };
  int x = 110, y = 120;
  for (const Step& s : steps) {
    x += s.dx, y += s.dy;
    form->MouseMove(x, y, toolkit::ssLeft);
    EXPECT_EQ(view->ScrollOrigin(), s.origin) << s.dx << "," << s.dy;
    PaintNow();
    // One pixel in: the control has the focus, and its frame is on the edge.
    EXPECT_EQ(Decode(Client(1, 1)), (TPoint{s.origin.X + 1, s.origin.Y + 1}));
    const TPoint far = Decode(Client(261, 141));
    EXPECT_EQ(far, (TPoint{s.origin.X + 261, s.origin.Y + 141}));
    EXPECT_LT(far.X, 400);
    EXPECT_LT(far.Y, 300);
  }

  form->MouseUp(TMouseButton::mbLeft, x, y, 0);
  EXPECT_FALSE(view->GrabScrolling());
  EXPECT_EQ(view->Cursor(), toolkit::crHandPoint) << "the control's cursor comes back";
  EXPECT_EQ(toolkit::ScreenCursor(), toolkit::crDefault);
}

TEST_F(PaintTest, APictureThatFitsIsNotDragged) {
  ShowBlob(SolidPng(100, 50, kRed));
  view->SetCursor(toolkit::crHandPoint);
  int clicks = 0;
  view->OnClick = [&] { ++clicks; };
  form->MouseDown(TMouseButton::mbLeft, 110, 120, toolkit::ssLeft);
  EXPECT_FALSE(view->GrabScrolling());
  form->MouseMove(50, 50, toolkit::ssLeft);
  form->MouseUp(TMouseButton::mbLeft, 110, 120, 0);
  EXPECT_EQ(view->ScrollOrigin(), (TPoint{0, 0}));
  EXPECT_EQ(view->Cursor(), toolkit::crHandPoint);
  EXPECT_EQ(clicks, 1);
}

TEST_F(PaintTest, AnEmptyControlShowsTheFieldsLabelCentred) {
  struct Case {
    const char* label;  // null: the field's own name; "-": no field at all
    std::string caption;
  };
  const Case cases[] = {
      {nullptr, "(Graphic)"},
      {"Word picture", "(Word picture)"},
      {"", "(" + std::string(62, 'w')},  // cut to 63 characters
      {"-", "(DBPictureView1)"},
  };
  MakeTable(dir, "Blend", "Graphic", {{"a", SolidPng(10, 10, kRed)}});
  TBoundTable t(dir, "Blend");
  view->SetAutoDisplay(false);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.caption);
    const bool bound = std::string(c.label ? c.label : "") != "-";
    view->SetDataField(bound ? "Graphic" : "");
    view->SetDataSource(bound ? &t.source : nullptr);
    if (c.label && bound) {
      t.table.FieldByName("Graphic").SetDisplayLabel(*c.label ? c.label : std::string(70, 'w'));
    }
    PaintNow();

    TBitmap expected(263, 143, toolkit::clWindow);
    toolkit::TCanvas& e = expected.Canvas();
    e.Font = view->Font();
    e.Brush = {toolkit::clWindow, toolkit::TBrushStyle::bsSolid};
    const TPoint extent = e.TextExtent(c.caption);
    e.TextOut((263 - extent.X) / 2, (143 - extent.Y) / 2, c.caption);
    EXPECT_TRUE(SameImage(view->ClientImage(), expected));
  }
}

TEST_F(PaintTest, OneBitPicturesShrinkByTheBlitModeColourOnesPlainly) {
  // Top half: odd columns black; bottom half: even columns black. Shrunk to
  // half the width, each pixel on show covers one black and one white column.
  auto pattern = [](int x, int y) { return y < 4 ? x % 2 == 1 : x % 2 == 0; };
  struct Case {
    int bits;
    TBlitMode mode;
    TColor top, bottom;
  };
  const Case cases[] = {
      {1, sLight, kWhite, kBlack},     // the first of each pair
      {1, sDark, kBlack, kBlack},      // black wins
      {1, sLightest, kWhite, kWhite},  // white wins
      {24, sDark, kWhite, kBlack},     // colour pictures ignore the mode
      {24, sLightest, kWhite, kBlack},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bits) + " bits, mode " + std::to_string(c.mode));
    ShowBlob(MakeBmp(8, 8, c.bits, pattern));
    ASSERT_EQ(view->ContentInfo().Bits, c.bits);
    view->SetBounds(10, 20, 6, 10);  // a client area of 4 x 8
    view->SetStretch(true);
    view->SetBlitMode(c.mode);
    PaintNow();
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(Client(x, 1), c.top) << x;
      EXPECT_EQ(Client(x, 6), c.bottom) << x;
    }
    EXPECT_EQ(paintArea, toolkit::Bounds(0, 0, 8, 8));
  }
}

TEST_F(PaintTest, ClickingGivesTheFocusAndTheFocusFrame) {
  ShowBlob(SolidPng(100, 50, kRed));
  PaintNow();
  EXPECT_EQ(Client(0, 0), kWhite);
  form->MouseDown(TMouseButton::mbLeft, 110, 120, toolkit::ssLeft);
  form->MouseUp(TMouseButton::mbLeft, 110, 120, 0);
  EXPECT_EQ(form->ActiveControl(), view);
  PaintNow();
  for (auto [x, y] : {TPoint{0, 0}, TPoint{262, 142}, TPoint{131, 0}, TPoint{0, 71}})
    EXPECT_EQ(Client(x, y), toolkit::clWindowFrame) << x << "," << y;
  EXPECT_EQ(Client(1, 1), kWhite);

  form->SetActiveControl(nullptr);
  PaintNow();
  EXPECT_EQ(Client(0, 0), kWhite);

  // Without TabStop a click does not take the focus.
  view->TabStop = false;
  form->MouseDown(TMouseButton::mbLeft, 110, 120, toolkit::ssLeft);
  EXPECT_EQ(form->ActiveControl(), nullptr);
}

TEST_F(PaintTest, ChangingScrollingOrShowScrollbarsRaisesPictureChanged) {
  ShowBlob(SolidPng(100, 50, kRed));
  int changes = 0;
  view->OnPictureChanged = [&] { ++changes; };
  view->SetScrolling(false);
  EXPECT_EQ(changes, 1);
  EXPECT_FALSE(view->HorzScrollBar().Enabled);
  view->SetScrolling(true);
  view->SetShowScrollbars(true);
  view->SetShowScrollbars(false);
  EXPECT_EQ(changes, 4);
}

TEST_F(PaintTest, ScrollBarsShowOnlyForALargerPictureAndMoveTheOrigin) {
  ShowBlob(MakePng(400, 300, Coded));
  const TScrollBarModel& h = view->HorzScrollBar();
  const TScrollBarModel& v = view->VertScrollBar();
  const TScrollBarModel& corner = view->CornerPanel();
  using TPlace = std::array<int, 4>;  // left, top, width, height
  auto place = [](const TScrollBarModel& b) { return TPlace{b.Left, b.Top, b.Width, b.Height}; };
  view->Loaded();
  EXPECT_EQ(place(h), (TPlace{-1, -1, -1, -1}));
  EXPECT_FALSE(h.Visible || v.Visible || corner.Visible);

  view->SetShowScrollbars(true);
  EXPECT_EQ(place(v), (TPlace{253, 1, 12, 132}));
  EXPECT_EQ(place(h), (TPlace{1, 133, 252, 12}));
  EXPECT_EQ(place(corner), (TPlace{253, 133, 12, 12}));
  EXPECT_EQ(h.Max, 147);  // 400 - 265 + 12
  EXPECT_EQ(v.Max, 167);  // 300 - 145 + 12
  EXPECT_TRUE(h.TabStop);

  view->ScrollBarMoved(true, 147);
  view->ScrollBarMoved(false, 20);
  EXPECT_EQ(view->ScrollOrigin(), (TPoint{147, 20}));
  PaintNow();
  EXPECT_EQ(paintArea, toolkit::Bounds(0, 0, 253, 133));
  EXPECT_EQ(Decode(Client(0, 0)), (TPoint{147, 20}));
  EXPECT_EQ(Decode(Client(252, 132)), (TPoint{399, 152}));
  EXPECT_EQ(Client(254, 5), toolkit::clBtnFace) << "the vertical bar";

  // Hiding them pulls the origin back so no empty strip shows on the right:
  // d = 265 - (400 - 147) = 12, so 147 - 12 - 1.
  view->SetShowScrollbars(false);
  EXPECT_EQ(view->ScrollOrigin(), (TPoint{134, 20}));
  EXPECT_EQ(place(v), (TPlace{-1, -1, -1, -1}));

  view->SetShowScrollbars(true);
  view->SetStretch(true);
  PaintNow();
  EXPECT_FALSE(h.Visible) << "a stretched picture has no bars";
}

TEST_F(PaintTest, StretchRatioZoomsToFitAndGivesBackTheOldZoom) {
  ShowBlob(MakePng(400, 300, Coded));
  view->ScrollBarMoved(true, 40);  // no bars on show, but the origin moves
  view->SetStretch(true);
  view->SetStretchRatio(true);
  EXPECT_FALSE(view->Stretch());
  EXPECT_DOUBLE_EQ(view->ZoomFactor(), 145.0 / 300);
  EXPECT_EQ(view->ScrollOrigin(), (TPoint{0, 0}));
  PaintNow();
  // trunc(400 * 0.4833) = 193 wide, centred: (265 - 193) div 2.
  EXPECT_EQ(paintArea, toolkit::Bounds(36, 0, 193, 145));
  EXPECT_EQ(Client(35, 10), kWhite);
  EXPECT_EQ(Decode(Client(36, 0)), (TPoint{0, 0}));

  view->SetStretchRatio(false);
  EXPECT_DOUBLE_EQ(view->ZoomFactor(), 1.0);
  EXPECT_EQ(view->ScrollOrigin(), (TPoint{40, 0}));
  view->SetStretchRatio(true);
  view->SetStretch(true);
  EXPECT_FALSE(view->StretchRatio());
}

TEST_F(PaintTest, TheOverlayTextHasItsShadowTwoPixelsDownAndRight) {
  ShowBlob(SolidPng(100, 50, kWhite));
  view->SetText("Mm");
  view->SetTextLeft(4);
  view->SetTextTop(4);
  auto countOf = [&](TColor c) {
    int n = 0;
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 60; ++x) n += Client(x, y) == c;
    return n;
  };
  PaintNow();
  EXPECT_GT(countOf(kBlack), 0);
  EXPECT_EQ(countOf(kRed), 0);
  view->SetTextShadow(true);
  view->SetTextShadowColor(kRed);
  PaintNow();
  EXPECT_GT(countOf(kRed), 0);
  // Nothing of the shadow lies above or left of where its text starts.
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 60; ++x) {
      if (Client(x, y) == kRed) {
        EXPECT_TRUE(x >= 6 && y >= 6) << x << "," << y;
      }
    }
}

}  // namespace
}  // namespace media::testing
