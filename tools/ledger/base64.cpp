#include "tools/ledger/base64.h"

#include <algorithm>

namespace ledger::tool {

std::optional<std::vector<uint8_t>> DecodeBase64(std::string_view text) {
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  std::vector<uint8_t> out;
  out.reserve(text.size() / 4 * 3);
  uint32_t bits = 0;
  int count = 0;  // sextets in bits
  int padding = 0;
  for (char c : text) {
    if (c == ' ' || c == '\n' || c == '\r' || c == '\t') continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    int v = value(c);
    if (v < 0 || padding > 0) return std::nullopt;  // data after padding
    bits = (bits << 6) | static_cast<uint32_t>(v);
    if (++count == 4) {
      out.push_back(static_cast<uint8_t>(bits >> 16));
      out.push_back(static_cast<uint8_t>(bits >> 8));
      out.push_back(static_cast<uint8_t>(bits));
      bits = 0;
      count = 0;
    }
  }
  // A lone sextet cannot hold a byte; padding must complete the last quad.
  if (count == 1 || padding > 2 || (padding > 0 && count + padding != 4)) return std::nullopt;
  if (count == 2) out.push_back(static_cast<uint8_t>(bits >> 4));
  if (count == 3) {
    out.push_back(static_cast<uint8_t>(bits >> 10));
    out.push_back(static_cast<uint8_t>(bits >> 2));
  }
  return out;
}

std::string EncodeBase64(std::span<const uint8_t> bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    uint32_t bits = static_cast<uint32_t>(bytes[i]) << 16;
    if (n > 1) bits |= static_cast<uint32_t>(bytes[i + 1]) << 8;
    if (n > 2) bits |= bytes[i + 2];
    out.push_back(kAlphabet[(bits >> 18) & 63]);
    out.push_back(kAlphabet[(bits >> 12) & 63]);
    out.push_back(n > 1 ? kAlphabet[(bits >> 6) & 63] : '=');
    out.push_back(n > 2 ? kAlphabet[bits & 63] : '=');
  }
  return out;
}

}  // namespace ledger::tool
