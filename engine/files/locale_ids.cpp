#include "engine/files/locale_ids.h"

#include <algorithm>
#include <iterator>

namespace ledger {
namespace {

// Named as ICU names them, so the browser picks the collation the desktop does.
constexpr TLocaleIdName kNames[] = {
    {0x0401, "ar_SA"},
    {0x0403, "ca_ES"},
    {0x0404, "zh_Hant_TW"},
    {0x0405, "cs_CZ"},
    {0x0406, "da_DK"},
    {0x0407, "de_DE"},
    {0x0408, "el_GR"},
    {0x0409, "en_US"},
    {0x040A, "es_ES@collation=traditional"},
    {0x040B, "fi_FI"},
    {0x040C, "fr_FR"},
    {0x040D, "he_IL"},
    {0x040E, "hu_HU"},
    {0x040F, "is_IS"},
    {0x0410, "it_IT"},
    {0x0411, "ja_JP"},
    {0x0412, "ko_KR"},
    {0x0413, "nl_NL"},
    {0x0414, "nb_NO"},
    {0x0415, "pl_PL"},
    {0x0416, "pt_BR"},
    {0x0418, "ro_RO"},
    {0x0419, "ru_RU"},
    {0x041A, "hr_HR"},
    {0x041B, "sk_SK"},
    {0x041D, "sv_SE"},
    {0x041E, "th_TH"},
    {0x041F, "tr_TR"},
    {0x0421, "id_ID"},
    {0x0422, "uk_UA"},
    {0x0424, "sl_SI"},
    {0x0425, "et_EE"},
    {0x0426, "lv_LV"},
    {0x0427, "lt_LT"},
    {0x042A, "vi_VN"},
    {0x042D, "eu_ES"},
    {0x0436, "af_ZA"},
    {0x0439, "hi_IN"},
    {0x0452, "cy_GB"},
    {0x0456, "gl_ES"},
    {0x0491, "gd_GB"},
    {0x0804, "zh_CN"},
    {0x0807, "de_CH"},
    {0x0809, "en_GB"},
    {0x080A, "es_MX"},
    {0x080C, "fr_BE"},
    {0x0810, "it_CH"},
    {0x0813, "nl_BE"},
    {0x0814, "nn_NO"},
    {0x0816, "pt_PT"},
    {0x083C, "ga_IE"},
    {0x0C04, "zh_Hant_HK"},
    {0x0C07, "de_AT"},
    {0x0C09, "en_AU"},
    {0x0C0A, "es_ES"},
    {0x0C0C, "fr_CA"},
    {0x1009, "en_CA"},
    {0x100C, "fr_CH"},
    {0x1409, "en_NZ"},
    {0x1809, "en_IE"},
    {0x1C09, "en_ZA"},
    {0x2C0A, "es_AR"},
};

}  // namespace

std::span<const TLocaleIdName> KnownLocaleIds() { return kNames; }

std::string LocaleNameFromTable(std::uint32_t lcid) {
  const auto* it = std::lower_bound(std::begin(kNames), std::end(kNames), lcid,
                                    [](const TLocaleIdName& n, std::uint32_t id) { return n.lcid < id; });
  return it != std::end(kNames) && it->lcid == lcid ? it->name : std::string();
}

std::string LanguageTag(const std::string& localeName) {
  const std::size_t at = localeName.find('@');
  std::string tag = localeName.substr(0, at);
  std::replace(tag.begin(), tag.end(), '_', '-');
  if (at == std::string::npos) return tag;
  // Only the collation keyword matters to a collator; BCP 47 spells some
  // collation types shorter than ICU's keyword values.
  const std::string keyword = "collation=";
  const std::size_t k = localeName.find(keyword, at);
  if (k == std::string::npos) return tag;
  std::string type = localeName.substr(k + keyword.size());
  type = type.substr(0, type.find(';'));
  if (type == "traditional") type = "trad";
  else if (type == "phonebook") type = "phonebk";
  else if (type == "dictionary") type = "dict";
  else if (type == "gb2312han") type = "gb2312";
  return type.empty() ? tag : tag + "-u-co-" + type;
}

}  // namespace ledger
