#include "engine/files/locale_ids.h"

#include <gtest/gtest.h>
#include <unicode/uloc.h>

namespace ledger {
namespace {

std::string IcuName(std::uint32_t lcid) {
  char name[ULOC_FULLNAME_CAPACITY] = {};
  UErrorCode status = U_ZERO_ERROR;
  const int32_t length = uloc_getLocaleForLCID(lcid, name, sizeof name, &status);
  return U_FAILURE(status) || length <= 0 ? std::string() : std::string(name, static_cast<std::size_t>(length));
}

// The browser looks ids up in this table where the desktop asks ICU: a name
// that differed would give a table another collation there, and an unsorted
// table would lose ids to the binary search.
TEST(LocaleIds, TheTableNamesEveryIdAsIcuDoes) {
  ASSERT_FALSE(KnownLocaleIds().empty());
  for (const TLocaleIdName& entry : KnownLocaleIds()) {
    EXPECT_EQ(LocaleNameFromTable(entry.lcid), IcuName(entry.lcid)) << std::hex << entry.lcid;
  }
  EXPECT_EQ(LocaleNameFromTable(0x0409), "en_US");
  EXPECT_EQ(LocaleNameFromTable(0xFFFF), "");
  EXPECT_EQ(LocaleNameFromTable(0), "");
}

TEST(LocaleIds, NamesBecomeTagsABrowserCollatorTakes) {
  struct Case {
    const char* name;
    const char* tag;
  };
  const Case cases[] = {
      {"en_US", "en-US"},
      {"zh_Hant_TW", "zh-Hant-TW"},
      {"es_ES@collation=traditional", "es-ES-u-co-trad"},
      {"de_DE@collation=phonebook", "de-DE-u-co-phonebk"},
      {"zh_CN@collation=pinyin", "zh-CN-u-co-pinyin"},
      {"en_US@calendar=gregorian", "en-US"},  // only the collation matters
      {"de_DE@collation=", "de-DE"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(LanguageTag(c.name), c.tag) << c.name;
}

}  // namespace
}  // namespace ledger
