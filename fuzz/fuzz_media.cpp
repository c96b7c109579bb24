// Blobs from tables and blocks from the image libraries must end the
// program's own reading of them in a kind, a bitmap or an error: never a
// crash, a hang, or a sound the mixer would decode as something else.
#include <SDL.h>

#include <cstdlib>

#include "testing/media_harness.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SDL_setenv("SDL_VIDEODRIVER", "dummy", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (media::fuzzing::RunMedia(data, size, TAMBLO_RUNTIME_DIR).broken) std::abort();
  return 0;
}
