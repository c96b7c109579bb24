#include "toolkit/graphics.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "toolkit/font_faces.h"

namespace {

using namespace toolkit;

struct InkBox {
  int left = 1 << 30, right = -1, top = 1 << 30, bottom = -1;
};

InkBox FindInk(const TBitmap& b, TColor background) {
  InkBox box;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x)
      if (b.Canvas().Pixel(x, y) != background) {
        box.left = std::min(box.left, x);
        box.right = std::max(box.right, x);
        box.top = std::min(box.top, y);
        box.bottom = std::max(box.bottom, y);
      }
  return box;
}

TFont MakeFont(const char* name, int height, bool bold) {
  TFont f;
  f.Name = name;
  f.Height = height;
  f.Bold = bold;
  return f;
}

// What the scene measures for hit tests must be where the glyphs land.
TEST(Canvas, TextIsDrawnWithinItsMeasuredExtentAndFillsIt) {
  struct Case {
    TFont font;
    const char* text;
  };
  TFont points28 = MakeFont("Times New Roman", 0, false);
  points28.SetSize(28);
  const Case cases[] = {
      {points28, "m"},
      {points28, "cat"},
      {MakeFont("Times New Roman", 48, true), "c__t"},
      {MakeFont("Comic Sans MS", 64, true), "Tam"},
      {MakeFont("MS Sans Serif", 13, true), "(c) 2026 The Tamblo developers"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TBitmap b(400, 120, clWhite);
    b.Canvas().Font = c.font;
    b.Canvas().Font.Color = clBlack;
    b.Canvas().Brush.Style = TBrushStyle::bsClear;
    const int x = 20, y = 10;
    b.Canvas().TextOut(x, y, c.text);
    TPoint extent = b.Canvas().TextExtent(c.text);
    InkBox ink = FindInk(b, clWhite);
    ASSERT_GE(ink.right, 0) << "nothing was drawn";
    EXPECT_GE(ink.left, x);
    EXPECT_LT(ink.right, x + extent.X);
    EXPECT_GE(ink.top, y);
    EXPECT_LT(ink.bottom, y + extent.Y);
    // Side bearings are a few pixels at most: the extent is not padded.
    const int slack = std::max(3, extent.Y / 8);
    EXPECT_LE(ink.left, x + slack);
    EXPECT_GE(ink.right, x + extent.X - 1 - slack);
    EXPECT_EQ(b.Canvas().TextWidth(c.text), extent.X);
  }
}

TEST(Canvas, OpaqueTextFillsExactlyItsExtentWithTheBrush) {
  TBitmap b(200, 80, clWhite);
  TCanvas& c = b.Canvas();
  c.Font.Name = "Times New Roman";
  c.Font.SetSize(28);
  c.Brush = {clAqua, TBrushStyle::bsSolid};
  c.TextOut(10, 5, "ab");
  TPoint e = c.TextExtent("ab");
  EXPECT_EQ(c.Pixel(10, 5), clAqua);
  EXPECT_EQ(c.Pixel(10 + e.X - 1, 5 + e.Y - 1), clAqua);
  EXPECT_EQ(c.Pixel(10 + e.X, 5), clWhite);
  EXPECT_EQ(c.Pixel(9, 5), clWhite);
  EXPECT_EQ(c.Pixel(10, 5 + e.Y), clWhite);
}

TEST(Canvas, FontSizesArePointsAt96Dpi) {
  struct Case {
    int points, pixels;
  };
  for (Case c : {Case{28, 37}, Case{36, 48}, Case{8, 11}, Case{10, 13}}) {
    TFont f;
    f.SetSize(c.points);
    EXPECT_EQ(f.Height, c.pixels) << c.points << " pt";
  }
}

TEST(Canvas, UnknownFamilyFallsBackToAnInstalledFace) {
  TFont f = MakeFont("No Such Family At All", 20, false);
  EXPECT_FALSE(ResolveFontFile(f).empty());
  TCanvas c;
  c.Font = f;
  EXPECT_GT(c.TextWidth("abc"), 0);
}

// The browser draws with the bundled files; they must be the faces the
// desktop draws with, or the two would set words differently.
TEST(Canvas, BundledFontsAreTheFacesTheDesktopPicks) {
  for (const TBundledFont& font : BundledFonts()) {
    const std::string family = *font.family ? font.family : "No Such Family At All";
    SCOPED_TRACE(family + (font.bold ? " bold" : ""));
    const TFontFace desktop = ResolveFace(family, font.bold, TFontPitch::fpDefault);
    EXPECT_EQ(desktop.file.filename(), font.file);
    EXPECT_EQ(desktop.bold, font.bold);
    const TFontFace bundled = BundledFace(family, font.bold, "/page/fonts");
    EXPECT_EQ(bundled.file, std::filesystem::path("/page/fonts") / font.file);
    EXPECT_EQ(bundled.bold, font.bold);
  }
  EXPECT_EQ(BundledFace("comic sans ms", true, "fonts").file, "fonts/ComicNeue-Bold.otf");
  EXPECT_EQ(BundledFace("", false, "fonts").file, "fonts/DejaVuSans.ttf");
}

// Every pixel differs from its neighbours, so any misplaced pixel shows.
void FillPattern(TBitmap& b, int w, int h) {
  b.SetSize(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      b.Canvas().SetPixel(x, y, {static_cast<std::uint8_t>(x * 7), static_cast<std::uint8_t>(y * 13),
                                 static_cast<std::uint8_t>(x ^ y)});
}

TEST(Canvas, BlockCopiesArePixelExactAndTouchNothingElse) {
  TBitmap source;
  FillPattern(source, 30, 20);
  struct Case {
    const char* what;
    int destX, destY;
    TRect src;  // empty: the whole bitmap through Draw
  };
  const Case cases[] = {
      {"whole bitmap", 5, 7, {}},
      {"inner rectangle", 40, 3, Rect(4, 2, 20, 15)},
      {"clipped at the right edge", 90, 50, Rect(0, 0, 30, 20)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TBitmap dest(100, 60, clAqua);
    TRect src = c.src.Width() ? c.src : Rect(0, 0, source.Width(), source.Height());
    if (c.src.Width())
      dest.Canvas().CopyRect(Bounds(c.destX, c.destY, src.Width(), src.Height()), source.Canvas(), src);
    else
      dest.Canvas().Draw(c.destX, c.destY, source);
    for (int y = 0; y < dest.Height(); ++y)
      for (int x = 0; x < dest.Width(); ++x) {
        int sx = x - c.destX + src.Left, sy = y - c.destY + src.Top;
        bool inside = src.Contains(sx, sy);
        TColor expected = inside ? source.Canvas().Pixel(sx, sy) : clAqua;
        ASSERT_EQ(dest.Canvas().Pixel(x, y), expected) << "at " << x << "," << y;
      }
  }
}

TEST(Canvas, FillRectFillsTheRectangleClippedToTheCanvasAndNothingElse) {
  struct {
    TRect rect;
    TRect filled;  // empty when nothing is
  } cases[] = {
      {Rect(1, 2, 4, 5), Rect(1, 2, 4, 5)},
      {Rect(-3, -2, 2, 1), Rect(0, 0, 2, 1)},
      {Rect(5, 4, 20, 20), Rect(5, 4, 7, 6)},
      {Rect(-5, -5, 20, 20), Rect(0, 0, 7, 6)},
      {Rect(8, 0, 12, 6), Rect(0, 0, 0, 0)},
      {Rect(3, 3, 3, 5), Rect(0, 0, 0, 0)},
      {Rect(4, 3, 2, 5), Rect(0, 0, 0, 0)},
  };
  for (const auto& c : cases) {
    TBitmap b;
    b.SetSize(7, 6);
    b.Canvas().Brush.Color = clWhite;
    b.Canvas().FillRect(Rect(0, 0, 7, 6));
    b.Canvas().Brush.Color = clRed;
    b.Canvas().FillRect(c.rect);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 7; ++x) {
        const bool inside = x >= c.filled.Left && x < c.filled.Right && y >= c.filled.Top && y < c.filled.Bottom;
        EXPECT_EQ(b.Canvas().Pixel(x, y), inside ? clRed : clWhite)
            << c.rect.Left << "," << c.rect.Top << "-" << c.rect.Right << "," << c.rect.Bottom << " at " << x << "," << y;
      }
  }
}

TEST(Canvas, LinesAreOnePixelWideAndLeaveOutTheEndPoint) {
  TBitmap b(10, 10, clAqua);
  b.Canvas().MoveTo(3, 0);
  b.Canvas().LineTo(3, 5);
  for (int y = 0; y < 10; ++y) {
    EXPECT_EQ(b.Canvas().Pixel(3, y), y < 5 ? clBlack : clAqua) << "row " << y;
    EXPECT_EQ(b.Canvas().Pixel(2, y), clAqua);
    EXPECT_EQ(b.Canvas().Pixel(4, y), clAqua);
  }
}

TEST(Bitmap, MissingPictureFileIsNamedInTheError) {
  TBitmap b;
  try {
    b.LoadFromFile("/nonexistent/crane.svg", 10, 10, clAqua);
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/crane.svg"), std::string::npos) << e.what();
  }
}

}  // namespace
