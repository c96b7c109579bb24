#include "engine/files/file_system.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <mutex>
#include <random>
#include <thread>

namespace ledger {
namespace {

int Result(int r) { return r < 0 ? -errno : r; }

void ToStatus(const struct stat& st, TFileStatus& status) {
  status.Size = static_cast<std::uint64_t>(st.st_size);
  status.Mode = static_cast<unsigned>(st.st_mode & 07777);
  status.IsRegular = S_ISREG(st.st_mode);
  status.IsDirectory = S_ISDIR(st.st_mode);
}

}  // namespace

int TPosixFileSystem::Open(const std::string& path, int flags, unsigned mode) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, static_cast<mode_t>(mode));
  } while (fd < 0 && errno == EINTR);
  return Result(fd);
}

int TPosixFileSystem::Close(int fd) {
  // A close interrupted by a signal has still released the descriptor.
  int r = ::close(fd);
  return (r < 0 && errno != EINTR) ? -errno : 0;
}

std::int64_t TPosixFileSystem::PRead(int fd, void* buffer, std::size_t count, std::uint64_t offset) {
  ssize_t r;
  do {
    r = ::pread(fd, buffer, count, static_cast<off_t>(offset));
  } while (r < 0 && errno == EINTR);
  return r < 0 ? -errno : r;
}

std::int64_t TPosixFileSystem::PWrite(int fd, const void* buffer, std::size_t count,
                                      std::uint64_t offset) {
  ssize_t r;
  do {
    r = ::pwrite(fd, buffer, count, static_cast<off_t>(offset));
  } while (r < 0 && errno == EINTR);
  return r < 0 ? -errno : r;
}

int TPosixFileSystem::FTruncate(int fd, std::uint64_t length) {
  int r;
  do {
    r = ::ftruncate(fd, static_cast<off_t>(length));
  } while (r < 0 && errno == EINTR);
  return Result(r);
}

int TPosixFileSystem::FSync(int fd) { return Result(::fsync(fd)); }

int TPosixFileSystem::FStat(int fd, TFileStatus& status) {
  struct stat st {};
  if (::fstat(fd, &st) < 0) return -errno;
  ToStatus(st, status);
  return 0;
}

int TPosixFileSystem::Stat(const std::string& path, TFileStatus& status) {
  struct stat st {};
  if (::stat(path.c_str(), &st) < 0) return -errno;
  ToStatus(st, status);
  return 0;
}

int TPosixFileSystem::SetLock(int fd, TLockKind kind, std::uint64_t offset, std::uint64_t length) {
  struct flock fl {};
  fl.l_type = kind == TLockKind::Shared ? F_RDLCK : kind == TLockKind::Exclusive ? F_WRLCK : F_UNLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  fl.l_pid = 0;  // required for open-file-description locks
  int r;
  do {
    r = ::fcntl(fd, F_OFD_SETLK, &fl);
  } while (r < 0 && errno == EINTR);
  return Result(r);
}

int TPosixFileSystem::Flock(int fd, int operation) {
  int r;
  do {
    r = ::flock(fd, operation | LOCK_NB);
  } while (r < 0 && errno == EINTR);
  return Result(r);
}

int TPosixFileSystem::AdviseRandom(int fd) {
  return -::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
}

int TPosixFileSystem::Unlink(const std::string& path) { return Result(::unlink(path.c_str())); }

int TPosixFileSystem::Rename(const std::string& from, const std::string& to) {
  // The target must not be replaced; file systems (and C libraries) without
  // RENAME_NOREPLACE get the equivalent link-then-unlink.
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -errno;
#endif
  if (::link(from.c_str(), to.c_str()) < 0) return -errno;
  return Result(::unlink(from.c_str()));
}

int TPosixFileSystem::GetCwd(std::string& path) {
  std::string buffer(PATH_MAX, '\0');
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return -errno;
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(std::char_traits<char>::length(buffer.c_str()));
  path = std::move(buffer);
  return 0;
}

std::chrono::system_clock::time_point TPosixFileSystem::Now() { return std::chrono::system_clock::now(); }

void TPosixFileSystem::SleepMs(unsigned milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::uint32_t TPosixFileSystem::Random(std::uint32_t n) {
  if (n == 0) return 0;
  static std::mutex guard;
  static std::mt19937 engine{std::random_device{}()};
  std::lock_guard lock(guard);
  return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(engine);
}

std::shared_ptr<TFileSystem> PosixFileSystem() {
  static const auto system = std::make_shared<TPosixFileSystem>();
  return system;
}

}  // namespace ledger
