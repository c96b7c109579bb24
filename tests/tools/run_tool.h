#pragma once
// Runs the ledger tool in-process and keeps what it printed.

#include <sstream>
#include <string>
#include <vector>

#include "tools/ledger/commands.h"

namespace ledger::testing {

struct TRun {
  int code;
  std::string out;
  std::string err;
};

inline TRun RunTool(const std::vector<std::string>& args, const std::string& input = "") {
  std::istringstream in(input);
  std::ostringstream out, err;
  int code = ledger::tool::RunLedger(args, in, out, err);
  return {code, out.str(), err.str()};
}

}  // namespace ledger::testing
