#include "engine/files/file_handler.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "engine/errors/ledger_error.h"
#include "engine/files/byte_order.h"
#include "engine/files/file_list.h"

namespace ledger {
namespace {

namespace fs = std::filesystem;

// Refuses read-write opens with a chosen errno, as a read-only share or
// mount would, even for root.
class TRefusingSystem : public TPosixFileSystem {
 public:
  int RefuseWriteWith = 0;
  int Open(const std::string& path, int flags, unsigned mode) override {
    if (RefuseWriteWith != 0 && (flags & O_ACCMODE) != O_RDONLY) return -RefuseWriteWith;
    return TPosixFileSystem::Open(path, flags, mode);
  }
};

class FileHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/ledger-files-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  void WriteFile(const std::string& name, const std::string& content) const {
    std::ofstream(Path(name), std::ios::binary) << content;
  }
  std::string ReadFile(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  // The code the action raised, or 0.
  template <typename F>
  static TErrorCode CodeOf(F action) {
    try {
      action();
    } catch (const ELedgerEngineError& e) {
      return e.ErrorCode();
    }
    return LEDGER_NONE;
  }

  std::string dir_;
};

TEST_F(FileHandlerTest, OneSharedObjectPerTrimmedName) {
  WriteFile("Conson.DAT", "");
  TFileHandler first(Path("Conson.DAT"));
  TFileHandler second("  " + Path("Conson.DAT") + " ");
  first.Open();
  second.Open();
  ASSERT_EQ(first.File(), second.File());
  EXPECT_EQ(first.File()->OpenCount(), 2);
  EXPECT_NE(first.HandleNumber(), second.HandleNumber());

  first.WriteAt(0, "abcdef", 6);
  char buffer[6];
  second.ReadAt(0, buffer, 6);
  EXPECT_EQ(std::string(buffer, 6), "abcdef");

  // A memory file of the same name is another file, and was never created.
  TFileHandler inMemory(Path("Conson.DAT"), true);
  EXPECT_EQ(CodeOf([&] { inMemory.Open(); }), LEDGER_OSENOENT);
  // The file system tells case apart, so another case is another file.
  TFileHandler lower(Path("conson.dat"));
  EXPECT_EQ(CodeOf([&] { lower.Open(); }), LEDGER_OSENOENT);

  first.Close();
  EXPECT_EQ(second.File()->OpenCount(), 1);
  second.Close();
  second.Close();  // closing a closed handler does nothing
  EXPECT_FALSE(second.IsOpen());
}

TEST_F(FileHandlerTest, ExclusiveUseConflicts) {
  WriteFile("Blend.DAT", "x");
  const struct {
    bool FirstExclusive;
    bool SecondExclusive;
    TErrorCode Expected;
  } cases[] = {
      {false, false, LEDGER_NONE},
      {false, true, LEDGER_OSEACCES},
      {true, false, LEDGER_OSEACCES},
      {true, true, LEDGER_OSEACCES},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.FirstExclusive << c.SecondExclusive);
    TFileHandler first(Path("Blend.DAT"));
    first.SetExclusive(c.FirstExclusive);
    first.Open();
    TFileHandler second(Path("Blend.DAT"));
    second.SetExclusive(c.SecondExclusive);
    EXPECT_EQ(CodeOf([&] { second.Open(); }), c.Expected);
    // A refused open leaves the handler closed and the object's count alone.
    EXPECT_EQ(second.IsOpen(), c.Expected == LEDGER_NONE);
    EXPECT_EQ(first.File()->OpenCount(), c.Expected == LEDGER_NONE ? 2 : 1);
  }
}

TEST_F(FileHandlerTest, NameOperationsRefusedWhileOpen) {
  WriteFile("SVowel.DAT", "x");
  WriteFile("Other.DAT", "y");
  TFileHandler open(Path("SVowel.DAT"));
  open.Open();
  TFileHandler other(Path("SVowel.DAT"));
  TFileHandler third(Path("Other.DAT"));
  EXPECT_EQ(CodeOf([&] { other.Create(); }), LEDGER_OSEACCES);
  EXPECT_EQ(CodeOf([&] { other.Delete(); }), LEDGER_OSEACCES);
  EXPECT_EQ(CodeOf([&] { other.Rename(Path("New.DAT")); }), LEDGER_OSEACCES);
  EXPECT_EQ(CodeOf([&] { third.Rename(" " + Path("SVowel.DAT")); }), LEDGER_OSEACCES);
  EXPECT_EQ(ReadFile("SVowel.DAT"), "x");

  open.Close();
  other.Rename(Path("New.DAT"));
  EXPECT_EQ(other.FileName(), Path("New.DAT"));
  EXPECT_FALSE(fs::exists(Path("SVowel.DAT")));
  // Renaming never replaces another file.
  EXPECT_EQ(CodeOf([&] { other.Rename(Path("Other.DAT")); }), LEDGER_OSUNKNOWN);
  EXPECT_EQ(ReadFile("Other.DAT"), "y");
  other.Delete();
  EXPECT_FALSE(fs::exists(Path("New.DAT")));
  EXPECT_EQ(CodeOf([&] { other.Delete(); }), LEDGER_OSENOENT);
}

TEST_F(FileHandlerTest, MissingFileNamesTheTable) {
  TFileHandler handler(Path("Conson.DAT"));
  try {
    handler.Open();
    FAIL() << "opened a missing file";
  } catch (const ELedgerEngineError& e) {
    EXPECT_STREQ(e.what(), "Ledger Engine Error # 11010 Table 'Conson' does not exist");
    EXPECT_EQ(e.DatabaseName(), dir_);
    EXPECT_EQ(e.OSError(), ENOENT);
  }
  EXPECT_FALSE(handler.IsOpen());
  EXPECT_FALSE(handler.Exists());

  fs::create_directory(Path("Conson.DAT"));
  EXPECT_FALSE(handler.Exists());
  EXPECT_EQ(CodeOf([&] { handler.Open(); }), LEDGER_OSENOENT);
}

TEST_F(FileHandlerTest, ExistsForFilesOnDiskAndOpenNames) {
  TFileHandler handler(Path("T.DAT"));
  EXPECT_FALSE(handler.Exists());
  handler.Create();
  EXPECT_TRUE(TFileHandler::Exists(" " + Path("T.DAT"), false, PosixFileSystem()));
  EXPECT_FALSE(TFileHandler::Exists(Path("t.dat"), false, PosixFileSystem()));
  handler.Close();
  EXPECT_TRUE(handler.Exists());
}

TEST_F(FileHandlerTest, ReadOnlyAttributeOpensReadOnly) {
  WriteFile("LVowel.DAT", "content");
  ASSERT_EQ(chmod(Path("LVowel.DAT").c_str(), 0444), 0);
  TFileHandler handler(Path("LVowel.DAT"));
  handler.Open();
  EXPECT_TRUE(handler.ReadOnlyFile());
  EXPECT_TRUE(handler.OpenedReadOnly());
  char buffer[7];
  handler.ReadAt(0, buffer, 7);
  EXPECT_EQ(std::string(buffer, 7), "content");
  EXPECT_EQ(CodeOf([&] { handler.WriteAt(0, "X", 1); }), LEDGER_WRITEERR);
  EXPECT_EQ(ReadFile("LVowel.DAT"), "content");
}

TEST_F(FileHandlerTest, RefusedReadWriteOpenFallsBackToReadOnly) {
  WriteFile("SndFx.DAT", "fx");
  auto system = std::make_shared<TRefusingSystem>();
  const struct {
    int Errno;
    TErrorCode Expected;
  } cases[] = {{EACCES, LEDGER_NONE}, {EROFS, LEDGER_NONE}, {ENOMEM, LEDGER_OSENOMEM}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Errno);
    system->RefuseWriteWith = c.Errno;
    TFileHandler handler(Path("SndFx.DAT"));
    handler.SetSystem(system);
    EXPECT_EQ(CodeOf([&] { handler.Open(); }), c.Expected);
    if (c.Expected != LEDGER_NONE) {
      EXPECT_FALSE(handler.IsOpen());
      continue;
    }
    EXPECT_TRUE(handler.OpenedReadOnly());
    EXPECT_FALSE(handler.ReadOnlyFile());
    // A later open in the process shares the read-only handle and says so.
    system->RefuseWriteWith = 0;
    TFileHandler second(Path("SndFx.DAT"));
    second.SetSystem(system);
    second.Open();
    EXPECT_TRUE(second.OpenedReadOnly());
    EXPECT_EQ(CodeOf([&] { second.WriteAt(0, "X", 1); }), LEDGER_WRITEERR);
  }
}

TEST_F(FileHandlerTest, TransfersAtThePosition) {
  TFileHandler handler(Path("T.DAT"));
  handler.Create();
  EXPECT_TRUE(handler.File()->Exclusive());  // a created file is the creator's until closed
  handler.Write("0123456789", 10);
  EXPECT_EQ(handler.Seek(TSeekOrigin::Current, 0), 10u);
  EXPECT_EQ(handler.Seek(TSeekOrigin::End, -4), 6u);
  char buffer[16] = {};
  EXPECT_EQ(handler.Read(buffer, 16, true), 4u);
  EXPECT_EQ(std::string(buffer, 4), "6789");
  EXPECT_EQ(handler.Read(buffer, 16, true), 0u);  // at the end
  handler.Seek(TSeekOrigin::Begin, 8);
  EXPECT_EQ(CodeOf([&] { handler.Read(buffer, 3); }), LEDGER_READERR);
  EXPECT_EQ(CodeOf([&] { handler.Seek(TSeekOrigin::Begin, -1); }), LEDGER_OSUNKNOWN);

  // A write of nothing truncates where the position is; the size leaves it.
  handler.Seek(TSeekOrigin::Begin, 4);
  handler.Write(nullptr, 0);
  EXPECT_EQ(handler.Size(), 4u);
  EXPECT_EQ(handler.Seek(TSeekOrigin::Current, 0), 4u);
  handler.Flush();
  EXPECT_EQ(ReadFile("T.DAT"), "0123");

  // Data never reaches the lock bytes.
  EXPECT_EQ(CodeOf([&] { handler.WriteAt(kMaxFileSize - 1, "ab", 2); }), LEDGER_WRITEERR);
  EXPECT_EQ(handler.Size(), 4u);
}

TEST_F(FileHandlerTest, CreateReplacesAndHoldsTheFileUntilClosed) {
  WriteFile("T.DAT", "old contents");
  TFileHandler creator(Path("T.DAT"));
  creator.Create();
  EXPECT_EQ(creator.Size(), 0u);
  TFileHandler reader(Path("T.DAT"));
  EXPECT_EQ(CodeOf([&] { reader.Open(); }), LEDGER_OSEACCES);
  creator.Close();
  reader.Open();
  EXPECT_FALSE(reader.OpenedReadOnly());
}

TEST_F(FileHandlerTest, TemporaryFileDisappearsWithItsLastClose) {
  TFileHandler handler(Path("Tmp.DAT"));
  handler.SetTemporary(true);
  handler.Create();
  handler.Write("x", 1);
  EXPECT_TRUE(fs::exists(Path("Tmp.DAT")));
  handler.Close();
  EXPECT_FALSE(fs::exists(Path("Tmp.DAT")));
}

// Fails one kind of call with a chosen errno.
class TFailingSystem : public TPosixFileSystem {
 public:
  enum TCall { kNone, kStat, kOpen, kPRead, kPWrite, kFTruncate, kFSync, kFStat, kFlock } Failing = kNone;
  int Errno = EIO;
  int Stat(const std::string& path, TFileStatus& status) override {
    return Failing == kStat ? -Errno : TPosixFileSystem::Stat(path, status);
  }
  int Open(const std::string& path, int flags, unsigned mode) override {
    return Failing == kOpen ? -Errno : TPosixFileSystem::Open(path, flags, mode);
  }
  std::int64_t PRead(int fd, void* buffer, std::size_t count, std::uint64_t offset) override {
    return Failing == kPRead ? -Errno : TPosixFileSystem::PRead(fd, buffer, count, offset);
  }
  std::int64_t PWrite(int fd, const void* buffer, std::size_t count, std::uint64_t offset) override {
    // A device that takes nothing more is reported as a short write.
    if (Failing == kPWrite) return Errno == 0 ? 0 : -Errno;
    return TPosixFileSystem::PWrite(fd, buffer, count, offset);
  }
  int FTruncate(int fd, std::uint64_t length) override {
    return Failing == kFTruncate ? -Errno : TPosixFileSystem::FTruncate(fd, length);
  }
  int FSync(int fd) override { return Failing == kFSync ? -Errno : TPosixFileSystem::FSync(fd); }
  int FStat(int fd, TFileStatus& status) override {
    return Failing == kFStat ? -Errno : TPosixFileSystem::FStat(fd, status);
  }
  int Flock(int fd, int operation) override {
    return Failing == kFlock ? -Errno : TPosixFileSystem::Flock(fd, operation);
  }
};

TEST_F(FileHandlerTest, SystemFailuresBecomeEngineErrors) {
  WriteFile("T.DAT", "0123456789");
  auto system = std::make_shared<TFailingSystem>();
  using S = TFailingSystem;
  char buffer[4];
  const struct {
    const char* Label;
    S::TCall Call;
    int Errno;
    bool OpenFirst;  // the failure hits the operation, not the open
    std::function<void(TFileHandler&)> Action;
    TErrorCode Expected;
  } cases[] = {
      {"stat, too many files", S::kStat, EMFILE, false, [](TFileHandler& h) { h.Open(); }, LEDGER_OSEMFILE},
      {"open, other device", S::kOpen, EXDEV, false, [](TFileHandler& h) { h.Open(); }, LEDGER_OSENOTSAM},
      {"open, no device", S::kOpen, ENXIO, false, [](TFileHandler& h) { h.Open(); }, LEDGER_OSENODEV},
      {"share lock busy", S::kFlock, EWOULDBLOCK, false, [](TFileHandler& h) { h.Open(); }, LEDGER_OSEACCES},
      {"create, open fails", S::kOpen, EACCES, false, [](TFileHandler& h) { h.Create(); }, LEDGER_OSEACCES},
      {"create, cut fails", S::kFTruncate, EIO, false, [](TFileHandler& h) { h.Create(); }, LEDGER_OSUNKNOWN},
      {"read", S::kPRead, EIO, true, [&](TFileHandler& h) { h.ReadAt(0, buffer, 4); }, LEDGER_READERR},
      {"write", S::kPWrite, ENOSPC, true, [](TFileHandler& h) { h.WriteAt(0, "ab", 2); }, LEDGER_WRITEERR},
      {"write takes nothing", S::kPWrite, 0, true, [](TFileHandler& h) { h.WriteAt(0, "ab", 2); },
       LEDGER_WRITEERR},
      {"truncate", S::kFTruncate, EIO, true, [](TFileHandler& h) { h.WriteAt(2, nullptr, 0); }, LEDGER_WRITEERR},
      {"flush", S::kFSync, EIO, true, [](TFileHandler& h) { h.Flush(); }, LEDGER_WRITEERR},
      {"size", S::kFStat, EBADF, true, [](TFileHandler& h) { h.Size(); }, LEDGER_OSEBADF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Label);
    TFileHandler handler(Path("T.DAT"));
    handler.SetSystem(system);
    system->Errno = c.Errno;
    if (c.OpenFirst) handler.Open();
    system->Failing = c.Call;
    try {
      c.Action(handler);
      ADD_FAILURE() << "nothing raised";
    } catch (const ELedgerEngineError& e) {
      EXPECT_EQ(e.ErrorCode(), c.Expected);
      EXPECT_EQ(e.TableName(), "T");
      // A busy share lock is reported as the sharing violation it stands for.
      const int reported = c.Call == S::kFlock ? EACCES : c.Errno;
      if (c.Errno != 0) {
        EXPECT_EQ(e.OSError(), reported);
      }
    }
    system->Failing = S::kNone;
    // A failed open or create leaves the handler closed and nothing pinned.
    EXPECT_EQ(handler.IsOpen(), c.OpenFirst);
  }
  // Nothing is left open: an exclusive open succeeds.
  TFileHandler exclusive(Path("T.DAT"));
  exclusive.SetExclusive(true);
  exclusive.Open();
  exclusive.Close();
  EXPECT_EQ(ReadFile("T.DAT"), "0123456789");
}

TEST_F(FileHandlerTest, OpensShareAFileObjectOnlyThroughTheSameSystem) {
  WriteFile("T.DAT", "0123456789");
  auto system = std::make_shared<TFailingSystem>();
  TFileHandler real(Path("T.DAT"));
  real.SetSystem(PosixFileSystem());
  real.Open();
  TFileHandler faulty(Path("T.DAT"));
  faulty.SetSystem(system);
  faulty.Open();
  TFileHandler faultyAgain(Path("T.DAT"));
  faultyAgain.SetSystem(system);
  faultyAgain.Open();
  ASSERT_NE(real.File(), faulty.File());
  EXPECT_EQ(faulty.File(), faultyAgain.File());
  EXPECT_EQ(&faulty.File()->System(), system.get());

  // The fault reaches the handler on its system, though the real one opened first.
  char buffer[4];
  system->Failing = TFailingSystem::kPRead;
  EXPECT_EQ(CodeOf([&] { faulty.ReadAt(0, buffer, 4); }), LEDGER_READERR);
  EXPECT_EQ(CodeOf([&] { real.ReadAt(0, buffer, 4); }), LEDGER_NONE);
  system->Failing = TFailingSystem::kNone;

  // Still one file on disk: what one writes the other reads, and the name
  // stays busy for every system while any has it open.
  real.WriteAt(0, "ab", 2);
  faulty.ReadAt(0, buffer, 2);
  EXPECT_EQ(std::string(buffer, 2), "ab");
  faulty.Close();
  faultyAgain.Close();
  TFileHandler other(Path("T.DAT"));
  other.SetSystem(system);
  EXPECT_EQ(CodeOf([&] { other.Delete(); }), LEDGER_OSEACCES);
  EXPECT_EQ(CodeOf([&] { other.Rename(Path("U.DAT")); }), LEDGER_OSEACCES);
  EXPECT_EQ(CodeOf([&] { other.Create(); }), LEDGER_OSEACCES);
  other.SetExclusive(true);
  EXPECT_EQ(CodeOf([&] { other.Open(); }), LEDGER_OSEACCES);
  real.Close();
  EXPECT_EQ(ReadFile("T.DAT"), "ab23456789");

  // Memory files are buffers of their system alone.
  TFileHandler memory("mem/T.DAT", true);
  memory.SetSystem(PosixFileSystem());
  memory.Create();
  memory.Close();
  EXPECT_FALSE(TFileHandler::Exists("mem/T.DAT", true, system));
  TFileHandler elsewhere("mem/T.DAT", true);
  elsewhere.SetSystem(system);
  EXPECT_EQ(CodeOf([&] { elsewhere.Open(); }), LEDGER_OSENOENT);
  memory.Delete();
}

std::string Pattern(std::size_t size) {
  std::string data(size, '\0');
  std::uint32_t x = 12345;
  for (std::size_t i = 0; i < size; ++i) {
    x = x * 1103515245 + 12345;
    // Half noise, half runs, so compression has work in both directions.
    data[i] = (i / 1000) % 2 ? static_cast<char>(x >> 24) : static_cast<char>('a' + i % 7);
  }
  return data;
}

TEST_F(FileHandlerTest, CopiesInChunksWithProgress) {
  const std::string content = Pattern(3 * kCopyChunkSize + 1234);
  WriteFile("Src.DAT", content);
  WriteFile("Back.DAT", std::string(content.size() + 5000, 'z'));  // longer: must be cut
  for (bool compress : {false, true}) {
    SCOPED_TRACE(compress);
    TFileHandler source(Path("Src.DAT"));
    source.Open();
    source.Seek(TSeekOrigin::Begin, 77);
    std::vector<int> reports;
    source.CopyTo(Path("Copy.DAT"), compress, 30, [&](int percent) { reports.push_back(percent); });
    EXPECT_EQ(source.Seek(TSeekOrigin::Current, 0), 77u);
    // Reported each time it has grown by the step: 100 is only 1 past 99.
    EXPECT_EQ(reports, (std::vector<int>{33, 66, 99}));
    if (compress) {
      EXPECT_LT(ReadFile("Copy.DAT").size(), content.size());
    } else {
      EXPECT_EQ(ReadFile("Copy.DAT"), content);
    }

    TFileHandler back(Path("Back.DAT"));
    back.Open();
    back.CopyFrom(Path("Copy.DAT"), compress, 0, nullptr);
    EXPECT_EQ(back.Seek(TSeekOrigin::Current, 0), 0u);
    back.Close();
    EXPECT_EQ(ReadFile("Back.DAT"), content);
    fs::remove(Path("Copy.DAT"));
  }
}

TEST_F(FileHandlerTest, CorruptCompressedCopyIsRefused) {
  WriteFile("Src.DAT", Pattern(5000));
  TFileHandler source(Path("Src.DAT"));
  source.Open();
  source.CopyTo(Path("Packed.DAT"), true, 0, nullptr);
  const std::string packed = ReadFile("Packed.DAT");
  std::string oversized = packed;
  PutU32(oversized.data(), 4, kCopyChunkSize + 1);
  std::string lying = packed;
  PutU32(lying.data(), 4, 4999);
  std::string flipped = packed;
  flipped[12] = static_cast<char>(flipped[12] ^ 0x55);
  const struct {
    const char* Label;
    std::string Bytes;
  } cases[] = {
      {"cut frame header", packed.substr(0, 5)},
      {"cut data", packed.substr(0, packed.size() - 3)},
      {"original size too large", oversized},
      {"original size wrong", lying},
      {"damaged stream", flipped},
      {"packed length past the end", [&] {
         std::string s = packed;
         PutU32(s.data(), 0, 0xFFFFFFF0u);
         return s;
       }()},
  };
  TFileHandler target(Path("Out.DAT"));
  target.Create();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Label);
    WriteFile("Bad.DAT", c.Bytes);
    EXPECT_EQ(CodeOf([&] { target.CopyFrom(Path("Bad.DAT"), true, 0, nullptr); }), LEDGER_UNCOMPRESS);
  }
}

TEST_F(FileHandlerTest, FailedCopyLeavesNoTarget) {
  WriteFile("Src.DAT", "abc");
  WriteFile("Taken.DAT", "keep");
  TFileHandler source(Path("Src.DAT"));
  source.Open();
  TFileHandler holder(Path("Taken.DAT"));
  holder.Open();
  // The target is open here, so creating it is refused and it stays intact.
  EXPECT_EQ(CodeOf([&] { source.CopyTo(Path("Taken.DAT"), false, 0, nullptr); }), LEDGER_OSEACCES);
  EXPECT_EQ(ReadFile("Taken.DAT"), "keep");
}

}  // namespace
}  // namespace ledger
