#pragma once
// What the game relies on in its tables, in one place: the list reader
// applies these rules before anything is synthesized, and `check` applies
// them again to the tables as built.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamblo::content_tool {

enum class TTableKind { Blend, SVowel, LVowel, Conson, SndFx };

struct TTableInfo {
  const char* name;
  TTableKind kind;
};

// The game opens its tables in this order.
inline constexpr std::array<TTableInfo, 5> kTables = {{{"Blend", TTableKind::Blend},
                                                       {"SndFx", TTableKind::SndFx},
                                                       {"Conson", TTableKind::Conson},
                                                       {"LVowel", TTableKind::LVowel},
                                                       {"SVowel", TTableKind::SVowel}}};

std::optional<TTableKind> TableKindByName(std::string_view name);
const char* TableName(TTableKind kind);
bool IsWordTable(TTableKind kind);

inline constexpr std::array<std::string_view, 6> kEffectKeys = {"craneh", "cranev", "konk",
                                                                "clack",  "click",  "constr"};

// One used-mark per record position in the game.
inline constexpr int kMaxRecords = 200;
// The width of the "Word" and "Blank" fields.
inline constexpr std::size_t kMaxWordLength = 20;

// The blends the game cuts out of a word, in the order it cuts them, when it
// has blocks enough for all of them.
std::vector<std::string> BlendGaps(std::string_view word);

struct TWordRecord {
  std::string word;
  std::string blank;   // vowel tables
  std::string letter;  // vowel tables
  bool usable = true;  // "Contruction" in "Conson"
};

// Why a word cannot be one of the game's words (empty, not lower-case a to
// z); empty text when it can.
std::string WordSpellingProblem(std::string_view word);

// Problems of one record, each a short phrase ("more than four different
// blends: ..."); empty when the record is fine.
std::vector<std::string> RecordProblems(TTableKind kind, const TWordRecord& record);

// Problems of a whole word table that no single record shows: too few or
// too many records, no usable consonant word. Duplicates are named per word.
std::vector<std::string> TableProblems(TTableKind kind, const std::vector<TWordRecord>& records);

}  // namespace tamblo::content_tool
