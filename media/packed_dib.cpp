#include "media/packed_dib.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>

#include "media/picturelib/core/limits.h"

namespace media {
namespace {

using toolkit::TColor;

// Sides beyond the libraries' own limits are refused before any buffer is
// made: a block's header comes from a file, and the bitmap is sized from it.
using picturelib::kMaxPixels;
using picturelib::kMaxSide;
constexpr std::uint32_t kPixelsPerMetre = 2953;

std::uint32_t U32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

std::int64_t RowSize(std::int64_t width, int bits) { return (width * bits + 31) / 32 * 4; }

// Reads one row of any plain depth into 0x00RRGGBB pixels.
void ConvertRow(const std::uint8_t* src, int bits, int width,
                const std::vector<TColor>& palette, std::uint32_t* out) {
  auto fromPalette = [&](unsigned index) -> std::uint32_t {
    if (index >= palette.size()) return 0;
    const TColor c = palette[index];
    return static_cast<std::uint32_t>(c.r) << 16 | c.g << 8 | c.b;
  };
  switch (bits) {
    case 1:
      for (int x = 0; x < width; ++x) out[x] = fromPalette(src[x >> 3] >> (7 - (x & 7)) & 1);
      break;
    case 4:
      for (int x = 0; x < width; ++x) out[x] = fromPalette(src[x >> 1] >> (x & 1 ? 0 : 4) & 15);
      break;
    case 8:
      for (int x = 0; x < width; ++x) out[x] = fromPalette(src[x]);
      break;
    case 16:
      for (int x = 0; x < width; ++x) {
        const unsigned v = U16(src + 2 * x);
        const unsigned r = (v >> 10 & 31) * 255 / 31, g = (v >> 5 & 31) * 255 / 31,
                       b = (v & 31) * 255 / 31;
        out[x] = r << 16 | g << 8 | b;
      }
      break;
    case 24:
      for (int x = 0; x < width; ++x, src += 3)
        out[x] = static_cast<std::uint32_t>(src[2]) << 16 | src[1] << 8 | src[0];
      break;
    case 32:
      for (int x = 0; x < width; ++x, src += 4)
        out[x] = static_cast<std::uint32_t>(src[2]) << 16 | src[1] << 8 | src[0];
      break;
  }
}

// "DIB1To8" and friends: which entry raises `from` bits towards `to`.
const char* IncreaseEntry(int from, int to) {
  switch (from) {
    case 1: return to == 4 ? "DIB1to4" : to == 8 ? "DIB1To8" : to == 24 ? "DIB1To24" : nullptr;
    case 4: return to == 8 ? "DIB4To8" : to == 24 ? "DIB4To24" : nullptr;
    case 8: return to > 8 ? "DIB8To24" : nullptr;
    case 16: return to > 16 ? "DIB16To24" : nullptr;
    default: return nullptr;
  }
}

}  // namespace

TPackedDib::~TPackedDib() { Free(); }

void TPackedDib::Free() noexcept {
  if (OwnsMemory && block_) std::free(block_);
  block_ = nullptr;
  palette_.clear();
  paletteMade_ = false;
}

void TPackedDib::AttachDib(img_dib* block) {
  Free();
  block_ = block;
}

img_dib* TPackedDib::Detach() {
  img_dib* b = block_;
  block_ = nullptr;
  palette_.clear();
  paletteMade_ = false;
  return b;
}

int TPackedDib::BitCount() const {
  return block_ && block_->size >= 16 ? U16(block_->bytes + IMG_DIB_OFF_BITS) : 0;
}
int TPackedDib::Width() const {
  return block_ && block_->size >= 8 ? static_cast<std::int32_t>(U32(block_->bytes + 4)) : 0;
}
int TPackedDib::Height() const {
  return block_ && block_->size >= 12 ? static_cast<std::int32_t>(U32(block_->bytes + 8)) : 0;
}
std::uint32_t TPackedDib::Compression() const {
  return block_ && block_->size >= 20 ? U32(block_->bytes + IMG_DIB_OFF_COMPRESSION) : 0;
}

int TPackedDib::ColorCount() const {
  if (!block_ || block_->size < IMG_DIB_HEADER_SIZE) return 0;
  const std::uint32_t used = U32(block_->bytes + IMG_DIB_OFF_CLR_USED);
  if (used != 0) return used > 256 ? 256 : static_cast<int>(used);
  const int bits = BitCount();
  if (bits >= 16 || bits <= 0) return 0;
  return 1 << bits;
}

int TPackedDib::HeaderSize() const {
  return block_ ? IMG_DIB_HEADER_SIZE + 4 * ColorCount() : 0;
}

std::uint32_t TPackedDib::TotalSize() {
  if (!block_ || block_->size < IMG_DIB_HEADER_SIZE) return 0;
  std::uint8_t* image = block_->bytes + IMG_DIB_OFF_IMAGE_SIZE;
  if (U32(image) == 0) {
    const std::int64_t h = std::abs(static_cast<std::int64_t>(Height()));
    Put32(image, static_cast<std::uint32_t>(h * RowSize(Width(), BitCount())));
  }
  return static_cast<std::uint32_t>(HeaderSize()) + U32(image);
}

std::uint8_t* TPackedDib::Bits() const { return block_ ? block_->bytes + HeaderSize() : nullptr; }

int TPackedDib::ColorsForDepth(int bits) {
  switch (bits) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
  }
}

const std::vector<TColor>& TPackedDib::Palette() {
  if (!paletteMade_ && block_ && Valid()) {
    const std::uint32_t used = U32(block_->bytes + IMG_DIB_OFF_CLR_USED);
    const int n = used ? static_cast<int>(used) : ColorsForDepth(BitCount());
    // The screen is never palette-based here, so the colours are the block's own.
    for (int i = 0; i < n; ++i) {
      const std::uint8_t* e = block_->bytes + IMG_DIB_HEADER_SIZE + 4 * i;
      palette_.push_back(TColor{e[2], e[1], e[0]});
    }
    paletteMade_ = true;
  }
  return palette_;
}

bool TPackedDib::Valid() const {
  if (!block_ || block_->size < IMG_DIB_HEADER_SIZE) return false;
  if (U32(block_->bytes) != IMG_DIB_HEADER_SIZE) return false;
  const int bits = BitCount();
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  const std::int64_t w = Width(), h = std::abs(static_cast<std::int64_t>(Height()));
  if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide || w * h > kMaxPixels) return false;
  const std::uint32_t used = U32(block_->bytes + IMG_DIB_OFF_CLR_USED);
  if (bits <= 8 ? used > (1u << bits) : used > 256) return false;
  const std::int64_t header = HeaderSize();
  if (header > block_->size) return false;
  const std::uint32_t compression = Compression();
  if (compression == 1 || compression == 2) return bits == (compression == 1 ? 8 : 4);
  return compression == 0 && header + h * RowSize(w, bits) <= block_->size;
}

bool TPackedDib::CreateDib(const std::vector<TColor>* palette, int width, int height,
                           int bitCount) {
  const std::int64_t rows = std::abs(static_cast<std::int64_t>(height));
  const std::int64_t image = rows * RowSize(width, bitCount);
  int colours = 0;
  switch (bitCount) {
    case 1:
    case 2: colours = 2; break;
    case 4: colours = 16; break;
    case 8: colours = 256; break;
    case 16:
    case 24:
    case 32: break;
    default: return false;
  }
  const std::int64_t total = IMG_DIB_HEADER_SIZE + 4 * colours + image;
  if (width <= 0 || rows <= 0 || width > kMaxSide || rows > kMaxSide || total > UINT32_MAX)
    throw ErrorInvalid("Can't allocate memory");
  img_dib* block = img_dib_alloc(static_cast<std::uint32_t>(total));
  if (!block) throw ErrorInvalid("Can't allocate memory");
  std::uint8_t* b = block->bytes;
  Put32(b + IMG_DIB_OFF_HEADER_SIZE, IMG_DIB_HEADER_SIZE);
  Put32(b + IMG_DIB_OFF_WIDTH, static_cast<std::uint32_t>(width));
  Put32(b + IMG_DIB_OFF_HEIGHT, static_cast<std::uint32_t>(height));
  Put16(b + IMG_DIB_OFF_PLANES, 1);
  // Two bits per pixel keeps the one-bit header while sizing rows for two.
  Put16(b + IMG_DIB_OFF_BITS, static_cast<std::uint16_t>(bitCount == 2 ? 1 : bitCount));
  Put32(b + IMG_DIB_OFF_IMAGE_SIZE, static_cast<std::uint32_t>(image));
  Put32(b + IMG_DIB_OFF_XPELS, kPixelsPerMetre);
  Put32(b + IMG_DIB_OFF_YPELS, kPixelsPerMetre);
  Put32(b + IMG_DIB_OFF_CLR_USED, static_cast<std::uint32_t>(colours));
  Put32(b + IMG_DIB_OFF_CLR_IMPORTANT, static_cast<std::uint32_t>(colours));
  if (palette) {
    for (int i = 0; i < colours && i < static_cast<int>(palette->size()); ++i) {
      std::uint8_t* e = b + IMG_DIB_HEADER_SIZE + 4 * i;
      e[0] = (*palette)[i].b;
      e[1] = (*palette)[i].g;
      e[2] = (*palette)[i].r;
    }
  }
  AttachDib(block);
  return true;
}

bool DibToBitmap(const img_dib* dib, int depth, bool dither, img_progress_fn progress,
                 void* control, toolkit::TBitmap& bitmap) {
  if (!dib || dib->size == 0) return false;
  // The caller reports LastLibraryError; a block refused here must not leave
  // an older failure's text there.
  auto unusable = [] {
    LastLibraryError() = {0, "The decoded picture is not a usable bitmap"};
    return false;
  };
  TPackedDib wrapped;
  wrapped.OwnsMemory = false;
  wrapped.AttachDib(const_cast<img_dib*>(dib));
  if (!wrapped.Valid()) return unusable();

  TDibHandle converted;  // a block made here, released on the way out
  auto adopt = [&](TDibHandle next) {
    if (!next) return;  // a failed conversion leaves the block as it was
    converted = std::move(next);
    wrapped.AttachDib(converted.get());
  };
  if (wrapped.Compression() == 1 || wrapped.Compression() == 2) {
    adopt(DecodeRunLength(*wrapped.Block()));
    if (wrapped.Compression() != 0) return false;  // the library said why
  } else if (wrapped.BitCount() > depth) {
    CurrentOperationText() = "Reducing colors ";
    if (wrapped.BitCount() == 32) adopt(ConvertDib("DIB32To24", *wrapped.Block(), 24, dither,
                                                   control, progress));
    adopt(ReduceDib(*wrapped.Block(), depth, dither, control, progress));
  } else if (wrapped.BitCount() < depth) {
    CurrentOperationText() = "Increasing colors ";
    if (const char* entry = IncreaseEntry(wrapped.BitCount(), depth))
      adopt(ConvertDib(entry, *wrapped.Block(), depth, dither, control, progress));
  }
  if (!wrapped.Valid()) return unusable();

  const int width = wrapped.Width();
  const int height = wrapped.Height();
  const int rows = height < 0 ? -height : height;
  const int bits = wrapped.BitCount();
  const std::vector<TColor>& palette = wrapped.Palette();
  const std::int64_t rowSize = RowSize(width, bits);
  bitmap.SetSize(width, rows);
  SDL_Surface* s = bitmap.Surface();
  if (!s || SDL_LockSurface(s) != 0) return unusable();
  const std::uint8_t* pixels = wrapped.Bits();
  for (int y = 0; y < rows; ++y) {
    // Positive heights store the bottom row first.
    const int source = height > 0 ? rows - 1 - y : y;
    auto* out = reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(s->pixels) +
                                                 static_cast<std::ptrdiff_t>(y) * s->pitch);
    ConvertRow(pixels + source * rowSize, bits, width, palette, out);
  }
  SDL_UnlockSurface(s);
  if (bitmap.Canvas().OnChange) bitmap.Canvas().OnChange();
  return true;
}

TDibHandle BitmapToDib(const toolkit::TBitmap* bitmap) {
  if (!bitmap || bitmap->Empty() || !bitmap->Surface())
    throw ErrorInvalid("Input image is empty");
  SDL_Surface* s = bitmap->Surface();
  TPackedDib dib;
  dib.OwnsMemory = false;
  dib.CreateDib(nullptr, s->w, s->h, 32);
  TDibHandle block(dib.Block());
  std::uint8_t* bits = dib.Bits();
  const std::int64_t rowSize = RowSize(s->w, 32);
  if (SDL_LockSurface(s) != 0) throw ErrorInvalid("Input image is empty");
  for (int y = 0; y < s->h; ++y) {
    const auto* in = static_cast<const std::uint8_t*>(s->pixels) +
                     static_cast<std::ptrdiff_t>(y) * s->pitch;
    // Toolkit pixels are 0x00RRGGBB, the block's blue-green-red-zero in memory.
    std::memcpy(bits + (s->h - 1 - y) * rowSize, in, static_cast<std::size_t>(rowSize));
  }
  SDL_UnlockSurface(s);
  if (TDibHandle wide = ConvertDib("DIB32To24", *block, 24, false, nullptr, nullptr))
    return wide;
  return block;
}

}  // namespace media
