// The deep table check against deliberate corruptions of a built table.
#include "engine/build/table_verifier.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/build/table_builder.h"
#include "engine/files/blob_file.h"
#include "engine/files/byte_order.h"
#include "engine/files/index_header.h"
#include "engine/files/index_page.h"
#include "rewriter_process.h"
#include "table_files_util.h"

namespace ledger {
namespace {

using testing::ReadBytes;
using testing::TScratchDir;
using testing::WriteBytes;

constexpr int kRecords = 300;
constexpr int kKeyLength = 22;  // flag + 21 bytes of a 20-character string
constexpr int kBlobBytes = 1000;  // three 512-byte blocks each

void BuildTable(const TScratchDir& dir, int records = kRecords, TBuildTarget target = TBuildTarget::NewFiles) {
  TTableDefinition def;
  TFieldDesc word, count, picture;
  word.name = "Word";
  word.type = ftString;
  word.size = 20;
  count.name = "Count";
  count.type = ftInteger;
  picture.name = "Picture";
  picture.type = ftBlob;
  picture.subtype = fstBinary;
  def.data.fields = {word, count, picture};
  TIndexDefinition primary;
  primary.fields = {"Word"};
  def.primary = primary;
  def.fillFactor = 0.1;  // three levels from a few hundred keys
  TTableBuilder builder(dir.Path(), "T", def, target, PosixFileSystem());
  for (int i = 1; i <= records; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "k%05d", i);
    builder.Append(std::vector<TFieldValue>{std::string(name), int64_t{i},
                                            std::vector<uint8_t>(kBlobBytes, static_cast<uint8_t>(i))});
  }
  builder.Finish();
}

int32_t RootPage(const std::vector<uint8_t>& idx) {
  return TIndexHeader::Decode(idx.data()).slots[0].rootPage;
}

std::size_t PageAt(int32_t p) { return static_cast<std::size_t>(p) * kIndexPageSize; }
std::size_t LeafEntry(int s) { return kPageHeaderSize + static_cast<std::size_t>(s - 1) * (kKeyLength + 4); }
std::size_t BlockAt(int32_t b) { return kBlobHeaderSize + static_cast<std::size_t>(b - 1) * 512; }

struct TCorruption {
  const char* name;
  const char* ext;
  std::function<void(std::vector<uint8_t>&)> patch;
  const char* expected;  // a part of the answer
  const char* ext2 = nullptr;  // a second file patched to match, when needed
  std::function<void(std::vector<uint8_t>&)> patch2 = {};
};

constexpr std::size_t kRecord2 = 127 + 3 * 768 + 45;  // records are 45 bytes

TEST(TableVerifier, BuiltTableIsSound) {
  TScratchDir dir;
  BuildTable(dir);
  EXPECT_EQ(TTableVerifier(dir.Path(), "T", PosixFileSystem()).Run(), "ok");
}

// The check reads through the system it is given: a read that system
// refuses is what the check reports.
TEST(TableVerifier, ReadsThroughItsSystem) {
  struct TFailingReads : TPosixFileSystem {
    std::int64_t PRead(int, void*, std::size_t, std::uint64_t) override { return -EIO; }
  };
  TScratchDir dir;
  BuildTable(dir);
  EXPECT_NE(TTableVerifier(dir.Path(), "T", std::make_shared<TFailingReads>()).Run().find("9217"),
            std::string::npos);
}

// Another process rewrites the table, with more records, while the check is
// halfway: the check's read lock keeps it waiting, so the check sees one
// whole table and finds nothing wrong with it.
TEST(TableVerifier, AWriterWaitsForTheCheckToEnd) {
  TScratchDir dir;
  BuildTable(dir);
  testing::TRewriterProcess writer(dir / "T.IDX", [&](int records) {
    BuildTable(dir, records, TBuildTarget::InPlace);
  });
  TTableVerifier verifier(dir.Path(), "T", PosixFileSystem());
  testing::TRewriterProcess::TOutcome outcome{};
  verifier.SetMidwayHook([&] { outcome = writer.Rewrite(kRecords + 50); });
  EXPECT_EQ(verifier.Run(), "ok");
  EXPECT_EQ(outcome, testing::TRewriterProcess::TOutcome::Waiting);
  ASSERT_TRUE(writer.Finish());
  EXPECT_EQ(TTableVerifier(dir.Path(), "T", PosixFileSystem()).Run(), "ok");
}

TEST(TableVerifier, FindsEachCorruption) {
  const TCorruption cases[] = {
      {"wrong count in a branch entry", ".IDX",
       [](auto& b) {
         std::size_t at = PageAt(RootPage(b)) + kPageHeaderSize + kKeyLength + 4;
         PutI32(b.data(), at, GetI32(b.data(), at) + 1);
       },
       "its subtree holds"},
      {"broken forward leaf link", ".IDX", [](auto& b) { PutI32(b.data(), PageAt(1) + 7, 3); },
       "links on to page 3 instead of 2"},
      {"broken backward leaf link", ".IDX", [](auto& b) { PutI32(b.data(), PageAt(2) + 3, 0); },
       "links back to page 0 instead of 1"},
      {"last leaf linking on", ".IDX",
       [](auto& b) {
         // The leaf level ends where the first branch begins.
         int32_t p = 1;
         while (b[PageAt(p + 1)] == ptLeaf) ++p;
         PutI32(b.data(), PageAt(p) + 7, 1);
       },
       "last leaf"},
      {"record number outside the file", ".IDX",
       [](auto& b) { PutI32(b.data(), PageAt(1) + LeafEntry(1) + kKeyLength, 9999); }, "outside the data file"},
      {"keys out of order", ".IDX",
       [](auto& b) {
         std::swap_ranges(b.begin() + PageAt(1) + LeafEntry(2), b.begin() + PageAt(1) + LeafEntry(3),
                          b.begin() + PageAt(1) + LeafEntry(3));
       },
       "out of order"},
      {"key not matching its record", ".IDX", [](auto& b) { b[PageAt(1) + LeafEntry(3) + 5] ^= 1; },
       "does not match record"},
      {"leaf as root", ".IDX", [](auto& b) { b[PageAt(1)] = ptRootLeaf; }, "page type 3"},
      {"branch cycle", ".IDX",
       [](auto& b) {
         int32_t root = RootPage(b);
         PutI32(b.data(), PageAt(root) + kPageHeaderSize + kKeyLength, root);
       },
       "reached twice"},
      {"wrong active record count", ".IDX", [](auto& b) { PutI32(b.data(), 3974, kRecords - 1); },
       "active records"},
      {"root page beyond the file", ".IDX", [](auto& b) { PutI32(b.data(), 14 + 86, 99999); }, "8961"},
      {"next page number far beyond the file", ".IDX", [](auto& b) { PutI32(b.data(), 9, 2000000000); },
       "counts 1999999999 pages"},
      {"next block number far beyond the file", ".BLB",
       [](auto& b) {
         PutI32(b.data(), 13, 2000000000);
         PutI32(b.data(), BlockAt(3) + 4, 1999999999);
       },
       "counts 1999999999 blocks"},
      {"deleted record outside the free chain", ".DAT", [](auto& b) { b[kRecord2] = 1; },
       "free record chain holds 0 of 1"},
      {"indexed record deleted", ".DAT",
       [](auto& b) {
         b[kRecord2] = 1;
         PutI32(b.data(), kRecord2 + 1, 0);
         PutI32(b.data(), 9, 2);  // the chain's head
       },
       "record 2 is deleted", ".IDX", [](auto& b) { PutI32(b.data(), 3974, kRecords - 1); }},
      {"blob chain into a foreign block", ".BLB", [](auto& b) { PutI32(b.data(), BlockAt(1) + 4, 5); },
       "block 5"},
      {"blob chain past the file", ".BLB", [](auto& b) { PutI32(b.data(), BlockAt(2) + 4, 99999); },
       "outside the file"},
      {"blob total length too large", ".BLB",
       [](auto& b) { PutI32(b.data(), BlockAt(4) + 14, kBlobBytes + 1); }, "its first block says 1001"},
      {"blob block overfull", ".BLB", [](auto& b) { PutU16(b.data(), BlockAt(7) + 8, 600); }, "bytes of 494"},
  };
  for (const TCorruption& c : cases) {
    TScratchDir dir;
    BuildTable(dir);
    std::string path = dir / (std::string("T") + c.ext);
    std::vector<uint8_t> bytes = ReadBytes(path);
    c.patch(bytes);
    WriteBytes(path, bytes);
    if (c.ext2) {
      path = dir / (std::string("T") + c.ext2);
      bytes = ReadBytes(path);
      c.patch2(bytes);
      WriteBytes(path, bytes);
    }
    std::string answer = TTableVerifier(dir.Path(), "T", PosixFileSystem()).Run();
    EXPECT_NE(answer.find(c.expected), std::string::npos) << c.name << ": " << answer;
  }
}

// Random damage anywhere in the three files: the check answers, whatever it says.
TEST(TableVerifier, SurvivesRandomDamage) {
  TScratchDir pristine;
  BuildTable(pristine);
  const char* exts[] = {".DAT", ".IDX", ".BLB"};
  std::vector<uint8_t> files[3];
  for (int f = 0; f < 3; ++f) files[f] = ReadBytes(pristine / (std::string("T") + exts[f]));
  std::mt19937 random(4242);
  int found = 0;
  for (int round = 0; round < 200; ++round) {
    TScratchDir dir;
    for (int f = 0; f < 3; ++f) {
      std::vector<uint8_t> bytes = files[f];
      if (static_cast<int>(random() % 3) == f)
        for (int i = 0; i < 6; ++i) bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
      WriteBytes(dir / (std::string("T") + exts[f]), bytes);
    }
    if (TTableVerifier(dir.Path(), "T", PosixFileSystem()).Run() != "ok") ++found;
  }
  EXPECT_GT(found, 0);
}

}  // namespace
}  // namespace ledger
