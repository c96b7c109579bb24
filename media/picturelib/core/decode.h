#pragma once
// The readers: our probe first, then the decoder (SDL2_image's typed loader,
// or libtiff for TIFF), then the requested depth.
#include <cstdint>

#include "media/picturelib/core/bytes.h"
#include "media/picturelib/core/dib.h"
#include "media/picturelib/core/probe.h"
#include "media/picturelib/core/progress.h"

namespace picturelib {

// `depth` as CheckedDepth answers it. `page` is 1-based and used for TIFF only.
DibPtr ReadPicture(Format format, const Bytes& in, int depth, bool dither, int page, Progress& progress);

}  // namespace picturelib
