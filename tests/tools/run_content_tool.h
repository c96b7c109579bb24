#pragma once
// Runs tamblo-content in-process and keeps what it printed.

#include <sstream>
#include <string>
#include <vector>

#include "tools/tamblo-content/commands.h"

namespace tamblo::content_tool::test_support {

struct TRun {
  int code;
  std::string out, err;
};

inline TRun RunTool(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int code = RunContentTool(args, out, err);
  return {code, out.str(), err.str()};
}

}  // namespace tamblo::content_tool::test_support
