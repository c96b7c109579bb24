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
  std::string summary;                // the counts per table
};

// Checks `tables` in `dir`, in the game's opening order whatever the order
// given.
TCheckResult CheckTables(const std::filesystem::path& dir, const std::vector<TTableKind>& tables);

// Prints the problems and the summary to `out`; answers the exit code.
int Check(const std::filesystem::path& dir, const std::vector<TTableKind>& tables, std::ostream& out,
          std::ostream& err);

// The verb's command line; args[0] is "check".
int CheckCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                 const char* usage);

}  // namespace tamblo::content_tool
