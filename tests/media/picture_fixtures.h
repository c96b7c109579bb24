#pragma once
// Pictures and sounds made in the test, in every format the controls read:
// PNG, JPEG and BMP through SDL_image's savers, the rest written byte by byte
// so each file is exactly what its test needs.

#include <SDL.h>
#include <SDL_image.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace fixtures {

using Bytes = std::vector<std::uint8_t>;

struct Rgb {
  std::uint8_t r, g, b;
  friend bool operator==(Rgb, Rgb) = default;
};

// A w x h picture whose pixel colour is `colour(x, y)`.
struct Picture {
  int width = 0, height = 0;
  std::function<Rgb(int, int)> colour;
};

// Four flat quadrants: easy for every format, including lossy ones.
inline Picture Quadrants(int width, int height) {
  return {width, height, [=](int x, int y) {
            const bool right = x >= width / 2, bottom = y >= height / 2;
            if (!right && !bottom) return Rgb{255, 0, 0};
            if (right && !bottom) return Rgb{0, 160, 0};
            if (!right) return Rgb{0, 0, 255};
            return Rgb{255, 255, 255};
          }};
}

inline void Put16(Bytes& b, unsigned v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void Put32(Bytes& b, std::uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
inline void Append(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

inline SDL_Surface* ToSurface(const Picture& p) {
  SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, p.width, p.height, 24, SDL_PIXELFORMAT_RGB24);
  for (int y = 0; y < p.height; ++y) {
    auto* row = static_cast<std::uint8_t*>(s->pixels) + y * s->pitch;
    for (int x = 0; x < p.width; ++x) {
      const Rgb c = p.colour(x, y);
      row[3 * x] = c.r;
      row[3 * x + 1] = c.g;
      row[3 * x + 2] = c.b;
    }
  }
  return s;
}

// Saves through one of SDL's writers into memory.
inline Bytes Save(const Picture& p, const std::function<int(SDL_Surface*, SDL_RWops*)>& save) {
  SDL_Surface* s = ToSurface(p);
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(p.width) * p.height * 4 + 65536);
  SDL_RWops* rw = SDL_RWFromMem(buffer.data(), static_cast<int>(buffer.size()));
  const int result = save(s, rw);
  const auto size = SDL_RWtell(rw);
  SDL_RWclose(rw);
  SDL_FreeSurface(s);
  if (result != 0) throw std::runtime_error(std::string("fixture: ") + SDL_GetError());
  buffer.resize(static_cast<std::size_t>(size));
  return buffer;
}

inline Bytes Png(const Picture& p) {
  return Save(p, [](SDL_Surface* s, SDL_RWops* rw) { return IMG_SavePNG_RW(s, rw, 0); });
}
inline Bytes Jpeg(const Picture& p) {
  return Save(p, [](SDL_Surface* s, SDL_RWops* rw) { return IMG_SaveJPG_RW(s, rw, 0, 95); });
}
inline Bytes Bmp(const Picture& p) {
  return Save(p, [](SDL_Surface* s, SDL_RWops* rw) { return SDL_SaveBMP_RW(s, rw, 0); });
}

// The picture's distinct colours, at most 4 of them (the fixtures use few).
inline std::vector<Rgb> PaletteOf(const Picture& p) {
  std::vector<Rgb> palette;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      const Rgb c = p.colour(x, y);
      bool known = false;
      for (Rgb k : palette) known = known || k == c;
      if (!known) palette.push_back(c);
    }
  if (palette.size() > 4) throw std::logic_error("fixture: more than 4 colours");
  while (palette.size() < 4) palette.push_back({0, 0, 0});
  return palette;
}

inline int IndexOf(const std::vector<Rgb>& palette, Rgb c) {
  for (std::size_t i = 0; i < palette.size(); ++i)
    if (palette[i] == c) return static_cast<int>(i);
  return 0;
}

// A GIF with a 4-colour table. The code stream clears the dictionary every two
// pixels, so every code stays 3 bits wide and no real compression is needed.
inline Bytes Gif(const Picture& p) {
  const auto palette = PaletteOf(p);
  Bytes b;
  Append(b, "GIF89a");
  Put16(b, p.width);
  Put16(b, p.height);
  b.insert(b.end(), {0x81, 0, 0});  // global table of 4 entries
  for (Rgb c : palette) b.insert(b.end(), {c.r, c.g, c.b});
  b.push_back(0x2C);
  Put16(b, 0);
  Put16(b, 0);
  Put16(b, p.width);
  Put16(b, p.height);
  b.push_back(0);
  b.push_back(2);  // minimum code size
  Bytes codes;
  std::uint32_t acc = 0;
  int bits = 0;
  auto emit = [&](unsigned code) {
    acc |= code << bits;
    bits += 3;
    while (bits >= 8) {
      codes.push_back(static_cast<std::uint8_t>(acc));
      acc >>= 8;
      bits -= 8;
    }
  };
  int n = 0;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      if (n++ % 2 == 0) emit(4);
      emit(static_cast<unsigned>(IndexOf(palette, p.colour(x, y))));
    }
  emit(5);
  if (bits) codes.push_back(static_cast<std::uint8_t>(acc));
  for (std::size_t i = 0; i < codes.size(); i += 255) {
    const std::size_t len = std::min<std::size_t>(255, codes.size() - i);
    b.push_back(static_cast<std::uint8_t>(len));
    b.insert(b.end(), codes.begin() + static_cast<long>(i), codes.begin() + static_cast<long>(i + len));
  }
  b.push_back(0);
  b.push_back(0x3B);
  return b;
}

// An 8-bit run-length PCX with its 256-colour palette at the end.
inline Bytes Pcx(const Picture& p) {
  const auto palette = PaletteOf(p);
  const int stride = (p.width + 1) / 2 * 2;
  Bytes b{10, 5, 1, 8};
  Put16(b, 0);
  Put16(b, 0);
  Put16(b, p.width - 1);
  Put16(b, p.height - 1);
  Put16(b, 72);
  Put16(b, 72);
  b.resize(65, 0);
  b.push_back(1);  // planes
  Put16(b, stride);
  Put16(b, 1);
  b.resize(128, 0);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < stride; ++x) {
      const int index = x < p.width ? IndexOf(palette, p.colour(x, y)) : 0;
      b.insert(b.end(), {0xC1, static_cast<std::uint8_t>(index)});
    }
  b.push_back(12);
  for (int i = 0; i < 256; ++i) {
    const Rgb c = i < 4 ? palette[i] : Rgb{0, 0, 0};
    b.insert(b.end(), {c.r, c.g, c.b});
  }
  return b;
}

// An uncompressed 24-bit TGA, rows stored bottom-up.
inline Bytes Tga(const Picture& p) {
  Bytes b{0, 0, 2, 0, 0, 0, 0, 0};
  Put16(b, 0);
  Put16(b, 0);
  Put16(b, p.width);
  Put16(b, p.height);
  b.push_back(24);
  b.push_back(0);
  for (int y = p.height - 1; y >= 0; --y)
    for (int x = 0; x < p.width; ++x) {
      const Rgb c = p.colour(x, y);
      b.insert(b.end(), {c.b, c.g, c.r});
    }
  return b;
}

// A little-endian baseline TIFF, one uncompressed RGB page per picture.
inline Bytes Tiff(const std::vector<Picture>& pages) {
  Bytes b{'I', 'I', 42, 0};
  Put32(b, 0);  // first IFD, patched below
  std::size_t link = 4;
  for (const Picture& p : pages) {
    const std::uint32_t pixels = static_cast<std::uint32_t>(b.size());
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x) {
        const Rgb c = p.colour(x, y);
        b.insert(b.end(), {c.r, c.g, c.b});
      }
    const std::uint32_t bitsAt = static_cast<std::uint32_t>(b.size());
    Put16(b, 8), Put16(b, 8), Put16(b, 8);
    if (b.size() % 2) b.push_back(0);
    const auto ifd = static_cast<std::uint32_t>(b.size());
    for (int i = 0; i < 4; ++i) b[link + i] = static_cast<std::uint8_t>(ifd >> (8 * i));
    struct Entry { unsigned tag, type; std::uint32_t count, value; };
    const std::uint32_t size = static_cast<std::uint32_t>(p.width * p.height * 3);
    const Entry entries[] = {
        {256, 4, 1, static_cast<std::uint32_t>(p.width)},
        {257, 4, 1, static_cast<std::uint32_t>(p.height)},
        {258, 3, 3, bitsAt},
        {259, 3, 1, 1},
        {262, 3, 1, 2},
        {273, 4, 1, pixels},
        {277, 3, 1, 3},
        {278, 4, 1, static_cast<std::uint32_t>(p.height)},
        {279, 4, 1, size},
        {284, 3, 1, 1},
    };
    Put16(b, std::size(entries));
    for (const Entry& e : entries) {
      Put16(b, e.tag);
      Put16(b, e.type);
      Put32(b, e.count);
      Put32(b, e.value);
    }
    link = b.size();
    Put32(b, 0);
  }
  return b;
}

// A RIFF WAVE of 16-bit mono PCM: a sine of `hz` for `ms` milliseconds.
inline Bytes Wav(int ms, int hz = 440, int rate = 22050) {
  const std::uint32_t samples = static_cast<std::uint32_t>(std::int64_t{rate} * ms / 1000);
  Bytes b;
  Append(b, "RIFF");
  Put32(b, 36 + samples * 2);
  Append(b, "WAVEfmt ");
  Put32(b, 16);
  Put16(b, 1);
  Put16(b, 1);
  Put32(b, static_cast<std::uint32_t>(rate));
  Put32(b, static_cast<std::uint32_t>(rate * 2));
  Put16(b, 2);
  Put16(b, 16);
  Append(b, "data");
  Put32(b, samples * 2);
  for (std::uint32_t i = 0; i < samples; ++i)
    Put16(b, static_cast<std::uint16_t>(static_cast<std::int16_t>(
                 8000 * std::sin(2 * M_PI * hz * static_cast<double>(i) / rate))));
  return b;
}

}  // namespace fixtures
