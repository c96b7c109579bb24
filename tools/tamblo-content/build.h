#pragma once
// `build --data DIR --out DIR` makes all five tables from the lists in DIR;
// `build --words FILE --table NAME --out DIR` makes one word table from a
// teacher's list. Either way the tables are made and checked in a scratch
// folder inside the output folder and only then take the place of the old.

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tools/tamblo-content/content_rules.h"

namespace tamblo::content_tool {

struct TBuildRequest {
  std::optional<std::filesystem::path> dataDir;
  std::optional<std::filesystem::path> wordsFile;
  TTableKind table = TTableKind::Blend;  // with wordsFile
  std::filesystem::path outDir;
  int jobs = 0;  // synthesizer processes at once; 0: one per processor
  bool strict = false;  // a teacher's word not heard as its puzzle teaches fails the build
  bool progressBar = false;
};

// Problems go to `err`, one per line, each naming table and word; progress
// too. Answers the exit code.
int Build(const TBuildRequest& request, std::ostream& out, std::ostream& err);

// The verb's command line (args[0] is "build"); a progress bar only when
// `err` is the terminal's standard error.
int BuildCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                 const char* usage);

}  // namespace tamblo::content_tool
