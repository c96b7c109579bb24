#pragma once
// How the counters of the table files move on: the change counter at offset
// 0 of each header with every header write, the last autoincrement value and
// blob id with every one handed out, and the file objects' handle numbers.
// They wrap from INT32_MAX back to 1, so they stay positive and 0 keeps
// meaning "none yet".
#include <cstdint>
#include <limits>

namespace ledger {

constexpr std::int32_t CounterAfter(std::int32_t counter) noexcept {
  return counter == std::numeric_limits<std::int32_t>::max() ? 1 : counter + 1;
}

}  // namespace ledger
