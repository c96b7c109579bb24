#include "tools/tamblo-content/content_rules.h"

#include <algorithm>

#include "content/puzzle_gaps.h"

namespace tamblo::content_tool {

std::optional<TTableKind> TableKindByName(std::string_view name) {
  for (const TTableInfo& table : kTables)
    if (name == table.name) return table.kind;
  return std::nullopt;
}

const char* TableName(TTableKind kind) {
  for (const TTableInfo& table : kTables)
    if (table.kind == kind) return table.name;
  return "?";
}

bool IsWordTable(TTableKind kind) { return kind != TTableKind::SndFx; }

std::vector<std::string> BlendGaps(std::string_view word) {
  // Unlimited blocks, so a word with too many blends shows all of them.
  std::vector<std::string> pieces;
  for (const content::TGap& gap : content::CutBlendGaps(word, word.size()).gaps) pieces.push_back(gap.piece);
  return pieces;
}

namespace {

bool IsLowerAscii(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& part : parts) out += (out.empty() ? "" : " ") + part;
  return out;
}

void VowelProblems(const TWordRecord& r, std::vector<std::string>& problems) {
  if (r.letter.size() != 1) {
    problems.push_back("\"Letter\" \"" + r.letter + "\" is not one letter");
    return;
  }
  const auto marks = std::count(r.blank.begin(), r.blank.end(), '_');
  if (marks != 1) {
    problems.push_back("\"Blank\" \"" + r.blank + "\" does not hold exactly one \"_\"");
    return;
  }
  std::string filled = r.blank;
  const std::size_t at = filled.find('_');
  filled[at] = r.letter[0];
  if (filled != r.word)
    problems.push_back("\"Blank\" \"" + r.blank + "\" with \"" + r.letter + "\" in its gap does not give \"" +
                       r.word + "\"");
}

}  // namespace

std::string WordSpellingProblem(std::string_view word) {
  // The game compares letters case-sensitively with its lower-case blocks.
  if (word.empty()) return "the word is empty";
  if (!IsLowerAscii(word)) return "not written in lower-case letters a to z";
  return {};
}

std::vector<std::string> RecordProblems(TTableKind kind, const TWordRecord& r) {
  std::vector<std::string> problems;
  if (const std::string why = WordSpellingProblem(r.word); !why.empty()) {
    problems.push_back(why);
    return problems;
  }
  if (r.word.size() > kMaxWordLength)
    problems.push_back("longer than " + std::to_string(kMaxWordLength) + " letters");
  switch (kind) {
    case TTableKind::Blend: {
      const std::vector<std::string> gaps = BlendGaps(r.word);
      if (gaps.empty()) problems.push_back("holds no blend of the blend list");
      // The game offers four blocks, one per different blend.
      if (gaps.size() > 4)
        problems.push_back("more than four different blends (" + std::to_string(gaps.size()) + ": " +
                           Joined(gaps) + ")");
      break;
    }
    case TTableKind::SVowel:
    case TTableKind::LVowel:
      VowelProblems(r, problems);
      break;
    case TTableKind::Conson: {
      // The game treats y as a vowel here.
      const auto vowel = [](char c) { return std::string_view("aeiouy").find(c) != std::string_view::npos; };
      if (std::all_of(r.word.begin(), r.word.end(), vowel))
        problems.push_back("holds no consonant, so a consonant puzzle has no gap");
      break;
    }
    case TTableKind::SndFx:
      break;
  }
  return problems;
}

std::vector<std::string> TableProblems(TTableKind kind, const std::vector<TWordRecord>& records) {
  std::vector<std::string> problems;
  if (records.empty()) problems.push_back("holds no record");
  if (records.size() > kMaxRecords)
    problems.push_back("holds " + std::to_string(records.size()) + " records, more than the " +
                       std::to_string(kMaxRecords) + " the game can mark as used");
  if (kind == TTableKind::Conson && !records.empty() &&
      std::none_of(records.begin(), records.end(), [](const TWordRecord& r) { return r.usable; }))
    problems.push_back("no record has \"Contruction\" true, so no consonant puzzle can be set up");
  return problems;
}

}  // namespace tamblo::content_tool
