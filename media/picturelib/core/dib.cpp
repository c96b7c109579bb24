#include "media/picturelib/core/dib.h"

#include <algorithm>
#include <cstring>

#include "media/picturelib/core/bytes.h"
#include "media/picturelib/core/errors.h"
#include "media/picturelib/core/limits.h"

namespace picturelib {

std::size_t RowSize(int64_t width, int bits) { return static_cast<std::size_t>((width * bits + 31) / 32 * 4); }

DibRef InspectDib(const img_dib* dib) {
  if (!dib) Fail(kErrBadArgument);
  const uint64_t size = dib->size;
  if (size < IMG_DIB_HEADER_SIZE) Fail(kErrBadDib);
  const uint8_t* b = dib->bytes;
  if (Le32(b + IMG_DIB_OFF_HEADER_SIZE) != IMG_DIB_HEADER_SIZE) Fail(kErrBadDib);

  DibRef r;
  const int32_t width = static_cast<int32_t>(Le32(b + IMG_DIB_OFF_WIDTH));
  const int32_t height = static_cast<int32_t>(Le32(b + IMG_DIB_OFF_HEIGHT));
  r.bits = Le16(b + IMG_DIB_OFF_BITS);
  r.compression = static_cast<int>(Le32(b + IMG_DIB_OFF_COMPRESSION));
  const uint32_t imageSize = Le32(b + IMG_DIB_OFF_IMAGE_SIZE);
  const uint32_t used = Le32(b + IMG_DIB_OFF_CLR_USED);

  switch (r.bits) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      break;
    default:
      Fail(kErrBadDib);
  }
  const bool runLength = r.compression == 1 || r.compression == 2;
  if (r.compression != 0 && !(r.compression == 1 && r.bits == 8) && !(r.compression == 2 && r.bits == 4))
    Fail(kErrBadDib);
  // Run-length rows are always stored bottom-up.
  if (height < 0 && runLength) Fail(kErrBadDib);
  const int64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
  CheckDimensions(width, rows, kErrBadDib);
  r.width = width;
  r.height = static_cast<int32_t>(rows);
  r.topDown = height < 0;

  if (r.bits <= 8) {
    const uint32_t full = 1u << r.bits;
    if (used > full) Fail(kErrBadDib);
    r.colours = used == 0 ? full : used;
  } else {
    // A table before true-colour rows is allowed and skipped.
    if (used > 256) Fail(kErrBadDib);
    r.colours = used;
  }
  const uint64_t tableEnd = IMG_DIB_HEADER_SIZE + 4 * uint64_t{r.colours};
  if (tableEnd > size) Fail(kErrBadDib);
  r.table = b + IMG_DIB_HEADER_SIZE;
  r.pixels = b + tableEnd;
  r.rowSize = RowSize(width, r.bits);
  const uint64_t available = size - tableEnd;
  if (runLength) {
    if (imageSize > available) Fail(kErrBadDib);
    r.pixelBytes = imageSize != 0 ? imageSize : available;
  } else {
    const uint64_t need = uint64_t{r.rowSize} * static_cast<uint64_t>(rows);
    if (need > available || (imageSize != 0 && imageSize < need)) Fail(kErrBadDib);
    r.pixelBytes = need;
  }
  return r;
}

DibPtr NewDib(int32_t width, int32_t height, int bits, uint32_t colours) {
  CheckDimensions(width, height, kErrBadDib);
  const uint64_t image = uint64_t{RowSize(width, bits)} * static_cast<uint64_t>(height);
  const uint64_t total = IMG_DIB_HEADER_SIZE + 4 * uint64_t{colours} + image;
  if (total > UINT32_MAX - sizeof(img_dib) || image > UINT32_MAX) Fail(kErrTooLarge);
  DibPtr dib(img_dib_alloc(static_cast<uint32_t>(total)));
  if (!dib) Fail(kErrOutOfMemory);
  uint8_t* b = dib->bytes;
  PutLe32(b + IMG_DIB_OFF_HEADER_SIZE, IMG_DIB_HEADER_SIZE);
  PutLe32(b + IMG_DIB_OFF_WIDTH, static_cast<uint32_t>(width));
  PutLe32(b + IMG_DIB_OFF_HEIGHT, static_cast<uint32_t>(height));
  PutLe16(b + IMG_DIB_OFF_PLANES, 1);
  PutLe16(b + IMG_DIB_OFF_BITS, static_cast<uint16_t>(bits));
  PutLe32(b + IMG_DIB_OFF_IMAGE_SIZE, static_cast<uint32_t>(image));
  PutLe32(b + IMG_DIB_OFF_XPELS, kPixelsPerMetre);
  PutLe32(b + IMG_DIB_OFF_YPELS, kPixelsPerMetre);
  PutLe32(b + IMG_DIB_OFF_CLR_USED, colours);
  PutLe32(b + IMG_DIB_OFF_CLR_IMPORTANT, colours);
  return dib;
}

DibRef RefOf(const img_dib* dib) { return InspectDib(dib); }

uint8_t* MutableRow(img_dib* dib, const DibRef& ref, int32_t y) { return dib->bytes + (ref.Row(y) - dib->bytes); }

void SetColour(img_dib* dib, uint32_t index, Rgb c) {
  uint8_t* e = dib->bytes + IMG_DIB_HEADER_SIZE + 4 * static_cast<std::size_t>(index);
  e[0] = c.b;
  e[1] = c.g;
  e[2] = c.r;
  e[3] = 0;
}

uint8_t IndexAt(const uint8_t* row, int32_t x, int bits) {
  switch (bits) {
    case 1:
      return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4:
      return (x & 1) ? row[x >> 1] & 15 : row[x >> 1] >> 4;
    default:
      return row[x];
  }
}

void PutIndex(uint8_t* row, int32_t x, int bits, uint8_t index) {
  switch (bits) {
    case 1: {
      const uint8_t mask = static_cast<uint8_t>(0x80 >> (x & 7));
      row[x >> 3] = static_cast<uint8_t>((index & 1) ? row[x >> 3] | mask : row[x >> 3] & ~mask);
      break;
    }
    case 4:
      row[x >> 1] = static_cast<uint8_t>((x & 1) ? (row[x >> 1] & 0xF0) | (index & 15)
                                                 : (row[x >> 1] & 0x0F) | (index & 15) << 4);
      break;
    default:
      row[x] = index;
  }
}

void RowToRgb(const DibRef& d, int32_t y, uint8_t* rgb) {
  const uint8_t* row = d.Row(y);
  const int32_t w = d.width;
  switch (d.bits) {
    case 16:
      for (int32_t x = 0; x < w; ++x, rgb += 3) {
        const uint16_t v = Le16(row + 2 * x);
        const auto expand = [](unsigned c) { return static_cast<uint8_t>(c << 3 | c >> 2); };
        rgb[0] = expand(v >> 10 & 31);
        rgb[1] = expand(v >> 5 & 31);
        rgb[2] = expand(v & 31);
      }
      break;
    case 24:
    case 32: {
      const int step = d.bits / 8;
      for (int32_t x = 0; x < w; ++x, rgb += 3, row += step) {
        rgb[0] = row[2];
        rgb[1] = row[1];
        rgb[2] = row[0];
      }
      break;
    }
    default:
      for (int32_t x = 0; x < w; ++x, rgb += 3) {
        const Rgb c = d.Colour(IndexAt(row, x, d.bits));
        rgb[0] = c.r;
        rgb[1] = c.g;
        rgb[2] = c.b;
      }
  }
}

namespace {

DibPtr WithTableOf(const DibRef& src, int bits) {
  DibPtr out = NewDib(src.width, src.height, bits, src.colours);
  if (src.colours) std::memcpy(out->bytes + IMG_DIB_HEADER_SIZE, src.table, 4 * std::size_t{src.colours});
  return out;
}

}  // namespace

DibPtr DecodeRunLength(const DibRef& src) {
  DibPtr out = WithTableOf(src, src.bits);
  const DibRef o = RefOf(out.get());
  const int64_t w = src.width, h = src.height;
  const uint8_t* p = src.pixels;
  const std::size_t n = src.pixelBytes;
  const bool eight = src.bits == 8;
  int64_t x = 0, y = 0;  // y counts from the bottom row
  const auto put = [&](uint8_t v) {
    if (x < w)
      PutIndex(out->bytes + (o.pixels - out->bytes) + o.rowSize * static_cast<std::size_t>(y), static_cast<int32_t>(x),
               src.bits, v);
    ++x;
  };
  std::size_t i = 0;
  while (i + 1 < n && y < h) {
    const uint8_t count = p[i], value = p[i + 1];
    i += 2;
    if (count > 0) {
      // Pixels past the right edge are dropped without walking them.
      const int64_t inside = std::clamp<int64_t>(w - x, 0, count);
      for (int64_t k = 0; k < inside; ++k) put(eight ? value : (k & 1) ? value & 15 : value >> 4);
      x += count - inside;
    } else if (value == 0) {
      x = 0;
      ++y;
    } else if (value == 1) {
      break;
    } else if (value == 2) {
      if (i + 2 > n) break;
      x += p[i];
      y += p[i + 1];
      i += 2;
    } else {
      const std::size_t bytes = eight ? value : (value + 1u) / 2;
      if (i + bytes > n) break;
      for (unsigned k = 0; k < value; ++k) put(eight ? p[i + k] : (k & 1) ? p[i + k / 2] & 15 : p[i + k / 2] >> 4);
      i += (bytes + 1) & ~std::size_t{1};
    }
  }
  return out;
}

DibPtr Normalised(const DibRef& src) {
  if (src.compression != 0) return DecodeRunLength(src);
  DibPtr out = WithTableOf(src, src.bits);
  const DibRef o = RefOf(out.get());
  for (int32_t y = 0; y < src.height; ++y) std::memcpy(MutableRow(out.get(), o, y), src.Row(y), src.rowSize);
  return out;
}

DibPtr Expand(const DibRef& src, int bits) {
  if (bits == 24) {
    DibPtr out = NewDib(src.width, src.height, 24, 0);
    const DibRef o = RefOf(out.get());
    std::vector<uint8_t> rgb(static_cast<std::size_t>(src.width) * 3);
    for (int32_t y = 0; y < src.height; ++y) {
      RowToRgb(src, y, rgb.data());
      uint8_t* row = MutableRow(out.get(), o, y);
      for (std::size_t i = 0; i < rgb.size(); i += 3) {
        row[i] = rgb[i + 2];
        row[i + 1] = rgb[i + 1];
        row[i + 2] = rgb[i];
      }
    }
    return out;
  }
  DibPtr out = WithTableOf(src, bits);
  const DibRef o = RefOf(out.get());
  for (int32_t y = 0; y < src.height; ++y) {
    const uint8_t* in = src.Row(y);
    uint8_t* row = MutableRow(out.get(), o, y);
    for (int32_t x = 0; x < src.width; ++x) PutIndex(row, x, bits, IndexAt(in, x, src.bits));
  }
  return out;
}

DibPtr Repack(const DibRef& src, int bits) {
  DibPtr out = WithTableOf(src, bits);
  const DibRef o = RefOf(out.get());
  for (int32_t y = 0; y < src.height; ++y) {
    const uint8_t* in = src.Row(y);
    uint8_t* row = MutableRow(out.get(), o, y);
    for (int32_t x = 0; x < src.width; ++x) {
      const uint8_t i = IndexAt(in, x, src.bits);
      PutIndex(row, x, bits, i < src.colours ? i : 0);
    }
  }
  return out;
}

}  // namespace picturelib
