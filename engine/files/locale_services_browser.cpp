// The browser's locale services: its own collator and case mapping, reached
// from JavaScript, since ICU is not linked there.
#ifdef __EMSCRIPTEN__

#include <emscripten.h>


#include "engine/files/locale_ids.h"
#include "engine/files/locale_services.h"

// Collators are made once per tag and strength and kept on the module.
// sensitivity "case" is primary strength with case as a level of its own;
// "base" drops case too.
EM_JS(int, tamblo_locale_compare,
      (const char* tag, const char16_t* a, int aLength, const char16_t* b, int bLength, int ignoreCase), {
        const key = UTF8ToString(tag) + (ignoreCase ? "/base" : "/case");
        const all = Module.tambloCollators || (Module.tambloCollators = {});
        let collator = all[key];
        if (!collator) {
          const options = {usage : "sort", sensitivity : ignoreCase ? "base" : "case"};
          try {
            collator = new Intl.Collator(UTF8ToString(tag), options);
          } catch (e) {
            collator = new Intl.Collator("en-US", options);
          }
          all[key] = collator;
        }
        const text = (p, n) => {
          let s = "";
          for (let i = 0; i < n; ++i) s += String.fromCharCode(HEAPU16[(p >> 1) + i]);
          return s;
        };
        return Math.sign(collator.compare(text(a, aLength), text(b, bLength)));
      });

EM_JS(int, tamblo_locale_supported, (const char* tag), {
  try {
    return Intl.Collator.supportedLocalesOf([UTF8ToString(tag)]).length > 0 ? 1 : 0;
  } catch (e) {
    return 0;
  }
});

EM_JS(void, tamblo_locale_map_case, (const char* tag, char16_t* units, int length, int upper), {
  const locale = UTF8ToString(tag);
  for (let i = 0; i < length; ++i) {
    const one = String.fromCharCode(HEAPU16[(units >> 1) + i]);
    let mapped;
    try {
      mapped = upper ? one.toLocaleUpperCase(locale) : one.toLocaleLowerCase(locale);
    } catch (e) {
      mapped = upper ? one.toUpperCase() : one.toLowerCase();
    }
    if (mapped.length == 1) HEAPU16[(units >> 1) + i] = mapped.charCodeAt(0);
  }
});

namespace ledger::locale_services {
namespace {

std::string TagOf(const std::string& locale) { return LanguageTag(locale.empty() ? "en_US" : locale); }

}  // namespace

std::string NameOf(std::uint32_t lcid) { return LocaleNameFromTable(lcid); }

bool HasCollator(const std::string& locale) {
  return !locale.empty() && tamblo_locale_supported(TagOf(locale).c_str()) != 0;
}

int Compare(const std::string& locale, std::u16string_view a, std::u16string_view b, bool ignoreCase) {
  return tamblo_locale_compare(TagOf(locale).c_str(), a.data(), static_cast<int>(a.size()), b.data(),
                               static_cast<int>(b.size()), ignoreCase ? 1 : 0);
}

void MapCase(const std::string& locale, std::u16string& units, bool upper) {
  tamblo_locale_map_case(TagOf(locale).c_str(), units.data(), static_cast<int>(units.size()), upper ? 1 : 0);
}

}  // namespace ledger::locale_services

#endif
