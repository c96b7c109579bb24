#pragma once
// tamblo-content: makes and examines the game's content. Exit codes: 0 all
// well, 2 a file or table could not be used, 64 a wrong command line.

#include <ostream>
#include <string>
#include <vector>

namespace tamblo::content_tool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 2;
inline constexpr int kExitUsage = 64;

int RunContentTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tamblo::content_tool
