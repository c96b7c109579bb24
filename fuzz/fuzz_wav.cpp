// Teachers' recordings must end the builder's sound path in sound or a named
// error: never a crash, a hang, an allocation sized by a header, or a sample
// with no level reaching the tables.
#include <cstdlib>

#include "testing/wav_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (tamblo::content_tool::fuzzing::RunWav(data, size).broken) std::abort();
  return 0;
}
