#pragma once
// Packed DIB blocks as the image library hands them over, and the two
// conversions the controls use: a block to a toolkit bitmap at a requested
// depth, and a toolkit bitmap to a new block.

#include <cstdint>
#include <vector>

#include "media/image_library.h"
#include "toolkit/graphics.h"

namespace media {

// Reads, builds and derives a palette from one DIB block. Every accessor
// answers 0 (or null) when no block is attached.
class TPackedDib {
 public:
  TPackedDib() = default;
  ~TPackedDib();
  TPackedDib(const TPackedDib&) = delete;
  TPackedDib& operator=(const TPackedDib&) = delete;

  // When this object owns memory, frees the block it held (and its palette)
  // before holding `block`.
  void AttachDib(img_dib* block);
  img_dib* Block() const { return block_; }
  // Hands the block over without freeing it.
  img_dib* Detach();
  bool OwnsMemory = true;

  int BitCount() const;
  int Width() const;
  int Height() const;
  std::uint32_t Compression() const;
  int ColorCount() const;
  int HeaderSize() const;
  // Fills a zero image size in the block itself first.
  std::uint32_t TotalSize();
  std::uint8_t* Bits() const;
  static int ColorsForDepth(int bits);
  // The colour table as a palette, made on first call.
  const std::vector<toolkit::TColor>& Palette();
  // Builds a new zeroed block; false (nothing allocated) for an unsupported
  // bit count. Throws ErrorInvalid "Can't allocate memory".
  bool CreateDib(const std::vector<toolkit::TColor>* palette, int width, int height,
                 int bitCount);

  // Whether the header, colour table and rows all lie inside the block and the
  // sizes are within what the program decodes.
  bool Valid() const;

 private:
  void Free() noexcept;
  img_dib* block_ = nullptr;
  std::vector<toolkit::TColor> palette_;
  bool paletteMade_ = false;
};

// The picture of `dib` at `depth` bits per pixel in `bitmap`; false when the
// block is empty or unusable. The caller keeps `dib`.
bool DibToBitmap(const img_dib* dib, int depth, bool dither, img_progress_fn progress,
                 void* control, toolkit::TBitmap& bitmap);
// A new block holding the bitmap's picture (24 bits for 16- and 32-bit
// bitmaps). Throws ErrorInvalid "Input image is empty" without a picture.
TDibHandle BitmapToDib(const toolkit::TBitmap* bitmap);

}  // namespace media
