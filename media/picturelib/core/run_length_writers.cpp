// PCX and TGA, each with its own run-length coding.
#include <algorithm>
#include <cstring>

#include "media/picturelib/core/errors.h"
#include "media/picturelib/core/format_writers.h"

namespace picturelib {
namespace {

// ---- PCX ----

// Runs of up to 63 bytes as a count byte (0xC0 | n) and the value; a single
// byte below 0xC0 stands for itself. Runs never cross a plane's line.
void PcxRunLength(const uint8_t* line, std::size_t n, std::vector<uint8_t>& out) {
  for (std::size_t i = 0; i < n;) {
    std::size_t run = 1;
    while (i + run < n && run < 63 && line[i + run] == line[i]) ++run;
    if (run > 1 || line[i] >= 0xC0) out.push_back(static_cast<uint8_t>(0xC0 | run));
    out.push_back(line[i]);
    i += run;
  }
}

// ---- TGA ----

// Packets of up to 128 pixels: a run (0x80 | n - 1, one pixel) or raw
// (n - 1, n pixels). Packets never cross a row.
void TgaRunLength(const uint8_t* row, std::size_t pixels, std::size_t size, std::vector<uint8_t>& out) {
  const auto same = [&](std::size_t a, std::size_t b) { return std::memcmp(row + a * size, row + b * size, size) == 0; };
  std::size_t i = 0;
  while (i < pixels) {
    std::size_t run = 1;
    while (i + run < pixels && run < 128 && same(i, i + run)) ++run;
    if (run > 1) {
      out.push_back(static_cast<uint8_t>(0x80 | (run - 1)));
      out.insert(out.end(), row + i * size, row + (i + 1) * size);
      i += run;
      continue;
    }
    // Raw up to the next pair of equal pixels, which starts a run.
    std::size_t raw = 1;
    while (i + raw < pixels && raw < 128 && !(i + raw + 1 < pixels && same(i + raw, i + raw + 1))) ++raw;
    out.push_back(static_cast<uint8_t>(raw - 1));
    out.insert(out.end(), row + i * size, row + (i + raw) * size);
    i += raw;
  }
}

}  // namespace

std::vector<uint8_t> WritePcx(const DibRef& d) {
  // 1 and 4 bits are bit planes of one bit (4 bits: plane p holds bit p of
  // the index), 8 bits one plane of bytes with the palette at the end, 24
  // bits three planes of red, green and blue bytes.
  const int planes = d.bits == 4 ? 4 : d.bits == 24 ? 3 : 1;
  const int planeBits = d.bits == 8 || d.bits == 24 ? 8 : 1;
  const std::size_t width = static_cast<std::size_t>(d.width);
  std::size_t bytesPerLine = (width * static_cast<std::size_t>(planeBits) + 7) / 8;
  bytesPerLine += bytesPerLine & 1;  // the format keeps lines even
  if (bytesPerLine > 0xFFFF) Fail(kErrTooLarge);

  std::vector<uint8_t> out(128, 0);
  out[0] = 0x0A;
  out[1] = 5;
  out[2] = 1;
  out[3] = static_cast<uint8_t>(planeBits);
  PutLe16(&out[8], static_cast<uint16_t>(d.width - 1));
  PutLe16(&out[10], static_cast<uint16_t>(d.height - 1));
  PutLe16(&out[12], 72);
  PutLe16(&out[14], 72);
  if (d.bits <= 4)
    for (uint32_t i = 0; i < (1u << d.bits); ++i) {
      const Rgb c = d.Colour(i);
      out[16 + 3 * i] = c.r;
      out[17 + 3 * i] = c.g;
      out[18 + 3 * i] = c.b;
    }
  out[65] = static_cast<uint8_t>(planes);
  PutLe16(&out[66], static_cast<uint16_t>(bytesPerLine));
  PutLe16(&out[68], 1);

  std::vector<uint8_t> line(bytesPerLine);
  for (int32_t y = 0; y < d.height; ++y) {
    const uint8_t* row = d.Row(y);
    for (int p = 0; p < planes; ++p) {
      std::fill(line.begin(), line.end(), 0);
      if (d.bits == 24) {
        // Block rows hold blue, green, red.
        for (std::size_t x = 0; x < width; ++x) line[x] = row[3 * x + 2 - static_cast<std::size_t>(p)];
      } else if (d.bits == 8) {
        std::memcpy(line.data(), row, width);
      } else {
        for (std::size_t x = 0; x < width; ++x)
          if (IndexAt(row, static_cast<int32_t>(x), d.bits) >> p & 1) line[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
      }
      PcxRunLength(line.data(), line.size(), out);
    }
  }
  if (d.bits == 8) {
    out.push_back(0x0C);
    for (uint32_t i = 0; i < 256; ++i) {
      const Rgb c = d.Colour(i);
      out.insert(out.end(), {c.r, c.g, c.b});
    }
  }
  return out;
}

std::vector<uint8_t> WriteTga(const DibRef& d) {
  if (d.bits != 8 && d.bits != 24) Fail(kErrInternal);
  const bool mapped = d.bits == 8;
  const std::size_t pixelSize = mapped ? 1 : 3;
  const std::size_t width = static_cast<std::size_t>(d.width);
  const uint32_t entries = mapped ? std::max<uint32_t>(d.colours, 1) : 0;

  std::vector<uint8_t> out(18, 0);
  out[1] = mapped ? 1 : 0;
  PutLe16(&out[5], static_cast<uint16_t>(entries));
  out[7] = mapped ? 24 : 0;
  PutLe16(&out[12], static_cast<uint16_t>(d.width));
  PutLe16(&out[14], static_cast<uint16_t>(d.height));
  out[16] = static_cast<uint8_t>(d.bits);
  out[17] = 0;  // rows bottom first, as the block keeps them
  for (uint32_t i = 0; i < entries; ++i) {
    const Rgb c = d.Colour(i);
    out.insert(out.end(), {c.b, c.g, c.r});
  }
  const std::size_t head = out.size();
  for (int32_t y = d.height - 1; y >= 0; --y) TgaRunLength(d.Row(y), width, pixelSize, out);
  const std::size_t raw = width * pixelSize * static_cast<std::size_t>(d.height);
  if (out.size() - head < raw) {
    out[2] = mapped ? 9 : 10;
    return out;
  }
  out.resize(head);
  for (int32_t y = d.height - 1; y >= 0; --y) out.insert(out.end(), d.Row(y), d.Row(y) + width * pixelSize);
  out[2] = mapped ? 1 : 2;
  return out;
}

}  // namespace picturelib
