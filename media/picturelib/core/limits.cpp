#include "media/picturelib/core/limits.h"

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
  if (width > l.maxSide || height > l.maxSide || width * height > l.maxPixels) Fail(kErrTooLarge);
}

}  // namespace picturelib
