#pragma once
// How words are said, as phonemes of the pronouncing dictionary's set (AA AE
// AH ... ZH, no stress marks): from the dictionary Debian ships for its
// offline speech recogniser, and from the espeak-ng synthesizer for a word
// the dictionary lacks. Both are read on this machine; nothing is fetched.

#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tamblo::content_tool {

using TPhones = std::vector<std::string>;

// The dictionary of package pocketsphinx-en-us.
inline constexpr const char* kPronouncingDictionary = "/usr/share/pocketsphinx/model/en-us/cmudict-en-us.dict";

class TPronouncingDictionary {
 public:
  // Lines "word PH ON ES", a second way of saying it as "word(2) ...".
  // Throws std::runtime_error, naming the file, when it cannot be read.
  explicit TPronouncingDictionary(const std::filesystem::path& file = kPronouncingDictionary);
  // Every way the dictionary says `word`; empty when it does not know it.
  const std::vector<TPhones>& Find(std::string_view word) const;

 private:
  std::unordered_map<std::string, std::vector<TPhones>> words_;
};

// The installed dictionary, read on first use and kept for the process: a
// build hears four lists twice. Throws as the constructor does, and tries
// again on the next call.
const TPronouncingDictionary& InstalledDictionary();

struct TPronunciation {
  std::vector<TPhones> ways;  // at least one unless `error` says why not
  bool fromSynthesizer = false;
  std::string error;
};

// The dictionary's ways of saying `word`, or else espeak-ng's.
TPronunciation Pronounce(std::string_view word, const TPronouncingDictionary& dictionary);

// espeak-ng's IPA for one word turned into the dictionary's phonemes;
// empty when a symbol has no counterpart.
TPhones PhonesFromIpa(std::string_view ipa);

// "IY G AH L" and back.
TPhones PhonesFromText(std::string_view text);
std::string PhonesText(const TPhones& phones);

}  // namespace tamblo::content_tool
