#pragma once
// Reading pictures back through the readers and comparing them, for the
// readers' and the writers' tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "media/picturelib/core/entries.h"
#include "media/picturelib/core/errors.h"
#include "testing/picturelib_samples.h"

namespace picturelib {

using Bytes_ = std::vector<uint8_t>;
using samples::Picture;

struct Freed {
  void operator()(img_dib* d) const { std::free(d); }
};
using Owned = std::unique_ptr<img_dib, Freed>;

enum class Kind { Png, Jpeg, Gif, Bmp, Pcx, Tga, Tiff };

inline int Read(Kind kind, const Bytes_& b, int depth, bool dither, img_dib** out, img_progress_fn progress = nullptr,
                void* control = nullptr, int page = 1) {
  const auto n = static_cast<int32_t>(b.size());
  const auto d = static_cast<int16_t>(depth);
  const int16_t t = dither;
  switch (kind) {
    case Kind::Png:
      return entries::rdpngstreamdib(b.data(), n, d, t, out, nullptr, control, progress, 0);
    case Kind::Jpeg:
      return entries::rdjpgstreamdib(b.data(), n, d, 1, t, out, nullptr, control, progress, 0);
    case Kind::Gif:
      return entries::rdgifstreamdib(b.data(), n, d, t, out, nullptr, control, progress, 0);
    case Kind::Bmp:
      return entries::rdbmpstreamdib(b.data(), n, d, t, out, nullptr, control, progress, 0);
    case Kind::Pcx:
      return entries::rdpcxstreamdib(b.data(), n, d, t, out, nullptr, control, progress, 0);
    case Kind::Tga:
      return entries::readtgafilestreamdib(b.data(), n, d, t, out, nullptr, control, progress, 0);
    case Kind::Tiff:
      return entries::readtiffiledibstream(b.data(), n, d, t, static_cast<int16_t>(page), out, control, progress, 0);
  }
  return 0;
}

inline Owned ReadOk(Kind kind, const Bytes_& b, int depth, bool dither = false, int page = 1) {
  img_dib* out = nullptr;
  const int result = Read(kind, b, depth, dither, &out, nullptr, nullptr, page);
  EXPECT_EQ(result, 1) << ErrorText(static_cast<uint16_t>(result));
  return Owned(out);
}

// Largest difference of any channel of any pixel.
inline int Difference(const Picture& a, const Picture& b) {
  if (a.w != b.w || a.h != b.h) return 1000;
  int most = 0;
  for (std::size_t i = 0; i < a.px.size(); ++i) {
    most = std::max(
        {most, std::abs(a.px[i].r - b.px[i].r), std::abs(a.px[i].g - b.px[i].g), std::abs(a.px[i].b - b.px[i].b)});
  }
  return most;
}

inline double MeanDifference(const Picture& a, const Picture& b) {
  double sum = 0;
  for (std::size_t i = 0; i < a.px.size() && a.px.size() == b.px.size(); ++i)
    sum += std::abs(a.px[i].r - b.px[i].r) + std::abs(a.px[i].g - b.px[i].g) + std::abs(a.px[i].b - b.px[i].b);
  return sum / (3.0 * static_cast<double>(a.px.size()));
}

}  // namespace picturelib
