#include "engine/files/memory_file.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/errors/ledger_error.h"
#include "engine/files/file_handler.h"
#include "engine/files/file_list.h"

namespace ledger {
namespace {

template <typename F>
TErrorCode CodeOf(F action) {
  try {
    action();
  } catch (const ELedgerEngineError& e) {
    return e.ErrorCode();
  }
  return LEDGER_NONE;
}

class MemoryFileTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const char* name : {"mem/A.DAT", "mem/B.DAT"})
      if (TFileHandler::Exists(name, true, PosixFileSystem())) TFileHandler(name, true).Delete();
  }
  std::string ReadAll(TFileHandler& handler) {
    std::string data(handler.Size(), '\0');
    handler.ReadAt(0, data.data(), data.size());
    return data;
  }
};

TEST_F(MemoryFileTest, ReadWriteSeekAndTruncate) {
  TFileHandler handler("mem/A.DAT", true);
  handler.Create();
  auto* file = static_cast<TMemoryFile*>(handler.File());
  EXPECT_EQ(file->Capacity(), 0u);

  handler.Write("hello", 5);
  EXPECT_EQ(file->Capacity(), 4096u);
  // Writing past the end extends the file; the gap reads as zeros.
  handler.WriteAt(4100, "!", 1);
  EXPECT_EQ(handler.Size(), 4101u);
  EXPECT_EQ(file->Capacity(), 8192u);
  char buffer[8];
  EXPECT_EQ(handler.ReadAt(4095, buffer, 8, true), 6u);
  EXPECT_EQ(std::string(buffer, 6), std::string(5, '\0') + "!");
  EXPECT_EQ(handler.ReadAt(5000, buffer, 8, true), 0u);
  EXPECT_EQ(handler.Seek(TSeekOrigin::End, -1), 4100u);

  // Truncation, then growth again: what was cut off does not come back.
  handler.Seek(TSeekOrigin::Begin, 3);
  handler.Write(nullptr, 0);
  EXPECT_EQ(ReadAll(handler), "hel");
  handler.WriteAt(6, "x", 1);
  EXPECT_EQ(ReadAll(handler), std::string("hel\0\0\0x", 7));
  // A zero-length write past the end sets the size there.
  handler.Seek(TSeekOrigin::Begin, 10);
  handler.Write(nullptr, 0);
  EXPECT_EQ(handler.Size(), 10u);
  EXPECT_EQ(CodeOf([&] { handler.WriteAt(kMaxFileSize, "x", 1); }), LEDGER_WRITEERR);
}

TEST_F(MemoryFileTest, HandlesKeepTheirOwnPositions) {
  TFileHandler first("mem/A.DAT", true);
  first.Create();
  first.Write("abcdef", 6);
  TFileHandler second("MEM/a.dat", true);
  EXPECT_EQ(CodeOf([&] { second.Open(); }), LEDGER_OSEACCES);  // created: exclusive
  first.Close();
  first.Open();
  second.Open();
  first.Seek(TSeekOrigin::Begin, 4);
  char buffer[2];
  second.Read(buffer, 2);
  EXPECT_EQ(std::string(buffer, 2), "ab");
  first.Read(buffer, 2);
  EXPECT_EQ(std::string(buffer, 2), "ef");
}

TEST_F(MemoryFileTest, OutlivesItsLastCloseUntilDeleted) {
  {
    TFileHandler handler("mem/A.DAT", true);
    EXPECT_EQ(CodeOf([&] { handler.Open(); }), LEDGER_OSENOENT);
    handler.Create();
    handler.Write("kept", 4);
  }
  EXPECT_TRUE(TFileHandler::Exists("mem/A.DAT", true, PosixFileSystem()));
  EXPECT_FALSE(TFileHandler::Exists("mem/A.DAT", false, PosixFileSystem()));
  TFileHandler again(" mem/a.dat", true);
  again.Open();
  EXPECT_FALSE(again.OpenedReadOnly());
  EXPECT_EQ(ReadAll(again), "kept");
  EXPECT_EQ(CodeOf([&] { again.Delete(); }), LEDGER_OSEACCES);
  EXPECT_EQ(CodeOf([&] { again.Rename("mem/B.DAT"); }), LEDGER_OSEACCES);
  again.Close();

  again.Rename("mem/B.DAT");
  EXPECT_FALSE(TFileHandler::Exists("mem/A.DAT", true, PosixFileSystem()));
  again.Open();
  EXPECT_EQ(ReadAll(again), "kept");
  again.Close();
  again.Delete();
  EXPECT_FALSE(again.Exists());
  EXPECT_EQ(CodeOf([&] { again.Open(); }), LEDGER_OSENOENT);
}

TEST_F(MemoryFileTest, TemporaryGoesWithItsLastClose) {
  TFileHandler handler("mem/A.DAT", true);
  handler.SetTemporary(true);
  handler.Create();
  handler.Close();
  EXPECT_FALSE(handler.Exists());
}

TEST_F(MemoryFileTest, LockListRefusesOverlapsAndUnknownUnlocks) {
  TFileHandler handler("mem/A.DAT", true);
  handler.Create();
  ASSERT_TRUE(handler.LockRange(100, 10));
  const struct {
    const char* Label;
    std::uint64_t Offset;
    std::uint64_t Length;
    bool Granted;
  } locks[] = {
      {"same range", 100, 10, false},
      {"overlapping start", 95, 6, false},
      {"overlapping end", 109, 5, false},
      {"inside", 102, 1, false},
      {"around", 50, 100, false},
      {"adjacent before", 90, 10, true},
      {"adjacent after", 110, 1, true},
      {"empty", 200, 0, false},
      {"up to the top", UINT64_MAX - 1, 1, true},
      {"across the top", UINT64_MAX - 5, 10, false},
  };
  for (const auto& c : locks) EXPECT_EQ(handler.LockRange(c.Offset, c.Length), c.Granted) << c.Label;
  // Shared locks follow the same list: readers drawing one byte collide.
  EXPECT_TRUE(handler.LockRange(4000, 1, true));
  EXPECT_FALSE(handler.LockRange(4000, 1, true));

  EXPECT_FALSE(handler.UnlockRange(100, 5));
  EXPECT_FALSE(handler.UnlockRange(101, 10));
  EXPECT_TRUE(handler.UnlockRange(100, 10));
  EXPECT_FALSE(handler.UnlockRange(100, 10));
  EXPECT_TRUE(handler.LockRange(101, 3));  // freed by the unlock

  // The lock helpers go to the list as well.
  std::uint64_t readByte = 0;
  EXPECT_TRUE(handler.LockWriteRange());
  EXPECT_FALSE(handler.LockRangeRetrying(kWriteRangeStart + 7, 1, true, 1, 0));
  EXPECT_TRUE(handler.UnlockWriteRange());
  EXPECT_TRUE(handler.LockReadByte(readByte));
  EXPECT_GE(readByte, kWriteRangeStart);
  EXPECT_TRUE(handler.UnlockReadByte(readByte));

  // Locks end with the last close.
  handler.Close();
  handler.Open();
  EXPECT_TRUE(handler.LockRange(101, 3));
}

}  // namespace
}  // namespace ledger
