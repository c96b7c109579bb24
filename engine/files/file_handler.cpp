#include "engine/files/file_handler.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "engine/errors/ledger_error.h"
#include "engine/files/byte_order.h"
#include "engine/files/compression.h"
#include "engine/files/file_list.h"

namespace ledger {
namespace {

// A compressed chunk: compressed length, original length, data.
constexpr std::size_t kFrameHeader = 8;

// Reports a percentage whenever it has grown by at least the step.
class TProgress {
 public:
  TProgress(std::uint64_t total, int step, const TProgressCallback& callback)
      : total_(total), step_(step < 1 ? 1 : step), callback_(callback) {}
  void Advance(std::uint64_t done) {
    if (!callback_) return;
    const int percent = total_ == 0 ? 100 : static_cast<int>(done * 100 / total_);
    if (percent - last_ >= step_) {
      last_ = percent;
      callback_(percent);
    }
  }

 private:
  std::uint64_t total_;
  int step_;
  int last_ = 0;
  const TProgressCallback& callback_;
};

}  // namespace

TFileHandler::TFileHandler(std::string fileName, bool inMemory) : inMemory_(inMemory) {
  SetFileName(std::move(fileName));
}

TFileHandler::~TFileHandler() { Close(); }

void TFileHandler::SetFileName(std::string fileName) {
  fileName_ = std::move(fileName);
  contextDerived_ = false;
}

void TFileHandler::DeriveErrorContext() const {
  if (contextSet_ || contextDerived_) return;
  const std::filesystem::path path(fileName_);
  tableName_ = path.stem().string();
  databaseName_ = path.parent_path().string();
  contextDerived_ = true;
}

const std::string& TFileHandler::TableName() const {
  DeriveErrorContext();
  return tableName_;
}

const std::string& TFileHandler::DatabaseName() const {
  DeriveErrorContext();
  return databaseName_;
}

void TFileHandler::SetSystem(std::shared_ptr<TFileSystem> system) {
  system_ = system ? std::move(system) : HostFileSystem();
}

void TFileHandler::SetErrorContext(std::string tableName, std::string databaseName) {
  tableName_ = std::move(tableName);
  databaseName_ = std::move(databaseName);
  contextSet_ = true;
}

void TFileHandler::Raise(int code) const {
  RaiseTableError(static_cast<TErrorCode>(std::abs(code)), TableName(), DatabaseName());
}

TAbstractFile& TFileHandler::OpenFile() const {
  if (file_ == nullptr) {
    errno = EBADF;
    Raise(LEDGER_OSEBADF);
  }
  return *file_;
}

void TFileHandler::Open() {
  if (IsOpen()) return;
  openedReadOnly_ = false;
  readOnlyFile_ = false;
  TOpenResult result = TFileList::Instance().Open(fileName_, inMemory_, exclusive_, temporary_, system_);
  if (result.Error < 0) Raise(result.Error);
  file_ = result.File;
  handle_ = result.Handle;
  openedReadOnly_ = file_->OpenedReadOnly();
  readOnlyFile_ = file_->ReadOnlyFile();
}

void TFileHandler::Close() {
  if (!IsOpen()) return;
  TFileList::Instance().Close(file_, handle_);
  file_ = nullptr;
  handle_ = 0;
}

void TFileHandler::Create() {
  if (IsOpen()) {
    errno = EACCES;
    Raise(LEDGER_OSEACCES);
  }
  openedReadOnly_ = false;
  readOnlyFile_ = false;
  TOpenResult result = TFileList::Instance().Create(fileName_, inMemory_, temporary_, system_);
  if (result.Error < 0) Raise(result.Error);
  file_ = result.File;
  handle_ = result.Handle;
}

void TFileHandler::Delete() {
  if (int r = TFileList::Instance().Delete(fileName_, inMemory_, system_); r < 0) Raise(r);
}

void TFileHandler::Rename(const std::string& newName) {
  if (int r = TFileList::Instance().Rename(fileName_, newName, inMemory_, system_); r < 0) Raise(r);
  SetFileName(newName);
}

bool TFileHandler::Exists() const { return Exists(fileName_, inMemory_, system_); }

bool TFileHandler::Exists(const std::string& fileName, bool inMemory,
                          const std::shared_ptr<TFileSystem>& system) {
  return TFileList::Instance().Exists(fileName, inMemory, system ? system : HostFileSystem());
}

std::size_t TFileHandler::Read(void* buffer, std::size_t count, bool allowShort) {
  std::int64_t r = OpenFile().Read(handle_, buffer, count);
  if (r < 0) Raise(static_cast<int>(r));
  if (static_cast<std::size_t>(r) < count && !allowShort) {
    errno = 0;
    Raise(LEDGER_READERR);
  }
  return static_cast<std::size_t>(r);
}

void TFileHandler::Write(const void* buffer, std::size_t count) {
  std::int64_t r = OpenFile().Write(handle_, buffer, count);
  if (r < 0) Raise(static_cast<int>(r));
  if (static_cast<std::size_t>(r) < count) Raise(LEDGER_WRITEERR);
}

void TFileHandler::Flush() {
  if (int r = OpenFile().Flush(); r < 0) Raise(r);
}

std::uint64_t TFileHandler::Seek(TSeekOrigin origin, std::int64_t offset) {
  std::int64_t r = OpenFile().Seek(handle_, origin, offset);
  if (r < 0) Raise(static_cast<int>(r));
  return static_cast<std::uint64_t>(r);
}

std::uint64_t TFileHandler::Size() {
  std::int64_t r = OpenFile().Size();
  if (r < 0) Raise(static_cast<int>(r));
  return static_cast<std::uint64_t>(r);
}

std::size_t TFileHandler::ReadAt(std::uint64_t offset, void* buffer, std::size_t count,
                                 bool allowShort) {
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) Raise(LEDGER_READERR);
  std::lock_guard lock(OpenFile().Guard());
  Seek(TSeekOrigin::Begin, static_cast<std::int64_t>(offset));
  return Read(buffer, count, allowShort);
}

void TFileHandler::WriteAt(std::uint64_t offset, const void* buffer, std::size_t count) {
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) Raise(LEDGER_WRITEERR);
  std::lock_guard lock(OpenFile().Guard());
  Seek(TSeekOrigin::Begin, static_cast<std::int64_t>(offset));
  Write(buffer, count);
}

void TFileHandler::EnterGuard() { OpenFile().Guard().lock(); }

void TFileHandler::LeaveGuard() { OpenFile().Guard().unlock(); }

bool TFileHandler::LockRange(std::uint64_t offset, std::uint64_t length, bool shared) {
  return file_ != nullptr && file_->LockRange(offset, length, shared);
}

bool TFileHandler::UnlockRange(std::uint64_t offset, std::uint64_t length) {
  return file_ != nullptr && file_->UnlockRange(offset, length);
}

bool TFileHandler::LockRangeRetrying(std::uint64_t offset, std::uint64_t length, bool shared,
                                     int attempts, unsigned pauseMs) {
  if (file_ == nullptr) return false;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (attempt > 0) file_->System().SleepMs(pauseMs);
    if (file_->LockRange(offset, length, shared)) return true;
  }
  return false;
}

bool TFileHandler::LockDataWriteByte() {
  return LockRangeRetrying(kDataWriteByte, 1, false, kLockAttempts, kLockPauseMs);
}

bool TFileHandler::UnlockDataWriteByte() { return UnlockRange(kDataWriteByte, 1); }

bool TFileHandler::LockWriteRange() {
  return LockRangeRetrying(kWriteRangeStart, kWriteRangeLength, false, kLockAttempts, kLockPauseMs);
}

bool TFileHandler::UnlockWriteRange() { return UnlockRange(kWriteRangeStart, kWriteRangeLength); }

bool TFileHandler::LockReadByte(std::uint64_t& heldOffset) {
  if (file_ == nullptr) return false;
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    if (attempt > 0) file_->System().SleepMs(kLockPauseMs);
    // A new byte each time: the one just refused may stay taken for long.
    std::uint32_t k = file_->System().Random(kReadLockBytes + 1);
    if (k == 0) k = 1;
    const std::uint64_t offset = ReadLockOffset(k);
    if (file_->LockRange(offset, 1, true)) {
      heldOffset = offset;
      return true;
    }
  }
  return false;
}

bool TFileHandler::UnlockReadByte(std::uint64_t heldOffset) { return UnlockRange(heldOffset, 1); }

bool TFileHandler::LockRecord(std::uint32_t record, int retryCount, unsigned waitMs) {
  if (!HasRecordLockByte(record) || retryCount < 0) return false;
  return LockRangeRetrying(RecordLockOffset(record), 1, false, retryCount + 1, waitMs);
}

bool TFileHandler::UnlockRecord(std::uint32_t record) {
  return HasRecordLockByte(record) && UnlockRange(RecordLockOffset(record), 1);
}

void TFileHandler::CopyTo(const std::string& destName, bool compress, int progressStep,
                          const TProgressCallback& progress) {
  OpenFile();
  TFileHandler dest(destName, inMemory_);
  dest.SetSystem(system_);
  dest.SetErrorContext(TableName(), DatabaseName());
  dest.Create();
  try {
    Copy(*this, dest, compress, false, progressStep, progress);
  } catch (...) {
    // No half-written copy is left behind to be taken for a good one.
    dest.Close();
    try {
      dest.Delete();
    } catch (const ELedgerEngineError&) {
    }
    throw;
  }
}

void TFileHandler::CopyFrom(const std::string& sourceName, bool compress, int progressStep,
                            const TProgressCallback& progress) {
  OpenFile();
  TFileHandler source(sourceName, inMemory_);
  source.SetSystem(system_);
  source.SetErrorContext(TableName(), DatabaseName());
  source.Open();
  Copy(source, *this, false, compress, progressStep, progress);
}

void TFileHandler::Copy(TFileHandler& from, TFileHandler& to, bool compress, bool decompress,
                        int progressStep, const TProgressCallback& progress) {
  // The copy moves this handler's position; its caller's position survives.
  struct TKeepPosition {
    TFileHandler& Handler;
    std::uint64_t Position;
    ~TKeepPosition() {
      if (Handler.IsOpen())
        Handler.File()->Seek(Handler.HandleNumber(), TSeekOrigin::Begin,
                             static_cast<std::int64_t>(Position));
    }
  } keep{*this, Seek(TSeekOrigin::Current, 0)};
  const std::uint64_t total = from.Size();
  TProgress report(total, progressStep, progress);
  std::vector<std::uint8_t> chunk(kCopyChunkSize);
  std::uint64_t in = 0;
  std::uint64_t out = 0;
  while (in < total) {
    std::vector<std::uint8_t> data;
    if (decompress) {
      std::uint8_t header[kFrameHeader];
      if (total - in < kFrameHeader) Raise(LEDGER_UNCOMPRESS);
      from.ReadAt(in, header, kFrameHeader);
      const std::uint32_t packed = GetU32(header, 0);
      const std::uint32_t original = GetU32(header, 4);
      // Sizes come from the file: bound them before allocating.
      if (original > kCopyChunkSize || packed > total - in - kFrameHeader) Raise(LEDGER_UNCOMPRESS);
      std::vector<std::uint8_t> packedData(packed);
      from.ReadAt(in + kFrameHeader, packedData.data(), packed);
      data = DecompressBuffer(packedData, original);
      if (data.size() != original) Raise(LEDGER_UNCOMPRESS);
      in += kFrameHeader + packed;
    } else {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kCopyChunkSize, total - in));
      from.ReadAt(in, chunk.data(), n);
      in += n;
      if (compress) {
        std::vector<std::uint8_t> packed = CompressBuffer({chunk.data(), n});
        data.resize(kFrameHeader + packed.size());
        PutU32(data.data(), 0, static_cast<std::uint32_t>(packed.size()));
        PutU32(data.data(), 4, static_cast<std::uint32_t>(n));
        std::copy(packed.begin(), packed.end(), data.begin() + kFrameHeader);
      } else {
        data.assign(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
      }
    }
    to.WriteAt(out, data.data(), data.size());
    out += data.size();
    report.Advance(in);
  }
  // Whatever the target held beyond the copy is not part of it.
  to.WriteAt(out, nullptr, 0);
  if (total == 0) report.Advance(0);
}

}  // namespace ledger
