// The readers decode every format to the source's pixels at each depth and
// obey the progress callback.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "media/picturelib/core/entries.h"
#include "media/picturelib/core/errors.h"
#include "media/picturelib/core/reduce.h"
#include "testing/picturelib_samples.h"
#include "tests/media/picturelib_checks.h"

namespace picturelib {
namespace {

// Header fields every block a reader makes has.
void ExpectPlainBlock(const img_dib* dib, int bits) {
  const DibRef d = InspectDib(dib);
  EXPECT_EQ(d.bits, bits);
  EXPECT_EQ(d.compression, 0);
  EXPECT_FALSE(d.topDown);
  EXPECT_EQ(Le32(dib->bytes + IMG_DIB_OFF_XPELS), 2953u);
  EXPECT_EQ(Le32(dib->bytes + IMG_DIB_OFF_YPELS), 2953u);
  EXPECT_EQ(Le32(dib->bytes + IMG_DIB_OFF_IMAGE_SIZE), d.rowSize * static_cast<std::size_t>(d.height));
}

TEST(PicturelibReaders, DecodeEveryFormatToItsPixels) {
  const Picture ramp = samples::Ramp(7, 5), few = samples::Few(9, 4, 5), two = samples::Few(10, 3, 2);
  const Picture smooth = samples::Ramp(24, 16);
  Picture grey = few;
  for (Rgb& c : grey.px) c = {c.r, c.r, c.r};
  const struct {
    const char* label;
    Kind kind;
    Bytes_ bytes;
    Picture expected;
    int tolerance;
  } cases[] = {
      {"png", Kind::Png, samples::Png(ramp), ramp, 0},
      // Colour is stored at half resolution: single pixels drift, the mean does not.
      {"jpeg", Kind::Jpeg, samples::Jpeg(smooth), smooth, 40},
      {"gif", Kind::Gif, samples::Gif(few), few, 0},
      {"bmp 24", Kind::Bmp, samples::Bmp24(ramp), ramp, 0},
      {"bmp 24 top-down", Kind::Bmp, samples::BmpOf(samples::ToDib(ramp, 24, true).get()), ramp, 0},
      {"bmp 8", Kind::Bmp, samples::BmpOf(samples::ToDib(few, 8).get()), few, 0},
      {"bmp 4", Kind::Bmp, samples::BmpOf(samples::ToDib(few, 4).get()), few, 0},
      {"bmp 1", Kind::Bmp, samples::BmpOf(samples::ToDib(two, 1).get()), two, 0},
      {"bmp core header", Kind::Bmp, samples::BmpCore(few), few, 0},
      {"pcx 8", Kind::Pcx, samples::Pcx(few, false), few, 0},
      {"pcx 24", Kind::Pcx, samples::Pcx(ramp, true), ramp, 0},
      {"tga 24", Kind::Tga, samples::Tga(ramp, 2), ramp, 0},
      {"tga rle", Kind::Tga, samples::Tga(ramp, 10), ramp, 0},
      {"tga mapped", Kind::Tga, samples::Tga(few, 1), few, 0},
      {"tga grey", Kind::Tga, samples::Tga(grey, 3), grey, 0},
      {"tiff little-endian", Kind::Tiff, samples::Tiff({ramp}, false), ramp, 0},
      {"tiff big-endian", Kind::Tiff, samples::Tiff({ramp}, true), ramp, 0},
      {"tiff lzw", Kind::Tiff, samples::TiffCoded(ramp, 5), ramp, 0},
      {"tiff packbits", Kind::Tiff, samples::TiffCoded(few, 32773), few, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Owned dib = ReadOk(c.kind, c.bytes, 24);
    ASSERT_TRUE(dib);
    ExpectPlainBlock(dib.get(), 24);
    EXPECT_LE(Difference(samples::FromDib(dib.get()), c.expected), c.tolerance);
    EXPECT_LE(MeanDifference(samples::FromDib(dib.get()), c.expected), 5.0);
  }
}

TEST(PicturelibReaders, RunLengthBmpDecodes) {
  // The run-length sample's bottom row is index 5 three times, then index 0.
  Owned dib = ReadOk(Kind::Bmp, samples::BmpOf(samples::Rle8Block().get()), 24);
  ASSERT_TRUE(dib);
  const Picture p = samples::FromDib(dib.get());
  const DibPtr block = samples::Rle8Block();
  const DibRef source = InspectDib(block.get());
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(p.At(x, y), source.Colour(samples::kRle8Expected[y][x])) << x << "," << y;
}

TEST(PicturelibReaders, TiffPageIsTheOneAskedFor) {
  const Picture first = samples::Ramp(4, 3), second = samples::Few(6, 2, 3);
  const Bytes_ tiff = samples::Tiff({first, second}, true);
  Owned dib = ReadOk(Kind::Tiff, tiff, 24, false, 2);
  ASSERT_TRUE(dib);
  EXPECT_EQ(Difference(samples::FromDib(dib.get()), second), 0);
  img_dib* out = nullptr;
  EXPECT_EQ(Read(Kind::Tiff, tiff, 24, false, &out, nullptr, nullptr, 3), kErrNoSuchPage);
  EXPECT_EQ(out, nullptr);
}

// Each directory of the sample TIFF (nine entries each) with its link to the
// next one replaced by `link(index, offsets)`.
Bytes_ TiffLinked(const std::vector<Picture>& pages, uint32_t (*link)(std::size_t, const std::vector<uint32_t>&)) {
  Bytes_ b = samples::Tiff(pages, false);
  std::vector<uint32_t> ifds;
  for (uint32_t at = Le32(b.data() + 4); at != 0; at = Le32(b.data() + at + 2 + 9 * 12)) ifds.push_back(at);
  for (std::size_t i = 0; i < ifds.size(); ++i) PutLe32(b.data() + ifds[i] + 2 + 9 * 12, link(i, ifds));
  return b;
}

TEST(PicturelibReaders, TiffChainThatLoopsBackReadsUpToTheLoop) {
  const Picture first = samples::Ramp(4, 3), second = samples::Few(6, 2, 3);
  const struct {
    const char* label;
    Bytes_ bytes;
    int pages;
  } cases[] = {
      {"one page linking to itself", TiffLinked({first}, [](std::size_t, const std::vector<uint32_t>& ifds) {
         return ifds[0];
       }),
       1},
      {"second page linking back to the first",
       TiffLinked({first, second},
                  [](std::size_t i, const std::vector<uint32_t>& ifds) { return i == 0 ? ifds[1] : ifds[0]; }),
       2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    int16_t pages = 0;
    ASSERT_EQ(entries::getinfostream(c.bytes.data(), static_cast<int32_t>(c.bytes.size()), 1, nullptr, nullptr,
                                     nullptr, nullptr, &pages, nullptr),
              1);
    EXPECT_EQ(pages, c.pages);
    for (int page = 1; page <= c.pages; ++page) {
      Owned dib = ReadOk(Kind::Tiff, c.bytes, 24, false, page);
      ASSERT_TRUE(dib);
      EXPECT_EQ(Difference(samples::FromDib(dib.get()), page == 1 ? first : second), 0);
    }
  }
}

TEST(PicturelibReaders, TiffPagePastTheEndIsReportedAsTheLast) {
  // What the picture control asks first: the count to lower its page to.
  const Picture only = samples::Ramp(5, 4);
  const Bytes_ tiff = samples::Tiff({only}, false);
  int32_t width = 0, height = 0;
  int16_t pages = 0;
  ASSERT_EQ(entries::getinfostream(tiff.data(), static_cast<int32_t>(tiff.size()), 3, &width, &height, nullptr,
                                   nullptr, &pages, nullptr),
            1);
  EXPECT_EQ(pages, 1);
  EXPECT_EQ(width, 5);
  EXPECT_EQ(height, 4);
  Owned dib = ReadOk(Kind::Tiff, tiff, 24, false, pages);
  ASSERT_TRUE(dib);
  EXPECT_EQ(Difference(samples::FromDib(dib.get()), only), 0);
}

TEST(PicturelibReaders, TransparentPixelsShowOverWhite) {
  SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, 2, 1, 32, SDL_PIXELFORMAT_RGBA32);
  const uint8_t pixels[8] = {10, 20, 30, 255, 0, 0, 0, 0};  // opaque, then clear black
  std::memcpy(s->pixels, pixels, sizeof pixels);
  Bytes_ png(4096);
  SDL_RWops* rw = SDL_RWFromMem(png.data(), static_cast<int>(png.size()));
  ASSERT_EQ(IMG_SavePNG_RW(s, rw, 0), 0);
  png.resize(static_cast<std::size_t>(SDL_RWtell(rw)));
  SDL_RWclose(rw);
  SDL_FreeSurface(s);
  Owned dib = ReadOk(Kind::Png, png, 24);
  ASSERT_TRUE(dib);
  const Picture p = samples::FromDib(dib.get());
  EXPECT_EQ(p.At(0, 0), (Rgb{10, 20, 30}));
  EXPECT_EQ(p.At(1, 0), (Rgb{255, 255, 255}));
}

// Straight colour laid on white, rounded: the one rule for transparency.
Rgb OnWhite(int r, int g, int b, int a) {
  const auto over = [a](int c) { return static_cast<uint8_t>((c * a + 255 * (255 - a) + 127) / 255); };
  return {over(r), over(g), over(b)};
}
Rgb Grey(int v) { return OnWhite(v, v, v, 255); }

TEST(PicturelibReaders, EveryKindOfTransparencyIsLaidOnWhite) {
  using samples::PngParts;
  const std::vector<uint8_t> palette = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};
  const Rgb white{255, 255, 255}, c0{10, 20, 30}, c2{70, 80, 90}, c3{100, 110, 120};
  // The sample GIF of four colours with index 1 marked transparent.
  Bytes_ gif = samples::Gif(samples::Few(4, 1, 4));
  gif[13 + 768 + 3] |= 1;
  gif[13 + 768 + 6] = 1;
  const struct {
    const char* label;
    Kind kind;
    Bytes_ bytes;
    std::vector<Rgb> expected;  // one row
  } cases[] = {
      // Black is the hidden value, so every pixel shows white.
      {"png grey 1 with tRNS", Kind::Png, samples::PngOf({8, 1, 1, 0, {{0xB2}}, {}, {0, 0}}),
       std::vector<Rgb>(8, white)},
      {"png grey 2 with tRNS", Kind::Png, samples::PngOf({4, 1, 2, 0, {{0x1B}}, {}, {0, 2}}),
       {Grey(0), Grey(85), white, Grey(255)}},
      {"png grey 4 with tRNS", Kind::Png, samples::PngOf({4, 1, 4, 0, {{0x05, 0xAF}}, {}, {0, 5}}),
       {Grey(0), white, Grey(170), Grey(255)}},
      {"png grey 8 with tRNS", Kind::Png, samples::PngOf({4, 1, 8, 0, {{0, 85, 226, 255}}, {}, {0, 85}}),
       {Grey(0), white, Grey(226), Grey(255)}},
      {"png grey 16 with tRNS", Kind::Png,
       samples::PngOf({3, 1, 16, 0, {{0, 0, 0x55, 0x55, 0xAA, 0xAA}}, {}, {0x55, 0x55}}),
       {Grey(0), white, Grey(170)}},
      {"png palette with one hidden entry", Kind::Png,
       samples::PngOf({4, 1, 8, 3, {{0, 1, 2, 3}}, palette, {255, 0}}), {c0, white, c2, c3}},
      {"png palette with partial alpha", Kind::Png,
       samples::PngOf({4, 1, 8, 3, {{0, 1, 2, 3}}, palette, {255, 128, 0}}),
       {c0, OnWhite(40, 50, 60, 128), white, c3}},
      {"png palette 4 bits with tRNS", Kind::Png,
       samples::PngOf({4, 1, 4, 3, {{0x01, 0x23}}, palette, {255, 64}}), {c0, OnWhite(40, 50, 60, 64), c2, c3}},
      {"png rgb 8 with tRNS", Kind::Png, samples::PngOf({2, 1, 8, 2, {{1, 2, 3, 4, 5, 6}}, {}, {0, 4, 0, 5, 0, 6}}),
       {OnWhite(1, 2, 3, 255), white}},
      {"png rgb 16 with tRNS", Kind::Png,
       samples::PngOf({2, 1, 16, 2, {{1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6}}, {}, {4, 4, 5, 5, 6, 6}}),
       {OnWhite(1, 2, 3, 255), white}},
      {"png grey+alpha 8", Kind::Png, samples::PngOf({2, 1, 8, 4, {{100, 128, 200, 255}}, {}, {}}),
       {OnWhite(100, 100, 100, 128), Grey(200)}},
      {"png grey+alpha 16", Kind::Png, samples::PngOf({2, 1, 16, 4, {{100, 100, 128, 128, 7, 7, 0, 0}}, {}, {}}),
       {OnWhite(100, 100, 100, 128), white}},
      {"png rgba 8", Kind::Png, samples::PngOf({2, 1, 8, 6, {{10, 20, 30, 64, 1, 2, 3, 0}}, {}, {}}),
       {OnWhite(10, 20, 30, 64), white}},
      {"png rgba 16", Kind::Png,
       samples::PngOf({2, 1, 16, 6, {{10, 10, 20, 20, 30, 30, 64, 64, 1, 1, 2, 2, 3, 3, 255, 255}}, {}, {}}),
       {OnWhite(10, 20, 30, 64), OnWhite(1, 2, 3, 255)}},
      {"gif transparent index", Kind::Gif, gif, {Rgb{200, 30, 40}, white, Rgb{250, 250, 250}, Rgb{0, 0, 0}}},
      {"tiff rgb with unassociated alpha", Kind::Tiff,
       samples::TiffWithAlpha({10, 20, 30, 64, 200, 100, 50, 255, 1, 2, 3, 0}, 3, false),
       {OnWhite(10, 20, 30, 64), OnWhite(200, 100, 50, 255), white}},
      // Associated: the colour is stored already multiplied by alpha.
      {"tiff rgb with associated alpha", Kind::Tiff,
       samples::TiffWithAlpha({10, 20, 30, 64, 200, 100, 50, 255, 0, 0, 0, 0}, 3, true),
       {Rgb{201, 211, 221}, OnWhite(200, 100, 50, 255), white}},
      {"tiff grey with alpha", Kind::Tiff, samples::TiffWithAlpha({100, 128, 200, 255, 50, 0}, 1, false),
       {OnWhite(100, 100, 100, 128), Grey(200), white}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Owned dib = ReadOk(c.kind, c.bytes, 24);
    ASSERT_TRUE(dib);
    const Picture p = samples::FromDib(dib.get());
    ASSERT_EQ(p.w, static_cast<int>(c.expected.size()));
    for (int x = 0; x < p.w; ++x) {
      const Rgb got = p.At(x, 0), want = c.expected[static_cast<std::size_t>(x)];
      EXPECT_EQ(got, want) << "pixel " << x << ": " << int{got.r} << "," << int{got.g} << "," << int{got.b};
    }
  }
}

TEST(PicturelibReaders, DepthsBelowTrueColour) {
  const Picture few = samples::Few(9, 4, 5), two = samples::Few(8, 3, 2);
  const struct {
    const char* label;
    Kind kind;
    Bytes_ bytes;
    int depth;
    bool dither;
    int bits;
    uint32_t colours;  // table entries; 0 = at most 2^bits
    const Picture* exact;
  } cases[] = {
      // A 256-entry table fits 8 bits and is kept.
      {"gif at 8", Kind::Gif, samples::Gif(few), 8, false, 8, 256, &few},
      // Too many entries for 4 bits, but only 5 colours are used: kept exactly.
      {"gif at 4", Kind::Gif, samples::Gif(few), 4, false, 4, 5, &few},
      {"gif at 4 dithered", Kind::Gif, samples::Gif(few), 4, true, 4, 5, &few},
      {"two colours at 1", Kind::Png, samples::Png(two), 1, true, 1, 2, &two},
      {"ramp at 8", Kind::Png, samples::Png(samples::Ramp(40, 30)), 8, false, 8, 0, nullptr},
      {"ramp at 8 dithered", Kind::Jpeg, samples::Jpeg(samples::Ramp(40, 30)), 8, true, 8, 0, nullptr},
      {"ramp at 4", Kind::Tga, samples::Tga(samples::Ramp(40, 30), 2), 4, false, 4, 0, nullptr},
      {"ramp at 1 dithered", Kind::Bmp, samples::Bmp24(samples::Ramp(40, 30)), 1, true, 1, 2, nullptr},
      {"vga", Kind::Pcx, samples::Pcx(samples::Ramp(40, 30), true), 0, false, 4, 16, nullptr},
      {"vga dithered", Kind::Tiff, samples::Tiff({samples::Ramp(40, 30)}, false), 0, true, 4, 16, nullptr},
      // 16 and 32 mean true colour.
      {"depth 32", Kind::Gif, samples::Gif(few), 32, false, 24, 0, &few},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Owned dib = ReadOk(c.kind, c.bytes, c.depth, c.dither);
    ASSERT_TRUE(dib);
    ExpectPlainBlock(dib.get(), c.bits);
    const DibRef d = InspectDib(dib.get());
    if (c.bits <= 8) {
      if (c.colours) {
        EXPECT_EQ(d.colours, c.colours);
      }
      EXPECT_LE(d.colours, 1u << c.bits);
      for (int32_t y = 0; y < d.height; ++y)
        for (int32_t x = 0; x < d.width; ++x) ASSERT_LT(IndexAt(d.Row(y), x, d.bits), d.colours);
    }
    if (c.exact) {
      EXPECT_EQ(Difference(samples::FromDib(dib.get()), *c.exact), 0);
    }
    if (c.depth == 0) {
      for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(d.Colour(i), VgaPalette()[i]);
    }
  }
}

TEST(PicturelibReaders, RefuseDepthsTheyDoNotMake) {
  const Bytes_ png = samples::Png(samples::Ramp(3, 3));
  for (int depth : {2, 3, 5, -1, 33}) {
    img_dib* out = nullptr;
    EXPECT_EQ(Read(Kind::Png, png, depth, false, &out), kErrBadDepth) << depth;
    EXPECT_EQ(out, nullptr);
  }
}

// Records every percent and cancels at the call numbered `cancelAt`.
struct Listener {
  std::vector<int> seen;
  int cancelAt = -1;
  static int Callback(uint16_t percent, void* control) {
    auto* self = static_cast<Listener*>(control);
    self->seen.push_back(percent);
    return static_cast<int>(self->seen.size()) - 1 == self->cancelAt ? 0 : 1;
  }
};

TEST(PicturelibReaders, ReportProgressFromStartToEnd) {
  const Bytes_ png = samples::Png(samples::Ramp(60, 40));
  for (int depth : {24, 8, 1}) {
    SCOPED_TRACE(depth);
    Listener l;
    img_dib* out = nullptr;
    ASSERT_EQ(Read(Kind::Png, png, depth, true, &out, Listener::Callback, &l), 1);
    std::free(out);
    ASSERT_GE(l.seen.size(), 2u);
    EXPECT_EQ(l.seen.front(), 0);
    EXPECT_EQ(l.seen.back(), 100);
    EXPECT_TRUE(std::is_sorted(l.seen.begin(), l.seen.end()));
  }
}

TEST(PicturelibReaders, ACallbackAnsweringZeroCancels) {
  const Bytes_ png = samples::Png(samples::Ramp(60, 40));
  Listener probe;
  img_dib* out = nullptr;
  ASSERT_EQ(Read(Kind::Png, png, 8, false, &out, Listener::Callback, &probe), 1);
  std::free(out);
  // At the first call, at the last, and somewhere in the reduction.
  for (int at : {0, static_cast<int>(probe.seen.size()) - 1, static_cast<int>(probe.seen.size()) / 2}) {
    SCOPED_TRACE(at);
    Listener l;
    l.cancelAt = at;
    out = reinterpret_cast<img_dib*>(&l);
    EXPECT_EQ(Read(Kind::Png, png, 8, false, &out, Listener::Callback, &l), kErrCancelled);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(static_cast<int>(l.seen.size()), at + 1);  // nothing after the refusal
  }
}

TEST(PicturelibReaders, ReadersOfOtherFormatsAreNotAvailable) {
  const Bytes_ bytes(64, 'x');
  const auto n = static_cast<int32_t>(bytes.size());
  img_dib* out = reinterpret_cast<img_dib*>(&out);
  EXPECT_EQ(entries::readepsfiledibstream(bytes.data(), n, 24, 0, &out, nullptr, nullptr, nullptr, 0),
            kErrNotAvailable);
  EXPECT_EQ(out, nullptr);
  out = reinterpret_cast<img_dib*>(&out);
  EXPECT_EQ(entries::readpcdfiledibstream(bytes.data(), n, 24, 0, 1, &out, nullptr, nullptr, 0), kErrNotAvailable);
  EXPECT_EQ(out, nullptr);
  void* bitmap = &out;
  void* palette = &out;
  EXPECT_EQ(entries::readdxftoddbstream(bytes.data(), n, 24, 0, &bitmap, &palette, nullptr, nullptr, 0),
            kErrNotAvailable);
  EXPECT_EQ(bitmap, nullptr);
  EXPECT_EQ(palette, nullptr);
  int32_t w = 0, h = 0;
  int16_t bits = 0;
  EXPECT_EQ(entries::getdxfinfostream(bytes.data(), n, &w, &h, &bits), kErrNotAvailable);
  char text[80];
  entries::errortext(static_cast<uint16_t>(kErrNotAvailable), text, sizeof text);
  EXPECT_STREQ(text, "Reader not available in this build");
}

}  // namespace
}  // namespace picturelib
