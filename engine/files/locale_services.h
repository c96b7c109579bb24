#pragma once
// The locale services under key order and case mapping. ICU provides them on
// the desktop; in a browser, where ICU is not linked, the browser's own
// collator and case mapping do.

#include <cstdint>
#include <string>
#include <string_view>

namespace ledger::locale_services {

// The locale a Windows locale id names ("en_US"); empty when it names none.
std::string NameOf(std::uint32_t lcid);

// Whether a collator for the locale's language is available.
bool HasCollator(const std::string& locale);

// -1, 0 or 1: a against b in the locale's order at primary strength (accents
// ignored), with case as the tie-breaker unless ignoreCase. An unknown locale
// compares as English (USA).
int Compare(const std::string& locale, std::u16string_view a, std::u16string_view b, bool ignoreCase);

// Each unit to its upper (or lower) case in the locale, one unit at a time; a
// unit whose counterpart is not a single unit stays as it was.
void MapCase(const std::string& locale, std::u16string& units, bool upper);

}  // namespace ledger::locale_services
