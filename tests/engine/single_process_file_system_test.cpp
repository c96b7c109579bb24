// The file services of a browser tab, exercised on the desktop's files.
#include "engine/files/single_process_file_system.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "table_files_util.h"

namespace ledger {
namespace {

namespace fs = std::filesystem;
using TAccess = TSingleProcessFileSystem::TAccess;

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class SingleProcessFileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override { std::ofstream(File("Words.DAT")) << "header"; }
  std::string File(const std::string& name) const { return dir_ / name; }
  testing::TScratchDir dir_;
};

TEST_F(SingleProcessFileSystemTest, ReadOnlyRefusesWhatWouldChangeAFile) {
  TSingleProcessFileSystem system(TAccess::ReadOnly);
  struct Case {
    const char* what;
    int flags;
    int result;  // 0: a descriptor
  };
  const Case cases[] = {
      {"read", O_RDONLY, 0},
      {"read and write", O_RDWR, -EROFS},
      {"write", O_WRONLY, -EROFS},
      {"create", O_RDONLY | O_CREAT, -EROFS},
      {"truncate", O_RDONLY | O_TRUNC, -EROFS},
  };
  for (const Case& c : cases) {
    const int fd = system.Open(File("Words.DAT"), c.flags, 0644);
    if (c.result == 0) {
      EXPECT_GE(fd, 0) << c.what;
      if (fd >= 0) system.Close(fd);
    } else {
      EXPECT_EQ(fd, c.result) << c.what;
    }
  }
  EXPECT_EQ(system.Unlink(File("Words.DAT")), -EROFS);
  EXPECT_EQ(system.Rename(File("Words.DAT"), File("Other.DAT")), -EROFS);
  EXPECT_EQ(system.Open(File("New.DAT"), O_RDWR | O_CREAT, 0644), -EROFS);
  EXPECT_EQ(Contents(File("Words.DAT")), "header");
  EXPECT_FALSE(fs::exists(File("Other.DAT")));
  EXPECT_FALSE(fs::exists(File("New.DAT")));
}

// Another open file description's exclusive lock stands for a lock nobody in
// a browser could hold: the real services are refused, these grant.
TEST_F(SingleProcessFileSystemTest, LocksAreGrantedOnAnyOpenDescriptor) {
  const int holder = open(File("Words.DAT").c_str(), O_RDWR);
  ASSERT_GE(holder, 0);
  struct flock everything {};
  everything.l_type = F_WRLCK;
  everything.l_whence = SEEK_SET;
  ASSERT_EQ(fcntl(holder, F_OFD_SETLK, &everything), 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);

  TPosixFileSystem posix;
  TSingleProcessFileSystem system(TAccess::ReadOnly);
  const int fd = system.Open(File("Words.DAT"), O_RDONLY, 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(posix.SetLock(fd, TLockKind::Shared, 100, 1), -EAGAIN) << "the holder's lock must conflict";
  for (TLockKind kind : {TLockKind::Shared, TLockKind::Exclusive, TLockKind::Unlock})
    EXPECT_EQ(system.SetLock(fd, kind, 0xFFFFFF00u, 16), 0);
  EXPECT_EQ(system.Flock(fd, LOCK_SH), 0);
  EXPECT_EQ(system.Flock(fd, LOCK_UN), 0);
  EXPECT_EQ(system.AdviseRandom(fd), 0);
  system.Close(fd);
  close(holder);

  EXPECT_EQ(system.SetLock(fd, TLockKind::Shared, 0, 1), -EBADF) << "a closed descriptor";
  EXPECT_EQ(system.Flock(fd, LOCK_SH), -EBADF);
  EXPECT_EQ(system.SetLock(-1, TLockKind::Exclusive, 0, 1), -EBADF);
}

TEST_F(SingleProcessFileSystemTest, RenameNeverReplacesATarget) {
  TSingleProcessFileSystem system(TAccess::ReadWrite);
  std::ofstream(File("Words.IDX")) << "index";
  EXPECT_EQ(system.Rename(File("Words.DAT"), File("Words.IDX")), -EEXIST);
  EXPECT_EQ(Contents(File("Words.DAT")), "header");
  EXPECT_EQ(Contents(File("Words.IDX")), "index");

  EXPECT_EQ(system.Rename(File("Words.DAT"), File("Moved.DAT")), 0);
  EXPECT_FALSE(fs::exists(File("Words.DAT")));
  EXPECT_EQ(Contents(File("Moved.DAT")), "header");
  EXPECT_EQ(system.Rename(File("Words.DAT"), File("Again.DAT")), -ENOENT);
  EXPECT_EQ(system.Rename(File("Moved.DAT"), File("no-such-dir/Moved.DAT")), -ENOENT);
}

}  // namespace
}  // namespace ledger
