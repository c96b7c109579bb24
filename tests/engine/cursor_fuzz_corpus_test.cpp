// Replays the cursor fuzzer's corpus (its seeds and every input that once
// broke the cursor) through the same harness.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "testing/cursor_harness.h"

namespace ledger {
namespace {

namespace fs = std::filesystem;

fs::path CorpusDir() {
  return fs::path(__FILE__).parent_path().parent_path().parent_path() / "fuzz" / "corpus" / "fuzz_cursor";
}

std::vector<uint8_t> Load(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(CursorFuzzCorpus, EveryStoredInputEndsWithoutAForeignException) {
  ASSERT_TRUE(fs::is_directory(CorpusDir())) << CorpusDir();
  int inputs = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(CorpusDir())) {
    SCOPED_TRACE(entry.path().filename().string());
    std::vector<uint8_t> bytes = Load(entry.path());
    EXPECT_NO_THROW(fuzzing::RunCursor(bytes.data(), bytes.size()));
    ++inputs;
  }
  EXPECT_GT(inputs, 0);
}

// The seeds are sound tables: every step of their scripts succeeds, and the
// scripts reach records and blobs (the empty table aside).
TEST(CursorFuzzCorpus, SeedScriptsRunWithoutErrors) {
  const struct {
    const char* name;
    int32_t count;  // active records
    bool blobs;
  } seeds[] = {
      {"seed-words", 30 - 4, true},    {"seed-deep", 150 - 21, true}, {"seed-encrypted", 25 - 3, true},
      {"seed-no-primary", 40 - 5, true}, {"seed-empty", 0, false},
  };
  for (const auto& s : seeds) {
    SCOPED_TRACE(s.name);
    std::vector<uint8_t> bytes = Load(CorpusDir() / s.name);
    ASSERT_GT(bytes.size(), fuzzing::kCursorHeader);
    const fuzzing::TCursorRun run = fuzzing::RunCursor(bytes.data(), bytes.size());
    EXPECT_TRUE(run.opened);
    EXPECT_EQ(run.errors, 0);
    if (run.recordCount >= 0) {
      EXPECT_EQ(run.recordCount, s.count);
    }
    EXPECT_EQ(run.records > 0, s.count > 0);
    EXPECT_EQ(run.blobs > 0, s.blobs);
  }
}

}  // namespace
}  // namespace ledger
