#include "engine/files/locale_order.h"

#include <algorithm>
#include <numeric>
#include <string>

#include "engine/files/locale_services.h"
#include "engine/files/value.h"

namespace ledger {

namespace {

// Latin-1 bytes up to the first zero, as the UTF-16 units they stand for.
void ToUnits(std::string_view s, std::u16string& out) {
  std::size_t end = s.find('\0');
  if (end == std::string_view::npos) end = s.size();
  out.resize(end);
  for (std::size_t i = 0; i < end; ++i) out[i] = static_cast<unsigned char>(s[i]);
}

}  // namespace

int LocaleCompare(uint32_t lcid, std::string_view a, std::string_view b, bool ignoreCase) {
  const uint32_t id = (lcid & 0xFFFF) == 0 ? 1033 : lcid;
  // Keys of one index share a locale: name it once, not per comparison.
  thread_local uint32_t namedId = 0;
  thread_local std::string name;
  if (id != namedId) {
    name = LocaleName(id);
    namedId = id;
  }
  thread_local std::u16string ua, ub;
  ToUnits(a, ua);
  ToUnits(b, ub);
  return locale_services::Compare(name, ua, ub, ignoreCase);
}

TLanguageCharMapsList& TLanguageCharMapsList::Instance() {
  static TLanguageCharMapsList list;
  return list;
}

const TCharOrderMap& TLanguageCharMapsList::Map(uint16_t languageId, uint16_t sortId) {
  uint32_t key = (static_cast<uint32_t>(sortId) << 16) | languageId;
  std::lock_guard lock(mutex_);
  auto it = maps_.find(key);
  if (it != maps_.end()) return *it->second;
  auto map = std::make_unique<TCharOrderMap>();
  std::iota(map->begin(), map->end(), 0);
  if (languageId != 0) {
    std::stable_sort(map->begin(), map->end(), [key](uint8_t x, uint8_t y) {
      char cx = static_cast<char>(x), cy = static_cast<char>(y);
      return LocaleCompare(key, std::string_view(&cx, x ? 1 : 0), std::string_view(&cy, y ? 1 : 0)) < 0;
    });
  }
  return *maps_.emplace(key, std::move(map)).first->second;
}

}  // namespace ledger
