#pragma once
// Locale string order for keys: one collator per locale, and the per-locale
// character order maps, both built once and kept for the life of the process.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>

namespace ledger {

// Compares two Latin-1 strings in the locale's string-sort order with
// non-spacing marks ignored. Each string ends at its first zero byte, so zero
// padding carries no weight. lcid 0 means English (USA).
int LocaleCompare(uint32_t lcid, std::string_view a, std::string_view b, bool ignoreCase = false);

using TCharOrderMap = std::array<uint8_t, 256>;

// The 256 byte values from lowest to highest in a locale; identity for language 0.
class TLanguageCharMapsList {
 public:
  static TLanguageCharMapsList& Instance();
  const TCharOrderMap& Map(uint16_t languageId, uint16_t sortId);

 private:
  std::mutex mutex_;
  std::map<uint32_t, std::unique_ptr<TCharOrderMap>> maps_;
};

}  // namespace ledger
