#include "tools/tamblo-content/pronunciations.h"

#include <sys/wait.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "tools/tamblo-content/run_program.h"

namespace tamblo::content_tool {
namespace {

namespace fs = std::filesystem;

// espeak-ng's IPA symbols and the phonemes they stand for, longer symbols
// first. American English, as the dictionary is.
constexpr std::pair<std::string_view, std::string_view> kIpa[] = {
    {"tʃ", "CH"}, {"dʒ", "JH"}, {"eɪ", "EY"}, {"aɪ", "AY"}, {"ɔɪ", "OY"}, {"aʊ", "AW"}, {"oʊ", "OW"},
    {"əʊ", "OW"}, {"ɜːɹ", "ER"}, {"ɜː", "ER"}, {"ɜ", "ER"}, {"ɝ", "ER"}, {"ɚ", "ER"}, {"eə", "EH R"},
    {"ɪə", "IH R"}, {"ʊə", "UH R"}, {"p", "P"}, {"b", "B"}, {"t", "T"}, {"d", "D"}, {"k", "K"},
    {"ɡ", "G"}, {"g", "G"}, {"f", "F"}, {"v", "V"}, {"θ", "TH"}, {"ð", "DH"}, {"s", "S"}, {"z", "Z"},
    {"ʃ", "SH"}, {"ʒ", "ZH"}, {"h", "HH"}, {"m", "M"}, {"n", "N"}, {"ŋ", "NG"}, {"l", "L"}, {"ɹ", "R"},
    {"r", "R"}, {"w", "W"}, {"j", "Y"},
    // A glottal stop or a flap stands for a t between vowels.
    {"ʔ", "T"}, {"ɾ", "T"}, {"æ", "AE"}, {"ɛ", "EH"}, {"ɪ", "IH"}, {"ᵻ", "IH"}, {"i", "IY"}, {"ɑ", "AA"},
    {"ɒ", "AA"}, {"ɔ", "AO"}, {"ʌ", "AH"}, {"ə", "AH"}, {"ɐ", "AH"}, {"a", "AE"}, {"e", "EH"},
    {"ʊ", "UH"}, {"u", "UW"}, {"o", "OW"}, {"x", "K"},
};
// Marks of stress, length and pauses, which the dictionary does not write.
constexpr std::string_view kIgnored[] = {"ˈ", "ˌ", "ː", " ", "\n", "_", "-"};
constexpr std::string_view kSyllabic = "\xCC\xA9";  // U+0329 under a consonant

const std::vector<TPhones> kNone;

}  // namespace

TPronouncingDictionary::TPronouncingDictionary(const fs::path& file) {
  std::ifstream in(file);
  if (!in)
    throw std::runtime_error("cannot read the pronouncing dictionary " + file.string() + ": " +
                             std::strerror(errno) + " (scripts/setup installs it)");
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t space = line.find(' ');
    if (space == std::string::npos || space == 0) continue;
    std::string word = line.substr(0, space);
    // "word(2)": another way of saying the same word.
    if (const std::size_t paren = word.find('('); paren != std::string::npos && paren > 0) word.resize(paren);
    TPhones phones = PhonesFromText(std::string_view(line).substr(space + 1));
    if (!phones.empty()) words_[word].push_back(std::move(phones));
  }
  if (words_.empty()) throw std::runtime_error("the pronouncing dictionary " + file.string() + " holds no words");
}

const std::vector<TPhones>& TPronouncingDictionary::Find(std::string_view word) const {
  const auto found = words_.find(std::string(word));
  return found == words_.end() ? kNone : found->second;
}

const TPronouncingDictionary& InstalledDictionary() {
  static const TPronouncingDictionary dictionary;
  return dictionary;
}

TPhones PhonesFromIpa(std::string_view ipa) {
  TPhones phones;
  std::size_t at = 0;
  while (at < ipa.size()) {
    bool matched = false;
    if (ipa.substr(at).starts_with(kSyllabic)) {
      // "n̩" is a vowel and its consonant, as the dictionary writes "AH N".
      if (!phones.empty()) phones.insert(phones.end() - 1, "AH");
      at += kSyllabic.size();
      continue;
    }
    for (std::string_view ignored : kIgnored)
      if (ipa.substr(at).starts_with(ignored)) {
        at += ignored.size();
        matched = true;
        break;
      }
    if (matched) continue;
    for (const auto& [symbol, sound] : kIpa) {
      if (!ipa.substr(at).starts_with(symbol)) continue;
      for (const std::string& phone : PhonesFromText(sound)) phones.push_back(phone);
      at += symbol.size();
      matched = true;
      break;
    }
    if (!matched) return {};
  }
  return phones;
}

TPronunciation Pronounce(std::string_view word, const TPronouncingDictionary& dictionary) {
  TPronunciation result;
  result.ways = dictionary.Find(word);
  if (!result.ways.empty()) return result;
  result.fromSynthesizer = true;
  // Only plain lower-case words reach here; the check refuses the rest first.
  for (char c : word)
    if (c < 'a' || c > 'z') {
      result.error = "not a word of the letters a to z";
      return result;
    }
  TScratchDir scratch("tamblo-phonemes");
  const TRun run = RunProgram({"espeak-ng", "-q", "--ipa", "-v", "en-us", std::string(word)},
                              scratch.Path() / "errors");
  if (!run.started) {
    result.error = "espeak-ng could not be started: " + run.why;
    return result;
  }
  if (!WIFEXITED(run.status) || WEXITSTATUS(run.status) != 0) {
    result.error = "espeak-ng failed: " + LastLine(ReadText(scratch.Path() / "errors"));
    return result;
  }
  const TPhones phones = PhonesFromIpa(run.out);
  if (phones.empty()) {
    result.error = "espeak-ng's phonemes \"" + LastLine(run.out) + "\" could not be read";
    return result;
  }
  result.ways.push_back(phones);
  return result;
}

TPhones PhonesFromText(std::string_view text) {
  TPhones phones;
  std::istringstream in{std::string(text)};
  std::string phone;
  while (in >> phone) phones.push_back(phone);
  return phones;
}

std::string PhonesText(const TPhones& phones) {
  std::string text;
  for (const std::string& phone : phones) text += (text.empty() ? "" : " ") + phone;
  return text;
}

}  // namespace tamblo::content_tool
