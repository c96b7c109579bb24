// The header probe and the TIFF page query: what they report for small files
// of every format, and how they refuse truncated and hostile ones (the typed
// reader refuses them the same way, before any decoder sees the bytes).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/picturelib/core/entries.h"
#include "media/picturelib/core/errors.h"
#include "media/picturelib/core/limits.h"
#include "testing/picturelib_samples.h"

namespace picturelib {
namespace {

using Bytes_ = std::vector<uint8_t>;

struct Report {
  int result = 0;
  std::string name, klass;
  int32_t width = 0, height = 0;
  int16_t bits = 0, extra1 = 0, extra2 = 0;
};

Report StreamInfo(const Bytes_& b) {
  Report r;
  char name[IMG_NAME_BUFFER] = {};
  char klass[IMG_CLASS_BUFFER] = {};
  r.result = entries::streaminfo(b.data(), static_cast<int32_t>(b.size()), name, &r.width, &r.height, &r.bits,
                                 &r.extra1, &r.extra2, klass, 0);
  r.name = name;
  r.klass = klass;
  return r;
}

// A JPEG with stray bytes after its first segment, which decoders skip.
std::vector<uint8_t> JpegWithStrayBytes(const samples::Picture& p) {
  std::vector<uint8_t> b = samples::Jpeg(p);
  const std::size_t after = 4 + Be16(&b[4]);
  b.insert(b.begin() + static_cast<std::ptrdiff_t>(after), {0, 0, 0});
  return b;
}

TEST(PicturelibProbe, ReportsEachFormat) {
  const samples::Picture ramp = samples::Ramp(7, 5), few = samples::Few(9, 4, 5);
  const struct {
    const char* label;
    Bytes_ bytes;
    const char* name;
    const char* klass;
    int32_t width, height;
    int16_t bits, extra1, extra2;
  } cases[] = {
      {"png", samples::Png(ramp), "PNG", "RGB", 7, 5, 24, 0, 0},
      {"jpeg", samples::Jpeg(ramp), "JPEG", "YCbCr", 7, 5, 24, 0, 0},
      {"jpeg with stray bytes", JpegWithStrayBytes(ramp), "JPEG", "YCbCr", 7, 5, 24, 0, 0},
      {"gif", samples::Gif(few), "GIF", "PALETTE", 9, 4, 8, 256, 0},
      {"bmp 24", samples::Bmp24(ramp), "BMP", "RGB", 7, 5, 24, 0, 0},
      {"bmp 4 with 5 colours", samples::BmpOf(samples::ToDib(few, 4).get()), "BMP", "PALETTE", 9, 4, 4, 5, 0},
      {"bmp top-down", samples::BmpOf(samples::ToDib(ramp, 24, true).get()), "BMP", "RGB", 7, 5, 24, 0, 0},
      {"bmp core header", samples::BmpCore(few), "BMP", "PALETTE", 9, 4, 8, 256, 0},
      {"bmp rle8", samples::BmpOf(samples::Rle8Block().get()), "BMP", "PALETTE", 4, 3, 8, 16, 1},
      {"pcx 8", samples::Pcx(few, false), "PCX", "PALETTE", 9, 4, 8, 256, 1},
      {"pcx 24", samples::Pcx(ramp, true), "PCX", "RGB", 7, 5, 24, 0, 3},
      {"tga 24", samples::Tga(ramp, 2), "TGA", "RGB", 7, 5, 24, 0, 2},
      {"tga rle", samples::Tga(ramp, 10), "TGA", "RGB", 7, 5, 24, 0, 10},
      {"tga mapped", samples::Tga(few, 1), "TGA", "PALETTE", 9, 4, 8, 5, 1},
      {"tga grey", samples::Tga(few, 3), "TGA", "GRAY", 9, 4, 8, 0, 3},
      {"tiff little-endian", samples::Tiff({ramp}, false), "TIFF", "RGB", 7, 5, 24, 0, 1},
      {"tiff big-endian, 2 pages", samples::Tiff({few, ramp}, true), "TIFF", "RGB", 9, 4, 24, 0, 2},
      {"tiff lzw", samples::TiffCoded(ramp, 5), "TIFF", "RGB", 7, 5, 24, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const Report r = StreamInfo(c.bytes);
    ASSERT_EQ(r.result, 1);
    EXPECT_EQ(r.name, c.name);
    EXPECT_EQ(r.klass, c.klass);
    EXPECT_EQ(r.width, c.width);
    EXPECT_EQ(r.height, c.height);
    EXPECT_EQ(r.bits, c.bits);
    EXPECT_EQ(r.extra1, c.extra1);
    EXPECT_EQ(r.extra2, c.extra2);
  }
}

TEST(PicturelibProbe, TiffPagesAndCompression) {
  const Bytes_ twoPages = samples::Tiff({samples::Ramp(4, 3), samples::Ramp(2, 6)}, true);
  const struct {
    const char* label;
    Bytes_ bytes;
    int16_t page;
    int result;
    int32_t width, height, compression;
    int16_t pages, bits;
  } cases[] = {
      {"first page", twoPages, 1, 1, 4, 3, 1, 2, 24},
      {"second page", twoPages, 2, 1, 2, 6, 1, 2, 24},
      // The last page, so that a caller can lower its page to the count.
      {"past the last page", twoPages, 3, 1, 2, 6, 1, 2, 24},
      {"page zero", twoPages, 0, kErrNoSuchPage, 0, 0, 0, 0, 0},
      {"lzw", samples::TiffCoded(samples::Ramp(5, 5), 5), 1, 1, 5, 5, 5, 1, 24},
      {"packbits", samples::TiffCoded(samples::Ramp(5, 5), 32773), 1, 1, 5, 5, 32773, 1, 24},
      {"not a tiff", samples::Png(samples::Ramp(2, 2)), 1, kErrNotTiff, 0, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    int32_t width = 0, height = 0, compression = 0, spare = 0;
    int16_t pages = 0, bits = 0;
    EXPECT_EQ(entries::getinfostream(c.bytes.data(), static_cast<int32_t>(c.bytes.size()), c.page, &width, &height,
                                     &compression, &spare, &pages, &bits),
              c.result);
    if (c.result != 1) continue;
    EXPECT_EQ(width, c.width);
    EXPECT_EQ(height, c.height);
    EXPECT_EQ(compression, c.compression);
    EXPECT_EQ(pages, c.pages);
    EXPECT_EQ(bits, c.bits);
    EXPECT_EQ(spare, 2);  // photometric RGB
  }
}

// ---- hostile and broken files ----

Bytes_ Cut(Bytes_ b, std::size_t keep) {
  b.resize(keep);
  return b;
}
Bytes_ With(Bytes_ b, std::size_t at, std::initializer_list<uint8_t> bytes) {
  for (uint8_t v : bytes) b.at(at++) = v;
  return b;
}
Bytes_ WithLe32(Bytes_ b, std::size_t at, uint32_t v) {
  PutLe32(&b.at(at), v);
  return b;
}
Bytes_ WithLe16(Bytes_ b, std::size_t at, uint16_t v) {
  PutLe16(&b.at(at), v);
  return b;
}
Bytes_ WithBe32(Bytes_ b, std::size_t at, uint32_t v) {
  return With(b, at,
              {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
               static_cast<uint8_t>(v)});
}

// A JPEG with `scans` empty scans after its frame header.
Bytes_ JpegWithScans(int scans) {
  Bytes_ b = samples::Jpeg(samples::Ramp(8, 8));
  b.resize(b.size() - 2);  // drop EOI
  for (int i = 0; i < scans; ++i) b.insert(b.end(), {0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 63, 0, 0x12});
  b.insert(b.end(), {0xFF, 0xD9});
  return b;
}

// A JPEG whose frame header claims another size.
Bytes_ JpegClaiming(uint16_t width, uint16_t height) {
  Bytes_ b = samples::Jpeg(samples::Ramp(8, 8));
  for (std::size_t i = 0; i + 9 < b.size(); ++i)
    if (b[i] == 0xFF && b[i + 1] == 0xC0) {
      b[i + 5] = static_cast<uint8_t>(height >> 8);
      b[i + 6] = static_cast<uint8_t>(height);
      b[i + 7] = static_cast<uint8_t>(width >> 8);
      b[i + 8] = static_cast<uint8_t>(width);
      break;
    }
  return b;
}

// Where the first image descriptor of a sample GIF starts (after the global
// table and the graphic control extension).
constexpr std::size_t kGifImage = 13 + 768 + 8;

using Reader = int (*)(const Bytes_&, img_dib**);
template <auto Entry>
int ReadWith(const Bytes_& b, img_dib** out) {
  return Entry(b.data(), static_cast<int32_t>(b.size()), 24, 0, out, nullptr, nullptr, nullptr, 0);
}
int ReadJpeg(const Bytes_& b, img_dib** out) {
  return entries::rdjpgstreamdib(b.data(), static_cast<int32_t>(b.size()), 24, 1, 0, out, nullptr, nullptr, nullptr, 0);
}
int ReadTiff(const Bytes_& b, img_dib** out) {
  return entries::readtiffiledibstream(b.data(), static_cast<int32_t>(b.size()), 24, 0, 1, out, nullptr, nullptr, 0);
}

TEST(PicturelibProbe, RefusesTruncatedAndHostileFiles) {
  const samples::Picture ramp = samples::Ramp(7, 5), few = samples::Few(9, 4, 5);
  const Bytes_ png = samples::Png(ramp), gif = samples::Gif(few), tga = samples::Tga(ramp, 2);
  const Bytes_ bmp8 = samples::BmpOf(samples::ToDib(few, 8).get()), pcx = samples::Pcx(few, false);
  const Bytes_ tiff = samples::Tiff({ramp}, false);
  const Reader png_ = ReadWith<entries::rdpngstreamdib>, gif_ = ReadWith<entries::rdgifstreamdib>,
               bmp_ = ReadWith<entries::rdbmpstreamdib>, pcx_ = ReadWith<entries::rdpcxstreamdib>,
               tga_ = ReadWith<entries::readtgafilestreamdib>;
  // The 8-bit BMP's first IFD entry of the TIFF sample sits after its pixels.
  const std::size_t tiffIfd = Le32(tiff.data() + 4);
  const struct {
    const char* label;
    Bytes_ bytes;
    Reader read;
    int probe;  // what streaminfo answers
    int reader;
  } cases[] = {
      {"png cut in half", Cut(png, png.size() / 2), png_, kErrCorruptPng, kErrCorruptPng},
      {"png without IEND", Cut(png, png.size() - 12), png_, kErrCorruptPng, kErrCorruptPng},
      {"png of width 0", WithBe32(png, 16, 0), png_, kErrCorruptPng, kErrCorruptPng},
      {"png wider than the limit", WithBe32(png, 16, 16385), png_, kErrTooLarge, kErrTooLarge},
      {"png of 64M pixels from a few bytes", WithBe32(WithBe32(png, 16, 16000), 20, 4000), png_, kErrTooLarge,
       kErrTooLarge},
      {"png with a chunk longer than the file", WithBe32(png, 33, 0x10000), png_, kErrCorruptPng, kErrCorruptPng},
      {"jpeg cut before its first scan", Cut(samples::Jpeg(ramp), 200), ReadJpeg, kErrCorruptJpeg, kErrCorruptJpeg},
      {"jpeg of 65535 x 65535", JpegClaiming(65535, 65535), ReadJpeg, kErrTooLarge, kErrTooLarge},
      {"jpeg of height 0 (given later)", JpegClaiming(8, 0), ReadJpeg, kErrUnsupported, kErrUnsupported},
      {"jpeg with 200 scans", JpegWithScans(200), ReadJpeg, kErrUnsupported, kErrUnsupported},
      {"gif with a 65535-wide first image", WithLe16(gif, kGifImage + 5, 65535), gif_, kErrTooLarge, kErrTooLarge},
      {"gif cut inside its image data", Cut(gif, gif.size() - 10), gif_, kErrCorruptGif, kErrCorruptGif},
      {"gif with only a trailer", With(Cut(gif, kGifImage + 1), kGifImage, {0x3B}), gif_, kErrCorruptGif,
       kErrCorruptGif},
      {"bmp with more colours than the file", Cut(WithLe32(bmp8, 14 + 32, 256), 14 + 40 + 64), bmp_, kErrCorruptBmp,
       kErrCorruptBmp},
      {"bmp with 300 colours for 8 bits", WithLe32(bmp8, 14 + 32, 300), bmp_, kErrCorruptBmp, kErrCorruptBmp},
      {"bmp with its rows cut", Cut(bmp8, bmp8.size() - 4), bmp_, kErrCorruptBmp, kErrCorruptBmp},
      {"bmp of negative width", WithLe32(bmp8, 18, static_cast<uint32_t>(-9)), bmp_, kErrCorruptBmp, kErrCorruptBmp},
      {"bmp with 3 bits per pixel", WithLe16(bmp8, 28, 3), bmp_, kErrCorruptBmp, kErrCorruptBmp},
      {"bmp run-length top-down", WithLe32(samples::BmpOf(samples::Rle8Block().get()), 22, static_cast<uint32_t>(-3)),
       bmp_, kErrCorruptBmp, kErrCorruptBmp},
      {"pcx with xmax before xmin", WithLe16(pcx, 4, 100), pcx_, kErrCorruptPcx, kErrCorruptPcx},
      {"pcx of 16000 x 4000 from a few bytes", WithLe16(WithLe16(pcx, 8, 15999), 10, 3999), pcx_, kErrCorruptPcx,
       kErrCorruptPcx},
      {"tga cut inside its pixels", Cut(tga, tga.size() - 1), tga_, kErrCorruptTga, kErrCorruptTga},
      {"tga of width 0", WithLe16(tga, 12, 0), tga_, kErrUnknownFormat, kErrNotTga},
      {"tga of an unknown image type", With(tga, 2, {4}), tga_, kErrUnknownFormat, kErrNotTga},
      {"tga rle of 65535 x 65535", WithLe16(WithLe16(samples::Tga(ramp, 10), 12, 65535), 14, 65535), tga_, kErrTooLarge,
       kErrTooLarge},
      {"tiff with a bogus directory offset", WithLe32(tiff, 4, 0x7FFFFFF0), ReadTiff, kErrCorruptTiff, kErrCorruptTiff},
      {"tiff with a strip past the end", WithLe32(tiff, tiffIfd + 2 + 5 * 12 + 8, 0x100000), ReadTiff, kErrCorruptTiff,
       kErrCorruptTiff},
      {"tiff with more entries than bytes", WithLe16(tiff, tiffIfd, 0xFFFF), ReadTiff, kErrCorruptTiff,
       kErrCorruptTiff},
      {"bigtiff", With(tiff, 2, {43}), ReadTiff, kErrUnsupported, kErrUnsupported},
      {"text", Bytes_{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}, png_, kErrUnknownFormat, kErrNotPng},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(StreamInfo(c.bytes).result, c.probe);
    img_dib* out = reinterpret_cast<img_dib*>(&out);
    EXPECT_EQ(c.read(c.bytes, &out), c.reader);
    EXPECT_EQ(out, nullptr);
  }
}

// ---- pixels out of all proportion to their data ----

// The sample JPEG claiming `width` x `height`, its scan header kept and its
// coded data gone.
Bytes_ JpegWithoutScanData(uint16_t width, uint16_t height) {
  Bytes_ b = JpegClaiming(width, height);
  for (std::size_t i = 0; i + 3 < b.size(); ++i)
    if (b[i] == 0xFF && b[i + 1] == 0xDA) {
      b.resize(i + 2 + Be16(&b[i + 2]));
      break;
    }
  b.insert(b.end(), {0xFF, 0xD9});
  return b;
}

// The sample GIF's first image at `side` x `side` from one byte of codes.
Bytes_ GifFromOneByte(uint16_t side) {
  Bytes_ b = WithLe16(WithLe16(samples::Gif(samples::Few(9, 4, 5)), kGifImage + 5, side), kGifImage + 7, side);
  b.resize(kGifImage + 11);  // through the minimum code size
  b.insert(b.end(), {1, 0x04, 0, 0x3B});
  return b;
}

// A run-length BMP of `side` x `side` whose data is the end-of-picture code.
Bytes_ RleBmpOfTwoBytes(int32_t side) {
  Bytes_ b = samples::BmpOf(samples::Rle8Block().get());
  b.resize(Le32(b.data() + 10));
  b.insert(b.end(), {0, 1});
  return WithLe32(WithLe32(b, 18, static_cast<uint32_t>(side)), 22, static_cast<uint32_t>(side));
}

// The sample TIFF at `side` x `side` in one strip of its few bytes, said to
// be coded with `compression`.
Bytes_ TiffOfFewBytes(uint32_t side, uint16_t compression) {
  Bytes_ b = samples::Tiff({samples::Ramp(7, 5)}, false);
  const std::size_t ifd = Le32(b.data() + 4), entry = ifd + 2;
  b = WithLe32(WithLe32(b, entry + 8, side), entry + 12 + 8, side);
  b = WithLe16(b, entry + 3 * 12 + 8, compression);
  return WithLe32(b, entry + 7 * 12 + 8, side);
}

TEST(PicturelibProbe, RefusesPicturesOutOfProportionToTheirData) {
  const Reader gif_ = ReadWith<entries::rdgifstreamdib>, bmp_ = ReadWith<entries::rdbmpstreamdib>;
  const struct {
    const char* label;
    Bytes_ bytes;
    Reader read;
    const char* size;  // as the error names it
  } cases[] = {
      {"jpeg with a frame and a scan header only", JpegWithoutScanData(8192, 8192), ReadJpeg, "8192 x 8192"},
      {"gif from one byte of codes", GifFromOneByte(8192), gif_, "8192 x 8192"},
      {"run-length bmp of two bytes", RleBmpOfTwoBytes(8192), bmp_, "8192 x 8192"},
      {"tiff deflate strip of a hundred bytes", TiffOfFewBytes(8000, 8), ReadTiff, "8000 x 8000"},
      {"tiff lzw strip of a hundred bytes", TiffOfFewBytes(8000, 5), ReadTiff, "8000 x 8000"},
      {"tiff packbits strip of a hundred bytes", TiffOfFewBytes(1000, 32773), ReadTiff, "1000 x 1000"},
      {"tiff plain strip of a hundred bytes", TiffOfFewBytes(100, 1), ReadTiff, "100 x 100"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(StreamInfo(c.bytes).result, kErrTooLarge);
    img_dib* out = reinterpret_cast<img_dib*>(&out);
    const int result = c.read(c.bytes, &out);
    EXPECT_EQ(result, kErrTooLarge);
    EXPECT_EQ(out, nullptr);
    // The words say what was refused and what the data could have held.
    char text[256];
    entries::errortext(static_cast<uint16_t>(result), text, sizeof text);
    EXPECT_NE(std::string(text).find(c.size), std::string::npos) << text;
    EXPECT_NE(std::string(text).find("at most"), std::string::npos) << text;
  }
  // The same sizes with the data they need still pass the probe.
  EXPECT_EQ(StreamInfo(JpegWithoutScanData(64, 64)).result, 1);
  EXPECT_EQ(StreamInfo(RleBmpOfTwoBytes(16)).result, 1);
}

TEST(PicturelibProbe, RefusesMissingInput) {
  const Bytes_ png = samples::Png(samples::Ramp(2, 2));
  EXPECT_EQ(entries::streaminfo(nullptr, 10, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0),
            kErrBadArgument);
  EXPECT_EQ(entries::streaminfo(png.data(), 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0),
            kErrBadArgument);
  EXPECT_EQ(entries::streaminfo(png.data(), -5, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0),
            kErrBadArgument);
  // Outputs are optional.
  EXPECT_EQ(entries::streaminfo(png.data(), static_cast<int32_t>(png.size()), nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, 0),
            1);
}

TEST(PicturelibProbe, LimitsApplyToTotalPixels) {
  // Each side inside the limit, the product past it.
  const Limits saved = CurrentLimits();
  Limits small;
  small.maxSide = 100;
  small.maxPixels = 50;
  SetLimits(small);
  const Report r = StreamInfo(samples::Png(samples::Ramp(10, 6)));
  SetLimits(saved);
  EXPECT_EQ(r.result, kErrTooLarge);
}

}  // namespace
}  // namespace picturelib
