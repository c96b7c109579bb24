#pragma once
// Small pictures in every format the libraries read, made by code: PNG and
// JPEG through SDL2_image's savers, the rest byte by byte (GIF with a plain
// LZW code stream, TIFF with hand-laid directories in either byte order).
// Used by the picturelib tests and by the fuzz target's seed maker.
#include <SDL.h>
#include <SDL_image.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "media/picturelib/core/bytes.h"
#include "media/picturelib/core/dib.h"

namespace picturelib::samples {

struct Picture {
  int w = 0, h = 0;
  std::vector<Rgb> px;  // rows top first
  Rgb At(int x, int y) const { return px[static_cast<std::size_t>(y) * w + x]; }
};

// Many colours: a smooth ramp each way.
inline Picture Ramp(int w, int h) {
  Picture p{w, h, {}};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      p.px.push_back({static_cast<uint8_t>(x * 255 / (w > 1 ? w - 1 : 1)),
                      static_cast<uint8_t>(y * 255 / (h > 1 ? h - 1 : 1)),
                      static_cast<uint8_t>(255 - (x + y) * 255 / (w + h > 2 ? w + h - 2 : 1))});
  return p;
}

// `n` colours (at most 16) from a fixed set, in a pattern that touches every one.
inline Picture Few(int w, int h, int n) {
  static const Rgb kSet[16] = {{200, 30, 40},   {20, 120, 220}, {250, 250, 250}, {0, 0, 0},
                               {40, 180, 60},   {250, 200, 0},  {120, 60, 160},  {90, 90, 90},
                               {255, 128, 192}, {0, 160, 160},  {140, 70, 20},   {180, 220, 255},
                               {60, 0, 0},      {0, 60, 0},     {0, 0, 60},      {200, 200, 120}};
  Picture p{w, h, {}};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p.px.push_back(kSet[(x + 3 * y) % n]);
  return p;
}

inline std::vector<Rgb> Distinct(const Picture& p) {
  std::vector<Rgb> out;
  for (const Rgb& c : p.px)
    if (std::find(out.begin(), out.end(), c) == out.end()) out.push_back(c);
  return out;
}
inline uint8_t IndexOf(const std::vector<Rgb>& palette, Rgb c) {
  return static_cast<uint8_t>(std::find(palette.begin(), palette.end(), c) - palette.begin());
}

// The picture a block holds, whatever its depth.
inline Picture FromDib(const img_dib* dib) {
  const DibRef d = InspectDib(dib);
  Picture p{d.width, d.height, {}};
  std::vector<uint8_t> rgb(static_cast<std::size_t>(d.width) * 3);
  for (int32_t y = 0; y < d.height; ++y) {
    RowToRgb(d, y, rgb.data());
    for (std::size_t i = 0; i < rgb.size(); i += 3) p.px.push_back({rgb[i], rgb[i + 1], rgb[i + 2]});
  }
  return p;
}

// A block of `bits` (1, 4, 8 with the picture's own colours; 16, 24, 32 direct).
inline DibPtr ToDib(const Picture& p, int bits, bool topDown = false) {
  const std::vector<Rgb> palette = bits <= 8 ? Distinct(p) : std::vector<Rgb>{};
  if (bits <= 8 && palette.size() > (1u << bits)) throw std::logic_error("too many colours for the depth");
  DibPtr dib = NewDib(p.w, p.h, bits, static_cast<uint32_t>(palette.size()));
  for (std::size_t i = 0; i < palette.size(); ++i) SetColour(dib.get(), static_cast<uint32_t>(i), palette[i]);
  if (topDown) PutLe32(dib->bytes + IMG_DIB_OFF_HEIGHT, static_cast<uint32_t>(-p.h));
  const DibRef d = InspectDib(dib.get());
  for (int y = 0; y < p.h; ++y) {
    uint8_t* row = MutableRow(dib.get(), d, y);
    for (int x = 0; x < p.w; ++x) {
      const Rgb c = p.At(x, y);
      switch (bits) {
        case 16:
          PutLe16(row + 2 * x, static_cast<uint16_t>((c.r >> 3) << 10 | (c.g >> 3) << 5 | c.b >> 3));
          break;
        case 24:
        case 32: {
          uint8_t* q = row + x * (bits / 8);
          q[0] = c.b;
          q[1] = c.g;
          q[2] = c.r;
          break;
        }
        default:
          PutIndex(row, x, bits, IndexOf(palette, c));
      }
    }
  }
  return dib;
}

inline std::vector<uint8_t> DibBytes(const img_dib* dib) { return {dib->bytes, dib->bytes + dib->size}; }
inline DibPtr DibOf(const std::vector<uint8_t>& bytes) {
  DibPtr dib(img_dib_alloc(static_cast<uint32_t>(bytes.size())));
  if (!bytes.empty()) std::memcpy(dib->bytes, bytes.data(), bytes.size());
  return dib;
}

// ---- through SDL2_image ----

inline SDL_Surface* Surface(const Picture& p) {
  SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, p.w, p.h, 24, SDL_PIXELFORMAT_RGB24);
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x) {
      uint8_t* q = static_cast<uint8_t*>(s->pixels) + y * s->pitch + 3 * x;
      q[0] = p.At(x, y).r;
      q[1] = p.At(x, y).g;
      q[2] = p.At(x, y).b;
    }
  return s;
}

template <class Save>
std::vector<uint8_t> Saved(const Picture& p, Save save) {
  std::vector<uint8_t> buffer(1 << 20);
  SDL_RWops* rw = SDL_RWFromMem(buffer.data(), static_cast<int>(buffer.size()));
  SDL_Surface* s = Surface(p);
  const int result = save(s, rw);
  buffer.resize(static_cast<std::size_t>(SDL_RWtell(rw)));
  SDL_RWclose(rw);
  SDL_FreeSurface(s);
  if (result != 0) throw std::runtime_error(SDL_GetError());
  return buffer;
}

inline std::vector<uint8_t> Png(const Picture& p) {
  return Saved(p, [](SDL_Surface* s, SDL_RWops* rw) { return IMG_SavePNG_RW(s, rw, 0); });
}
inline std::vector<uint8_t> Jpeg(const Picture& p, int quality = 100) {
  return Saved(p, [quality](SDL_Surface* s, SDL_RWops* rw) { return IMG_SaveJPG_RW(s, rw, 0, quality); });
}
inline std::vector<uint8_t> Bmp24(const Picture& p) {
  return Saved(p, [](SDL_Surface* s, SDL_RWops* rw) { return SDL_SaveBMP_RW(s, rw, 0); });
}

// ---- byte by byte ----

// A PNG of any colour type and depth from its packed rows (filter bytes are
// added here), with an optional palette and transparency chunk. The image
// data is deflate's stored blocks, so no compressor is needed and each case
// is exactly the bytes its test describes.
struct PngParts {
  uint32_t w = 0, h = 0;
  uint8_t depth = 8, type = 0;
  std::vector<std::vector<uint8_t>> rows;
  std::vector<uint8_t> palette, transparency;  // empty: chunk left out
};

inline uint32_t Crc32(const uint8_t* p, std::size_t n, uint32_t crc = 0) {
  crc = ~crc;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = crc & 1 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  }
  return ~crc;
}

inline std::vector<uint8_t> PngOf(const PngParts& parts) {
  std::vector<uint8_t> f = {137, 80, 78, 71, 13, 10, 26, 10};
  const auto be32 = [](std::vector<uint8_t>& v, uint32_t x) {
    for (int shift = 24; shift >= 0; shift -= 8) v.push_back(static_cast<uint8_t>(x >> shift));
  };
  const auto chunk = [&](const char* tag, const std::vector<uint8_t>& body) {
    be32(f, static_cast<uint32_t>(body.size()));
    const std::size_t from = f.size();
    f.insert(f.end(), tag, tag + 4);
    f.insert(f.end(), body.begin(), body.end());
    be32(f, Crc32(f.data() + from, f.size() - from));
  };
  std::vector<uint8_t> header;
  be32(header, parts.w);
  be32(header, parts.h);
  header.insert(header.end(), {parts.depth, parts.type, 0, 0, 0});
  chunk("IHDR", header);
  if (!parts.palette.empty()) chunk("PLTE", parts.palette);
  if (!parts.transparency.empty()) chunk("tRNS", parts.transparency);
  std::vector<uint8_t> raw;
  for (const auto& row : parts.rows) {
    raw.push_back(0);
    raw.insert(raw.end(), row.begin(), row.end());
  }
  std::vector<uint8_t> z = {0x78, 0x01};
  for (std::size_t at = 0; at < raw.size() || at == 0; at += 65535) {
    const std::size_t n = std::min<std::size_t>(65535, raw.size() - at);
    z.push_back(at + n >= raw.size() ? 1 : 0);
    z.insert(z.end(), {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(~n),
                       static_cast<uint8_t>(~n >> 8)});
    z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(at), raw.begin() + static_cast<std::ptrdiff_t>(at + n));
    if (raw.empty()) break;
  }
  uint32_t a = 1, b = 0;
  for (uint8_t v : raw) {
    a = (a + v) % 65521;
    b = (b + a) % 65521;
  }
  be32(z, b << 16 | a);
  chunk("IDAT", z);
  chunk("IEND", {});
  return f;
}

inline void PushLe16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
inline void PushLe32(std::vector<uint8_t>& v, uint32_t x) {
  PushLe16(v, x & 0xFFFF);
  PushLe16(v, x >> 16);
}

// A BMP file around a block: file header, then the block as it stands.
inline std::vector<uint8_t> BmpOf(const img_dib* dib) {
  const DibRef d = InspectDib(dib);
  std::vector<uint8_t> f{'B', 'M'};
  PushLe32(f, 14 + dib->size);
  PushLe32(f, 0);
  PushLe32(f, 14 + 40 + 4 * d.colours);
  f.insert(f.end(), dib->bytes, dib->bytes + dib->size);
  return f;
}

// The older 12-byte core header with 3-byte colour entries, 8 bits.
inline std::vector<uint8_t> BmpCore(const Picture& p) {
  const std::vector<Rgb> palette = Distinct(p);
  const std::size_t row = (static_cast<std::size_t>(p.w) + 3) & ~std::size_t{3};
  std::vector<uint8_t> f{'B', 'M'};
  PushLe32(f, static_cast<uint32_t>(14 + 12 + 3 * 256 + row * p.h));
  PushLe32(f, 0);
  PushLe32(f, 14 + 12 + 3 * 256);
  PushLe32(f, 12);
  PushLe16(f, p.w);
  PushLe16(f, p.h);
  PushLe16(f, 1);
  PushLe16(f, 8);
  for (int i = 0; i < 256; ++i) {
    const Rgb c = i < static_cast<int>(palette.size()) ? palette[i] : Rgb{};
    f.insert(f.end(), {c.b, c.g, c.r});
  }
  for (int y = p.h - 1; y >= 0; --y) {
    for (int x = 0; x < p.w; ++x) f.push_back(IndexOf(palette, p.At(x, y)));
    f.resize(f.size() + row - p.w, 0);
  }
  return f;
}

// A GIF whose code stream never compresses: every pixel its own code, with a
// clear code often enough that codes stay 9 bits wide.
inline std::vector<uint8_t> Gif(const Picture& p) {
  const std::vector<Rgb> palette = Distinct(p);
  std::vector<uint8_t> f{'G', 'I', 'F', '8', '9', 'a'};
  PushLe16(f, p.w);
  PushLe16(f, p.h);
  f.insert(f.end(), {0xF7, 0, 0});  // global table of 256
  for (int i = 0; i < 256; ++i) {
    const Rgb c = i < static_cast<int>(palette.size()) ? palette[i] : Rgb{};
    f.insert(f.end(), {c.r, c.g, c.b});
  }
  f.insert(f.end(), {0x21, 0xF9, 4, 0, 0, 0, 0, 0});  // a graphic control extension to walk past
  f.push_back(0x2C);
  PushLe16(f, 0);
  PushLe16(f, 0);
  PushLe16(f, p.w);
  PushLe16(f, p.h);
  f.push_back(0);
  f.push_back(8);
  std::vector<uint8_t> codes;
  uint32_t acc = 0;
  int nbits = 0;
  const auto emit = [&](uint32_t code) {
    acc |= code << nbits;
    nbits += 9;
    while (nbits >= 8) {
      codes.push_back(static_cast<uint8_t>(acc));
      acc >>= 8;
      nbits -= 8;
    }
  };
  emit(256);
  int sinceClear = 0;
  for (const Rgb& c : p.px) {
    if (sinceClear == 250) {
      emit(256);
      sinceClear = 0;
    }
    emit(IndexOf(palette, c));
    ++sinceClear;
  }
  emit(257);
  if (nbits > 0) codes.push_back(static_cast<uint8_t>(acc));
  for (std::size_t i = 0; i < codes.size(); i += 255) {
    const std::size_t n = std::min<std::size_t>(255, codes.size() - i);
    f.push_back(static_cast<uint8_t>(n));
    f.insert(f.end(), codes.begin() + static_cast<std::ptrdiff_t>(i),
             codes.begin() + static_cast<std::ptrdiff_t>(i + n));
  }
  f.push_back(0);
  f.push_back(0x3B);
  return f;
}

// PCX, run-length coded: 8 bits with a 256-colour table at the end, or three
// planes of 8 bits.
inline std::vector<uint8_t> Pcx(const Picture& p, bool truecolour) {
  const std::vector<Rgb> palette = truecolour ? std::vector<Rgb>{} : Distinct(p);
  const int planes = truecolour ? 3 : 1;
  const int bytesPerLine = (p.w + 1) & ~1;
  std::vector<uint8_t> f(128, 0);
  f[0] = 0x0A;
  f[1] = 5;
  f[2] = 1;
  f[3] = 8;
  PutLe16(&f[8], static_cast<uint16_t>(p.w - 1));
  PutLe16(&f[10], static_cast<uint16_t>(p.h - 1));
  PutLe16(&f[12], 72);
  PutLe16(&f[14], 72);
  f[65] = static_cast<uint8_t>(planes);
  PutLe16(&f[66], static_cast<uint16_t>(bytesPerLine));
  PutLe16(&f[68], 1);
  for (int y = 0; y < p.h; ++y)
    for (int plane = 0; plane < planes; ++plane)
      for (int x = 0; x < bytesPerLine; ++x) {
        uint8_t v = 0;
        if (x < p.w) {
          const Rgb c = p.At(x, y);
          v = truecolour ? (plane == 0 ? c.r : plane == 1 ? c.g : c.b) : IndexOf(palette, c);
        }
        if (v >= 0xC0) f.push_back(0xC1);  // a run of one
        f.push_back(v);
      }
  if (!truecolour) {
    f.push_back(12);
    for (int i = 0; i < 256; ++i) {
      const Rgb c = i < static_cast<int>(palette.size()) ? palette[i] : Rgb{};
      f.insert(f.end(), {c.r, c.g, c.b});
    }
  }
  return f;
}

// TGA of image type 1 (colour-mapped), 2 (24-bit), 3 (grey) or 10 (24-bit,
// run-length), rows bottom first.
inline std::vector<uint8_t> Tga(const Picture& p, int type) {
  const std::vector<Rgb> palette = type == 1 ? Distinct(p) : std::vector<Rgb>{};
  std::vector<uint8_t> f(18, 0);
  f[0] = 0;
  f[1] = type == 1;
  f[2] = static_cast<uint8_t>(type);
  if (type == 1) {
    PutLe16(&f[5], static_cast<uint16_t>(palette.size()));
    f[7] = 24;
  }
  PutLe16(&f[12], static_cast<uint16_t>(p.w));
  PutLe16(&f[14], static_cast<uint16_t>(p.h));
  f[16] = type == 2 || type == 10 ? 24 : 8;
  for (const Rgb& c : palette) f.insert(f.end(), {c.b, c.g, c.r});
  for (int y = p.h - 1; y >= 0; --y) {
    for (int x = 0; x < p.w;) {
      const Rgb c = p.At(x, y);
      if (type == 10) {
        int run = 1;
        while (x + run < p.w && run < 128 && p.At(x + run, y) == c) ++run;
        f.push_back(static_cast<uint8_t>(0x80 | (run - 1)));
        f.insert(f.end(), {c.b, c.g, c.r});
        x += run;
        continue;
      }
      if (type == 1) {
        f.push_back(IndexOf(palette, c));
      } else if (type == 3) {
        f.push_back(c.r);
      } else {
        f.insert(f.end(), {c.b, c.g, c.r});
      }
      ++x;
    }
  }
  return f;
}

// An uncompressed 8-bit RGB TIFF with one page per picture.
inline std::vector<uint8_t> Tiff(const std::vector<Picture>& pages, bool bigEndian) {
  std::vector<uint8_t> f;
  const auto u16 = [&](std::size_t at, uint32_t v) {
    if (bigEndian) {
      f[at] = static_cast<uint8_t>(v >> 8);
      f[at + 1] = static_cast<uint8_t>(v);
    } else {
      f[at] = static_cast<uint8_t>(v);
      f[at + 1] = static_cast<uint8_t>(v >> 8);
    }
  };
  const auto u32 = [&](std::size_t at, uint32_t v) {
    if (bigEndian) {
      u16(at, v >> 16);
      u16(at + 2, v & 0xFFFF);
    } else {
      u16(at, v & 0xFFFF);
      u16(at + 2, v >> 16);
    }
  };
  f.resize(8);
  f[0] = f[1] = bigEndian ? 'M' : 'I';
  u16(2, 42);
  std::size_t link = 4;  // where the next directory's offset goes
  for (const Picture& p : pages) {
    const std::size_t bps = f.size();
    f.resize(bps + 6);
    for (int i = 0; i < 3; ++i) u16(bps + 2 * i, 8);
    const std::size_t strip = f.size();
    for (const Rgb& c : p.px) f.insert(f.end(), {c.r, c.g, c.b});
    if (f.size() & 1) f.push_back(0);
    const std::size_t ifd = f.size();
    const uint32_t entries[][4] = {{256, 4, 1, static_cast<uint32_t>(p.w)},
                                   {257, 4, 1, static_cast<uint32_t>(p.h)},
                                   {258, 3, 3, static_cast<uint32_t>(bps)},
                                   {259, 3, 1, 1},
                                   {262, 3, 1, 2},
                                   {273, 4, 1, static_cast<uint32_t>(strip)},
                                   {277, 3, 1, 3},
                                   {278, 4, 1, static_cast<uint32_t>(p.h)},
                                   {279, 4, 1, static_cast<uint32_t>(p.px.size() * 3)}};
    const std::size_t n = sizeof entries / sizeof entries[0];
    f.resize(ifd + 2 + 12 * n + 4, 0);
    u16(ifd, static_cast<uint32_t>(n));
    for (std::size_t e = 0; e < n; ++e) {
      const std::size_t at = ifd + 2 + 12 * e;
      u16(at, entries[e][0]);
      u16(at + 2, entries[e][1]);
      u32(at + 4, entries[e][2]);
      if (entries[e][1] == 3 && entries[e][2] == 1)
        u16(at + 8, entries[e][3]);
      else
        u32(at + 8, entries[e][3]);
    }
    u32(link, static_cast<uint32_t>(ifd));
    link = ifd + 2 + 12 * n;
  }
  return f;
}

// A TIFF written by libtiff itself, with one of its codecs (5 LZW, 32773
// PackBits, 8 Deflate), through a scratch file.
inline std::vector<uint8_t> TiffCoded(const Picture& p, uint16_t compression) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("picturelib-sample-" + std::to_string(::getpid()) + ".tif");
  TIFF* t = TIFFOpen(path.c_str(), "w");
  if (!t) throw std::runtime_error("cannot write " + path.string());
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(p.w));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(p.h));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 2);
  std::vector<uint8_t> row(static_cast<std::size_t>(p.w) * 3);
  for (int y = 0; y < p.h; ++y) {
    for (int x = 0; x < p.w; ++x) {
      row[3 * x] = p.At(x, y).r;
      row[3 * x + 1] = p.At(x, y).g;
      row[3 * x + 2] = p.At(x, y).b;
    }
    TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0);
  }
  TIFFClose(t);
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  std::filesystem::remove(path);
  return bytes;
}

// A one-row TIFF of grey or RGB samples with an alpha sample after them
// (`associated` or not), written by libtiff itself.
inline std::vector<uint8_t> TiffWithAlpha(const std::vector<uint8_t>& row, int colourSamples, bool associated) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("picturelib-alpha-" + std::to_string(::getpid()) + ".tif");
  TIFF* t = TIFFOpen(path.c_str(), "w");
  if (!t) throw std::runtime_error("cannot write " + path.string());
  const uint16_t samples = static_cast<uint16_t>(colourSamples + 1);
  const uint16_t extra = associated ? EXTRASAMPLE_ASSOCALPHA : EXTRASAMPLE_UNASSALPHA;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(row.size() / samples));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, 1u);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, colourSamples == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 1u);
  std::vector<uint8_t> copy = row;
  TIFFWriteScanline(t, copy.data(), 0, 0);
  TIFFClose(t);
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  std::filesystem::remove(path);
  return bytes;
}

// Run-length blocks by hand, 4 wide and 3 high, with every kind of code: a
// run, absolute pixels, a move (delta), an end of line and the end of the
// picture. `Rle8Expected`/`Rle4Expected` give the indices, rows top first.
inline DibPtr RunLengthBlock(int bits, const std::vector<uint8_t>& data, uint32_t colours) {
  DibPtr dib(img_dib_alloc(static_cast<uint32_t>(40 + 4 * colours + data.size())));
  uint8_t* b = dib->bytes;
  PutLe32(b, 40);
  PutLe32(b + 4, 4);
  PutLe32(b + 8, 3);
  PutLe16(b + 12, 1);
  PutLe16(b + 14, static_cast<uint16_t>(bits));
  PutLe32(b + 16, bits == 8 ? 1 : 2);
  PutLe32(b + 20, static_cast<uint32_t>(data.size()));
  PutLe32(b + 32, colours);
  for (uint32_t i = 0; i < colours; ++i) {
    b[40 + 4 * i] = static_cast<uint8_t>(i * 15);
    b[41 + 4 * i] = static_cast<uint8_t>(255 - i * 15);
    b[42 + 4 * i] = static_cast<uint8_t>(i * 7);
  }
  std::memcpy(b + 40 + 4 * colours, data.data(), data.size());
  return dib;
}
inline DibPtr Rle8Block() {
  // bottom row: run of 3 x index 5, end of line; middle row: absolute 1 2 3, end
  // of line; top row: move right 2, run of 2 x index 7, end of picture.
  return RunLengthBlock(8, {3, 5, 0, 0, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 2, 0, 2, 7, 0, 1}, 16);
}
inline const std::vector<std::vector<uint8_t>> kRle8Expected = {{0, 0, 7, 7}, {1, 2, 3, 0}, {5, 5, 5, 0}};
inline DibPtr Rle4Block() {
  // bottom row: run of 4 alternating 1 and 2; middle row: absolute 3 4 5;
  // top row: run of 1 x 9, move right 1, run of 2 x 6/6.
  return RunLengthBlock(4, {4, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 0, 1, 0x90, 0, 2, 1, 0, 2, 0x66, 0, 1}, 16);
}
inline const std::vector<std::vector<uint8_t>> kRle4Expected = {{9, 0, 6, 6}, {3, 4, 5, 0}, {1, 2, 1, 2}};

}  // namespace picturelib::samples
