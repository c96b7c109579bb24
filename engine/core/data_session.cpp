#include "engine/core/data_session.h"

#include <algorithm>
#include <mutex>
#include <stdexcept>

#include "engine/core/data_directory.h"
#include "engine/errors/ledger_error.h"

namespace ledger {

namespace {

std::mutex globalGuard;
std::unique_ptr<TDataSession> globalSession;

std::string CurrentDirectory(TFileSystem& system) {
  // A working directory that was removed or is unreadable leaves the
  // session without one rather than failing to start.
  std::string path;
  return system.GetCwd(path) < 0 ? std::string() : path;
}

}  // namespace

bool SameTrimmedText(const std::string& a, const std::string& b) { return SameAsciiText(TrimBlanks(a), TrimBlanks(b)); }

std::string WithTrailingSeparator(const std::string& path) {
  std::string out = TrimBlanks(path);
  if (!out.empty() && out.back() != '/') out += '/';
  return out;
}

TDataSession::TDataSession(std::shared_ptr<TFileSystem> system)
    : system_(system ? std::move(system) : throw std::invalid_argument("TDataSession needs a file system")),
      workingDirectory_(WithTrailingSeparator(CurrentDirectory(*system_))) {}

TDataSession::~TDataSession() = default;

TDataSession& TDataSession::Global() {
  std::lock_guard lock(globalGuard);
  if (!globalSession) RaiseTableError(LEDGER_NOTINITIALIZED, {});
  return *globalSession;
}

TDataSession& TDataSession::CreateGlobal() {
  std::lock_guard lock(globalGuard);
  if (!globalSession) globalSession = std::make_unique<TDataSession>(HostFileSystem());
  return *globalSession;
}

void TDataSession::FreeGlobal() {
  std::unique_ptr<TDataSession> gone;
  {
    std::lock_guard lock(globalGuard);
    gone = std::move(globalSession);
  }
}

bool TDataSession::GlobalExists() {
  std::lock_guard lock(globalGuard);
  return globalSession != nullptr;
}

void TDataSession::SetPrivateDir(const std::string& dir) { settings_.privateDir = WithTrailingSeparator(dir); }

void TDataSession::SetCacheLimits(const TCacheLimits& limits, int32_t indexCacheBytes) noexcept {
  settings_.cache = limits;
  settings_.indexCacheBytes = indexCacheBytes;
}

TDataDirectory& TDataSession::OpenDirectory(const std::string& databaseName, const std::string& directory) {
  std::string path = WithTrailingSeparator(directory);
  if (path.empty() && !SameTrimmedText(databaseName, "Memory")) path = workingDirectory_;
  for (auto& d : directories_) {
    // Directory names keep their case: /data/Words and /data/words differ.
    if (d->Path() == path) {
      d->AddUser();
      return *d;
    }
  }
  directories_.push_back(std::make_unique<TDataDirectory>(*this, path));
  directories_.back()->AddUser();
  return *directories_.back();
}

void TDataSession::ReleaseDirectory(TDataDirectory& directory) {
  auto it = std::find_if(directories_.begin(), directories_.end(),
                         [&directory](const auto& d) { return d.get() == &directory; });
  if (it == directories_.end()) return;
  if (directory.RemoveUser() > 0) return;
  // Moved out first: freeing it closes its tables, which may raise.
  std::unique_ptr<TDataDirectory> gone = std::move(*it);
  directories_.erase(it);
}

void TDataSession::AddPassword(const std::string& password) {
  if (!HasPassword(password)) passwords_.push_back(password);
}

void TDataSession::RemovePassword(const std::string& password) {
  auto it = std::find(passwords_.begin(), passwords_.end(), password);
  if (it != passwords_.end()) passwords_.erase(it);
}

bool TDataSession::HasPassword(const std::string& password) const {
  return std::find(passwords_.begin(), passwords_.end(), password) != passwords_.end();
}

}  // namespace ledger
