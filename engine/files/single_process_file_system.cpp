#include "engine/files/single_process_file_system.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace ledger {
namespace {

// A lock on a descriptor that is not open is still a caller's mistake.
int OpenDescriptor(int fd) { return ::fcntl(fd, F_GETFD) < 0 ? -EBADF : 0; }

}  // namespace

int TSingleProcessFileSystem::Open(const std::string& path, int flags, unsigned mode) {
  if (readOnly_ && ((flags & O_ACCMODE) != O_RDONLY || (flags & (O_CREAT | O_TRUNC)) != 0)) return -EROFS;
  return TPosixFileSystem::Open(path, flags, mode);
}

int TSingleProcessFileSystem::SetLock(int fd, TLockKind, std::uint64_t, std::uint64_t) {
  return OpenDescriptor(fd);
}

int TSingleProcessFileSystem::Flock(int fd, int) { return OpenDescriptor(fd); }

int TSingleProcessFileSystem::AdviseRandom(int fd) { return OpenDescriptor(fd); }

int TSingleProcessFileSystem::Unlink(const std::string& path) {
  return readOnly_ ? -EROFS : TPosixFileSystem::Unlink(path);
}

int TSingleProcessFileSystem::Rename(const std::string& from, const std::string& to) {
  if (readOnly_) return -EROFS;
  // Nobody else can create the target between the look and the rename.
  TFileStatus status;
  const int found = Stat(to, status);
  if (found == 0) return -EEXIST;
  if (found != -ENOENT) return found;
  return ::rename(from.c_str(), to.c_str()) < 0 ? -errno : 0;
}

}  // namespace ledger
