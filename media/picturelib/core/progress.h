#pragma once
// The caller's progress callback, with the percent mapped into the slice of
// the whole job a step covers. A callback that answers 0 cancels the job.
#include <cstdint>

#include "media/picturelib/core/errors.h"
#include "media/picturelib/picturelib_api.h"

namespace picturelib {

class Progress {
 public:
  Progress(img_progress_fn fn, void* control) : fn_(fn), control_(control) {}

  // `percent` of the current slice.
  void Report(int percent) {
    if (!fn_) return;
    const int overall = from_ + (to_ - from_) * percent / 100;
    if (!fn_(static_cast<uint16_t>(overall), control_)) Fail(kErrCancelled);
  }
  // Reports every few rows only, so the callback does not dominate the work.
  void Row(int64_t row, int64_t rows) {
    if (rows >= 16 && row % (rows / 16) == 0 && row > 0) Report(static_cast<int>(row * 100 / rows));
  }
  // Later reports land in [from, to] of the whole job.
  void Slice(int from, int to) {
    from_ = from;
    to_ = to;
  }

 private:
  img_progress_fn fn_;
  void* control_;
  int from_ = 0, to_ = 100;
};

}  // namespace picturelib
