// Blocks handed to the libraries: depth increases, run-length decoding,
// colour reduction, and the checks that refuse a block whose fields do not
// agree with each other or with its size. Also the small entries: error
// texts and the annotation layer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "media/picturelib/core/entries.h"
#include "media/picturelib/core/errors.h"
#include "media/picturelib/core/reduce.h"
#include "testing/picturelib_samples.h"

namespace picturelib {
namespace {

using samples::Picture;

struct Freed {
  void operator()(img_dib* d) const { std::free(d); }
};
using Owned = std::unique_ptr<img_dib, Freed>;

using Conversion = img_dib* (*)(const img_dib*, int16_t, int16_t, int32_t, int32_t, int32_t, void*, img_progress_fn);

Picture Quantised555(Picture p) {
  for (Rgb& c : p.px) {
    const auto q = [](uint8_t v) { return static_cast<uint8_t>((v >> 3) << 3 | (v >> 3) >> 2); };
    c = {q(c.r), q(c.g), q(c.b)};
  }
  return p;
}

TEST(PicturelibDib, DepthIncreasesKeepEveryPixel) {
  const Picture two = samples::Few(13, 5, 2), sixteen = samples::Few(13, 5, 16), ramp = samples::Ramp(13, 5);
  const struct {
    const char* label;
    Conversion convert;
    const Picture& picture;
    int from, to;
    bool topDown;
  } cases[] = {
      {"1 to 4", entries::DIB1to4, two, 1, 4, false},        {"1 to 8", entries::DIB1To8, two, 1, 8, false},
      {"1 to 24", entries::DIB1To24, two, 1, 24, true},      {"4 to 8", entries::DIB4To8, sixteen, 4, 8, false},
      {"4 to 24", entries::DIB4To24, sixteen, 4, 24, false}, {"8 to 24", entries::DIB8To24, sixteen, 8, 24, true},
      {"16 to 24", entries::DIB16To24, ramp, 16, 24, false}, {"32 to 24", entries::DIB32To24, ramp, 32, 24, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    DibPtr source = samples::ToDib(c.picture, c.from, c.topDown);
    Owned out(c.convert(source.get(), static_cast<int16_t>(c.to), 0, 0, 0, 0, nullptr, nullptr));
    ASSERT_TRUE(out);
    const DibRef d = InspectDib(out.get());
    EXPECT_EQ(d.bits, c.to);
    EXPECT_FALSE(d.topDown);
    EXPECT_EQ(d.compression, 0);
    EXPECT_EQ(Le32(out->bytes + IMG_DIB_OFF_XPELS), 2953u);
    // Palette depths keep the source's table.
    if (c.to <= 8) {
      EXPECT_EQ(d.colours, InspectDib(source.get()).colours);
    }
    const Picture expected = c.from == 16 ? Quantised555(c.picture) : c.picture;
    EXPECT_EQ(samples::FromDib(out.get()).px, expected.px);
  }
}

TEST(PicturelibDib, DepthIncreasesRefuseTheWrongSource) {
  DibPtr four = samples::ToDib(samples::Few(4, 4, 9), 4);
  EXPECT_EQ(entries::DIB8To24(four.get(), 24, 0, 0, 0, 0, nullptr, nullptr), nullptr);
  EXPECT_EQ(entries::DIB1To8(four.get(), 8, 0, 0, 0, 0, nullptr, nullptr), nullptr);
  EXPECT_EQ(entries::DIB32To24(nullptr, 24, 0, 0, 0, 0, nullptr, nullptr), nullptr);
}

void ExpectIndices(const img_dib* dib, const std::vector<std::vector<uint8_t>>& rows) {
  const DibRef d = InspectDib(dib);
  for (int32_t y = 0; y < d.height; ++y)
    for (int32_t x = 0; x < d.width; ++x)
      EXPECT_EQ(IndexAt(d.Row(y), x, d.bits), rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)])
          << x << "," << y;
}

TEST(PicturelibDib, RunLengthDecodesToPlainRows) {
  const struct {
    const char* label;
    DibPtr block;
    const std::vector<std::vector<uint8_t>>& expected;
  } cases[] = {{"rle8", samples::Rle8Block(), samples::kRle8Expected},
               {"rle4", samples::Rle4Block(), samples::kRle4Expected}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    img_dib* out = nullptr;
    void* palette = &out;
    ASSERT_EQ(entries::DibtoDdb(c.block.get(), &out, &palette), 1);
    Owned owned(out);
    EXPECT_EQ(palette, nullptr);
    const DibRef in = InspectDib(c.block.get()), d = InspectDib(out);
    EXPECT_EQ(d.compression, 0);
    EXPECT_EQ(d.bits, in.bits);
    ASSERT_EQ(d.colours, in.colours);
    EXPECT_EQ(std::memcmp(d.table, in.table, 4 * d.colours), 0);
    ExpectIndices(out, c.expected);
  }
}

TEST(PicturelibDib, RunLengthCodesThatOverreachAreClipped) {
  // Runs past the right edge, a move above the top, absolute pixels cut short.
  const struct {
    const char* label;
    int bits;
    std::vector<uint8_t> data;
    std::vector<std::vector<uint8_t>> expected;  // rows top first, 4 x 3
  } cases[] = {
      {"run past the edge", 8, {255, 3, 0, 0, 2, 4}, {{0, 0, 0, 0}, {4, 4, 0, 0}, {3, 3, 3, 3}}},
      {"move past the top", 8, {1, 1, 0, 2, 0, 200, 1, 2}, {{0, 0, 0, 0}, {0, 0, 0, 0}, {1, 0, 0, 0}}},
      {"absolute cut short", 8, {1, 9, 0, 5, 1, 2}, {{0, 0, 0, 0}, {0, 0, 0, 0}, {9, 0, 0, 0}}},
      {"no end code", 4, {3, 0x12}, {{0, 0, 0, 0}, {0, 0, 0, 0}, {1, 2, 1, 0}}},
      {"absolute past the edge",
       4,
       {0, 7, 0x12, 0x34, 0x56, 0x70, 0, 0, 1, 0xF0},
       {{0, 0, 0, 0}, {15, 0, 0, 0}, {1, 2, 3, 4}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    DibPtr block = samples::RunLengthBlock(c.bits, c.data, 16);
    img_dib* out = nullptr;
    ASSERT_EQ(entries::DibtoDdb(block.get(), &out, nullptr), 1);
    Owned owned(out);
    ExpectIndices(out, c.expected);
  }
}

TEST(PicturelibDib, ConversionsAcceptRunLengthBlocks) {
  const DibPtr block = samples::Rle8Block();
  Owned colour(entries::DIB8To24(block.get(), 24, 0, 0, 0, 0, nullptr, nullptr));
  ASSERT_TRUE(colour);
  const DibRef source = InspectDib(block.get());
  EXPECT_EQ(samples::FromDib(colour.get()).At(1, 1), source.Colour(2));
}

// ---- blocks that lie ----

std::vector<uint8_t> Patched(std::vector<uint8_t> b, std::size_t at, uint32_t v, int width = 4) {
  if (width == 2)
    PutLe16(&b.at(at), static_cast<uint16_t>(v));
  else
    PutLe32(&b.at(at), v);
  return b;
}

TEST(PicturelibDib, EveryEntryRefusesAnInconsistentBlock) {
  const std::vector<uint8_t> good = samples::DibBytes(samples::ToDib(samples::Few(6, 4, 9), 8).get());
  const std::vector<uint8_t> rle = samples::DibBytes(samples::Rle8Block().get());
  std::vector<uint8_t> shortRows = good;
  shortRows.resize(good.size() - 1);
  const struct {
    const char* label;
    std::vector<uint8_t> bytes;
    int code = kErrBadDib;
  } cases[] = {
      {"shorter than a header", std::vector<uint8_t>(good.begin(), good.begin() + 39)},
      {"header size 12", Patched(good, IMG_DIB_OFF_HEADER_SIZE, 12)},
      {"3 bits per pixel", Patched(good, IMG_DIB_OFF_BITS, 3, 2)},
      {"run-length 8 on 4 bits", Patched(Patched(good, IMG_DIB_OFF_BITS, 4, 2), IMG_DIB_OFF_COMPRESSION, 1)},
      {"bit masks", Patched(good, IMG_DIB_OFF_COMPRESSION, 3)},
      {"width 0", Patched(good, IMG_DIB_OFF_WIDTH, 0)},
      {"negative width", Patched(good, IMG_DIB_OFF_WIDTH, static_cast<uint32_t>(-6))},
      {"height 0", Patched(good, IMG_DIB_OFF_HEIGHT, 0)},
      {"most negative height", Patched(good, IMG_DIB_OFF_HEIGHT, 0x80000000u), kErrTooLarge},
      {"wider than the limit", Patched(good, IMG_DIB_OFF_WIDTH, 20000), kErrTooLarge},
      {"300 colours for 8 bits", Patched(good, IMG_DIB_OFF_CLR_USED, 300)},
      {"size field smaller than its rows", shortRows},
      {"image size smaller than its rows", Patched(good, IMG_DIB_OFF_IMAGE_SIZE, 4)},
      {"rows larger than the block", Patched(good, IMG_DIB_OFF_HEIGHT, 40)},
      {"colour table past the end", Patched(Patched(good, IMG_DIB_OFF_BITS, 24, 2), IMG_DIB_OFF_CLR_USED, 250)},
      {"run-length top-down", Patched(rle, IMG_DIB_OFF_HEIGHT, static_cast<uint32_t>(-3))},
      {"run-length data longer than the block", Patched(rle, IMG_DIB_OFF_IMAGE_SIZE, 5000)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    DibPtr dib = samples::DibOf(c.bytes);
    img_dib* out = reinterpret_cast<img_dib*>(&out);
    EXPECT_EQ(entries::DibtoDdb(dib.get(), &out, nullptr), c.code);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(entries::DIB8To24(dib.get(), 24, 0, 0, 0, 0, nullptr, nullptr), nullptr);
    EXPECT_EQ(entries::ReduceDib(dib.get(), 4, 1, 16, 0, 0, nullptr, nullptr), nullptr);
    std::vector<unsigned char> buffer(1 << 16);
    int32_t written = 0;
    EXPECT_EQ(entries::wrbmpstreamdib(dib.get(), 24, buffer.data(), static_cast<int32_t>(buffer.size()), &written,
                                      nullptr, nullptr),
              c.code);
  }
}

TEST(PicturelibDib, AcceptsTopDownAndATableBeforeTrueColour) {
  // 24-bit rows after a 3-entry table, stored top row first.
  const Picture ramp = samples::Ramp(5, 3);
  DibPtr plain = samples::ToDib(ramp, 24, true);
  std::vector<uint8_t> bytes = samples::DibBytes(plain.get());
  PutLe32(&bytes[IMG_DIB_OFF_CLR_USED], 3);
  bytes.insert(bytes.begin() + 40, 12, 0x55);
  DibPtr dib = samples::DibOf(bytes);
  img_dib* out = nullptr;
  ASSERT_EQ(entries::DibtoDdb(dib.get(), &out, nullptr), 1);
  Owned owned(out);
  EXPECT_EQ(samples::FromDib(out).px, ramp.px);
  EXPECT_FALSE(InspectDib(out).topDown);
}

// ---- colour reduction ----

std::set<uint32_t> UsedIndices(const img_dib* dib) {
  const DibRef d = InspectDib(dib);
  std::set<uint32_t> used;
  for (int32_t y = 0; y < d.height; ++y)
    for (int32_t x = 0; x < d.width; ++x) used.insert(IndexAt(d.Row(y), x, d.bits));
  return used;
}

double MeanError(const Picture& a, const Picture& b) {
  double sum = 0;
  for (std::size_t i = 0; i < a.px.size(); ++i)
    sum += std::abs(a.px[i].r - b.px[i].r) + std::abs(a.px[i].g - b.px[i].g) + std::abs(a.px[i].b - b.px[i].b);
  return sum / (3.0 * static_cast<double>(a.px.size()));
}

// Mean of 8x8 tiles: what the eye sees of a dithered picture.
double BlurredError(const Picture& a, const Picture& b) {
  double sum = 0;
  int tiles = 0;
  for (int ty = 0; ty + 8 <= a.h; ty += 8)
    for (int tx = 0; tx + 8 <= a.w; tx += 8) {
      int da[3] = {}, db[3] = {};
      for (int y = ty; y < ty + 8; ++y)
        for (int x = tx; x < tx + 8; ++x) {
          da[0] += a.At(x, y).r, da[1] += a.At(x, y).g, da[2] += a.At(x, y).b;
          db[0] += b.At(x, y).r, db[1] += b.At(x, y).g, db[2] += b.At(x, y).b;
        }
      for (int c = 0; c < 3; ++c) sum += std::abs(da[c] - db[c]) / 64.0;
      tiles += 3;
    }
  return sum / tiles;
}

TEST(PicturelibReduce, ManyColoursToEachDepth) {
  const Picture ramp = samples::Ramp(64, 48);
  const struct {
    int depth;
    bool dither;
    int sourceBits;
    double meanBound;     // per-pixel error
    double blurredBound;  // error of 8x8 averages
  } cases[] = {
      // Dithering trades a little per-pixel error for much less in the average.
      {8, false, 24, 5, 2}, {8, true, 24, 6, 1},      {4, false, 24, 20, 14},
      {4, true, 32, 25, 7}, {1, false, 24, 120, 100}, {1, true, 16, 130, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.depth << (c.dither ? " dithered" : "") << " from " << c.sourceBits);
    DibPtr source = samples::ToDib(ramp, c.sourceBits);
    Owned out(entries::ReduceDib(source.get(), static_cast<int16_t>(c.depth), c.dither, 1 << c.depth, 0, 0, nullptr,
                                 nullptr));
    ASSERT_TRUE(out);
    const DibRef d = InspectDib(out.get());
    EXPECT_EQ(d.bits, c.depth);
    EXPECT_GE(d.colours, 2u);
    EXPECT_LE(d.colours, 1u << c.depth);
    const std::set<uint32_t> used = UsedIndices(out.get());
    EXPECT_LT(*used.rbegin(), d.colours);
    const Picture got = samples::FromDib(out.get());
    Picture want = c.sourceBits == 16 ? Quantised555(ramp) : ramp;
    // Black and white can only keep the brightness.
    if (c.depth == 1) {
      for (Rgb& p : want.px) {
        const auto v = static_cast<uint8_t>((299 * p.r + 587 * p.g + 114 * p.b + 500) / 1000);
        p = {v, v, v};
      }
    }
    EXPECT_LE(MeanError(got, want), c.meanBound);
    EXPECT_LE(BlurredError(got, want), c.blurredBound);
  }
}

TEST(PicturelibReduce, FewColoursAreKeptExactly) {
  const struct {
    const char* label;
    Picture picture;
    int sourceBits, depth;
    bool dither;
  } cases[] = {
      {"two colours to 1 bit", samples::Few(9, 7, 2), 24, 1, false},
      {"two colours to 1 bit, dithered", samples::Few(9, 7, 2), 24, 1, true},
      {"twelve colours to 4 bits", samples::Few(9, 7, 12), 24, 4, true},
      {"sixteen from 8 bits to 4", samples::Few(9, 7, 16), 8, 4, false},
      {"one colour to 1 bit", samples::Few(5, 5, 1), 4, 1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    DibPtr source = samples::ToDib(c.picture, c.sourceBits);
    Owned out(entries::ReduceDib(source.get(), static_cast<int16_t>(c.depth), c.dither, 1 << c.depth, 0, 0, nullptr,
                                 nullptr));
    ASSERT_TRUE(out);
    EXPECT_EQ(InspectDib(out.get()).bits, c.depth);
    EXPECT_EQ(InspectDib(out.get()).colours, samples::Distinct(c.picture).size());
    EXPECT_EQ(samples::FromDib(out.get()).px, c.picture.px);
  }
}

TEST(PicturelibReduce, VgaDepthAndColourCap) {
  DibPtr ramp = samples::ToDib(samples::Ramp(32, 32), 24);
  Owned vga(entries::ReduceDib(ramp.get(), 0, 1, 1, 0, 0, nullptr, nullptr));
  ASSERT_TRUE(vga);
  const DibRef v = InspectDib(vga.get());
  EXPECT_EQ(v.bits, 4);
  ASSERT_EQ(v.colours, 16u);
  for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(v.Colour(i), VgaPalette()[i]);

  Owned capped(entries::ReduceDib(ramp.get(), 8, 0, 20, 0, 0, nullptr, nullptr));
  ASSERT_TRUE(capped);
  EXPECT_LE(InspectDib(capped.get()).colours, 20u);

  EXPECT_EQ(entries::ReduceDib(ramp.get(), 24, 0, 0, 0, 0, nullptr, nullptr), nullptr);
  EXPECT_EQ(entries::ReduceDib(ramp.get(), 2, 0, 4, 0, 0, nullptr, nullptr), nullptr);
}

TEST(PicturelibReduce, RunLengthSourceAndCancellation) {
  Owned mono(entries::ReduceDib(samples::Rle4Block().get(), 1, 1, 2, 0, 0, nullptr, nullptr));
  ASSERT_TRUE(mono);
  EXPECT_EQ(InspectDib(mono.get()).width, 4);

  DibPtr ramp = samples::ToDib(samples::Ramp(64, 64), 24);
  int calls = 0;
  const img_progress_fn stop = [](uint16_t, void* control) { return ++*static_cast<int*>(control) < 3 ? 1 : 0; };
  EXPECT_EQ(entries::ReduceDib(ramp.get(), 8, 1, 256, 0, 0, &calls, stop), nullptr);
  EXPECT_EQ(calls, 3);
}

// ---- small entries ----

TEST(PicturelibEntries, ErrorTexts) {
  const struct {
    int code;
    const char* text;
  } cases[] = {
      {kErrCorruptPng, "Truncated or corrupt PNG data"},
      {kErrTooLarge, "Picture too large"},
      {kErrNotTiff, "Not a TIFF file"},
      {kErrNoSuchPage, "Page does not exist"},
      {kErrCancelled, "Operation cancelled"},
      {kErrOutOfMemory, "Out of memory"},
      {kErrBufferTooSmall, "Output buffer too small"},
      {0, "Unknown image library error"},
      {12345, "Unknown image library error"},
  };
  std::set<std::string> texts;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    char buffer[IMG_CLASS_BUFFER];
    const int length = entries::errortext(static_cast<uint16_t>(c.code), buffer, sizeof buffer);
    EXPECT_STREQ(buffer, c.text);
    EXPECT_EQ(length, static_cast<int>(std::strlen(c.text)));
  }
  // A short buffer gets what fits, terminated; the answer is still the full length.
  char small[8];
  std::memset(small, 'x', sizeof small);
  EXPECT_EQ(entries::errortext(static_cast<uint16_t>(kErrTooLarge), small, 5), 17);
  EXPECT_STREQ(small, "Pict");
  EXPECT_EQ(small[5], 'x');
  EXPECT_EQ(entries::errortext(static_cast<uint16_t>(kErrTooLarge), nullptr, 0), 17);
}

TEST(PicturelibEntries, EveryCodeHasItsOwnText) {
  std::set<std::string> texts;
  int codes = 0;
  for (int code = -200; code < 0; ++code) {
    char buffer[IMG_CLASS_BUFFER];
    entries::errortext(static_cast<uint16_t>(code), buffer, sizeof buffer);
    if (std::string(buffer) == "Unknown image library error") continue;
    ++codes;
    EXPECT_TRUE(texts.insert(buffer).second) << buffer;
  }
  EXPECT_GT(codes, 0);
}

TEST(PicturelibEntries, AnnotationLayerRegistersAndDrawsNothing) {
  int control = 0, other = 0;
  EXPECT_EQ(
      entries::InitAnnotation(&control, nullptr, &control, nullptr, nullptr, nullptr, nullptr, nullptr, "pic_anno.ini"),
      1);
  EXPECT_TRUE(entries::AnnotationRegistered(&control));
  EXPECT_FALSE(entries::AnnotationRegistered(&other));
  EXPECT_EQ(entries::DrawAnnotation(&control, 1.0, 0, 0, 0, 0, 0, 0), 1);
  EXPECT_EQ(entries::DestroyAnnotation(&control), 1);
  EXPECT_FALSE(entries::AnnotationRegistered(&control));
  EXPECT_EQ(entries::InitAnnotation(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            kErrBadArgument);
}

}  // namespace
}  // namespace picturelib
