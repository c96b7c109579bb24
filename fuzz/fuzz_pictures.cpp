// Pictures from tables and from teachers' own files, and blocks handed in by
// the program, must end every entry in a result or an error: never a crash,
// a hang, an allocation sized by a header, or a block the next entry refuses.
#include <SDL.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "testing/pictures_harness.h"

namespace {

// SDL2_image is not instrumented, so a write past a buffer it allocated
// would go unseen. Every block SDL hands out gets guard bytes after it,
// checked when the block goes back.
constexpr std::size_t kHead = 16, kGuard = 64;
constexpr unsigned char kGuardByte = 0xC5;

void Guard(unsigned char* p, std::size_t n) {
  std::memcpy(p - kHead, &n, sizeof n);
  std::memset(p + n, kGuardByte, kGuard);
}
void Check(unsigned char* p) {
  std::size_t n;
  std::memcpy(&n, p - kHead, sizeof n);
  for (std::size_t i = 0; i < kGuard; ++i)
    if (p[n + i] != kGuardByte) {
      std::fprintf(stderr, "SDL wrote past a block of %zu bytes (at +%zu)\n", n, i);
      std::abort();
    }
}
void* GuardedMalloc(std::size_t n) {
  auto* b = static_cast<unsigned char*>(std::malloc(n + kHead + kGuard));
  if (!b) return nullptr;
  Guard(b + kHead, n);
  return b + kHead;
}
void* GuardedCalloc(std::size_t count, std::size_t size) {
  if (size && count > SIZE_MAX / size) return nullptr;
  void* p = GuardedMalloc(count * size);
  if (p) std::memset(p, 0, count * size);
  return p;
}
void GuardedFree(void* p) {
  if (!p) return;
  Check(static_cast<unsigned char*>(p));
  std::free(static_cast<unsigned char*>(p) - kHead);
}
void* GuardedRealloc(void* p, std::size_t n) {
  if (!p) return GuardedMalloc(n);
  Check(static_cast<unsigned char*>(p));
  auto* b = static_cast<unsigned char*>(std::realloc(static_cast<unsigned char*>(p) - kHead, n + kHead + kGuard));
  if (!b) return nullptr;
  Guard(b + kHead, n);
  return b + kHead;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Before SDL allocates anything, or a block would go back to the wrong allocator.
  SDL_SetMemoryFunctions(GuardedMalloc, GuardedCalloc, GuardedRealloc, GuardedFree);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (picturelib::fuzzing::RunPictures(data, size).broken) std::abort();
  return 0;
}
