#pragma once
// How large a picture the libraries agree to decode, convert or encode. The
// limits are checked against header fields before anything is allocated, so a
// hostile header costs nothing.
//
// Defaults: each side at most 16384 pixels and at most 64 Mi pixels in all
// (a 24-bit picture of 192 MiB; camera photos are well inside), at most 128
// scans in a JPEG (each scan walks the whole picture again), at most 4096
// pages in a TIFF.
#include <cstdint>

namespace picturelib {

struct Limits {
  int64_t maxSide = 16384;
  int64_t maxPixels = int64_t{64} << 20;
  int maxJpegScans = 128;
  int maxTiffPages = 4096;
};

const Limits& CurrentLimits();
// The fuzz harness lowers the limits so that a legal but large picture does
// not turn into a slow input; nothing else changes them.
void SetLimits(const Limits& limits);

// Refuses a non-positive size with `corrupt`, a size past the limits with
// "Picture too large".
void CheckDimensions(int64_t width, int64_t height, int corrupt);

}  // namespace picturelib
