#include "toolkit/presentation.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace toolkit;

TEST(FitScale, TakesTheLargestWholeScaleThatFitsAndNeverLessThanOne) {
  struct Case {
    int width, height, areaWidth, areaHeight, scale;
  };
  const Case cases[] = {
      {632, 456, 1920, 1080, 2},  // a laptop: the height decides
      {632, 456, 3840, 2160, 4},  // a classroom panel
      {632, 456, 1264, 912, 2},   // exactly twice
      {632, 456, 1263, 912, 1},   // one pixel short of it
      {472, 336, 1920, 1080, 3},  // the splash
      {632, 456, 600, 400, 1},    // a display smaller than the window
      {632, 456, 0, 0, 1},        // no display bounds known
      {0, 0, 1920, 1080, 1},      // nothing to show
  };
  for (const Case& c : cases)
    EXPECT_EQ(FitScale(c.width, c.height, c.areaWidth, c.areaHeight), c.scale)
        << c.width << "x" << c.height << " in " << c.areaWidth << "x" << c.areaHeight;
}

TEST(Presentation, FitCentresTheMagnifiedPictureAndKeepsASmallWindowAtItsCorner) {
  const TPresentation full = TPresentation::Fit(632, 456, 1920, 1080);
  EXPECT_EQ(full.scale, 2);
  EXPECT_EQ(full.origin, (TPoint{(1920 - 1264) / 2, (1080 - 912) / 2}));
  const TPresentation exact = TPresentation::Fit(632, 456, 1896, 1368);
  EXPECT_EQ(exact.scale, 3);
  EXPECT_EQ(exact.origin, (TPoint{0, 0}));
  const TPresentation small = TPresentation::Fit(632, 456, 500, 300);
  EXPECT_EQ(small.scale, 1);
  EXPECT_EQ(small.origin, (TPoint{0, 0}));
}

TEST(Presentation, PointerPositionsMapToTheLogicalPixelTheyFallOn) {
  struct Case {
    int scale, originX, windowX, clientX;
  };
  const Case cases[] = {
      {1, 0, 0, 0},     {1, 0, 631, 631},  {2, 0, 0, 0},     {2, 0, 1, 0},
      {2, 0, 2, 1},     {2, 0, 1263, 631}, {3, 0, 2, 0},     {3, 0, 3, 1},
      {3, 0, 1895, 631},
      // In a margin: left of the picture is left of client 0, never on it.
      {2, 328, 327, -1}, {2, 328, 326, -1}, {2, 328, 325, -2}, {2, 328, 328, 0},
      {3, 12, 11, -1},   {3, 12, 9, -1},    {3, 12, 8, -2},
  };
  for (const Case& c : cases) {
    const TPresentation p{c.scale, {c.originX, c.originX}};
    EXPECT_EQ(p.ToClient(c.windowX, c.windowX), (TPoint{c.clientX, c.clientX}))
        << "scale " << c.scale << ", origin " << c.originX << ", window " << c.windowX;
  }
}

using SurfacePtr = std::unique_ptr<SDL_Surface, decltype(&SDL_FreeSurface)>;

SurfacePtr MakeSurface(int w, int h, Uint32 format) {
  return {SDL_CreateRGBSurfaceWithFormat(0, w, h, 32, format), SDL_FreeSurface};
}

TColor PixelOf(SDL_Surface* s, int x, int y) {
  Uint32 value = 0;
  SDL_LockSurface(s);
  value = static_cast<const Uint32*>(s->pixels)[y * (s->pitch / 4) + x];
  SDL_UnlockSurface(s);
  TColor c;
  SDL_GetRGB(value, s->format, &c.r, &c.g, &c.b);
  return c;
}

TEST(Present, RepeatsEveryPixelIntoAWholeSquareAndFillsTheMarginsOpaqueInEveryWindowFormat) {
  const TColor colours[2][2] = {{clRed, {0, 255, 0}}, {{0, 0, 255}, {255, 255, 0}}};
  const SurfacePtr picture = MakeSurface(2, 2, SDL_PIXELFORMAT_XRGB8888);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) {
      const SDL_Rect r{x, y, 1, 1};
      const TColor c = colours[y][x];
      SDL_FillRect(picture.get(), &r, SDL_MapRGB(picture->format, c.r, c.g, c.b));
    }
  const TPresentation how = TPresentation::Fit(2, 2, 9, 8);
  ASSERT_EQ(how.scale, 4);
  ASSERT_EQ(how.origin, (TPoint{0, 0}));
  // The back buffer's own layout, a browser canvas's (red and blue the other
  // way round, with or without alpha) and one only SDL's blit can convert to.
  for (Uint32 format : {SDL_PIXELFORMAT_XRGB8888, SDL_PIXELFORMAT_ABGR8888, SDL_PIXELFORMAT_XBGR8888,
                        SDL_PIXELFORMAT_RGBA8888}) {
    for (int scale : {1, 3}) {
      const SurfacePtr window = MakeSurface(9, 8, format);
      Present(picture.get(), window.get(), TPresentation{scale, {1, 1}}, clAqua);
      const int end = 1 + 2 * scale;
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 9; ++x) {
          const bool inside = x >= 1 && x < end && y >= 1 && y < end;
          const TColor expected = inside ? colours[(y - 1) / scale][(x - 1) / scale] : clAqua;
          EXPECT_EQ(PixelOf(window.get(), x, y), expected)
              << "format " << SDL_GetPixelFormatName(format) << " scale " << scale << " at " << x << "," << y;
        }
      // A window with alpha shows every pixel opaque.
      if (window->format->Amask != 0) {
        Uint8 r, g, b, a;
        SDL_GetRGBA(static_cast<const Uint32*>(window->pixels)[1 * (window->pitch / 4) + 1], window->format, &r, &g, &b, &a);
        EXPECT_EQ(a, 255) << SDL_GetPixelFormatName(format) << " scale " << scale;
      }
    }
  }
}

TEST(Present, ClipsAPictureLargerThanItsWindow) {
  const SurfacePtr picture = MakeSurface(4, 4, SDL_PIXELFORMAT_XRGB8888);
  SDL_FillRect(picture.get(), nullptr, SDL_MapRGB(picture->format, 255, 0, 0));
  const SurfacePtr window = MakeSurface(5, 3, SDL_PIXELFORMAT_XRGB8888);
  Present(picture.get(), window.get(), TPresentation{2, {0, 0}}, clAqua);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(PixelOf(window.get(), x, y), clRed) << x << "," << y;
}

}  // namespace
