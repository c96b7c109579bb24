#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ledger::tool {

// Standard alphabet with padding; whitespace is skipped. Nothing for bad input.
std::optional<std::vector<uint8_t>> DecodeBase64(std::string_view text);
std::string EncodeBase64(std::span<const uint8_t> bytes);

}  // namespace ledger::tool
