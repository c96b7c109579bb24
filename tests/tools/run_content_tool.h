#pragma once
// Runs tamblo-content in-process and keeps what it printed.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <system_error>
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

// A scratch folder of the running test's own, emptied: ctest runs tests side
// by side, and other builds may be testing on the same machine.
inline std::filesystem::path ScratchDir(const std::string& what) {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) /
                                    (what + "-" + test->test_suite_name() + "-" + test->name() +
                                     "-" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  // Removed when the test program ends, so runs leave nothing in the
  // temporary folder (each ctest test is a program of its own).
  struct TMade {
    std::vector<std::filesystem::path> dirs;
    ~TMade() {
      std::error_code ignored;
      for (const auto& d : dirs) std::filesystem::remove_all(d, ignored);
    }
  };
  static TMade made;
  made.dirs.push_back(dir);
  return dir;
}

}  // namespace tamblo::content_tool::test_support
