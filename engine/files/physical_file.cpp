#include "engine/files/physical_file.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

#include "engine/errors/ledger_error.h"

namespace ledger {
namespace {

// Keeps errno for the error context and answers the mapped, negated code.
int Failed(int negatedErrno) {
  errno = -negatedErrno;
  return -static_cast<int>(MapOSError(-negatedErrno));
}

int FailedAs(int negatedErrno, TErrorCode code) {
  errno = -negatedErrno;
  return -static_cast<int>(code);
}

// Only regular files hold tables; a directory of that name is no table file,
// and a device or pipe would block or lie about its size.
int CheckRegular(TFileSystem& system, int fd) {
  TFileStatus status;
  if (int r = system.FStat(fd, status); r < 0) return r;
  if (status.IsDirectory) return -ENOENT;
  return status.IsRegular ? 0 : -EACCES;
}

bool RefusedWrite(int negatedErrno) {
  return negatedErrno == -EACCES || negatedErrno == -EROFS || negatedErrno == -EPERM;
}

}  // namespace

TPhysicalFile::~TPhysicalFile() { CloseDescriptor(); }

void TPhysicalFile::CloseDescriptor() {
  if (fd_ >= 0) {
    system_->Close(fd_);
    fd_ = -1;
  }
}

int TPhysicalFile::Create(bool temporary) {
  std::lock_guard lock(guard_);
  // Not truncated on open: another process holding the file must first be
  // shut out by the share lock, or we would destroy its data.
  int fd = system_->Open(Name(), O_RDWR | O_CREAT | O_NONBLOCK, 0666);
  if (fd < 0) return Failed(fd);
  if (int r = CheckRegular(*system_, fd); r < 0) {
    system_->Close(fd);
    return Failed(r);
  }
  if (int r = system_->Flock(fd, LOCK_EX); r < 0) {
    system_->Close(fd);
    return r == -EWOULDBLOCK ? FailedAs(-EACCES, LEDGER_OSEACCES) : Failed(r);
  }
  if (int r = system_->FTruncate(fd, 0); r < 0) {
    system_->Close(fd);
    return Failed(r);
  }
  system_->AdviseRandom(fd);
  fd_ = fd;
  exclusive_ = true;
  temporary_ = temporary;
  openedReadOnly_ = false;
  readOnlyFile_ = false;
  return AddHandle();
}

int TPhysicalFile::Open(bool exclusive, bool temporary) {
  std::lock_guard lock(guard_);
  TFileStatus status;
  if (int r = system_->Stat(Name(), status); r < 0) return Failed(r);
  if (status.IsDirectory) return Failed(-ENOENT);
  const bool readOnlyFile = (status.Mode & 0222) == 0;
  bool openedReadOnly = readOnlyFile;
  int fd = system_->Open(Name(), (readOnlyFile ? O_RDONLY : O_RDWR) | O_NONBLOCK, 0);
  if (fd < 0 && !readOnlyFile && RefusedWrite(fd)) {
    fd = system_->Open(Name(), O_RDONLY | O_NONBLOCK, 0);
    openedReadOnly = true;
  }
  if (fd < 0) return Failed(fd);
  if (int r = CheckRegular(*system_, fd); r < 0) {
    system_->Close(fd);
    return Failed(r);
  }
  // Share modes across processes: exclusive opens shut out every other open.
  if (int r = system_->Flock(fd, exclusive ? LOCK_EX : LOCK_SH); r < 0) {
    system_->Close(fd);
    return r == -EWOULDBLOCK ? FailedAs(-EACCES, LEDGER_OSEACCES) : Failed(r);
  }
  system_->AdviseRandom(fd);
  fd_ = fd;
  exclusive_ = exclusive;
  temporary_ = temporary;
  readOnlyFile_ = readOnlyFile;
  openedReadOnly_ = openedReadOnly;
  return AddHandle();
}

bool TPhysicalFile::Close(int handle) {
  std::lock_guard lock(guard_);
  if (!RemoveHandle(handle)) return false;
  if (temporary_) system_->Unlink(Name());
  CloseDescriptor();
  return true;
}

int TPhysicalFile::Rename(const std::string& newName) {
  std::lock_guard lock(guard_);
  if (int r = system_->Rename(Name(), newName); r < 0) return Failed(r);
  SetName(newName);
  return 0;
}

int TPhysicalFile::Delete() {
  std::lock_guard lock(guard_);
  if (int r = system_->Unlink(Name()); r < 0) return Failed(r);
  return 0;
}

std::int64_t TPhysicalFile::Read(int handle, void* buffer, std::size_t count) {
  std::lock_guard lock(guard_);
  THandle* h = FindHandle(handle);
  if (h == nullptr || fd_ < 0) return FailedAs(-EBADF, LEDGER_OSEBADF);
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    std::int64_t r = system_->PRead(fd_, out + done, count - done, h->Position + done);
    if (r < 0) return FailedAs(static_cast<int>(r), LEDGER_READERR);
    if (r == 0) break;
    done += static_cast<std::size_t>(r);
  }
  h->Position += done;
  return static_cast<std::int64_t>(done);
}

std::int64_t TPhysicalFile::Write(int handle, const void* buffer, std::size_t count) {
  std::lock_guard lock(guard_);
  THandle* h = FindHandle(handle);
  if (h == nullptr || fd_ < 0) return FailedAs(-EBADF, LEDGER_OSEBADF);
  if (h->Position > kMaxFileSize || count > kMaxFileSize - h->Position)
    return FailedAs(-EFBIG, LEDGER_WRITEERR);
  if (count == 0) {
    if (int r = system_->FTruncate(fd_, h->Position); r < 0) return FailedAs(r, LEDGER_WRITEERR);
    return 0;
  }
  const auto* in = static_cast<const std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    std::int64_t r = system_->PWrite(fd_, in + done, count - done, h->Position + done);
    if (r < 0) return FailedAs(static_cast<int>(r), LEDGER_WRITEERR);
    if (r == 0) return FailedAs(-ENOSPC, LEDGER_WRITEERR);
    done += static_cast<std::size_t>(r);
  }
  h->Position += done;
  return static_cast<std::int64_t>(done);
}

int TPhysicalFile::Flush() {
  std::lock_guard lock(guard_);
  if (fd_ < 0) return FailedAs(-EBADF, LEDGER_OSEBADF);
  if (int r = system_->FSync(fd_); r < 0) return FailedAs(r, LEDGER_WRITEERR);
  return 0;
}

std::int64_t TPhysicalFile::Size() {
  std::lock_guard lock(guard_);
  if (fd_ < 0) return FailedAs(-EBADF, LEDGER_OSEBADF);
  TFileStatus status;
  if (int r = system_->FStat(fd_, status); r < 0) return Failed(r);
  return static_cast<std::int64_t>(status.Size);
}

bool TPhysicalFile::LockRange(std::uint64_t offset, std::uint64_t length, bool shared) {
  std::lock_guard lock(guard_);
  if (fd_ < 0 || length == 0) return false;
  return system_->SetLock(fd_, shared ? TLockKind::Shared : TLockKind::Exclusive, offset, length) >= 0;
}

bool TPhysicalFile::UnlockRange(std::uint64_t offset, std::uint64_t length) {
  std::lock_guard lock(guard_);
  if (fd_ < 0 || length == 0) return false;
  return system_->SetLock(fd_, TLockKind::Unlock, offset, length) >= 0;
}

}  // namespace ledger
