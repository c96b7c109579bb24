// Replays the picture fuzzer's corpus (its seeds and every input that once
// broke an entry) through the same harness.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "testing/pictures_harness.h"

namespace picturelib {
namespace {

namespace fs = std::filesystem;

fs::path CorpusDir() {
  return fs::path(__FILE__).parent_path().parent_path().parent_path() / "fuzz" / "corpus" / "fuzz_pictures";
}

std::vector<uint8_t> Load(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(PicturesFuzzCorpus, EveryStoredInputKeepsTheContract) {
  ASSERT_TRUE(fs::is_directory(CorpusDir())) << CorpusDir();
  int inputs = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(CorpusDir())) {
    SCOPED_TRACE(entry.path().filename().string());
    const std::vector<uint8_t> bytes = Load(entry.path());
    EXPECT_EQ(fuzzing::RunPictures(bytes.data(), bytes.size()).broken, 0);
    ++inputs;
  }
  EXPECT_GT(inputs, 0);
}

// The seeds are sound: each picture is probed and decoded by its own reader,
// each block is accepted by the conversions that take its depth.
TEST(PicturesFuzzCorpus, SeedsDecode) {
  int seeds = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(CorpusDir())) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("seed-", 0) != 0) continue;
    SCOPED_TRACE(name);
    ++seeds;
    const std::vector<uint8_t> bytes = Load(entry.path());
    const fuzzing::PicturesRun run = fuzzing::RunPictures(bytes.data(), bytes.size());
    if (name.rfind("seed-dib", 0) == 0) {
      // DibtoDdb, the matching increase (none for 24 bits) and ReduceDib.
      EXPECT_GE(run.blocks, 2);
    } else {
      EXPECT_TRUE(run.probed);
      EXPECT_EQ(run.decoded, 1);
    }
  }
  EXPECT_GT(seeds, 0);
}

}  // namespace
}  // namespace picturelib
