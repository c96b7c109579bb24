#include "media/picturelib/core/decode.h"

#include <SDL.h>
#include <SDL_image.h>
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <vector>

#include "media/picturelib/core/bytes.h"
#include "media/picturelib/core/errors.h"
#include "media/picturelib/core/limits.h"
#include "media/picturelib/core/reduce.h"
#include "media/picturelib/core/tiff_memory.h"

namespace picturelib {
namespace {

ErrorCode CorruptCode(Format format) {
  switch (format) {
    case Format::Png:
      return kErrCorruptPng;
    case Format::Jpeg:
      return kErrCorruptJpeg;
    case Format::Gif:
      return kErrCorruptGif;
    case Format::Bmp:
      return kErrCorruptBmp;
    case Format::Pcx:
      return kErrCorruptPcx;
    case Format::Tga:
      return kErrCorruptTga;
    case Format::Tiff:
      return kErrCorruptTiff;
  }
  return kErrInternal;
}

struct SurfaceFree {
  void operator()(SDL_Surface* s) const noexcept { SDL_FreeSurface(s); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceFree>;

SurfacePtr LoadSurface(Format format, const Bytes& in) {
  if (in.size > static_cast<std::size_t>(INT32_MAX)) Fail(kErrTooLarge);
  SDL_RWops* rw = SDL_RWFromConstMem(in.data, static_cast<int>(in.size));
  if (!rw) Fail(kErrOutOfMemory);
  SDL_Surface* s = nullptr;
  switch (format) {
    case Format::Png:
      s = IMG_LoadPNG_RW(rw);
      break;
    case Format::Jpeg:
      s = IMG_LoadJPG_RW(rw);
      break;
    case Format::Gif:
      s = IMG_LoadGIF_RW(rw);
      break;
    case Format::Bmp:
      s = IMG_LoadBMP_RW(rw);
      break;
    case Format::Pcx:
      s = IMG_LoadPCX_RW(rw);
      break;
    case Format::Tga:
      s = IMG_LoadTGA_RW(rw);
      break;
    case Format::Tiff:
      break;
  }
  SDL_RWclose(rw);
  if (!s) Fail(CorruptCode(format));
  return SurfacePtr(s);
}

// Transparent pixels are shown over white, the usual window colour, rather
// than over whatever colour an encoder left under them. Every kind that
// carries transparency goes through this one rule.
uint8_t OverWhite(uint8_t c, uint8_t a) { return static_cast<uint8_t>((c * a + 255 * (255 - a) + 127) / 255); }

// ---- PNG with transparency, through libpng ----

struct PngSource {
  const Bytes* in;
  std::size_t pos = 0;
};

void PngReadBytes(png_structp png, png_bytep out, png_size_t n) {
  auto* src = static_cast<PngSource*>(png_get_io_ptr(png));
  if (n > src->in->size - src->pos) png_error(png, "truncated");
  std::memcpy(out, src->in->data + src->pos, n);
  src->pos += n;
}
void PngQuiet(png_structp, png_const_charp) {}
void PngFail(png_structp png, png_const_charp) { png_longjmp(png, 1); }

// Decodes into `rgba` (sized by the caller from the probed size) as 8-bit
// RGBA rows, every colour type, depth and transparency chunk expanded the
// same way. Only plain data lives in this frame, so the long jump out of
// libpng leaves nothing undestroyed.
bool DecodePngRgba(const Bytes& in, uint32_t width, uint32_t height, png_bytepp rows) {
  PngSource src{&in};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngFail, PngQuiet);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    return false;
  }
  png_set_user_limits(png, width, height);
  png_set_read_fn(png, &src, PngReadBytes);
  png_read_info(png, info);
  if (png_get_image_width(png, info) != width || png_get_image_height(png, info) != height) png_error(png, "size");
  // Palette to RGB, grey below 8 bits to 8, the transparency chunk to alpha.
  png_set_expand(png);
  png_set_scale_16(png);
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<png_size_t>(width) * 4) png_error(png, "layout");
  png_read_image(png, rows);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

bool PngCarriesTransparency(const Bytes& in, const ProbeInfo& info) {
  if (info.klass == "RGBA" || info.klass == "GRAYALPHA") return true;
  // Chunks were checked by the probe; a transparency chunk comes before the image data.
  for (uint64_t pos = 8; in.Has(pos, 12);) {
    const uint64_t length = Be32(in.At(pos));
    const uint8_t* tag = in.At(pos + 4);
    if (std::memcmp(tag, "tRNS", 4) == 0) return true;
    if (std::memcmp(tag, "IDAT", 4) == 0 || std::memcmp(tag, "IEND", 4) == 0) return false;
    pos += 12 + length;
  }
  return false;
}

DibPtr ReadTransparentPng(const Bytes& in, const ProbeInfo& info) {
  const auto width = static_cast<uint32_t>(info.width), height = static_cast<uint32_t>(info.height);
  std::vector<uint8_t> rgba(static_cast<std::size_t>(width) * height * 4);
  std::vector<png_bytep> rows(height);
  for (uint32_t y = 0; y < height; ++y) rows[y] = &rgba[static_cast<std::size_t>(y) * width * 4];
  if (!DecodePngRgba(in, width, height, rows.data())) Fail(kErrCorruptPng);
  DibPtr dib = NewDib(info.width, info.height, 24, 0);
  const DibRef o = RefOf(dib.get());
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* p = rows[y];
    uint8_t* out = MutableRow(dib.get(), o, static_cast<int32_t>(y));
    for (uint32_t x = 0; x < width; ++x, p += 4, out += 3) {
      out[0] = OverWhite(p[2], p[3]);
      out[1] = OverWhite(p[1], p[3]);
      out[2] = OverWhite(p[0], p[3]);
    }
  }
  return dib;
}

DibPtr SurfaceToDib(SDL_Surface* s, Format format) {
  SDL_PixelFormat* f = s->format;
  CheckDimensions(s->w, s->h, CorruptCode(format));
  if (SDL_ISPIXELFORMAT_INDEXED(f->format) && f->palette) {
    const int colours = std::min(f->palette->ncolors, 256);
    if (colours < 1) Fail(CorruptCode(format));
    DibPtr dib = NewDib(s->w, s->h, 8, static_cast<uint32_t>(colours));
    // A transparent index (GIF's, say) is a colour key on the surface.
    Uint32 key = 0;
    const bool keyed = SDL_GetColorKey(s, &key) == 0;
    for (int i = 0; i < colours; ++i) {
      const SDL_Color c = f->palette->colors[i];
      const uint8_t a = keyed && key == static_cast<Uint32>(i) ? 0 : c.a;
      SetColour(dib.get(), static_cast<uint32_t>(i), {OverWhite(c.r, a), OverWhite(c.g, a), OverWhite(c.b, a)});
    }
    const DibRef o = RefOf(dib.get());
    const int bits = f->BitsPerPixel;
    const bool msb = SDL_PIXELORDER(f->format) != SDL_BITMAPORDER_4321;
    for (int32_t y = 0; y < s->h; ++y) {
      const uint8_t* in = static_cast<const uint8_t*>(s->pixels) + static_cast<std::size_t>(y) * s->pitch;
      uint8_t* out = MutableRow(dib.get(), o, y);
      for (int32_t x = 0; x < s->w; ++x) {
        uint8_t v;
        if (bits == 8) {
          v = in[x];
        } else {
          const int perByte = 8 / bits, slot = x % perByte;
          const int shift = msb ? 8 - bits * (slot + 1) : bits * slot;
          v = static_cast<uint8_t>((in[x / perByte] >> shift) & ((1 << bits) - 1));
        }
        out[x] = v < colours ? v : 0;
      }
    }
    return dib;
  }
  if (f->format == SDL_PIXELFORMAT_RGB24 || f->format == SDL_PIXELFORMAT_BGR24) {
    // What the JPEG and most other loaders give: swapped here, faster than a
    // general conversion.
    const bool swap = f->format == SDL_PIXELFORMAT_RGB24;
    DibPtr dib = NewDib(s->w, s->h, 24, 0);
    const DibRef o = RefOf(dib.get());
    for (int32_t y = 0; y < s->h; ++y) {
      const uint8_t* in = static_cast<const uint8_t*>(s->pixels) + static_cast<std::size_t>(y) * s->pitch;
      uint8_t* out = MutableRow(dib.get(), o, y);
      if (!swap) {
        std::memcpy(out, in, static_cast<std::size_t>(s->w) * 3);
        continue;
      }
      for (int32_t x = 0; x < s->w; ++x, in += 3, out += 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
      }
    }
    return dib;
  }
  const bool alpha = SDL_ISPIXELFORMAT_ALPHA(f->format);
  SurfacePtr c(SDL_ConvertSurfaceFormat(s, alpha ? SDL_PIXELFORMAT_RGBA32 : SDL_PIXELFORMAT_BGR24, 0));
  if (!c) Fail(kErrOutOfMemory);
  DibPtr dib = NewDib(s->w, s->h, 24, 0);
  const DibRef o = RefOf(dib.get());
  for (int32_t y = 0; y < s->h; ++y) {
    const uint8_t* in = static_cast<const uint8_t*>(c->pixels) + static_cast<std::size_t>(y) * c->pitch;
    uint8_t* out = MutableRow(dib.get(), o, y);
    if (!alpha) {
      std::memcpy(out, in, static_cast<std::size_t>(s->w) * 3);
      continue;
    }
    for (int32_t x = 0; x < s->w; ++x, in += 4, out += 3) {
      out[0] = OverWhite(in[2], in[3]);
      out[1] = OverWhite(in[1], in[3]);
      out[2] = OverWhite(in[0], in[3]);
    }
  }
  return dib;
}

// ---- PCX of bit planes, decoded here ----

// SDL2_image takes the bits of a planar row's last byte from the wrong end
// when the width is not a multiple of 8, so pictures of one-bit planes (2
// and 16 colours) are decoded here; 8-bit and 24-bit ones go to SDL2_image.
bool PlanarPcx(const Bytes& in) { return in.Has(0, 128) && in.data[3] == 1; }

DibPtr ReadPlanarPcx(const Bytes& in, const ProbeInfo& info) {
  const uint8_t* h = in.data;
  const bool coded = h[2] == 1;
  const int planes = h[65];
  const std::size_t bytesPerLine = Le16(h + 66);
  const std::size_t line = bytesPerLine * static_cast<std::size_t>(planes);
  DibPtr dib = NewDib(info.width, info.height, 8, 1u << planes);
  for (uint32_t i = 0; i < (1u << planes); ++i) {
    // The header's table has 16 entries; two colours use its first two.
    const uint8_t* c = h + 16 + 3 * i;
    SetColour(dib.get(), i, {c[0], c[1], c[2]});
  }
  const DibRef o = RefOf(dib.get());
  std::vector<uint8_t> row(line);
  uint64_t pos = 128;
  std::size_t run = 0;
  uint8_t value = 0;
  for (int32_t y = 0; y < info.height; ++y) {
    // Runs may carry on from one line into the next.
    for (std::size_t i = 0; i < line; ++i) {
      if (run == 0) {
        if (!in.Has(pos, 1)) Fail(kErrCorruptPcx);
        value = in.data[pos++];
        run = 1;
        if (coded && value >= 0xC0) {
          run = value & 0x3F;
          if (run == 0 || !in.Has(pos, 1)) Fail(kErrCorruptPcx);
          value = in.data[pos++];
        }
      }
      row[i] = value;
      --run;
    }
    uint8_t* out = MutableRow(dib.get(), o, y);
    for (int32_t x = 0; x < info.width; ++x) {
      uint8_t index = 0;
      for (int p = 0; p < planes; ++p)
        index |= static_cast<uint8_t>(((row[bytesPerLine * static_cast<std::size_t>(p) + (x >> 3)] >> (7 - (x & 7))) & 1) << p);
      out[x] = index;
    }
  }
  return dib;
}

// ---- TIFF through libtiff, reading from memory ----

// Codecs the decoder may run; the rarer ones stay out of reach of files
// from strangers.
bool SafeCompression(uint32_t c) {
  switch (c) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 7:
    case 8:
    case 32773:
    case 32946:
      return true;
    default:
      return false;
  }
}

DibPtr ReadTiff(const Bytes& in, int page) {
  const TiffFile file = WalkTiff(in);
  if (page < 1 || static_cast<std::size_t>(page) > file.directories.size()) Fail(kErrNoSuchPage);
  const TiffPage info = ReadTiffPage(in, file, static_cast<std::size_t>(page - 1));
  if (!SafeCompression(info.compression)) Fail(kErrUnsupported);

  TiffMemory mem(in);
  const TiffPtr tif = OpenTiff(mem, "rm");
  if (!tif) Fail(kErrCorruptTiff);
  if (!TIFFSetDirectory(tif.get(), static_cast<tdir_t>(page - 1))) Fail(kErrCorruptTiff);
  uint32_t width = 0, height = 0;
  TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
  // Our walk and libtiff's must agree on the page, or one of them is fooled.
  if (width != info.width || height != info.height) Fail(kErrCorruptTiff);
  char message[1024];
  if (!TIFFRGBAImageOK(tif.get(), message)) Fail(kErrUnsupported);

  std::vector<uint32_t> raster(static_cast<std::size_t>(width) * height);
  if (!TIFFReadRGBAImageOriented(tif.get(), width, height, raster.data(), ORIENTATION_BOTLEFT, 1))
    Fail(kErrCorruptTiff);
  // libtiff's raster holds colour already multiplied by alpha (it converts
  // unassociated alpha so, rounding as OverWhite does), except for grey,
  // whose value it leaves as stored.
  uint16_t photometric = PHOTOMETRIC_RGB;
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric);
  const bool straight = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
  const auto over = [straight](uint32_t c, uint32_t a) {
    return straight ? OverWhite(static_cast<uint8_t>(c), static_cast<uint8_t>(a))
                    : static_cast<uint8_t>(std::min<uint32_t>(255, c + 255 - a));
  };
  DibPtr dib = NewDib(static_cast<int32_t>(width), static_cast<int32_t>(height), 24, 0);
  const DibRef o = RefOf(dib.get());
  for (uint32_t y = 0; y < height; ++y) {
    // Raster row 0 is the bottom row, as in the block.
    const uint32_t* in = &raster[static_cast<std::size_t>(y) * width];
    uint8_t* out = MutableRow(dib.get(), o, static_cast<int32_t>(height - 1 - y));
    for (uint32_t x = 0; x < width; ++x, out += 3) {
      const uint32_t p = in[x], a = TIFFGetA(p);
      out[0] = over(TIFFGetB(p), a);
      out[1] = over(TIFFGetG(p), a);
      out[2] = over(TIFFGetR(p), a);
    }
  }
  return dib;
}

}  // namespace

DibPtr ReadPicture(Format format, const Bytes& in, int depth, bool dither, int page, Progress& progress) {
  if (!in.data || in.size == 0) Fail(kErrBadArgument);
  progress.Report(0);
  DibPtr decoded;
  if (format == Format::Tiff) {
    decoded = ReadTiff(in, page);
  } else {
    const ProbeInfo info = Probe(format, in);
    if (format == Format::Png && PngCarriesTransparency(in, info)) {
      decoded = ReadTransparentPng(in, info);
    } else if (format == Format::Pcx && PlanarPcx(in)) {
      decoded = ReadPlanarPcx(in, info);
    } else {
      SurfacePtr surface = LoadSurface(format, in);
      // The decoder must have produced the picture the probe vetted.
      if (surface->w != info.width || surface->h != info.height) Fail(CorruptCode(format));
      decoded = SurfaceToDib(surface.get(), format);
    }
  }
  progress.Slice(50, 99);
  progress.Report(0);
  const DibRef ref = RefOf(decoded.get());
  // A decoded block is already plain and bottom-up: at its own depth it is the answer.
  DibPtr out = depth == 24 && ref.bits == 24 ? std::move(decoded) : ToDepth(ref, depth, dither, progress);
  progress.Slice(0, 100);
  progress.Report(100);
  return out;
}

}  // namespace picturelib
