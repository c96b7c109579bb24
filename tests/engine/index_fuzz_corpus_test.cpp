// Replays the index fuzzer's corpus (its seeds and every input that once
// broke the reader) through the same harness.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "testing/index_harness.h"

namespace ledger {
namespace {

namespace fs = std::filesystem;

fs::path CorpusDir() {
  return fs::path(__FILE__).parent_path().parent_path().parent_path() / "fuzz" / "corpus" / "fuzz_index";
}

std::vector<uint8_t> Load(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(IndexFuzzCorpus, EveryStoredInputEndsWithoutAForeignException) {
  ASSERT_TRUE(fs::is_directory(CorpusDir())) << CorpusDir();
  int inputs = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(CorpusDir())) {
    SCOPED_TRACE(entry.path().filename().string());
    std::vector<uint8_t> bytes = Load(entry.path());
    EXPECT_NO_THROW(fuzzing::ReadIndex(bytes.data(), bytes.size()));
    ++inputs;
  }
  EXPECT_GT(inputs, 0);
}

// The seeds are sound index files: checked and walked without an error.
TEST(IndexFuzzCorpus, SeedsAreSound) {
  for (const char* name : {"seed-two-levels", "seed-full-compression", "seed-secondary-locale",
                           "seed-deleted-trailing"}) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> bytes = Load(CorpusDir() / name);
    ASSERT_GT(bytes.size(), 1u);
    {
      TFileHandler out("fuzz/Seed.IDX", true);
      out.Create();
      out.Write(bytes.data() + 1, bytes.size() - 1);
      out.Close();
    }
    TIndexFile f;
    f.SetFileName("fuzz/Seed.IDX");
    f.SetInMemory(true);
    f.Open();
    f.CheckVersion();
    f.CheckStructure(fuzzing::IndexFuzzFields(), (bytes[0] & fuzzing::kIndexLocale) ? 1033 : 0);
    for (int slot : {0, 1, kSlotDeleted}) {
      if (!f.Descriptor(slot).Defined() || (slot == 1 && f.Header().secondaryCount < 1)) continue;
      EXPECT_NO_THROW(fuzzing::WalkIndex(f, slot)) << slot;
      int64_t walked = 0;
      for (TKeyPosition p = f.First(slot); p.found; p = f.Next(slot, p)) ++walked;
      EXPECT_EQ(walked, f.TotalKeys(slot)) << slot;
    }
    f.Close();
    TFileHandler("fuzz/Seed.IDX", true).Delete();
  }
}

}  // namespace
}  // namespace ledger
