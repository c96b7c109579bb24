#include "engine/files/scramble.h"

namespace ledger {

void Scramble(uint8_t* data, std::size_t count, TScrambleKey key) {
  if (count % 65536 == 0) return;
  uint8_t kl = key.low;
  uint8_t kh = key.high;
  for (std::size_t i = 0; i < count; ++i) {
    data[i] ^= static_cast<uint8_t>(kl ^ kh);
    ++kl;
    --kh;
  }
}

}  // namespace ledger
