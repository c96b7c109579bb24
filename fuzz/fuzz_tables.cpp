// Table files from arbitrary bytes must end in engine errors, never in a
// crash, a hang or an allocation sized by the file.
#include <cstddef>
#include <cstdint>

#include "testing/tables_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  ledger::fuzzing::ReadTables(data, size);
  return 0;
}
