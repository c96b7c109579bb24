// libisp2000.so: C wrappers, exported by name, around the entries of the
// shared core. Everything else in the library stays hidden.
#include "media/picturelib/core/entries.h"

#define IMG_EXPORT __attribute__((visibility("default")))

extern "C" {

IMG_EXPORT img_dib* ReduceDib(const img_dib* dib, int16_t depth, int16_t dither, int32_t colours, int32_t r2,
                              int32_t r3, void* control, img_progress_fn progress) {
  return picturelib::entries::ReduceDib(dib, depth, dither, colours, r2, r3, control, progress);
}

}  // extern "C"
