#pragma once
// The deep check of a table on disk: the full structure checks of its three
// files, then a walk of every index and every blob chain.
#include <string>

namespace ledger {

class TTableVerifier {
 public:
  TTableVerifier(std::string directory, std::string table)
      : directory_(std::move(directory)), table_(std::move(table)) {}

  // "ok", the engine's message for a failed check, or a description of the
  // first inconsistency found.
  std::string Run();

 private:
  std::string directory_;
  std::string table_;
};

}  // namespace ledger
