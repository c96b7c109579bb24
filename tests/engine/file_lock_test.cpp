#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "engine/errors/ledger_error.h"
#include "engine/files/file_handler.h"
#include "engine/files/file_list.h"

namespace ledger {
namespace {

namespace fs = std::filesystem;

class LockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/ledger-locks-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    path_ = std::string(pattern) + "/Conson.IDX";
    std::ofstream(path_) << "header";
  }
  void TearDown() override { fs::remove_all(fs::path(path_).parent_path()); }

  // A second process opens the file itself (its own open file description,
  // as another program would), runs hold, and keeps what it took while this
  // process runs probe. Answers whether hold succeeded.
  bool WhileOtherProcessHolds(const std::function<bool(TFileHandler&)>& hold,
                              const std::function<void()>& probe) {
    int ready[2];
    int release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) {
      ADD_FAILURE() << "pipe";
      return false;
    }
    const pid_t child = fork();
    if (child == 0) {
      char ok = '0';
      try {
        TFileHandler handler(path_);
        handler.SetExclusive(childExclusive_);
        handler.Open();
        if (hold(handler)) ok = '1';
        (void)!write(ready[1], &ok, 1);
        char go;
        (void)!read(release[0], &go, 1);
      } catch (...) {
        (void)!write(ready[1], &ok, 1);
      }
      _exit(0);
    }
    char ok = '0';
    EXPECT_EQ(read(ready[0], &ok, 1), 1);
    probe();
    EXPECT_EQ(write(release[1], "x", 1), 1);
    int status = 0;
    waitpid(child, &status, 0);
    for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
    return ok == '1';
  }

  std::string path_;
  bool childExclusive_ = false;
};

enum class TProbe { ReadByteNear, ReadByteFar, WriteRange, DataWriteByte, Record5, Record6 };

bool TryOnce(TFileHandler& handler, TProbe probe) {
  switch (probe) {
    case TProbe::ReadByteNear: return handler.LockRange(ReadLockOffset(1), 1, true);
    case TProbe::ReadByteFar: return handler.LockRange(ReadLockOffset(65535), 1, true);
    case TProbe::WriteRange: return handler.LockRange(kWriteRangeStart, kWriteRangeLength);
    case TProbe::DataWriteByte: return handler.LockRange(kDataWriteByte, 1);
    case TProbe::Record5: return handler.LockRecord(5, 0, 0);
    case TProbe::Record6: return handler.LockRecord(6, 0, 0);
  }
  return false;
}

TEST_F(LockTest, LockBytesExcludeAnotherProcess) {
  const struct {
    TProbe Held;
    TProbe Tried;
    bool Granted;
  } cases[] = {
      // Readers exclude a writer and never one another.
      {TProbe::ReadByteNear, TProbe::WriteRange, false},
      {TProbe::ReadByteFar, TProbe::WriteRange, false},
      {TProbe::ReadByteNear, TProbe::ReadByteNear, true},
      {TProbe::ReadByteNear, TProbe::DataWriteByte, true},
      // A writer excludes every possible read byte.
      {TProbe::WriteRange, TProbe::ReadByteNear, false},
      {TProbe::WriteRange, TProbe::ReadByteFar, false},
      {TProbe::WriteRange, TProbe::WriteRange, false},
      {TProbe::WriteRange, TProbe::DataWriteByte, true},
      {TProbe::DataWriteByte, TProbe::DataWriteByte, false},
      {TProbe::DataWriteByte, TProbe::ReadByteNear, true},
      {TProbe::Record5, TProbe::Record5, false},
      {TProbe::Record5, TProbe::Record6, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(c.Held) << " then " << static_cast<int>(c.Tried));
    bool granted = !c.Granted;
    const bool held = WhileOtherProcessHolds([&](TFileHandler& h) { return TryOnce(h, c.Held); },
                                             [&] {
                                               TFileHandler mine(path_);
                                               mine.Open();
                                               granted = TryOnce(mine, c.Tried);
                                             });
    EXPECT_TRUE(held);
    EXPECT_EQ(granted, c.Granted);
  }
  // Released with the other process: everything is free again.
  TFileHandler mine(path_);
  mine.Open();
  EXPECT_TRUE(mine.LockWriteRange());
  EXPECT_TRUE(mine.UnlockWriteRange());
}

TEST_F(LockTest, ExclusiveOpenShutsOutOtherProcesses) {
  const struct {
    bool HolderExclusive;
    bool ProbeExclusive;
    TErrorCode Expected;
  } cases[] = {
      {false, false, LEDGER_NONE},
      {true, false, LEDGER_OSEACCES},
      {false, true, LEDGER_OSEACCES},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.HolderExclusive << c.ProbeExclusive);
    childExclusive_ = c.HolderExclusive;
    TErrorCode code = LEDGER_NONE;
    EXPECT_TRUE(WhileOtherProcessHolds([](TFileHandler&) { return true; }, [&] {
      TFileHandler mine(path_);
      mine.SetExclusive(c.ProbeExclusive);
      try {
        mine.Open();
      } catch (const ELedgerEngineError& e) {
        code = e.ErrorCode();
      }
    }));
    EXPECT_EQ(code, c.Expected);
  }
}

// Refuses a number of lock attempts, records the pauses and deals out
// chosen random numbers; everything else is the real system.
class TScriptedSystem : public TPosixFileSystem {
 public:
  int Refusals = 0;
  std::vector<std::uint64_t> Attempts;
  std::vector<unsigned> Sleeps;
  std::deque<std::uint32_t> Draws;

  int SetLock(int fd, TLockKind kind, std::uint64_t offset, std::uint64_t length) override {
    if (kind != TLockKind::Unlock) {
      Attempts.push_back(offset);
      if (Refusals > 0) {
        --Refusals;
        return -EAGAIN;
      }
    }
    return TPosixFileSystem::SetLock(fd, kind, offset, length);
  }
  void SleepMs(unsigned milliseconds) override { Sleeps.push_back(milliseconds); }
  std::uint32_t Random(std::uint32_t n) override {
    EXPECT_EQ(n, 65536u);
    std::uint32_t k = Draws.empty() ? 0 : Draws.front();
    if (!Draws.empty()) Draws.pop_front();
    return k;
  }
};

TEST_F(LockTest, RetriesWithPauses) {
  constexpr int kForever = 1 << 30;
  const struct {
    const char* Label;
    std::function<bool(TFileHandler&)> Lock;
    int Refusals;
    bool Granted;
    std::size_t Attempts;
    unsigned Pause;
  } cases[] = {
      {"data write byte, third try", [](TFileHandler& h) { return h.LockDataWriteByte(); }, 2, true, 3, 3},
      {"data write byte, never", [](TFileHandler& h) { return h.LockDataWriteByte(); }, kForever, false,
       32767, 3},
      {"write range, never", [](TFileHandler& h) { return h.LockWriteRange(); }, kForever, false, 32767, 3},
      {"record, default retries", [](TFileHandler& h) { return h.LockRecord(9, 15, 100); }, kForever,
       false, 16, 100},
      {"record, last retry", [](TFileHandler& h) { return h.LockRecord(9, 15, 100); }, 15, true, 16, 100},
      {"record 0", [](TFileHandler& h) { return h.LockRecord(0, 15, 100); }, 0, false, 0, 0},
      {"record past the lock area", [](TFileHandler& h) { return h.LockRecord(0xFFFFFFFFu, 15, 100); },
       0, false, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Label);
    auto system = std::make_shared<TScriptedSystem>();
    TFileHandler handler(path_);
    handler.SetSystem(system);
    handler.Open();
    system->Refusals = c.Refusals;
    EXPECT_EQ(c.Lock(handler), c.Granted);
    EXPECT_EQ(system->Attempts.size(), c.Attempts);
    EXPECT_EQ(system->Sleeps, std::vector<unsigned>(c.Attempts > 0 ? c.Attempts - 1 : 0, c.Pause));
  }
}

TEST_F(LockTest, ReadLockDrawsANewByteForEveryAttempt) {
  auto system = std::make_shared<TScriptedSystem>();
  TFileHandler handler(path_);
  handler.SetSystem(system);
  handler.Open();
  system->Refusals = 2;
  system->Draws = {0, 7, 65535};
  std::uint64_t held = 0;
  ASSERT_TRUE(handler.LockReadByte(held));
  EXPECT_EQ(system->Attempts,
            (std::vector<std::uint64_t>{4294967294ULL, 4294967288ULL, 4294901760ULL}));
  EXPECT_EQ(held, 4294901760ULL);
  EXPECT_EQ(system->Sleeps, (std::vector<unsigned>{3, 3}));
  EXPECT_TRUE(handler.UnlockReadByte(held));
}

TEST_F(LockTest, ReadOnlyOpenTakesReadBytes) {
  ASSERT_EQ(chmod(path_.c_str(), 0444), 0);
  TFileHandler handler(path_);
  handler.Open();
  ASSERT_TRUE(handler.OpenedReadOnly());
  std::uint64_t held = 0;
  EXPECT_TRUE(handler.LockReadByte(held));
  EXPECT_TRUE(handler.UnlockReadByte(held));
}

}  // namespace
}  // namespace ledger
