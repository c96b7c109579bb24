#pragma once
// Integer reads from file bytes. Callers check the bounds first; these only
// assemble bytes, never cast structs.
#include <cstddef>
#include <cstdint>

namespace picturelib {

inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
inline uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t Be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         static_cast<uint32_t>(p[3]);
}
inline void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A view of input bytes that answers whether [offset, offset + length) lies
// inside, in 64-bit arithmetic so no header value can wrap it around.
struct Bytes {
  const uint8_t* data = nullptr;
  std::size_t size = 0;

  bool Has(uint64_t offset, uint64_t length) const { return offset <= size && length <= size - offset; }
  const uint8_t* At(uint64_t offset) const { return data + offset; }
};

}  // namespace picturelib
