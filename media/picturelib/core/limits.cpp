#include "media/picturelib/core/limits.h"

#include <cstdio>

#include "media/picturelib/core/errors.h"

namespace picturelib {
namespace {
Limits g_limits;
}

const Limits& CurrentLimits() { return g_limits; }
void SetLimits(const Limits& limits) { g_limits = limits; }

void CheckDimensions(int64_t width, int64_t height, int corrupt) {
  if (width <= 0 || height <= 0) Fail(static_cast<ErrorCode>(corrupt));
  const Limits& l = g_limits;
  if (width > l.maxSide || height > l.maxSide || width * height > l.maxPixels) {
    char text[200];
    std::snprintf(text, sizeof text, "Picture too large: %lld x %lld pixels; at most %lld per side and %lld in all",
                  static_cast<long long>(width), static_cast<long long>(height), static_cast<long long>(l.maxSide),
                  static_cast<long long>(l.maxPixels));
    Fail(kErrTooLarge, text);
  }
}

void CheckPixelsForData(int64_t width, int64_t height, uint64_t mostPixels, uint64_t dataBytes, const char* format) {
  if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height) <= mostPixels) return;
  char text[200];
  std::snprintf(text, sizeof text,
                "Picture too large for its data: %lld x %lld pixels from %llu bytes of %s data, which hold at most "
                "%llu pixels",
                static_cast<long long>(width), static_cast<long long>(height),
                static_cast<unsigned long long>(dataBytes), format, static_cast<unsigned long long>(mostPixels));
  Fail(kErrTooLarge, text);
}

}  // namespace picturelib
