// The writers: every format at every depth it writes reads back as it was
// written, through our readers and through decoders of the libraries the
// build links (libpng, libtiff, SDL2_image); a buffer too small is refused
// with nothing written past it; TIFF pages are added to a file already there.
#include <SDL.h>
#include <SDL_image.h>
#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>

#include <cstring>
#include <string>
#include <vector>

#include "media/picturelib/core/entries.h"
#include "media/picturelib/core/errors.h"
#include "media/picturelib/core/reduce.h"
#include "testing/picturelib_samples.h"
#include "tests/media/picturelib_checks.h"

namespace picturelib {
namespace {

enum class Writer { Bmp, Png, Jpeg, Gif, Pcx, Tga, Tiff };

// `option` is the PNG interlace flag, the JPEG smoothing or the TIFF compression.
int Write(Writer w, const img_dib* dib, int depth, int option, unsigned char* buffer, int32_t size, int32_t* written,
          img_progress_fn progress = nullptr, void* control = nullptr) {
  const auto d = static_cast<int16_t>(depth);
  const auto o = static_cast<int16_t>(option);
  switch (w) {
    case Writer::Bmp:
      return entries::wrbmpstreamdib(dib, d, buffer, size, written, control, progress);
    case Writer::Png:
      return entries::wrpngstreamdib(dib, d, o, buffer, size, written, control, progress);
    case Writer::Jpeg:
      return entries::wrjpgstreamdib(dib, d, 95, o, buffer, size, written, control, progress);
    case Writer::Gif:
      return entries::wrgifstreamdib(dib, d, buffer, size, written, control, progress);
    case Writer::Pcx:
      return entries::wrpcxstreamdib(dib, d, buffer, size, written, control, progress);
    case Writer::Tga:
      return entries::writetgafilestreamdib(dib, d, buffer, size, written, control, progress);
    case Writer::Tiff:
      return entries::writetiffiledibstream(dib, d, o, 0, buffer, size, written, control, progress);
  }
  return 0;
}

Bytes_ WriteOk(Writer w, const img_dib* dib, int depth, int option = 0) {
  Bytes_ file(1 << 20);
  int32_t written = 0;
  const int result = Write(w, dib, depth, option, file.data(), static_cast<int32_t>(file.size()), &written);
  EXPECT_EQ(result, 1) << ErrorText(static_cast<uint16_t>(result));
  file.resize(result == 1 ? static_cast<std::size_t>(written) : 0);
  return file;
}

Kind KindOf(Writer w) {
  constexpr Kind kKinds[] = {Kind::Bmp, Kind::Png, Kind::Jpeg, Kind::Gif, Kind::Pcx, Kind::Tga, Kind::Tiff};
  return kKinds[static_cast<int>(w)];
}

// ---- decoders that are not ours ----

Picture ByLibpng(const Bytes_& file) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return {};
  image.format = PNG_FORMAT_RGB;
  Bytes_ rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return {};
  Picture p{static_cast<int>(image.width), static_cast<int>(image.height), {}};
  for (std::size_t i = 0; i < rgb.size(); i += 3) p.px.push_back({rgb[i], rgb[i + 1], rgb[i + 2]});
  return p;
}

struct ReadMemory {
  const Bytes_* bytes;
  uint64_t pos = 0;
};

Picture ByLibtiff(const Bytes_& file, int page = 1) {
  ReadMemory m{&file};
  TIFF* tif = TIFFClientOpen(
      "test", "rm", &m,
      [](thandle_t h, void* buf, tmsize_t n) -> tmsize_t {
        auto* r = static_cast<ReadMemory*>(h);
        const uint64_t left = r->pos < r->bytes->size() ? r->bytes->size() - r->pos : 0;
        const uint64_t k = std::min<uint64_t>(left, static_cast<uint64_t>(n));
        std::memcpy(buf, r->bytes->data() + r->pos, k);
        r->pos += k;
        return static_cast<tmsize_t>(k);
      },
      [](thandle_t, void*, tmsize_t) -> tmsize_t { return 0; },
      [](thandle_t h, toff_t off, int whence) -> toff_t {
        auto* r = static_cast<ReadMemory*>(h);
        r->pos = (whence == SEEK_CUR ? r->pos : whence == SEEK_END ? r->bytes->size() : 0) + off;
        return r->pos;
      },
      [](thandle_t) { return 0; }, [](thandle_t h) -> toff_t { return static_cast<ReadMemory*>(h)->bytes->size(); },
      [](thandle_t, void**, toff_t*) { return 0; }, [](thandle_t, void*, toff_t) {});
  if (!tif) return {};
  Picture p;
  uint32_t w = 0, h = 0;
  if (TIFFSetDirectory(tif, static_cast<tdir_t>(page - 1)) && TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w) &&
      TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h)) {
    std::vector<uint32_t> raster(static_cast<std::size_t>(w) * h);
    if (TIFFReadRGBAImageOriented(tif, w, h, raster.data(), ORIENTATION_TOPLEFT, 0)) {
      p = {static_cast<int>(w), static_cast<int>(h), {}};
      for (uint32_t v : raster)
        p.px.push_back({static_cast<uint8_t>(TIFFGetR(v)), static_cast<uint8_t>(TIFFGetG(v)),
                        static_cast<uint8_t>(TIFFGetB(v))});
    }
  }
  TIFFClose(tif);
  return p;
}

Picture BySdl(const Bytes_& file, const char* type) {
  SDL_Surface* s = IMG_LoadTyped_RW(SDL_RWFromConstMem(file.data(), static_cast<int>(file.size())), 1, type);
  if (!s) return {};
  SDL_Surface* rgb = SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_RGB24, 0);
  SDL_FreeSurface(s);
  if (!rgb) return {};
  Picture p{rgb->w, rgb->h, {}};
  for (int y = 0; y < rgb->h; ++y) {
    const auto* row = static_cast<const uint8_t*>(rgb->pixels) + static_cast<std::size_t>(y) * rgb->pitch;
    for (int x = 0; x < rgb->w; ++x) p.px.push_back({row[3 * x], row[3 * x + 1], row[3 * x + 2]});
  }
  SDL_FreeSurface(rgb);
  return p;
}

Picture Independently(Writer w, const Bytes_& file) {
  switch (w) {
    case Writer::Png:
      return ByLibpng(file);
    case Writer::Tiff:
      return ByLibtiff(file);
    case Writer::Bmp:
      return BySdl(file, "BMP");
    case Writer::Jpeg:
      return BySdl(file, "JPG");
    case Writer::Gif:
      return BySdl(file, "GIF");
    case Writer::Pcx:
      return BySdl(file, "PCX");
    case Writer::Tga:
      return BySdl(file, "TGA");
  }
  return {};
}

// ---- pictures ----

Picture FromColours(int w, int h, const std::vector<Rgb>& colours, uint32_t seed) {
  Picture p{w, h, {}};
  for (int i = 0; i < w * h; ++i) {
    seed = seed * 1103515245u + 12345u;
    p.px.push_back(colours[(seed >> 16) % colours.size()]);
  }
  return p;
}

// 256 colours scattered at random: every LZW string is new, so the code
// table fills and is cleared.
Picture Noise(int w, int h) {
  std::vector<Rgb> colours;
  for (int i = 0; i < 256; ++i)
    colours.push_back({static_cast<uint8_t>(i), static_cast<uint8_t>(i * 7), static_cast<uint8_t>(255 - i)});
  return FromColours(w, h, colours, 7);
}

Picture Vga(int w, int h) {
  const auto vga = VgaPalette();
  return FromColours(w, h, {vga.begin(), vga.end()}, 3);
}

Picture BlackAndWhite(int w, int h, bool whiteFirst) {
  Picture p = FromColours(w, h, {{0, 0, 0}, {255, 255, 255}}, 11);
  p.px[0] = whiteFirst ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
  return p;
}

TEST(PicturelibWriters, EveryWriterAtEveryDepthReadsBackAsWritten) {
  const Picture ramp = samples::Ramp(37, 23), few = samples::Few(37, 23, 12), two = samples::Few(37, 23, 2);
  const Picture few40 = samples::Few(40, 9, 16), two40 = samples::Few(40, 9, 2);
  const Picture vga = Vga(29, 17), noise = Noise(96, 64);
  // Runs longer than PCX's 63 bytes and TGA's 128 pixels.
  const Picture flat = samples::Few(300, 3, 1);
  const Picture black = BlackAndWhite(45, 21, false), white = BlackAndWhite(45, 21, true);
  const Picture smooth = samples::Ramp(24, 16);
  Picture grey = smooth;
  for (Rgb& c : grey.px) {
    const auto v = static_cast<uint8_t>((299 * c.r + 587 * c.g + 114 * c.b + 500) / 1000);
    c = {v, v, v};
  }
  const struct {
    const char* label;
    Writer writer;
    int option;
    int depth;
    const Picture& source;
    int sourceBits;
    int fileBits;  // what the probe reads in the file's header
    const Picture& expected;
    int tolerance;
  } cases[] = {
      {"bmp 24", Writer::Bmp, 0, 24, ramp, 24, 24, ramp, 0},
      {"bmp 8 from a palette block", Writer::Bmp, 0, 8, few, 8, 8, few, 0},
      {"bmp 4 from true colour", Writer::Bmp, 0, 4, few, 24, 4, few, 0},
      {"bmp 1", Writer::Bmp, 0, 1, two, 32, 1, two, 0},
      {"bmp vga", Writer::Bmp, 0, 0, vga, 24, 4, vga, 0},
      {"png 24", Writer::Png, 0, 24, ramp, 24, 24, ramp, 0},
      {"png 24 from 16 bits", Writer::Png, 0, 24, ramp, 16, 24, ramp, 7},
      {"png 8", Writer::Png, 0, 8, noise, 24, 8, noise, 0},
      {"png 4", Writer::Png, 0, 4, few, 24, 4, few, 0},
      {"png 1", Writer::Png, 0, 1, two, 4, 1, two, 0},
      {"png vga", Writer::Png, 0, 0, vga, 24, 4, vga, 0},
      {"png 24 interlaced", Writer::Png, 1, 24, ramp, 24, 24, ramp, 0},
      {"png 1 interlaced", Writer::Png, 1, 1, two, 8, 1, two, 0},
      // Colour is stored at half resolution: single pixels drift, the mean does not.
      {"jpeg colour", Writer::Jpeg, 0, 24, smooth, 24, 24, smooth, 40},
      {"jpeg colour smoothed", Writer::Jpeg, 60, 24, smooth, 24, 24, smooth, 40},
      {"jpeg grey", Writer::Jpeg, 0, 1, smooth, 24, 8, grey, 6},
      {"jpeg grey for vga", Writer::Jpeg, 0, 0, smooth, 24, 8, grey, 6},
      {"gif 8", Writer::Gif, 0, 8, few, 24, 8, few, 0},
      {"gif 8 with a full code table", Writer::Gif, 0, 8, noise, 8, 8, noise, 0},
      {"gif 8 long runs", Writer::Gif, 0, 8, flat, 24, 8, flat, 0},
      {"gif never above 8", Writer::Gif, 0, 24, few, 24, 8, few, 0},
      {"gif 4", Writer::Gif, 0, 4, few, 24, 4, few, 0},
      {"gif 1", Writer::Gif, 0, 1, two, 24, 1, two, 0},
      {"gif vga", Writer::Gif, 0, 0, vga, 24, 4, vga, 0},
      {"pcx 24", Writer::Pcx, 0, 24, ramp, 24, 24, ramp, 0},
      {"pcx 24 long runs", Writer::Pcx, 0, 24, flat, 24, 24, flat, 0},
      {"pcx 8", Writer::Pcx, 0, 8, noise, 24, 8, noise, 0},
      {"pcx 4", Writer::Pcx, 0, 4, few, 8, 4, few, 0},
      {"pcx 4, whole bytes", Writer::Pcx, 0, 4, few40, 24, 4, few40, 0},
      {"pcx 1", Writer::Pcx, 0, 1, two, 24, 1, two, 0},
      {"pcx 1, whole bytes", Writer::Pcx, 0, 1, two40, 24, 1, two40, 0},
      {"pcx vga", Writer::Pcx, 0, 0, vga, 24, 4, vga, 0},
      {"tga 24 uncompressed", Writer::Tga, 0, 24, ramp, 24, 24, ramp, 0},
      {"tga 24 run-length", Writer::Tga, 0, 24, flat, 24, 24, flat, 0},
      {"tga 8", Writer::Tga, 0, 8, noise, 24, 8, noise, 0},
      {"tga 8 run-length", Writer::Tga, 0, 8, flat, 24, 8, flat, 0},
      {"tga never below 8: 4", Writer::Tga, 0, 4, few, 24, 8, few, 0},
      {"tga never below 8: 1", Writer::Tga, 0, 1, two, 1, 8, two, 0},
      {"tga never below 8: vga", Writer::Tga, 0, 0, vga, 24, 8, vga, 0},
      {"tiff 24", Writer::Tiff, IMG_TIFF_NONE, 24, ramp, 24, 24, ramp, 0},
      {"tiff 24 lzw", Writer::Tiff, IMG_TIFF_LZW, 24, ramp, 24, 24, ramp, 0},
      {"tiff 24 packbits", Writer::Tiff, IMG_TIFF_PACKBITS, 24, flat, 24, 24, flat, 0},
      {"tiff 8 lzw", Writer::Tiff, IMG_TIFF_LZW, 8, noise, 24, 8, noise, 0},
      {"tiff 4", Writer::Tiff, IMG_TIFF_NONE, 4, few, 24, 4, few, 0},
      {"tiff vga packbits", Writer::Tiff, IMG_TIFF_PACKBITS, 0, vga, 24, 4, vga, 0},
      {"tiff 1 palette", Writer::Tiff, IMG_TIFF_NONE, 1, two, 24, 1, two, 0},
      {"tiff 1 ccitt rle", Writer::Tiff, IMG_TIFF_CCITT_RLE, 1, black, 24, 1, black, 0},
      {"tiff 1 fax3", Writer::Tiff, IMG_TIFF_CCITT_FAX3, 1, white, 24, 1, white, 0},
      {"tiff 1 fax4", Writer::Tiff, IMG_TIFF_CCITT_FAX4, 1, black, 24, 1, black, 0},
      {"tiff 1 fax4 palette", Writer::Tiff, IMG_TIFF_CCITT_FAX4, 1, two, 24, 1, two, 0},
      {"tiff 1 lzw", Writer::Tiff, IMG_TIFF_LZW, 1, white, 24, 1, white, 0},
      {"tiff 1 packbits", Writer::Tiff, IMG_TIFF_PACKBITS, 1, black, 24, 1, black, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    DibPtr dib = samples::ToDib(c.source, c.sourceBits);
    const Bytes_ file = WriteOk(c.writer, dib.get(), c.depth, c.option);
    ASSERT_FALSE(file.empty());

    char name[IMG_NAME_BUFFER], klass[IMG_CLASS_BUFFER];
    int32_t w = 0, h = 0;
    int16_t bits = 0, extra1 = 0, extra2 = 0;
    ASSERT_EQ(entries::streaminfo(file.data(), static_cast<int32_t>(file.size()), name, &w, &h, &bits, &extra1,
                                  &extra2, klass, 0),
              1);
    EXPECT_EQ(bits, c.fileBits);
    EXPECT_EQ(w, c.source.w);
    if (c.writer == Writer::Png) {
      EXPECT_EQ(extra2, c.option) << "interlace method";
    }

    Owned back = ReadOk(KindOf(c.writer), file, 24);
    ASSERT_TRUE(back);
    const Picture ours = samples::FromDib(back.get());
    EXPECT_LE(Difference(ours, c.expected), c.tolerance);
    EXPECT_LE(MeanDifference(ours, c.expected), 5.0);
    // SDL2_image takes the bits of a row's last byte of one-bit planes from
    // the wrong end, so it can only check those PCX pictures in whole bytes.
    if (c.writer == Writer::Pcx && c.fileBits <= 4 && c.source.w % 8 != 0) continue;
    const Picture theirs = Independently(c.writer, file);
    EXPECT_LE(Difference(theirs, c.expected), c.tolerance) << "the independent decoder";
    EXPECT_LE(MeanDifference(theirs, c.expected), 5.0);
  }
}

TEST(PicturelibWriters, TgaAndPcxUseTheirRunLengthCoding) {
  DibPtr flat = samples::ToDib(samples::Few(300, 3, 1), 24);
  const Bytes_ tga = WriteOk(Writer::Tga, flat.get(), 24);
  ASSERT_GE(tga.size(), 18u);
  EXPECT_EQ(tga[2], 10) << "run-length true colour";
  EXPECT_LT(tga.size(), 300u * 3);
  const Bytes_ pcx = WriteOk(Writer::Pcx, flat.get(), 24);
  ASSERT_GE(pcx.size(), 128u);
  EXPECT_EQ(pcx[2], 1) << "run-length coded";
  EXPECT_LT(pcx.size(), 128u + 300 * 3);
  // Noise does not shrink, so it is stored as it is.
  DibPtr noise = samples::ToDib(Noise(40, 30), 24);
  const Bytes_ raw = WriteOk(Writer::Tga, noise.get(), 8);
  ASSERT_GE(raw.size(), 18u);
  EXPECT_EQ(raw[2], 1) << "uncompressed colour-mapped";
}

TEST(PicturelibWriters, VgaDepthWritesSixteenFixedColours) {
  DibPtr dib = samples::ToDib(samples::Ramp(20, 10), 24);
  for (Writer w : {Writer::Bmp, Writer::Gif, Writer::Pcx, Writer::Png, Writer::Tiff}) {
    SCOPED_TRACE(static_cast<int>(w));
    const Bytes_ file = WriteOk(w, dib.get(), 0);
    Owned back = ReadOk(KindOf(w), file, 24);
    ASSERT_TRUE(back);
    for (const Rgb& c : samples::FromDib(back.get()).px) {
      const auto vga = VgaPalette();
      EXPECT_NE(std::find(vga.begin(), vga.end(), c), vga.end());
    }
  }
  // The BMP keeps the table itself.
  const Bytes_ bmp = WriteOk(Writer::Bmp, dib.get(), 0);
  img_dib* block = nullptr;
  ASSERT_EQ(entries::rdbmpstreamdib(bmp.data(), static_cast<int32_t>(bmp.size()), 8, 0, &block, nullptr, nullptr,
                                    nullptr, 0),
            1);
  Owned owned(block);
  const DibRef d = InspectDib(block);
  ASSERT_EQ(d.colours, 16u);
  for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(d.Colour(i), VgaPalette()[i]);
}

TEST(PicturelibWriters, JpegSmoothingSoftensEdges) {
  Picture checks{32, 32, {}};
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) checks.px.push_back((x + y) % 2 ? Rgb{255, 255, 255} : Rgb{0, 0, 0});
  DibPtr dib = samples::ToDib(checks, 24);
  const auto contrast = [](const Picture& p) {
    long sum = 0;
    for (int y = 0; y < p.h; ++y)
      for (int x = 1; x < p.w; ++x) sum += std::abs(p.At(x, y).g - p.At(x - 1, y).g);
    return sum;
  };
  const Bytes_ sharp = WriteOk(Writer::Jpeg, dib.get(), 24, 0);
  const Bytes_ smoothed = WriteOk(Writer::Jpeg, dib.get(), 24, 100);
  EXPECT_NE(sharp, smoothed);
  Owned a = ReadOk(Kind::Jpeg, sharp, 24), b = ReadOk(Kind::Jpeg, smoothed, 24);
  ASSERT_TRUE(a && b);
  EXPECT_LT(contrast(samples::FromDib(b.get())), contrast(samples::FromDib(a.get())) / 2);
}

TEST(PicturelibWriters, ABufferTooSmallIsAnErrorNotAnOverrun) {
  DibPtr dib = samples::ToDib(samples::Ramp(30, 20), 24);
  for (Writer w : {Writer::Bmp, Writer::Png, Writer::Jpeg, Writer::Gif, Writer::Pcx, Writer::Tga, Writer::Tiff}) {
    SCOPED_TRACE(static_cast<int>(w));
    // Writing into the first 64 bytes only; the 16 after them are a guard.
    Bytes_ buffer(64 + 16, 0xAB);
    int32_t written = 77;
    EXPECT_EQ(Write(w, dib.get(), 24, 0, buffer.data(), 64, &written), kErrBufferTooSmall);
    EXPECT_EQ(written, 0);
    for (std::size_t i = 0; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xAB) << i;
  }
}

TEST(PicturelibWriters, EveryWriterHonoursCancelling) {
  DibPtr dib = samples::ToDib(samples::Ramp(30, 20), 24);
  const auto stop = [](uint16_t, void*) { return 0; };
  for (Writer w : {Writer::Bmp, Writer::Png, Writer::Jpeg, Writer::Gif, Writer::Pcx, Writer::Tga, Writer::Tiff}) {
    SCOPED_TRACE(static_cast<int>(w));
    Bytes_ buffer(1 << 16);
    int32_t written = 5;
    EXPECT_EQ(Write(w, dib.get(), 8, 0, buffer.data(), static_cast<int32_t>(buffer.size()), &written, stop),
              kErrCancelled);
    EXPECT_EQ(written, 0);
  }
}

TEST(PicturelibWriters, RefuseBadBlocksAndArguments) {
  DibPtr good = samples::ToDib(samples::Ramp(4, 4), 24);
  DibPtr bad = samples::ToDib(samples::Ramp(4, 4), 24);
  PutLe16(bad->bytes + IMG_DIB_OFF_BITS, 7);
  Bytes_ buffer(4096);
  const auto size = static_cast<int32_t>(buffer.size());
  int32_t written = 0;
  for (Writer w : {Writer::Bmp, Writer::Png, Writer::Jpeg, Writer::Gif, Writer::Pcx, Writer::Tga, Writer::Tiff}) {
    SCOPED_TRACE(static_cast<int>(w));
    EXPECT_EQ(Write(w, bad.get(), 24, 0, buffer.data(), size, &written), kErrBadDib);
    EXPECT_EQ(Write(w, nullptr, 24, 0, buffer.data(), size, &written), kErrBadArgument);
    EXPECT_EQ(Write(w, good.get(), 3, 0, buffer.data(), size, &written), kErrBadDepth);
    EXPECT_EQ(Write(w, good.get(), 24, 0, buffer.data(), 0, &written), kErrBadArgument);
    EXPECT_EQ(Write(w, good.get(), 24, 0, nullptr, size, &written), kErrBadArgument);
    EXPECT_EQ(Write(w, good.get(), 24, 0, buffer.data(), size, nullptr), kErrBadArgument);
  }
  // The CCITT codes are for black and white only; other numbers are no compression at all.
  EXPECT_EQ(Write(Writer::Tiff, good.get(), 24, IMG_TIFF_CCITT_FAX4, buffer.data(), size, &written), kErrUnsupported);
  EXPECT_EQ(Write(Writer::Tiff, good.get(), 8, IMG_TIFF_CCITT_RLE, buffer.data(), size, &written), kErrUnsupported);
  EXPECT_EQ(Write(Writer::Tiff, good.get(), 24, 6, buffer.data(), size, &written), kErrBadArgument);
  EXPECT_EQ(Write(Writer::Tiff, good.get(), 24, -1, buffer.data(), size, &written), kErrBadArgument);
}

// ---- TIFF pages added to a file ----

// Appends a page to the file in `buffer`'s first `held` bytes.
int Append(Bytes_& buffer, int32_t& held, const img_dib* dib, int depth, int compression, int32_t size = -1) {
  return entries::writetiffiledibstream(dib, static_cast<int16_t>(depth), static_cast<int16_t>(compression), 1,
                                        buffer.data(), size < 0 ? static_cast<int32_t>(buffer.size()) : size, &held,
                                        nullptr, nullptr);
}

TEST(PicturelibWriters, TiffPagesAreAddedToTheFileInTheBuffer) {
  const Picture first = samples::Ramp(9, 7), second = BlackAndWhite(33, 9, true), third = samples::Few(12, 5, 9);
  for (const bool bigEndian : {false, true}) {
    SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
    // A file of another writer's, in either byte order.
    const Bytes_ start = samples::Tiff({first}, bigEndian);
    Bytes_ buffer(1 << 16);
    std::copy(start.begin(), start.end(), buffer.begin());
    auto held = static_cast<int32_t>(start.size());
    ASSERT_EQ(Append(buffer, held, samples::ToDib(second, 24).get(), 1, IMG_TIFF_CCITT_FAX4), 1);
    ASSERT_EQ(Append(buffer, held, samples::ToDib(third, 24).get(), 8, IMG_TIFF_LZW), 1);
    const Bytes_ file(buffer.begin(), buffer.begin() + held);

    int32_t w = 0, h = 0, compression = 0, spare = 0;
    int16_t pages = 0, bits = 0;
    ASSERT_EQ(entries::getinfostream(file.data(), held, 3, &w, &h, &compression, &spare, &pages, &bits), 1);
    EXPECT_EQ(pages, 3);
    EXPECT_EQ(compression, COMPRESSION_LZW);
    int page = 1;
    for (const Picture* p : {&first, &second, &third}) {
      SCOPED_TRACE(page);
      Owned back = ReadOk(Kind::Tiff, file, 24, false, page);
      ASSERT_TRUE(back);
      EXPECT_EQ(Difference(samples::FromDib(back.get()), *p), 0);
      EXPECT_EQ(Difference(ByLibtiff(file, page), *p), 0);
      ++page;
    }
  }
}

TEST(PicturelibWriters, TiffAppendRefusesWhatItCannotAddTo) {
  DibPtr dib = samples::ToDib(samples::Ramp(6, 4), 24);
  const Bytes_ tiff = samples::Tiff({samples::Ramp(5, 5)}, false);
  Bytes_ looping = tiff;
  const uint32_t ifd = Le32(looping.data() + 4);
  PutLe32(looping.data() + ifd + 2 + 12 * Le16(looping.data() + ifd), ifd);
  const struct {
    const char* label;
    Bytes_ held;
    int32_t heldCount;  // -1: all of `held`
    int32_t size;       // -1: the whole buffer
    int expected;
  } cases[] = {
      {"not a TIFF", Bytes_(40, 'x'), -1, -1, kErrNotTiff},
      {"a chain of pages that loops", looping, -1, -1, kErrCorruptTiff},
      {"a cut file", Bytes_(tiff.begin(), tiff.begin() + 20), -1, -1, kErrCorruptTiff},
      {"nothing held", tiff, 0, -1, kErrBadArgument},
      {"more held than the buffer", tiff, 5000, -1, kErrBadArgument},
      {"no room for the new file", tiff, -1, static_cast<int32_t>(tiff.size()) + 16, kErrBufferTooSmall},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Bytes_ buffer(4096, 0xAB);
    std::copy(c.held.begin(), c.held.end(), buffer.begin());
    const Bytes_ before = buffer;
    int32_t held = c.heldCount < 0 ? static_cast<int32_t>(c.held.size()) : c.heldCount;
    EXPECT_EQ(Append(buffer, held, dib.get(), 24, IMG_TIFF_NONE, c.size), c.expected);
    EXPECT_EQ(held, 0);
    EXPECT_EQ(buffer, before) << "the file held stays as it was";
  }
}

}  // namespace
}  // namespace picturelib
