#pragma once
// The deep check of a table on disk: the full structure checks of its three
// files, then a walk of every index and every blob chain.
#include <functional>
#include <memory>
#include <string>

#include "engine/files/file_system.h"

namespace ledger {

class TTableVerifier {
 public:
  // Every file it reads goes through system.
  TTableVerifier(std::string directory, std::string table, std::shared_ptr<TFileSystem> system)
      : directory_(std::move(directory)), table_(std::move(table)), system_(std::move(system)) {}

  // "ok", the engine's message for a failed check, or a description of the
  // first inconsistency found. The table's read lock is held throughout, so
  // a writer in another process waits rather than changing what is read.
  std::string Run();

  // Runs between reading the records and walking the indexes, with the
  // lock held; for tests that let another process try to write then.
  void SetMidwayHook(std::function<void()> hook) { midway_ = std::move(hook); }

 private:
  std::string directory_;
  std::string table_;
  std::shared_ptr<TFileSystem> system_;
  std::function<void()> midway_;
};

}  // namespace ledger
