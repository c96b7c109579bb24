#pragma once
// The writers: a block to file bytes in a buffer of the caller's.
#include <cstdint>
#include <vector>

#include "media/picturelib/core/bytes.h"
#include "media/picturelib/core/dib.h"
#include "media/picturelib/core/progress.h"

namespace picturelib {

enum class Encoding { Png, Jpeg, Bmp, Gif, Pcx, Tga, Tiff };

struct EncodeOptions {
  int quality = 75;         // JPEG, clamped to 1..100
  int smoothing = 0;        // JPEG input smoothing, clamped to 0..100
  bool interlaced = false;  // PNG: Adam7
  int tiffCompression = IMG_TIFF_NONE;
  // TIFF: a file the picture is added to as a further page; empty for a new file.
  Bytes appendTo{};
};

// The depth a format is written at, from one CheckedDepth answered: JPEG is
// grey (1) or colour (24), GIF never above 8 bits, TGA never below.
int WriteDepth(Encoding encoding, int depth);

std::vector<uint8_t> Encode(Encoding encoding, const img_dib* dib, int depth, const EncodeOptions& options,
                            Progress& progress);

}  // namespace picturelib
