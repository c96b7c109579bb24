#include "engine/files/locale_order.h"

#include <unicode/coll.h>
#include <unicode/locid.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

#include "engine/files/value.h"

namespace ledger {

namespace {

struct TCollators {
  std::mutex mutex;
  std::map<uint64_t, std::unique_ptr<icu::Collator>> byKey;
};

TCollators& Collators() {
  static TCollators c;
  return c;
}

// Primary strength drops accents; the case level brings case back unless asked to ignore it.
const icu::Collator* CollatorFor(uint32_t lcid, bool ignoreCase) {
  uint32_t id = (lcid & 0xFFFF) == 0 ? 1033 : lcid;
  uint64_t key = (static_cast<uint64_t>(id) << 1) | (ignoreCase ? 1 : 0);
  TCollators& all = Collators();
  std::lock_guard lock(all.mutex);
  auto it = all.byKey.find(key);
  if (it != all.byKey.end()) return it->second.get();
  std::string name = IcuLocaleName(id);
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> coll(
      icu::Collator::createInstance(icu::Locale(name.empty() ? "en_US" : name.c_str()), status));
  if (U_FAILURE(status) || !coll) {
    status = U_ZERO_ERROR;
    coll.reset(icu::Collator::createInstance(icu::Locale("en_US"), status));
  }
  if (coll) {
    coll->setStrength(icu::Collator::PRIMARY);
    status = U_ZERO_ERROR;
    coll->setAttribute(UCOL_CASE_LEVEL, ignoreCase ? UCOL_OFF : UCOL_ON, status);
  }
  const icu::Collator* result = coll.get();
  all.byKey.emplace(key, std::move(coll));
  return result;
}

void ToUChars(std::string_view s, std::vector<char16_t>& out) {
  std::size_t end = s.find('\0');
  if (end == std::string_view::npos) end = s.size();
  out.resize(end);
  for (std::size_t i = 0; i < end; ++i) out[i] = static_cast<unsigned char>(s[i]);
}

}  // namespace

int LocaleCompare(uint32_t lcid, std::string_view a, std::string_view b, bool ignoreCase) {
  const icu::Collator* coll = CollatorFor(lcid, ignoreCase);
  thread_local std::vector<char16_t> ua, ub;
  ToUChars(a, ua);
  ToUChars(b, ub);
  if (!coll) {
    int c = std::u16string_view(ua.data(), ua.size()).compare(std::u16string_view(ub.data(), ub.size()));
    return (c > 0) - (c < 0);
  }
  UErrorCode status = U_ZERO_ERROR;
  UCollationResult r = coll->compare(ua.data(), static_cast<int32_t>(ua.size()), ub.data(),
                                     static_cast<int32_t>(ub.size()), status);
  if (r == UCOL_EQUAL) return 0;
  return r == UCOL_LESS ? -1 : 1;
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
