// Writes the starting corpus of fuzz_pictures: a small picture of every
// format and variant the readers take, and blocks of every depth and both
// run-length codings, each behind a control byte that picks another depth.
//   make_picture_seeds <folder>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "testing/pictures_harness.h"
#include "testing/picturelib_samples.h"

namespace {

using namespace picturelib;

void Put(const std::filesystem::path& dir, const std::string& name, uint8_t control,
         const std::vector<uint8_t>& bytes) {
  std::ofstream out(dir / name, std::ios::binary);
  out.put(static_cast<char>(control));
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// PNG of an 8-bit palette surface, or of a surface with an alpha channel.
std::vector<uint8_t> PngOf(const samples::Picture& p, bool palette) {
  SDL_Surface* s =
      SDL_CreateRGBSurfaceWithFormat(0, p.w, p.h, 0, palette ? SDL_PIXELFORMAT_INDEX8 : SDL_PIXELFORMAT_RGBA32);
  const std::vector<Rgb> colours = samples::Distinct(p);
  if (palette) {
    std::vector<SDL_Color> table;
    for (const Rgb& c : colours) table.push_back({c.r, c.g, c.b, 255});
    SDL_SetPaletteColors(s->format->palette, table.data(), 0, static_cast<int>(table.size()));
  }
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x) {
      uint8_t* q = static_cast<uint8_t*>(s->pixels) + y * s->pitch;
      const Rgb c = p.At(x, y);
      if (palette) {
        q[x] = samples::IndexOf(colours, c);
      } else {
        const uint8_t rgba[4] = {c.r, c.g, c.b, static_cast<uint8_t>(x * 40)};
        std::memcpy(q + 4 * x, rgba, 4);
      }
    }
  std::vector<uint8_t> buffer(1 << 16);
  SDL_RWops* rw = SDL_RWFromMem(buffer.data(), static_cast<int>(buffer.size()));
  IMG_SavePNG_RW(s, rw, 0);
  buffer.resize(static_cast<std::size_t>(SDL_RWtell(rw)));
  SDL_RWclose(rw);
  SDL_FreeSurface(s);
  return buffer;
}

// 32-bit TGA with alpha, rows top first.
std::vector<uint8_t> Tga32(const samples::Picture& p) {
  std::vector<uint8_t> f(18, 0);
  f[2] = 2;
  PutLe16(&f[12], static_cast<uint16_t>(p.w));
  PutLe16(&f[14], static_cast<uint16_t>(p.h));
  f[16] = 32;
  f[17] = 0x28;
  for (const Rgb& c : p.px) f.insert(f.end(), {c.b, c.g, c.r, 200});
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_picture_seeds <folder>\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::filesystem::create_directories(dir);
  using fuzzing::Control;
  const samples::Picture ramp = samples::Ramp(9, 6), few = samples::Few(7, 5, 6), two = samples::Few(6, 3, 2);

  Put(dir, "seed-png", Control(0, false, 1, true, 3), samples::Png(ramp));
  Put(dir, "seed-png-palette", Control(1, false, 1, false, 2), PngOf(few, true));
  Put(dir, "seed-png-alpha", Control(2, true, 1, false, 1), PngOf(ramp, false));
  Put(dir, "seed-jpeg", Control(1, true, 1, false, 2), samples::Jpeg(ramp, 90));
  Put(dir, "seed-gif", Control(2, false, 1, true, 1), samples::Gif(few));
  std::vector<uint8_t> interlaced = samples::Gif(samples::Ramp(5, 9));
  interlaced[13 + 768 + 8 + 9] |= 0x40;
  Put(dir, "seed-gif-interlaced", Control(0, false, 1, false, 3), interlaced);
  Put(dir, "seed-bmp24", Control(0, false, 1, false, 0), samples::Bmp24(ramp));
  Put(dir, "seed-bmp8", Control(1, true, 1, false, 3), samples::BmpOf(samples::ToDib(few, 8).get()));
  Put(dir, "seed-bmp4", Control(2, false, 1, false, 2), samples::BmpOf(samples::ToDib(few, 4).get()));
  Put(dir, "seed-bmp1", Control(3, true, 1, true, 1), samples::BmpOf(samples::ToDib(two, 1).get()));
  Put(dir, "seed-bmp-core", Control(1, false, 1, false, 0), samples::BmpCore(few));
  Put(dir, "seed-bmp-rle8", Control(0, false, 1, false, 3), samples::BmpOf(samples::Rle8Block().get()));
  Put(dir, "seed-bmp-rle4", Control(2, true, 1, false, 2), samples::BmpOf(samples::Rle4Block().get()));
  Put(dir, "seed-pcx8", Control(1, false, 1, true, 1), samples::Pcx(few, false));
  Put(dir, "seed-pcx24", Control(0, true, 1, false, 0), samples::Pcx(ramp, true));
  Put(dir, "seed-tga24", Control(0, false, 1, false, 3), samples::Tga(ramp, 2));
  Put(dir, "seed-tga-rle", Control(2, false, 1, true, 2), samples::Tga(few, 10));
  Put(dir, "seed-tga-mapped", Control(1, true, 1, false, 1), samples::Tga(few, 1));
  Put(dir, "seed-tga32", Control(1, false, 1, true, 2), Tga32(ramp));
  Put(dir, "seed-tga-grey", Control(3, false, 1, false, 0), samples::Tga(few, 3));
  Put(dir, "seed-tiff-le", Control(0, false, 1, true, 3), samples::Tiff({ramp}, false));
  Put(dir, "seed-tiff-be-pages", Control(1, true, 2, false, 2), samples::Tiff({few, ramp}, true));
  Put(dir, "seed-tiff-lzw", Control(2, false, 1, false, 1), samples::TiffCoded(ramp, 5));
  Put(dir, "seed-tiff-packbits", Control(0, true, 1, false, 0), samples::TiffCoded(few, 32773));

  const struct {
    const char* name;
    int bits;
    bool topDown;
  } blocks[] = {{"seed-dib1", 1, false},   {"seed-dib4", 4, false},  {"seed-dib8", 8, true},
                {"seed-dib16", 16, false}, {"seed-dib24", 24, true}, {"seed-dib32", 32, false}};
  int slot = 0;
  for (const auto& b : blocks) {
    const samples::Picture& p = b.bits == 1 ? two : b.bits <= 8 ? few : ramp;
    Put(dir, b.name, Control(slot % 4, slot % 2, 1, false, slot % 4),
        samples::DibBytes(samples::ToDib(p, b.bits, b.topDown).get()));
    ++slot;
  }
  Put(dir, "seed-dib-rle8", Control(0, false, 1, false, 3), samples::DibBytes(samples::Rle8Block().get()));
  Put(dir, "seed-dib-rle4", Control(1, true, 1, false, 2), samples::DibBytes(samples::Rle4Block().get()));

  // Files that lie, each refused before any decoder sees it; starting points
  // on the far side of the checks.
  std::vector<uint8_t> png = samples::Png(ramp);
  for (int i = 0; i < 4; ++i) png[16 + i] = static_cast<uint8_t>(16000 >> (24 - 8 * i));  // 16000 x 4000 in a few bytes
  for (int i = 0; i < 4; ++i) png[20 + i] = static_cast<uint8_t>(4000 >> (24 - 8 * i));
  Put(dir, "hostile-png-64m-pixels", Control(0, false, 1, false, 0), png);
  std::vector<uint8_t> jpeg = samples::Jpeg(ramp, 90);
  jpeg.resize(jpeg.size() - 2);
  for (int i = 0; i < 200; ++i) jpeg.insert(jpeg.end(), {0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 63, 0, 0x12});
  Put(dir, "hostile-jpeg-200-scans", Control(1, false, 1, false, 0), jpeg);
  std::vector<uint8_t> gif = samples::Gif(few);
  PutLe16(&gif[13 + 768 + 8 + 5], 65535);
  Put(dir, "hostile-gif-65535-wide", Control(2, false, 1, false, 0), gif);
  std::vector<uint8_t> bmp = samples::BmpOf(samples::ToDib(few, 8).get());
  PutLe32(&bmp[14 + 32], 256);
  bmp.resize(14 + 40 + 64);
  Put(dir, "hostile-bmp-colours-past-end", Control(3, false, 1, false, 0), bmp);
  std::vector<uint8_t> tiff = samples::Tiff({ramp}, false);
  const uint32_t ifd = Le32(&tiff[4]);
  PutLe32(&tiff[ifd + 2 + 9 * 12], ifd);
  Put(dir, "hostile-tiff-directory-loop", Control(0, false, 2, false, 0), tiff);
  // Walkable, so a page could be added, but its first page claims far more
  // pixels than its strip holds: adding a page to it is refused.
  std::vector<uint8_t> wide = samples::Tiff({ramp}, false);
  PutLe16(&wide[Le32(&wide[4]) + 2 + 8], 16000);
  Put(dir, "hostile-tiff-append-to-a-broken-page", Control(0, false, 1, true, 0), wide);
  std::vector<uint8_t> tga = samples::Tga(few, 10);
  PutLe16(&tga[12], 4096);
  PutLe16(&tga[14], 256);
  Put(dir, "hostile-tga-rle-short", Control(1, false, 1, false, 0), tga);
  std::vector<uint8_t> dib = samples::DibBytes(samples::ToDib(few, 8).get());
  dib.resize(dib.size() - 3);
  Put(dir, "hostile-dib-rows-past-end", Control(2, true, 1, false, 3), dib);
  return 0;
}
