#pragma once
// `check DIR [--table NAME]`: opens the tables the way the game does and
// reports everything about their content that would trip the game up.

#include <filesystem>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "tools/tamblo-content/content_rules.h"

namespace tamblo::content_tool {

// Sounds the game can play and a child can hear: a RIFF WAVE of 16-bit mono
// samples at the table rate or better, neither silent nor of odd length.
// Empty text when fine.
std::string WaveProblem(std::span<const std::uint8_t> bytes, bool effect);

struct TCheckResult {
  std::vector<std::string> problems;  // "Table: word: problem", or "Table: problem"
  std::vector<std::string> warnings;  // sounds a teacher's list may keep
  std::string summary;                // the counts per table
};

// A word whose gaps are not heard as what the puzzle teaches fails our own
// lists; a teacher may want such a word, so for their list it is a warning
// unless they ask for the strict check.
enum class TPhonics { Problems, Warnings };

// Checks `tables` in `dir`, in the game's opening order whatever the order
// given.
TCheckResult CheckTables(const std::filesystem::path& dir, const std::vector<TTableKind>& tables,
                         TPhonics phonics = TPhonics::Problems);

// The phonics of every word of a list the game may use, from the
// pronouncing dictionary; a dictionary that cannot be read is one line.
std::vector<std::string> PhonicsOfWords(TTableKind kind, const std::vector<TWordRecord>& records);

// Prints the problems, the warnings ("warning: ...") and the summary to
// `out`; answers the exit code.
int Check(const std::filesystem::path& dir, const std::vector<TTableKind>& tables, std::ostream& out,
          std::ostream& err);

// The verb's command line; args[0] is "check".
int CheckCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                 const char* usage);

}  // namespace tamblo::content_tool
