#pragma once
// The writers: a block to file bytes in a buffer of the caller's.
#include <cstdint>
#include <vector>

#include "media/picturelib/core/dib.h"
#include "media/picturelib/core/progress.h"

namespace picturelib {

enum class Encoding { Png, Jpeg, Bmp };

// `depth` as CheckedDepth answers it. JPEG writes grey for depths 0 and 1 and
// colour otherwise; `quality` is clamped to 1..100.
std::vector<uint8_t> Encode(Encoding encoding, const img_dib* dib, int depth, int quality, Progress& progress);

}  // namespace picturelib
