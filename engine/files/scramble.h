#pragma once
// Byte scrambling of encrypted tables. Scrambling and unscrambling are the
// same operation, so one routine serves both directions.
#include <cstddef>
#include <cstdint>

namespace ledger {

struct TScrambleKey {
  uint8_t low;
  uint8_t high;
};

// Record images, the descriptor area, index pages, blob headers and blocks.
inline constexpr TScrambleKey kRecordKey{0x6B, 0xD2};
// The table password and description (characters only, not the length byte).
inline constexpr TScrambleKey kTextKey{0x39, 0xA7};

// Every run restarts at the key. A run whose length is a whole multiple of
// 65536 bytes stays as it is: tables written by the engine have always been
// laid out that way (a descriptor area of 256, 512, 768 or 1024 fields).
void Scramble(uint8_t* data, std::size_t count, TScrambleKey key);

}  // namespace ledger
