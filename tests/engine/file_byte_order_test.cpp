#include "engine/files/byte_order.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace ledger {
namespace {

// Known bytes against known values: sign extension, bytes above 0x7F and
// unaligned offsets are where hand-written helpers go wrong.
TEST(ByteOrder, ReadsAndWritesLittleEndian) {
  const std::uint8_t bytes[] = {0xAA, 0x01, 0x82, 0xF3, 0x84, 0x05, 0x86, 0x07, 0xF8, 0xFF};
  EXPECT_EQ(GetU8(bytes, 2), 0x82u);
  EXPECT_EQ(GetI8(bytes, 2), -126);
  EXPECT_EQ(GetU16(bytes, 1), 0x8201u);
  EXPECT_EQ(GetI16(bytes, 8), -8);
  EXPECT_EQ(GetU32(bytes, 1), 0x84F38201u);
  EXPECT_EQ(GetI32(bytes, 1), static_cast<std::int32_t>(0x84F38201u));
  EXPECT_EQ(GetU64(bytes, 1), 0xF807860584F38201ULL);
  EXPECT_EQ(GetI64(bytes, 2), static_cast<std::int64_t>(0xFFF807860584F382ULL));

  std::uint8_t out[sizeof bytes] = {0xAA};
  PutU64(out, 1, 0xF807860584F38201ULL);
  PutI8(out, 9, -1);
  EXPECT_EQ(std::memcmp(out, bytes, sizeof bytes), 0);
  PutI16(out, 0, -2);
  PutU32(out, 2, 0x01020304u);
  PutI32(out, 6, -3);
  EXPECT_EQ(GetI16(out, 0), -2);
  EXPECT_EQ(GetU8(out, 2), 0x04u);
  EXPECT_EQ(GetU32(out, 2), 0x01020304u);
  EXPECT_EQ(GetI32(out, 6), -3);
  PutI64(out, 1, -5);
  EXPECT_EQ(GetI64(out, 1), -5);
  PutF64(out, 2, -1.5);
  EXPECT_EQ(GetU64(out, 2), 0xBFF8000000000000ULL);
  EXPECT_EQ(GetF64(out, 2), -1.5);
}

}  // namespace
}  // namespace ledger
