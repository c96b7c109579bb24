#pragma once
// The engine session: settings shared by every table opened through it, the
// open directories and the table passwords.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/files/ascii_text.h"
#include "engine/files/host_file_system.h"
#include "engine/files/table_owner.h"

namespace ledger {

class TDataDirectory;

enum class TLockProtocol : uint8_t { Pessimistic = 0, Optimistic = 1 };

struct TSessionSettings {
  std::string privateDir;  // empty or ending in '/'
  bool strictChangeDetection = false;
  bool forceBufferFlush = false;
  uint8_t lockRetryCount = 15;
  uint16_t lockWaitTime = 100;  // milliseconds
  TLockProtocol lockProtocol = TLockProtocol::Pessimistic;
  uint16_t progressSteps = 20;
  TCacheLimits cache;  // data record and blob caches
  int32_t indexCacheBytes = 16384;
};

class TDataSession {
 public:
  // Every file the session's tables open goes through system; no default
  // stands in for one a caller forgot to pass.
  // REQUIRES: system is not null.
  explicit TDataSession(std::shared_ptr<TFileSystem> system);
  ~TDataSession();
  TDataSession(const TDataSession&) = delete;
  TDataSession& operator=(const TDataSession&) = delete;

  // The process-wide session of the default session component. Global()
  // raises LEDGER_NOTINITIALIZED (10758) before CreateGlobal().
  static TDataSession& Global();
  static TDataSession& CreateGlobal();
  static void FreeGlobal();
  static bool GlobalExists();

  const TSessionSettings& Settings() const noexcept { return settings_; }
  // Trims it and adds the trailing '/' an empty value does not get.
  void SetPrivateDir(const std::string& dir);
  void SetStrictChangeDetection(bool value) noexcept { settings_.strictChangeDetection = value; }
  void SetForceBufferFlush(bool value) noexcept { settings_.forceBufferFlush = value; }
  void SetLockRetryCount(uint8_t value) noexcept { settings_.lockRetryCount = value; }
  void SetLockWaitTime(uint16_t value) noexcept { settings_.lockWaitTime = value; }
  void SetLockProtocol(TLockProtocol value) noexcept { settings_.lockProtocol = value; }
  void SetProgressSteps(uint16_t value) noexcept { settings_.progressSteps = value; }
  void SetCacheLimits(const TCacheLimits& limits, int32_t indexCacheBytes) noexcept;
  void SetRemote(bool value) noexcept { remote_ = value; }
  bool Remote() const noexcept { return remote_; }
  const std::shared_ptr<TFileSystem>& FileSystem() const noexcept { return system_; }

  // The working directory when the session was made, ending in '/'.
  const std::string& WorkingDirectory() const noexcept { return workingDirectory_; }

  // Finds or makes the directory object for a connection and counts one more
  // user. A database name of "Memory" (any case) stands for in-memory tables.
  TDataDirectory& OpenDirectory(const std::string& databaseName, const std::string& directory);
  // One user fewer; the last one frees it.
  void ReleaseDirectory(TDataDirectory& directory);
  const std::vector<std::unique_ptr<TDataDirectory>>& Directories() const noexcept {
    return directories_;
  }

  void AddPassword(const std::string& password);
  void RemovePassword(const std::string& password);
  void RemoveAllPasswords() noexcept { passwords_.clear(); }
  // Exact, case-sensitive.
  bool HasPassword(const std::string& password) const;

 private:
  TSessionSettings settings_;
  std::shared_ptr<TFileSystem> system_;
  std::string workingDirectory_;
  std::vector<std::unique_ptr<TDataDirectory>> directories_;
  std::vector<std::string> passwords_;
  bool remote_ = false;
};

// Trims blanks and adds a trailing '/' unless the text is empty.
std::string WithTrailingSeparator(const std::string& path);
// How directory paths and table names are matched: trimmed, ASCII case ignored.
bool SameTrimmedText(const std::string& a, const std::string& b);

}  // namespace ledger
