// The desktop's locale services: ICU.
#ifndef __EMSCRIPTEN__

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/ucol.h>
#include <unicode/uloc.h>
#include <unicode/unistr.h>

#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "engine/files/locale_services.h"

namespace ledger::locale_services {
namespace {

struct TCollators {
  std::mutex mutex;
  std::map<std::pair<std::string, bool>, std::unique_ptr<icu::Collator>> byKey;
};

// Primary strength drops accents; the case level brings case back unless asked to ignore it.
const icu::Collator* MakeCollator(const std::string& locale, bool ignoreCase) {
  static TCollators all;
  std::lock_guard lock(all.mutex);
  auto key = std::make_pair(locale, ignoreCase);
  auto it = all.byKey.find(key);
  if (it != all.byKey.end()) return it->second.get();
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> coll(
      icu::Collator::createInstance(icu::Locale(locale.empty() ? "en_US" : locale.c_str()), status));
  if (U_FAILURE(status) || !coll) {
    status = U_ZERO_ERROR;
    coll.reset(icu::Collator::createInstance(icu::Locale("en_US"), status));
  }
  if (coll) {
    coll->setStrength(icu::Collator::PRIMARY);
    status = U_ZERO_ERROR;
    coll->setAttribute(UCOL_CASE_LEVEL, ignoreCase ? UCOL_OFF : UCOL_ON, status);
  }
  return all.byKey.emplace(std::move(key), std::move(coll)).first->second.get();
}

// Collators live as long as the process, so a thread may keep the last one it
// used and skip the shared map while the locale stays the same.
const icu::Collator* CollatorFor(const std::string& locale, bool ignoreCase) {
  thread_local std::string lastLocale;
  thread_local bool lastIgnoreCase = false;
  thread_local const icu::Collator* last = nullptr;
  thread_local bool known = false;
  if (!known || ignoreCase != lastIgnoreCase || locale != lastLocale) {
    last = MakeCollator(locale, ignoreCase);
    lastLocale = locale;
    lastIgnoreCase = ignoreCase;
    known = true;
  }
  return last;
}

}  // namespace

std::string NameOf(std::uint32_t lcid) {
  char name[ULOC_FULLNAME_CAPACITY] = {};
  UErrorCode status = U_ZERO_ERROR;
  int32_t len = uloc_getLocaleForLCID(lcid, name, sizeof name, &status);
  if (U_FAILURE(status) || len <= 0) return {};
  return std::string(name, static_cast<std::size_t>(len));
}

bool HasCollator(const std::string& locale) {
  std::string language = icu::Locale(locale.c_str()).getLanguage();
  if (language.empty()) return false;
  for (int32_t i = 0, n = ucol_countAvailable(); i < n; ++i)
    if (icu::Locale(ucol_getAvailable(i)).getLanguage() == language) return true;
  return false;
}

int Compare(const std::string& locale, std::u16string_view a, std::u16string_view b, bool ignoreCase) {
  const icu::Collator* coll = CollatorFor(locale, ignoreCase);
  if (!coll) {
    int c = a.compare(b);
    return (c > 0) - (c < 0);
  }
  UErrorCode status = U_ZERO_ERROR;
  UCollationResult r = coll->compare(a.data(), static_cast<int32_t>(a.size()), b.data(),
                                     static_cast<int32_t>(b.size()), status);
  if (r == UCOL_EQUAL) return 0;
  return r == UCOL_LESS ? -1 : 1;
}

void MapCase(const std::string& locale, std::u16string& units, bool upper) {
  icu::Locale loc(locale.empty() ? "en_US" : locale.c_str());
  for (char16_t& u : units) {
    icu::UnicodeString one(static_cast<UChar>(u));
    if (upper)
      one.toUpper(loc);
    else
      one.toLower(loc);
    if (one.length() == 1) u = one.charAt(0);
  }
}

}  // namespace ledger::locale_services

#endif
