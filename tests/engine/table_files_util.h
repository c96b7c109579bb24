#pragma once
// Shared by the data file and blob file tests: a scratch folder, raw file
// bytes for corruption cases, and a table owner whose answers tests choose.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/errors/ledger_error.h"
#include "engine/files/table_owner.h"

namespace ledger::testing {

class TScratchDir {
 public:
  TScratchDir() {
    char pattern[] = "/tmp/ledger-tables-XXXXXX";
    if (mkdtemp(pattern)) path_ = pattern;
  }
  ~TScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The engine code an action raised, 0 when it raised nothing.
template <typename F>
TErrorCode CodeOf(F&& action) {
  try {
    action();
  } catch (const ELedgerEngineError& e) {
    return e.ErrorCode();
  }
  return 0;
}

class TFakeOwner : public TStandaloneOwner {
 public:
  using TStandaloneOwner::TStandaloneOwner;
  bool StrictChangeDetection() const override { return strict; }
  bool ReadLockAndCheckChanged() override {
    ++checks;
    if (onCheck) onCheck();
    if (changesToReport > 0) {
      --changesToReport;
      return true;
    }
    return false;
  }
  bool InTransaction() const override { return inTransaction; }
  void MarkWritten() override { ++written; }

  bool strict = false;
  bool inTransaction = false;
  int changesToReport = 0;
  int checks = 0;
  int written = 0;
  std::function<void()> onCheck;
};

}  // namespace ledger::testing
