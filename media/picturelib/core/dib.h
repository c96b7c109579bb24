#pragma once
// Packed DIB blocks: checking a block handed in, building new ones, reading
// and writing their pixels, and the depth changes that need no palette
// choice (run-length decoding, depth increases, repacking indices).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "media/picturelib/picturelib_api.h"

namespace picturelib {

struct DibFree {
  void operator()(img_dib* d) const noexcept { free(d); }
};
using DibPtr = std::unique_ptr<img_dib, DibFree>;

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

inline constexpr int32_t kPixelsPerMetre = 2953;

// A checked block. `height` is the row count; `topDown` says how rows are
// stored. For a run-length block `pixelBytes` is the coded data's length.
struct DibRef {
  int32_t width = 0, height = 0;
  bool topDown = false;
  int bits = 0;
  int compression = 0;
  uint32_t colours = 0;  // colour table entries
  const uint8_t* table = nullptr;
  const uint8_t* pixels = nullptr;
  std::size_t pixelBytes = 0;
  std::size_t rowSize = 0;

  // Row `y` counted from the top of the picture.
  const uint8_t* Row(int32_t y) const {
    return pixels + rowSize * static_cast<std::size_t>(topDown ? y : height - 1 - y);
  }
  // An index past the table reads as black rather than past the block.
  Rgb Colour(uint32_t index) const {
    if (index >= colours) return {};
    const uint8_t* e = table + 4 * static_cast<std::size_t>(index);
    return {e[2], e[1], e[0]};
  }
};

std::size_t RowSize(int64_t width, int bits);

// Checks every field of a block against the others and against its size:
// header size 40, bit count, compression for that bit count, width and
// height non-zero and within the limits, colour table and rows inside the
// block. Throws "Invalid or corrupt bitmap block" or "Picture too large".
DibRef InspectDib(const img_dib* dib);

// A new zeroed bottom-up block with a filled-in header and `colours` table
// entries (all black).
DibPtr NewDib(int32_t width, int32_t height, int bits, uint32_t colours);
DibRef RefOf(const img_dib* dib);  // of a block made by NewDib
uint8_t* MutableRow(img_dib* dib, const DibRef& ref, int32_t y);
void SetColour(img_dib* dib, uint32_t index, Rgb colour);

uint8_t IndexAt(const uint8_t* row, int32_t x, int bits);
void PutIndex(uint8_t* row, int32_t x, int bits, uint8_t index);
// One row as RGB triplets, whatever the depth.
void RowToRgb(const DibRef& dib, int32_t y, uint8_t* rgb);

// Run-length coded (8 and 4 bit) to plain rows of the same depth and table.
// Coded data that ends early leaves the rest of the picture at index 0.
DibPtr DecodeRunLength(const DibRef& dib);
// Plain rows, bottom-up: decodes run-length blocks, copies the others.
DibPtr Normalised(const DibRef& dib);

// Depth increase to 4 or 8 bits (indices and table kept) or to 24 bits.
DibPtr Expand(const DibRef& dib, int bits);
// A palette block whose table fits `bits` (1, 4 or 8), repacked to that depth.
DibPtr Repack(const DibRef& dib, int bits);

}  // namespace picturelib
