// `ledger check` against tables made by `ledger create` and then damaged on
// purpose, byte by byte, at places the file formats define.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/files/byte_order.h"
#include "tests/engine/table_files_util.h"
#include "tests/tools/run_tool.h"
#include "tools/ledger/commands.h"

namespace ledger::tool {
namespace {

using ledger::testing::ReadBytes;
using ledger::testing::TScratchDir;
using ledger::testing::WriteBytes;
using ledger::testing::RunTool;
using ledger::testing::TRun;

constexpr int kPage = 4096;
constexpr int kBlock = 64;  // small blocks, so every picture spans a chain
constexpr int kWords = 600;  // several leaves under a root branch


class LedgerCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    {
      std::ofstream(dir / "words.json") << R"({"fields": [
        {"name": "Word", "type": "string", "size": 20},
        {"name": "RecID", "type": "autoinc"},
        {"name": "Picture", "type": "blob", "subtype": "graphic"}],
        "primary": {"fields": ["Word"]}, "block_size": )" << kBlock << "}";
    }
    std::string lines;
    for (int i = 0; i < kWords; ++i) {
      // Pictures of 150 bytes: three blocks of 46 data bytes and a fourth.
      lines += R"({"Word": "w)" + std::to_string(100000 + i) + R"(", "Picture": ")" +
               std::string(150, static_cast<char>('a' + i % 26)) + "\"" +
               (i % 7 == 3 ? R"(, "_deleted": true)" : "") + "}\n";
    }
    TRun r = RunTool({"create", dir.Path(), "Words", "--schema", dir / "words.json"}, lines);
    ASSERT_EQ(r.code, kExitOk) << r.err;
  }

  TRun Check() { return RunTool({"check", dir.Path(), "Words"}); }

  TScratchDir dir;
};

// Page p of slot 0 and the layout facts the patches need.
struct TIndexBytes {
  std::vector<uint8_t> bytes;
  int keyLength = 0;
  int32_t root = 0;
  explicit TIndexBytes(const std::string& path) : bytes(ReadBytes(path)) {
    keyLength = GetU16(bytes.data(), 14 + 31);
    root = GetI32(bytes.data(), 14 + 86);
  }
  uint8_t* Page(int32_t p) { return bytes.data() + static_cast<std::size_t>(p) * kPage; }
  // Child page of branch entry s (1-based) and the entry's key count offset.
  int32_t Child(int32_t page, int s) { return GetI32(Page(page), 13 + (s - 1) * (keyLength + 8) + keyLength); }
  std::size_t CountOffset(int32_t page, int s) {
    return static_cast<std::size_t>(page) * kPage + 13 + (s - 1) * (keyLength + 8) + keyLength + 4;
  }
  int32_t FirstLeaf() {
    int32_t p = root;
    for (int depth = 0; depth < 64 && Page(p)[0] <= 1; ++depth) p = Child(p, 1);
    return p;
  }
};

TEST_F(LedgerCheck, BuiltTableIsOk) {
  TRun r = Check();
  EXPECT_EQ(r.code, kExitOk) << r.out << r.err;
  EXPECT_EQ(r.out, "ok\n");
}

TEST_F(LedgerCheck, FindsEveryDeliberateCorruption) {
  const std::string idx = dir / "Words.IDX";
  const std::string blb = dir / "Words.BLB";
  struct Case {
    const char* name;
    const char* finding;  // part of the description the check must give
    std::function<void()> patch;
  } cases[] = {
      {"a branch entry counts one key too many", "its subtree holds",
       [&] {
         TIndexBytes f(idx);
         ASSERT_EQ(f.Page(f.root)[0], 0) << "the root should be a branch";
         std::size_t at = f.CountOffset(f.root, 1);
         PutI32(f.bytes.data(), at, GetI32(f.bytes.data(), at) + 1);
         WriteBytes(idx, f.bytes);
       }},
      {"the first leaf's next link skips a leaf", "leaf links on to page",
       [&] {
         TIndexBytes f(idx);
         int32_t first = f.FirstLeaf();
         int32_t second = GetI32(f.Page(first), 7);
         ASSERT_NE(second, 0);
         int32_t third = GetI32(f.Page(second), 7);
         ASSERT_NE(third, 0);
         PutI32(f.Page(first), 7, third);
         WriteBytes(idx, f.bytes);
       }},
      {"the first leaf's next link ends the chain", "leaf links on to page 0",
       [&] {
         TIndexBytes f(idx);
         PutI32(f.Page(f.FirstLeaf()), 7, 0);
         WriteBytes(idx, f.bytes);
       }},
      {"a leaf's previous link points at itself", "leaf links back",
       [&] {
         TIndexBytes f(idx);
         int32_t second = GetI32(f.Page(f.FirstLeaf()), 7);
         PutI32(f.Page(second), 3, second);
         WriteBytes(idx, f.bytes);
       }},
      {"a blob chain runs into another blob's block", "blob Picture",
       [&] {
         std::vector<uint8_t> b = ReadBytes(blb);
         const std::size_t blocks = (b.size() - 512) / kBlock;
         auto at = [&](std::size_t n) { return b.data() + 512 + (n - 1) * kBlock; };
         std::size_t from = 0;
         for (std::size_t n = 1; n <= blocks && !from; ++n)
           if (GetI32(at(n), 4) != 0) from = n;
         ASSERT_NE(from, 0u);
         std::size_t foreign = 0;
         for (std::size_t n = 1; n <= blocks && !foreign; ++n)
           if (GetI32(at(n), 0) != 0 && GetI32(at(n), 10) != GetI32(at(from), 10)) foreign = n;
         ASSERT_NE(foreign, 0u);
         PutI32(at(from), 4, static_cast<int32_t>(foreign));
         WriteBytes(blb, b);
       }},
      {"the header's active record count is off by one", "active records",
       [&] {
         std::vector<uint8_t> b = ReadBytes(idx);
         PutI32(b.data(), 3974, GetI32(b.data(), 3974) + 1);
         WriteBytes(idx, b);
       }},
  };
  const std::vector<uint8_t> goodIdx = ReadBytes(idx), goodBlb = ReadBytes(blb);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(idx, goodIdx);
    WriteBytes(blb, goodBlb);
    c.patch();
    TRun r = Check();
    EXPECT_EQ(r.code, kExitFailed);
    EXPECT_NE(r.out, "ok\n");
    EXPECT_NE(r.out.find(c.finding), std::string::npos) << r.out;
  }
}

TEST_F(LedgerCheck, MissingFileIsAnEngineError) {
  std::filesystem::remove(dir / "Words.IDX");
  TRun r = Check();
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.out.find("Ledger Engine Error # "), std::string::npos) << r.out;
}

}  // namespace
}  // namespace ledger::tool

namespace ledger::tool {
namespace {

// Every field type, every leaf compression, with and without a locale, case
// and descending keys: what create builds, check must find sound.
TEST(LedgerCreateAndCheck, EveryKindOfTableIsOk) {
  struct Case {
    int compression;
    int locale;
    bool caseInsensitive;
    const char* descending;
  } cases[] = {
      {0, 0, false, "[]"},        {1, 0, false, "[\"N\"]"}, {2, 0, true, "[]"},
      {3, 0, false, "[\"Word\"]"}, {0, 1033, true, "[\"N\"]"}, {3, 1033, false, "[\"Word\"]"},
  };
  std::string lines;
  for (int i = 0; i < 700; ++i) {
    lines += "{\"Word\": \"" + std::string(i % 3 == 0 ? "Caf\\u00e9 " : "word ") + std::to_string(i % 350) +
             "\", \"N\": " + std::to_string(i % 2 ? i : -i) +
             ", \"D\": \"2024-05-" + std::to_string(10 + i % 20) + "\", \"T\": \"12:00:0" +
             std::to_string(i % 10) + "\", \"TS\": \"2024-01-01T00:00:00\", \"L\": " +
             (i % 2 ? "true" : "false") + ", \"F\": " + std::to_string(i * -0.5) +
             ", \"C\": \"" + std::to_string(i) + ".25\", \"Y\": \"abc\", \"G\": " +
             std::to_string(int64_t{1} << 40) + ", \"Memo\": " +
             (i % 5 == 0 ? std::string("null") : "\"" + std::string(i % 90, 'm') + "\"") +
             (i % 11 == 0 ? ", \"_deleted\": true" : "") + "}\n";
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "compression " << c.compression << ", locale " << c.locale
                                      << ", case-insensitive " << c.caseInsensitive
                                      << ", descending " << c.descending);
    TScratchDir dir;
    std::ofstream(dir / "s.json") << R"({"fields": [
      {"name": "Word", "type": "string", "size": 12}, {"name": "N", "type": "integer"},
      {"name": "Id", "type": "autoinc"}, {"name": "D", "type": "date"},
      {"name": "T", "type": "time"}, {"name": "TS", "type": "timestamp"},
      {"name": "L", "type": "boolean"}, {"name": "F", "type": "float"},
      {"name": "C", "type": "bcd", "scale": 2}, {"name": "Y", "type": "bytes", "size": 4},
      {"name": "G", "type": "largeint"}, {"name": "Memo", "type": "blob", "subtype": "memo"}],
      "primary": {"fields": ["Word", "N"], "compression": )"
                                 << c.compression << R"(, "case_insensitive": )"
                                 << (c.caseInsensitive ? "true" : "false") << R"(, "descending": )"
                                 << c.descending << R"(}, "block_size": 128, "locale": )" << c.locale
                                 << "}";
    TRun created = RunTool({"create", dir.Path(), "Mixed", "--schema", dir / "s.json"}, lines);
    ASSERT_EQ(created.code, kExitOk) << created.err;
    TRun checked = RunTool({"check", dir.Path(), "Mixed"});
    EXPECT_EQ(checked.out, "ok\n");
    EXPECT_EQ(checked.code, kExitOk);
  }
}

}  // namespace
}  // namespace ledger::tool
