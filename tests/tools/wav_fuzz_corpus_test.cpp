// Replays the recording fuzzer's corpus (its seeds and every input that once
// broke the builder's sound path) through the same harness.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "testing/wav_harness.h"

namespace tamblo::content_tool {
namespace {

namespace fs = std::filesystem;

fs::path CorpusDir() {
  return fs::path(__FILE__).parent_path().parent_path().parent_path() / "fuzz" / "corpus" / "fuzz_wav";
}

TEST(WavFuzzCorpus, EveryStoredInputKeepsTheContractAndEverySeedReads) {
  ASSERT_TRUE(fs::is_directory(CorpusDir())) << CorpusDir();
  int seeds = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(CorpusDir())) {
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    const fuzzing::TWavRun run = fuzzing::RunWav(bytes.data(), bytes.size());
    EXPECT_EQ(run.broken, 0);
    if (name.rfind("seed-", 0) == 0) {
      EXPECT_TRUE(run.read);
      ++seeds;
    }
  }
  EXPECT_GT(seeds, 0);
}

}  // namespace
}  // namespace tamblo::content_tool
