#pragma once
// Session components: the settings every table opened through a session
// shares, its databases and passwords, and the process-wide list of
// sessions with its default session "Default".
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/public/cursor.h"

namespace ledger {

class TLedgerDatabase;
class TLedgerDBDataSet;
class TLedgerSessionList;

inline constexpr TLockProtocol lpPessimistic = TLockProtocol::Pessimistic;
inline constexpr TLockProtocol lpOptimistic = TLockProtocol::Optimistic;

enum class TSessionType { stLocal, stRemote };

class TLedgerSession;
// Continue starts false; a handler that added a password sets it true.
using TPasswordEvent = std::function<void(TLedgerSession& sender, bool& Continue)>;
using TSessionNotifyEvent = std::function<void(TLedgerSession& sender)>;

class TLedgerSession {
 public:
  // componentName: what an auto-session name is built from; owner: whose
  // datasets and databases take that name.
  explicit TLedgerSession(std::string componentName = "Session", const void* owner = nullptr);
  ~TLedgerSession();
  TLedgerSession(const TLedgerSession&) = delete;
  TLedgerSession& operator=(const TLedgerSession&) = delete;

  const std::string& Name() const noexcept { return componentName_; }
  const void* Owner() const noexcept { return owner_; }
  bool IsDefault() const noexcept { return isDefault_; }
  std::string EngineVersion() const;
  void SetEngineVersion(const std::string&) noexcept {}

  bool Active() const noexcept { return engine_ != nullptr; }
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }

  // Settings. Live ones reach the engine session at once; the others need
  // an inactive session.
  bool AutoSessionName() const noexcept { return autoSessionName_; }
  void SetAutoSessionName(bool value);
  bool ForceBufferFlush() const noexcept { return settings_.forceBufferFlush; }
  void SetForceBufferFlush(bool value);
  bool KeepConnections() const noexcept { return keepConnections_; }
  void SetKeepConnections(bool value) noexcept { keepConnections_ = value; }
  uint8_t LockRetryCount() const noexcept { return settings_.lockRetryCount; }
  void SetLockRetryCount(uint8_t value);
  uint16_t LockWaitTime() const noexcept { return settings_.lockWaitTime; }
  void SetLockWaitTime(uint16_t value);
  TLockProtocol LockProtocol() const noexcept { return settings_.lockProtocol; }
  void SetLockProtocol(TLockProtocol value);
  const std::string& PrivateDir() const noexcept { return settings_.privateDir; }
  void SetPrivateDir(const std::string& value);
  uint16_t ProgressSteps() const noexcept { return settings_.progressSteps; }
  // Above 100 is ignored.
  void SetProgressSteps(uint16_t value);
  const std::string& SessionName() const noexcept { return sessionName_; }
  void SetSessionName(const std::string& value);
  bool StrictChangeDetection() const noexcept { return settings_.strictChangeDetection; }
  void SetStrictChangeDetection(bool value);
  TSessionType SessionType() const noexcept { return sessionType_; }
  void SetSessionType(TSessionType value);

  TPasswordEvent OnPassword;
  TSessionNotifyEvent OnStartup;

  // A connected database of that name with one more user: a database
  // component naming it, or a temporary one made for the name.
  TLedgerDatabase& OpenDatabase(const std::string& databaseName, const void* owner = nullptr);
  // One user fewer.
  void CloseDatabase(TLedgerDatabase& database);
  TLedgerDatabase* FindDatabase(const std::string& databaseName, const void* owner = nullptr) const;
  int DatabaseCount() const noexcept { return static_cast<int>(databases_.size()); }
  TLedgerDatabase& Databases(int index) const { return *databases_.at(static_cast<std::size_t>(index)); }

  void AddPassword(const std::string& password);
  void RemovePassword(const std::string& password);
  void RemoveAllPasswords();
  // Asks OnPassword; false when there is none or it gave up.
  bool GetPassword();

  // Session-level work: nested per session, one process-wide lock underneath.
  void LockSession();
  void UnlockSession();
  // The engine session, starting the session when needed.
  TDataSession& EngineSession();

 private:
  friend class TLedgerSessionList;
  friend class TLedgerDatabase;
  struct TDefaultTag {};
  TLedgerSession(TDefaultTag, TLedgerSessionList& list);

  void CheckInactive() const;
  void StartSession();
  void StopSession() noexcept;
  void CloseAllDatabases() noexcept;
  template <class Apply>
  void SetLive(Apply apply);
  // A database joins the list when it connects.
  void AttachDatabase(TLedgerDatabase& database);
  void DetachDatabase(TLedgerDatabase& database) noexcept;
  void FreeTemporary(TLedgerDatabase& database) noexcept;

  std::string componentName_;
  const void* owner_ = nullptr;
  bool isDefault_ = false;
  std::string sessionName_;
  TSessionSettings settings_;
  bool keepConnections_ = true;
  bool autoSessionName_ = false;
  int autoNumber_ = -1;
  TSessionType sessionType_ = TSessionType::stLocal;
  TDataSession* engine_ = nullptr;
  std::unique_ptr<TDataSession> ownEngine_;
  std::vector<TLedgerDatabase*> databases_;
  std::vector<std::unique_ptr<TLedgerDatabase>> temporary_;
  int lockCount_ = 0;
  bool stopping_ = false;
};

class TLedgerSessionList {
 public:
  static TLedgerSessionList& Instance();
  TLedgerSessionList(const TLedgerSessionList&) = delete;
  TLedgerSessionList& operator=(const TLedgerSessionList&) = delete;

  TLedgerSession& DefaultSession() const noexcept { return *default_; }
  // Case-insensitive; an empty name is the default session; null when absent.
  TLedgerSession* FindSession(std::string_view name) const;
  // Raises "Session name %s is not valid." when absent.
  TLedgerSession& GetSession(std::string_view name) const;
  int Count() const;
  TLedgerSession& Sessions(int index) const;

  // The process-wide lock of session-level work.
  static std::recursive_mutex& SessionMutex();

 private:
  friend class TLedgerSession;
  friend class TLedgerDatabase;
  friend class TLedgerDBDataSet;
  TLedgerSessionList();
  ~TLedgerSessionList();

  void Add(TLedgerSession& session);
  void Remove(TLedgerSession& session) noexcept;
  int TakeAutoNumber();
  void ReleaseAutoNumber(int number) noexcept;
  // Components that take an auto-session's name from their owner's session.
  void Register(TLedgerDBDataSet& dataSet);
  void Unregister(TLedgerDBDataSet& dataSet) noexcept;
  void Register(TLedgerDatabase& database);
  void Unregister(TLedgerDatabase& database) noexcept;
  void PushSessionName(const void* owner, const std::string& name);
  std::vector<TLedgerDatabase*> Databases() const;

  mutable std::recursive_mutex mutex_;
  std::vector<TLedgerSession*> sessions_;
  std::vector<bool> autoNumbers_;
  std::vector<TLedgerDBDataSet*> dataSets_;
  std::vector<TLedgerDatabase*> databases_;
  std::unique_ptr<TLedgerSession> default_;
};

// The default session.
TLedgerSession& Session();
TLedgerSessionList& Sessions();

}  // namespace ledger
