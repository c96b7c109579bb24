#pragma once
// Windows locale ids by name, for where no ICU maps them (the browser): the
// common ones, named as ICU names them, and those names as BCP 47 tags.

#include <cstdint>
#include <span>
#include <string>

namespace ledger {

struct TLocaleIdName {
  std::uint32_t lcid;
  const char* name;
};

// Every id the table knows, in ascending order.
std::span<const TLocaleIdName> KnownLocaleIds();

// The name the table gives an id; empty when it has none.
std::string LocaleNameFromTable(std::uint32_t lcid);

// "es_ES@collation=traditional" -> "es-ES-u-co-trad": what a browser's
// collator takes.
std::string LanguageTag(const std::string& localeName);

}  // namespace ledger
