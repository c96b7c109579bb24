#pragma once
// The verbs of the `ledger` command, runnable in-process.
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace ledger::tool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitNotFound = 1;  // get, find, blob: no such record
inline constexpr int kExitFailed = 2;  // engine error, inconsistency or bad input
inline constexpr int kExitUsage = 64;

// Records between two progress lines of `create`.
inline constexpr int64_t kProgressEvery = 100000;

extern const char* const kHelpText;

int RunLedger(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
              std::ostream& err);

}  // namespace ledger::tool
