#pragma once
// One writer per file format. Each takes a block with plain rows at the depth
// WriteDepth chose (a palette of at most 2^bits entries below 24 bits) and
// answers the whole file.
#include <cstdint>
#include <vector>

#include "media/picturelib/core/bytes.h"
#include "media/picturelib/core/dib.h"

namespace picturelib {

std::vector<uint8_t> WritePng(const DibRef& dib, bool interlaced);
// `grey` writes one channel of luminance.
std::vector<uint8_t> WriteJpeg(const DibRef& dib, bool grey, int quality, int smoothing);
std::vector<uint8_t> WriteGif(const DibRef& dib);
std::vector<uint8_t> WritePcx(const DibRef& dib);
// Run-length coded when that is smaller, else uncompressed.
std::vector<uint8_t> WriteTga(const DibRef& dib);
// `compression` is one of IMG_TIFF_*; the CCITT codes need a 1-bit
// block. A non-empty `appendTo` gets the picture as its last page.
std::vector<uint8_t> WriteTiff(const DibRef& dib, int compression, const Bytes& appendTo);

}  // namespace picturelib
