// Index files from arbitrary bytes must end in engine errors, never in a
// crash, a hang or an endless descent.
#include <cstddef>
#include <cstdint>

#include "testing/index_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  ledger::fuzzing::ReadIndex(data, size);
  return 0;
}
