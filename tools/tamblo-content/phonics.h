#pragma once
// Whether each piece a puzzle cuts out of a word is heard as the sound it
// teaches: the word's letters are matched to its phonemes, and each gap's
// letters judged by the phonemes they carry.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/tamblo-content/content_rules.h"
#include "tools/tamblo-content/pronunciations.h"

namespace tamblo::content_tool {

// Letters [from, to) of the word said as phonemes [phoneFrom, phoneTo).
struct TSpelledSound {
  std::size_t from = 0, to = 0;
  std::size_t phoneFrom = 0, phoneTo = 0;
};

struct TAlignment {
  TPhones phones;
  std::vector<TSpelledSound> units;  // in letter order, covering every letter
  const TSpelledSound& UnitOf(std::size_t letter) const;
  TPhones PhonesOf(const TSpelledSound& unit) const;
};

// The likeliest way the letters spell the phonemes; none when the letters
// cannot account for them.
std::optional<TAlignment> Align(std::string_view word, const TPhones& phones);

// Each rule the record breaks as it would be cut in its table, one line
// each ("Blend/eagle: \"gl\" is not heard as a blend (IY G AH L)"); empty
// when one of the word's pronunciations passes. Expects a record that
// passes RecordProblems.
std::vector<std::string> PhonicsFailures(TTableKind kind, const TWordRecord& record,
                                         const TPronunciation& pronunciation);

// What the check sees in one word: its phonemes, how its letters spell
// them, the pieces each puzzle kind would cut and the verdict for each.
std::string ExplainPhonics(std::string_view word, const TPronunciation& pronunciation);

}  // namespace tamblo::content_tool
