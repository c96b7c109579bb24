// A cursor on table files from arbitrary bytes must end every step in an
// engine error or a status, never in a crash, a hang or an allocation sized
// by the file.
#include <cstddef>
#include <cstdint>

#include "testing/cursor_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  ledger::fuzzing::RunCursor(data, size);
  return 0;
}
