#include "dataset/file_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace dataset {

TFileWriter::TFileWriter(const std::filesystem::path& path, unsigned mode, bool regularOnly) {
  const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | (regularOnly ? O_NONBLOCK : 0);
  const int fd = ::open(path.c_str(), flags, mode);
  if (fd < 0 || !regularOnly) {
    fd_ = fd;
    return;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return;
  }
  fd_ = fd;
}

TFileWriter::~TFileWriter() {
  if (fd_ >= 0) ::close(fd_);
}

bool TFileWriter::Write(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = ::write(fd_, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool TFileWriter::Close() {
  const int fd = fd_;
  fd_ = -1;
  return ::close(fd) == 0;
}

}  // namespace dataset
