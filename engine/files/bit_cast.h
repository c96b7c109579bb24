#pragma once
// The bits of one trivially copyable value as another of the same size. Our own
// rather than the standard library's, which not every toolchain we build with has.

#include <cstring>
#include <type_traits>

namespace ledger {

template <class To, class From>
inline To BitCast(const From& from) noexcept {
  static_assert(sizeof(To) == sizeof(From), "BitCast needs types of the same size");
  static_assert(std::is_trivially_copyable_v<To> && std::is_trivially_copyable_v<From>,
                "BitCast copies bytes, so both types must be trivially copyable");
  To to;
  std::memcpy(&to, &from, sizeof to);
  return to;
}

}  // namespace ledger
