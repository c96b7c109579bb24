#pragma once
// zlib deflate/inflate for file copies and transfers (never the table files).

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace ledger {

// Deflate at level 9; raises LEDGER_COMPRESS.
std::vector<std::uint8_t> CompressBuffer(std::span<const std::uint8_t> input);
// Inflate; raises LEDGER_UNCOMPRESS, also when the output would pass maxOutput.
std::vector<std::uint8_t> DecompressBuffer(std::span<const std::uint8_t> input,
                                           std::size_t maxOutput);

}  // namespace ledger
