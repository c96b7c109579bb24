#include "engine/files/compression.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "engine/errors/ledger_error.h"

namespace ledger {
namespace {

std::vector<std::uint8_t> Bytes(std::size_t size, bool noisy) {
  std::vector<std::uint8_t> data(size);
  std::uint32_t x = 99;
  for (std::size_t i = 0; i < size; ++i) {
    x = x * 1664525 + 1013904223;
    data[i] = noisy ? static_cast<std::uint8_t>(x >> 24) : static_cast<std::uint8_t>(i % 3);
  }
  return data;
}

template <typename F>
TErrorCode CodeOf(F action) {
  try {
    action();
  } catch (const ELedgerEngineError& e) {
    return e.ErrorCode();
  }
  return LEDGER_NONE;
}

TEST(Compression, RoundTrips) {
  const struct {
    const char* Label;
    std::vector<std::uint8_t> Data;
  } cases[] = {
      {"empty", {}},
      {"one byte", {42}},
      // Incompressible input needs more than the first output buffer.
      {"noise", Bytes(300000, true)},
      // Highly compressible input makes inflate grow its buffer many times.
      {"runs", Bytes(1 << 20, false)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Label);
    const auto packed = CompressBuffer(c.Data);
    EXPECT_EQ(DecompressBuffer(packed, c.Data.size()), c.Data);
  }
}

TEST(Compression, BadInputIsRefused) {
  const auto data = Bytes(10000, false);
  const auto packed = CompressBuffer(data);
  auto damaged = packed;
  damaged[damaged.size() / 2] ^= 0xFF;
  const struct {
    const char* Label;
    std::vector<std::uint8_t> Input;
    std::size_t MaxOutput;
  } cases[] = {
      {"nothing", {}, 1000},
      {"not a stream", {1, 2, 3, 4, 5}, 1000},
      {"cut short", {packed.begin(), packed.end() - 4}, data.size()},
      {"damaged", damaged, data.size()},
      {"larger than allowed", packed, data.size() - 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Label);
    EXPECT_EQ(CodeOf([&] { DecompressBuffer(c.Input, c.MaxOutput); }), LEDGER_UNCOMPRESS);
  }
}

}  // namespace
}  // namespace ledger
