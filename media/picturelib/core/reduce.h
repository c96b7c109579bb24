#pragma once
// Colour reduction to 1, 4 or 8 bits, shared by ReduceDib and the readers.
//
// The palette: the picture's own colours when they fit; otherwise median cut
// for 4 and 8 bits and black and white for 1 bit. Depth 0 means 4 bits with
// the fixed 16-colour VGA palette. Pixels take the nearest palette colour,
// or Floyd-Steinberg error diffusion when `dither` is set.
#include <cstdint>
#include <span>
#include <vector>

#include "media/picturelib/core/dib.h"
#include "media/picturelib/core/progress.h"

namespace picturelib {

// The 16 colours of the VGA palette, in the platform's order.
std::span<const Rgb> VgaPalette();

// `depth` is 0, 1, 4 or 8; `colours` caps the palette (values outside
// 2..2^depth mean the full table). `src` must have plain rows.
DibPtr Reduce(const DibRef& src, int depth, bool dither, int32_t colours, Progress& progress);

// A requested depth as the readers and writers take it: 0 (VGA), 1, 4, 8 or
// 24; anything above 8 means 24. Throws "Unsupported colour depth".
int CheckedDepth(int depth);

// Brings a block with plain rows to a checked depth: palette blocks whose
// table fits keep it, others are reduced; 24 expands. Always a new block.
DibPtr ToDepth(const DibRef& src, int depth, bool dither, Progress& progress);

}  // namespace picturelib
