// Replays the fuzzer's corpus (its seeds and every input that once broke the
// readers) through the same harness, so those faults stay fixed in ordinary
// and sanitizer builds alike.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "testing/tables_harness.h"

namespace ledger {
namespace {

namespace fs = std::filesystem;

fs::path CorpusDir() {
  return fs::path(__FILE__).parent_path().parent_path().parent_path() / "fuzz" / "corpus" / "fuzz_tables";
}

TEST(FuzzCorpusTest, EveryStoredInputEndsWithoutAForeignException) {
  ASSERT_TRUE(fs::is_directory(CorpusDir())) << CorpusDir();
  int inputs = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(CorpusDir())) {
    SCOPED_TRACE(entry.path().filename().string());
    std::ifstream in(entry.path(), std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    EXPECT_NO_THROW(fuzzing::ReadTables(bytes.data(), bytes.size()));
    ++inputs;
  }
  EXPECT_GT(inputs, 0);
}

// The seeds are valid tables: the harness must read all of them back.
TEST(FuzzCorpusTest, SeedTablesReadBackCompletely) {
  for (const char* name : {"seed-plain", "seed-encrypted", "seed-small-blocks"}) {
    SCOPED_TRACE(name);
    std::ifstream in(CorpusDir() / name, std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    ASSERT_GT(bytes.size(), 5u);
    uint32_t dataSize = GetU32(bytes.data(), 1);
    fuzzing::PutMemoryFile("seedcheck/S.DAT", bytes.data() + 5, dataSize);
    fuzzing::PutMemoryFile("seedcheck/S.BLB", bytes.data() + 5 + dataSize, bytes.size() - 5 - dataSize);
    {
      TDataFile data;
      data.SetInMemory(true);
      data.SetFileName("seedcheck/S.DAT");
      data.Open();
      data.CheckStructure();
      TBlobFile blob;
      blob.SetInMemory(true);
      blob.SetFileName("seedcheck/S.BLB");
      blob.SetBlockSize(data.Header().blockSize);
      blob.SetEncrypted(data.Encrypted());
      blob.Open();
      blob.CheckStructure();
      int blobs = 0;
      for (int32_t r = 1; r <= data.RecordCount(); ++r) {
        TRecord* record = data.GetRecord(r);
        if (!record->Deleted()) {
          for (int f : {4, 5}) {
            TFieldValue value = data.GetField(*record, f);
            TBlobBuffer buffer(f, r, std::get<TBlobRef>(value));
            buffer.Load(blob);
            EXPECT_EQ(buffer.Size(), static_cast<std::size_t>(r * 37 * (f - 3)));
            ++blobs;
          }
        }
        data.ReleaseRecord(record);
      }
      EXPECT_GT(blobs, 0);
    }
    fuzzing::DropMemoryFile("seedcheck/S.DAT");
    fuzzing::DropMemoryFile("seedcheck/S.BLB");
  }
}

}  // namespace
}  // namespace ledger
