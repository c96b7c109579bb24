#pragma once
// Little-endian integers in table files. Every file format goes through these
// helpers so no layout depends on the host's byte order or struct padding.

#include <cstddef>
#include <cstdint>

#include "engine/files/bit_cast.h"

namespace ledger {

inline std::uint8_t GetU8(const void* p, std::size_t offset = 0) noexcept {
  return static_cast<const std::uint8_t*>(p)[offset];
}

inline std::uint16_t GetU16(const void* p, std::size_t offset = 0) noexcept {
  const auto* b = static_cast<const std::uint8_t*>(p) + offset;
  return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

inline std::uint32_t GetU32(const void* p, std::size_t offset = 0) noexcept {
  const auto* b = static_cast<const std::uint8_t*>(p) + offset;
  return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
         (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

inline std::uint64_t GetU64(const void* p, std::size_t offset = 0) noexcept {
  return static_cast<std::uint64_t>(GetU32(p, offset)) |
         (static_cast<std::uint64_t>(GetU32(p, offset + 4)) << 32);
}

inline std::int8_t GetI8(const void* p, std::size_t offset = 0) noexcept {
  return static_cast<std::int8_t>(GetU8(p, offset));
}
inline std::int16_t GetI16(const void* p, std::size_t offset = 0) noexcept {
  return static_cast<std::int16_t>(GetU16(p, offset));
}
inline std::int32_t GetI32(const void* p, std::size_t offset = 0) noexcept {
  return static_cast<std::int32_t>(GetU32(p, offset));
}
inline std::int64_t GetI64(const void* p, std::size_t offset = 0) noexcept {
  return static_cast<std::int64_t>(GetU64(p, offset));
}
inline double GetF64(const void* p, std::size_t offset = 0) noexcept {
  return BitCast<double>(GetU64(p, offset));
}

inline void PutU8(void* p, std::size_t offset, std::uint8_t v) noexcept {
  static_cast<std::uint8_t*>(p)[offset] = v;
}

inline void PutU16(void* p, std::size_t offset, std::uint16_t v) noexcept {
  auto* b = static_cast<std::uint8_t*>(p) + offset;
  b[0] = static_cast<std::uint8_t>(v);
  b[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void PutU32(void* p, std::size_t offset, std::uint32_t v) noexcept {
  auto* b = static_cast<std::uint8_t*>(p) + offset;
  b[0] = static_cast<std::uint8_t>(v);
  b[1] = static_cast<std::uint8_t>(v >> 8);
  b[2] = static_cast<std::uint8_t>(v >> 16);
  b[3] = static_cast<std::uint8_t>(v >> 24);
}

inline void PutU64(void* p, std::size_t offset, std::uint64_t v) noexcept {
  PutU32(p, offset, static_cast<std::uint32_t>(v));
  PutU32(p, offset + 4, static_cast<std::uint32_t>(v >> 32));
}

inline void PutI8(void* p, std::size_t offset, std::int8_t v) noexcept {
  PutU8(p, offset, static_cast<std::uint8_t>(v));
}
inline void PutI16(void* p, std::size_t offset, std::int16_t v) noexcept {
  PutU16(p, offset, static_cast<std::uint16_t>(v));
}
inline void PutI32(void* p, std::size_t offset, std::int32_t v) noexcept {
  PutU32(p, offset, static_cast<std::uint32_t>(v));
}
inline void PutI64(void* p, std::size_t offset, std::int64_t v) noexcept {
  PutU64(p, offset, static_cast<std::uint64_t>(v));
}
inline void PutF64(void* p, std::size_t offset, double v) noexcept {
  PutU64(p, offset, BitCast<std::uint64_t>(v));
}

}  // namespace ledger
