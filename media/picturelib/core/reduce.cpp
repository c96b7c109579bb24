#include "media/picturelib/core/reduce.h"

#include <algorithm>
#include <array>

#include "media/picturelib/core/errors.h"

namespace picturelib {
namespace {

constexpr Rgb kVga[16] = {{0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},  {0, 0, 128}, {128, 0, 128},
                          {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0},    {0, 255, 0}, {255, 255, 0},
                          {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};

uint32_t Key(const uint8_t* rgb) { return uint32_t{rgb[0]} << 16 | uint32_t{rgb[1]} << 8 | rgb[2]; }

// The picture's distinct colours, given up as soon as there are more than
// `limit` (at most 256), so a photo costs one short look at each pixel.
class ColourSet {
 public:
  explicit ColourSet(std::size_t limit) : limit_(limit), slots_(1024, kEmpty), index_(1024, 0) {}

  bool Add(uint32_t key) {
    std::size_t s = Slot(key);
    if (slots_[s] == key) return true;
    if (colours_.size() == limit_) return false;
    slots_[s] = key;
    index_[s] = static_cast<uint8_t>(colours_.size());
    colours_.push_back(key);
    return true;
  }
  uint8_t IndexOf(uint32_t key) const { return index_[Slot(key)]; }
  std::vector<Rgb> Palette() const {
    std::vector<Rgb> out;
    for (uint32_t k : colours_)
      out.push_back({static_cast<uint8_t>(k >> 16), static_cast<uint8_t>(k >> 8), static_cast<uint8_t>(k)});
    return out;
  }

 private:
  static constexpr uint32_t kEmpty = 0xFFFFFFFFu;
  std::size_t Slot(uint32_t key) const {
    std::size_t s = (key * 2654435761u) >> 22;
    while (slots_[s] != kEmpty && slots_[s] != key) s = (s + 1) & 1023;
    return s;
  }
  std::size_t limit_;
  std::vector<uint32_t> slots_;
  std::vector<uint8_t> index_;
  std::vector<uint32_t> colours_;
};

// Nearest palette colour of each 6-6-6 cell, worked out the first time the
// cell is asked for.
class InverseMap {
 public:
  explicit InverseMap(const std::vector<Rgb>& palette) : palette_(palette) {}

  uint8_t Nearest(int r, int g, int b) {
    if (cache_.empty()) cache_.assign(1 << 18, -1);
    const std::size_t key = static_cast<std::size_t>(r >> 2) << 12 | static_cast<std::size_t>(g >> 2) << 6 |
                            static_cast<std::size_t>(b >> 2);
    if (cache_[key] < 0) {
      const int cr = (r & ~3) + 2, cg = (g & ~3) + 2, cb = (b & ~3) + 2;
      int best = 0, bestDistance = 1 << 30;
      for (std::size_t i = 0; i < palette_.size(); ++i) {
        const int dr = cr - palette_[i].r, dg = cg - palette_[i].g, db = cb - palette_[i].b;
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
          bestDistance = d;
          best = static_cast<int>(i);
        }
      }
      cache_[key] = static_cast<int16_t>(best);
    }
    return static_cast<uint8_t>(cache_[key]);
  }

 private:
  const std::vector<Rgb>& palette_;
  std::vector<int16_t> cache_;
};

std::vector<Rgb> MedianCut(const DibRef& src, std::size_t count) {
  struct Bin {
    uint64_t n = 0, r = 0, g = 0, b = 0;
  };
  std::vector<Bin> bins(1 << 15);
  std::vector<uint8_t> rgb(static_cast<std::size_t>(src.width) * 3);
  for (int32_t y = 0; y < src.height; ++y) {
    RowToRgb(src, y, rgb.data());
    for (std::size_t i = 0; i < rgb.size(); i += 3) {
      Bin& bin = bins[(rgb[i] >> 3) << 10 | (rgb[i + 1] >> 3) << 5 | rgb[i + 2] >> 3];
      ++bin.n;
      bin.r += rgb[i];
      bin.g += rgb[i + 1];
      bin.b += rgb[i + 2];
    }
  }
  std::vector<uint16_t> keys;
  for (std::size_t k = 0; k < bins.size(); ++k)
    if (bins[k].n) keys.push_back(static_cast<uint16_t>(k));
  const auto channel = [](uint16_t key, int axis) { return (key >> (10 - 5 * axis)) & 31; };

  struct Box {
    std::size_t begin, end;
    uint64_t n = 0;
    int axis = 0, range = 0;
  };
  const auto measure = [&](Box& box) {
    std::array<int, 3> lo{31, 31, 31}, hi{0, 0, 0};
    box.n = 0;
    for (std::size_t i = box.begin; i < box.end; ++i) {
      box.n += bins[keys[i]].n;
      for (int a = 0; a < 3; ++a) {
        lo[a] = std::min(lo[a], channel(keys[i], a));
        hi[a] = std::max(hi[a], channel(keys[i], a));
      }
    }
    box.range = -1;
    for (int a = 0; a < 3; ++a)
      if (hi[a] - lo[a] > box.range) {
        box.range = hi[a] - lo[a];
        box.axis = a;
      }
  };
  std::vector<Box> boxes{{0, keys.size()}};
  measure(boxes[0]);
  while (boxes.size() < count) {
    // The most populous box with the widest spread is split next.
    Box* best = nullptr;
    for (Box& b : boxes)
      if (b.range > 0 && (!best || b.n * static_cast<uint64_t>(b.range) > best->n * static_cast<uint64_t>(best->range)))
        best = &b;
    if (!best) break;
    Box box = *best;
    std::sort(keys.begin() + static_cast<std::ptrdiff_t>(box.begin),
              keys.begin() + static_cast<std::ptrdiff_t>(box.end),
              [&](uint16_t a, uint16_t b) { return channel(a, box.axis) < channel(b, box.axis); });
    uint64_t seen = 0;
    std::size_t cut = box.begin;
    while (cut < box.end - 1 && seen + bins[keys[cut]].n <= box.n / 2) seen += bins[keys[cut++]].n;
    if (cut == box.begin) cut = box.begin + 1;
    Box low{box.begin, cut}, high{cut, box.end};
    measure(low);
    measure(high);
    *best = low;
    boxes.push_back(high);
  }
  std::vector<Rgb> palette;
  for (const Box& box : boxes) {
    uint64_t r = 0, g = 0, b = 0;
    for (std::size_t i = box.begin; i < box.end; ++i) {
      r += bins[keys[i]].r;
      g += bins[keys[i]].g;
      b += bins[keys[i]].b;
    }
    const auto mean = [&](uint64_t sum) { return static_cast<uint8_t>((sum + box.n / 2) / box.n); };
    palette.push_back({mean(r), mean(g), mean(b)});
  }
  return palette;
}

uint8_t Clamp(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

}  // namespace

std::span<const Rgb> VgaPalette() { return kVga; }

int CheckedDepth(int depth) {
  if (depth == 0 || depth == 1 || depth == 4 || depth == 8) return depth;
  if (depth > 8 && depth <= 32) return 24;
  Fail(kErrBadDepth);
}

DibPtr Reduce(const DibRef& src, int depth, bool dither, int32_t colours, Progress& progress) {
  const int bits = depth == 0 ? 4 : depth;
  std::size_t most = std::size_t{1} << bits;
  if (depth != 0 && colours >= 2 && static_cast<std::size_t>(colours) < most) most = static_cast<std::size_t>(colours);

  enum class Mode { Exact, Mono, Nearest } mode = Mode::Nearest;
  std::vector<Rgb> palette;
  ColourSet exact(most);
  std::vector<uint8_t> rgb(static_cast<std::size_t>(src.width) * 3);
  if (depth == 0) {
    palette.assign(kVga, kVga + 16);
  } else {
    bool fits = true;
    for (int32_t y = 0; y < src.height && fits; ++y) {
      RowToRgb(src, y, rgb.data());
      for (std::size_t i = 0; i < rgb.size() && fits; i += 3) fits = exact.Add(Key(&rgb[i]));
    }
    if (fits) {
      mode = Mode::Exact;
      palette = exact.Palette();
    } else if (bits == 1) {
      mode = Mode::Mono;
      palette = {{0, 0, 0}, {255, 255, 255}};
    } else {
      palette = MedianCut(src, most);
    }
  }

  DibPtr out = NewDib(src.width, src.height, bits, static_cast<uint32_t>(palette.size()));
  for (std::size_t i = 0; i < palette.size(); ++i) SetColour(out.get(), static_cast<uint32_t>(i), palette[i]);
  const DibRef o = RefOf(out.get());
  InverseMap inverse(palette);
  // Error carried to this row and the next, per channel, one pixel of margin each side.
  const std::size_t span = (static_cast<std::size_t>(src.width) + 2) * 3;
  std::vector<int> here(span, 0), next(span, 0);
  for (int32_t y = 0; y < src.height; ++y) {
    RowToRgb(src, y, rgb.data());
    uint8_t* row = MutableRow(out.get(), o, y);
    std::fill(next.begin(), next.end(), 0);
    for (int32_t x = 0; x < src.width; ++x) {
      const uint8_t* p = &rgb[static_cast<std::size_t>(x) * 3];
      uint8_t index = 0;
      if (mode == Mode::Exact) {
        index = exact.IndexOf(Key(p));
      } else {
        int* e = &here[(static_cast<std::size_t>(x) + 1) * 3];
        int want[3];
        if (mode == Mode::Mono) {
          const int luma = (299 * p[0] + 587 * p[1] + 114 * p[2] + 500) / 1000;
          want[0] = want[1] = want[2] = dither ? luma + e[0] : luma;
          index = want[0] >= 128;
        } else {
          for (int c = 0; c < 3; ++c) want[c] = dither ? p[c] + e[c] : p[c];
          index = inverse.Nearest(Clamp(want[0]), Clamp(want[1]), Clamp(want[2]));
        }
        if (dither) {
          const Rgb got = palette[index];
          const int err[3] = {want[0] - got.r, want[1] - got.g, want[2] - got.b};
          int* n = &next[static_cast<std::size_t>(x) * 3];
          for (int c = 0; c < 3; ++c) {
            e[3 + c] += err[c] * 7 / 16;
            n[c] += err[c] * 3 / 16;
            n[3 + c] += err[c] * 5 / 16;
            n[6 + c] += err[c] / 16;
          }
        }
      }
      PutIndex(row, x, bits, index);
    }
    here.swap(next);
    progress.Row(y, src.height);
  }
  return out;
}

DibPtr ToDepth(const DibRef& src, int depth, bool dither, Progress& progress) {
  if (depth == 24) return src.bits == 24 ? Normalised(src) : Expand(src, 24);
  if (depth != 0 && src.bits <= 8 && src.colours <= (1u << depth)) return Repack(src, depth);
  return Reduce(src, depth, dither, 1 << (depth == 0 ? 4 : depth), progress);
}

}  // namespace picturelib
