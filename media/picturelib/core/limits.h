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

// Also the program's own bound on the blocks it is handed, so that what the
// libraries make the program can take.
inline constexpr int64_t kMaxSide = 16384;
inline constexpr int64_t kMaxPixels = int64_t{64} << 20;

struct Limits {
  int64_t maxSide = kMaxSide;
  int64_t maxPixels = kMaxPixels;
  int maxJpegScans = 128;
  int maxTiffPages = 4096;
};

const Limits& CurrentLimits();
// Tests lower the limits to show them at work; nothing else changes them.
void SetLimits(const Limits& limits);

// Refuses a non-positive size with `corrupt`, a size past the limits with
// "Picture too large".
void CheckDimensions(int64_t width, int64_t height, int corrupt);

// Refuses with "Picture too large" a picture of more pixels than `dataBytes`
// of its coded data can give at the best ratio the format's coder reaches
// (`mostPixels`): a few hundred bytes must not make a decoder allocate a
// gigabyte. `format` names the data in the error.
void CheckPixelsForData(int64_t width, int64_t height, uint64_t mostPixels, uint64_t dataBytes, const char* format);

}  // namespace picturelib
