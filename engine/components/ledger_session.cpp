#include "engine/components/ledger_session.h"

#include <algorithm>

#include "dataset/database_error.h"
#include "dataset/field_defs.h"
#include "engine/components/component_messages.h"
#include "engine/components/ledger_data_set.h"
#include "engine/components/ledger_database.h"

namespace ledger {

using dataset::DatabaseError;
using dataset::DatabaseErrorFmt;
using dataset::SameText;

namespace {

// Session-level work of every session waits here, so one session's start
// never interleaves with another's directory lookups.
class TSessionLock {
 public:
  explicit TSessionLock(TLedgerSession& session) : session_(session) { session_.LockSession(); }
  ~TSessionLock() { session_.UnlockSession(); }
  TSessionLock(const TSessionLock&) = delete;
  TSessionLock& operator=(const TSessionLock&) = delete;

 private:
  TLedgerSession& session_;
};

}  // namespace

// ---------------------------------------------------------------------------
// TLedgerSessionList

TLedgerSessionList& TLedgerSessionList::Instance() {
  static TLedgerSessionList list;
  return list;
}

std::recursive_mutex& TLedgerSessionList::SessionMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

TLedgerSessionList::TLedgerSessionList() {
  // Made first so it outlives the list: stopping the sessions at exit takes it.
  SessionMutex();
  default_.reset(new TLedgerSession(TLedgerSession::TDefaultTag{}, *this));
}

TLedgerSessionList::~TLedgerSessionList() {
  std::vector<TLedgerSession*> sessions;
  {
    std::lock_guard lock(mutex_);
    sessions = sessions_;
  }
  for (auto it = sessions.rbegin(); it != sessions.rend(); ++it) (*it)->StopSession();
  default_.reset();
}

void TLedgerSessionList::Add(TLedgerSession& session) {
  std::lock_guard lock(mutex_);
  sessions_.push_back(&session);
}

void TLedgerSessionList::Remove(TLedgerSession& session) noexcept {
  std::lock_guard lock(mutex_);
  sessions_.erase(std::remove(sessions_.begin(), sessions_.end(), &session), sessions_.end());
}

TLedgerSession* TLedgerSessionList::FindSession(std::string_view name) const {
  std::lock_guard lock(mutex_);
  if (name.empty()) return default_.get();
  for (TLedgerSession* session : sessions_)
    if (SameText(session->SessionName(), name)) return session;
  return nullptr;
}

TLedgerSession& TLedgerSessionList::GetSession(std::string_view name) const {
  TLedgerSession* session = FindSession(name);
  if (!session) DatabaseErrorFmt(SInvalidSessionName, {name});
  return *session;
}

int TLedgerSessionList::Count() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(sessions_.size());
}

TLedgerSession& TLedgerSessionList::Sessions(int index) const {
  std::lock_guard lock(mutex_);
  return *sessions_.at(static_cast<std::size_t>(index));
}

int TLedgerSessionList::TakeAutoNumber() {
  std::lock_guard lock(mutex_);
  auto free = std::find(autoNumbers_.begin(), autoNumbers_.end(), false);
  if (free == autoNumbers_.end()) free = autoNumbers_.insert(autoNumbers_.end(), false);
  *free = true;
  return static_cast<int>(free - autoNumbers_.begin());
}

void TLedgerSessionList::ReleaseAutoNumber(int number) noexcept {
  std::lock_guard lock(mutex_);
  if (number >= 0 && static_cast<std::size_t>(number) < autoNumbers_.size())
    autoNumbers_[static_cast<std::size_t>(number)] = false;
}

void TLedgerSessionList::Register(TLedgerDBDataSet& dataSet) {
  std::lock_guard lock(mutex_);
  dataSets_.push_back(&dataSet);
}

void TLedgerSessionList::Unregister(TLedgerDBDataSet& dataSet) noexcept {
  std::lock_guard lock(mutex_);
  dataSets_.erase(std::remove(dataSets_.begin(), dataSets_.end(), &dataSet), dataSets_.end());
}

void TLedgerSessionList::Register(TLedgerDatabase& database) {
  std::lock_guard lock(mutex_);
  databases_.push_back(&database);
}

void TLedgerSessionList::Unregister(TLedgerDatabase& database) noexcept {
  std::lock_guard lock(mutex_);
  databases_.erase(std::remove(databases_.begin(), databases_.end(), &database), databases_.end());
}

std::vector<TLedgerDatabase*> TLedgerSessionList::Databases() const {
  std::lock_guard lock(mutex_);
  return databases_;
}

void TLedgerSessionList::PushSessionName(const void* owner, const std::string& name) {
  std::lock_guard lock(mutex_);
  if (!owner) return;
  // Open ones keep the session they opened in until they close.
  for (TLedgerDBDataSet* dataSet : dataSets_)
    if (dataSet->Owner() == owner && !dataSet->Active()) dataSet->sessionName_ = name;
  for (TLedgerDatabase* database : databases_)
    if (database->Owner() == owner && !database->Connected()) database->sessionName_ = name;
}

TLedgerSession& Session() { return TLedgerSessionList::Instance().DefaultSession(); }

TLedgerSessionList& Sessions() { return TLedgerSessionList::Instance(); }

// ---------------------------------------------------------------------------
// TLedgerSession

TLedgerSession::TLedgerSession(std::string componentName, const void* owner)
    : componentName_(std::move(componentName)), owner_(owner) {
  TLedgerSessionList::Instance().Add(*this);
}

TLedgerSession::TLedgerSession(TDefaultTag, TLedgerSessionList& list)
    : componentName_("Session"), isDefault_(true), sessionName_("Default") {
  list.Add(*this);
}

TLedgerSession::~TLedgerSession() {
  StopSession();
  if (autoSessionName_) TLedgerSessionList::Instance().ReleaseAutoNumber(autoNumber_);
  if (!isDefault_) TLedgerSessionList::Instance().Remove(*this);
}

std::string TLedgerSession::EngineVersion() const { return kEngineVersionText; }

void TLedgerSession::CheckInactive() const {
  if (Active()) DatabaseError(SSessionActive);
}

void TLedgerSession::SetActive(bool value) {
  if (value)
    StartSession();
  else
    StopSession();
}

void TLedgerSession::StartSession() {
  std::lock_guard lock(TLedgerSessionList::SessionMutex());
  if (engine_) return;
  if (OnStartup) OnStartup(*this);
  if (sessionName_.empty()) DatabaseError(SSessionNameMissing);
  if (sessionType_ == TSessionType::stRemote) DatabaseErrorFmt(SNotSupported, {"The remote session"});
  TLedgerSessionList& list = TLedgerSessionList::Instance();
  if (!isDefault_) {
    for (int i = 0; i < list.Count(); ++i) {
      const TLedgerSession& other = list.Sessions(i);
      if (&other == this || other.isDefault_ || !other.Active()) continue;
      if (autoSessionName_ || other.autoSessionName_) DatabaseError(SAutoSessionExclusive);
    }
    list.DefaultSession().StartSession();
  }
  TDataSession* engine = nullptr;
  if (isDefault_) {
    engine = &TDataSession::CreateGlobal();
  } else {
    ownEngine_ = std::make_unique<TDataSession>(HostFileSystem());
    engine = ownEngine_.get();
  }
  try {
    engine->SetPrivateDir(settings_.privateDir);
    engine->SetStrictChangeDetection(settings_.strictChangeDetection);
    engine->SetForceBufferFlush(settings_.forceBufferFlush);
    engine->SetLockRetryCount(settings_.lockRetryCount);
    engine->SetLockWaitTime(settings_.lockWaitTime);
    engine->SetLockProtocol(settings_.lockProtocol);
    engine->SetProgressSteps(settings_.progressSteps);
    engine->SetCacheLimits(settings_.cache, settings_.indexCacheBytes);
    engine->SetRemote(false);
  } catch (...) {
    if (isDefault_)
      TDataSession::FreeGlobal();
    else
      ownEngine_.reset();
    throw;
  }
  engine_ = engine;
}

void TLedgerSession::StopSession() noexcept {
  std::lock_guard lock(TLedgerSessionList::SessionMutex());
  if (!engine_ || stopping_) return;
  stopping_ = true;
  CloseAllDatabases();
  engine_ = nullptr;
  if (isDefault_)
    TDataSession::FreeGlobal();
  else
    ownEngine_.reset();
  stopping_ = false;
}

void TLedgerSession::CloseAllDatabases() noexcept {
  while (!databases_.empty()) {
    TLedgerDatabase& database = *databases_.back();
    try {
      database.Disconnect();
    } catch (...) {
      // Stopping goes on; what failed to close is released with the engine session.
    }
    DetachDatabase(database);
    if (database.temporary_) FreeTemporary(database);
  }
}

template <class Apply>
void TLedgerSession::SetLive(Apply apply) {
  if (!engine_) return;
  TSessionLock lock(*this);
  apply(*engine_);
}

void TLedgerSession::SetAutoSessionName(bool value) {
  if (value == autoSessionName_) return;
  CheckInactive();
  TLedgerSessionList& list = TLedgerSessionList::Instance();
  if (value) {
    if (owner_) {
      for (int i = 0; i < list.Count(); ++i) {
        const TLedgerSession& other = list.Sessions(i);
        if (&other != this && other.autoSessionName_ && other.owner_ == owner_)
          DatabaseError(SAutoSessionExists);
      }
    }
    autoNumber_ = list.TakeAutoNumber();
    sessionName_ = componentName_ + "_" + std::to_string(autoNumber_ + 1);
    autoSessionName_ = true;
    list.PushSessionName(owner_, sessionName_);
  } else {
    list.ReleaseAutoNumber(autoNumber_);
    autoNumber_ = -1;
    autoSessionName_ = false;
  }
}

void TLedgerSession::SetForceBufferFlush(bool value) {
  settings_.forceBufferFlush = value;
  SetLive([value](TDataSession& s) { s.SetForceBufferFlush(value); });
}

void TLedgerSession::SetLockRetryCount(uint8_t value) {
  settings_.lockRetryCount = value;
  SetLive([value](TDataSession& s) { s.SetLockRetryCount(value); });
}

void TLedgerSession::SetLockWaitTime(uint16_t value) {
  settings_.lockWaitTime = value;
  SetLive([value](TDataSession& s) { s.SetLockWaitTime(value); });
}

void TLedgerSession::SetLockProtocol(TLockProtocol value) {
  settings_.lockProtocol = value;
  SetLive([value](TDataSession& s) { s.SetLockProtocol(value); });
}

void TLedgerSession::SetPrivateDir(const std::string& value) {
  settings_.privateDir = value;
  SetLive([&value](TDataSession& s) { s.SetPrivateDir(value); });
}

void TLedgerSession::SetProgressSteps(uint16_t value) {
  if (value > 100) return;
  settings_.progressSteps = value;
  SetLive([value](TDataSession& s) { s.SetProgressSteps(value); });
}

void TLedgerSession::SetStrictChangeDetection(bool value) {
  settings_.strictChangeDetection = value;
  SetLive([value](TDataSession& s) { s.SetStrictChangeDetection(value); });
}

void TLedgerSession::SetSessionName(const std::string& value) {
  if (autoSessionName_) DatabaseError(SAutoSessionActive);
  CheckInactive();
  if (!value.empty()) {
    TLedgerSession* other = TLedgerSessionList::Instance().FindSession(value);
    if (other && other != this) DatabaseErrorFmt(SDuplicateSessionName, {value});
  }
  sessionName_ = value;
}

void TLedgerSession::SetSessionType(TSessionType value) {
  CheckInactive();
  sessionType_ = value;
}

TDataSession& TLedgerSession::EngineSession() {
  if (!engine_) StartSession();
  return *engine_;
}

void TLedgerSession::LockSession() {
  if (lockCount_++ == 0) TLedgerSessionList::SessionMutex().lock();
}

void TLedgerSession::UnlockSession() {
  if (lockCount_ > 0 && --lockCount_ == 0) TLedgerSessionList::SessionMutex().unlock();
}

void TLedgerSession::AddPassword(const std::string& password) {
  TDataSession& engine = EngineSession();
  TSessionLock lock(*this);
  engine.AddPassword(password);
}

void TLedgerSession::RemovePassword(const std::string& password) {
  TDataSession& engine = EngineSession();
  TSessionLock lock(*this);
  engine.RemovePassword(password);
}

void TLedgerSession::RemoveAllPasswords() {
  TDataSession& engine = EngineSession();
  TSessionLock lock(*this);
  engine.RemoveAllPasswords();
}

bool TLedgerSession::GetPassword() {
  if (!OnPassword) return false;
  bool proceed = false;
  OnPassword(*this, proceed);
  return proceed;
}

TLedgerDatabase* TLedgerSession::FindDatabase(const std::string& databaseName, const void* owner) const {
  std::vector<TLedgerDatabase*> candidates;
  for (const auto& temporary : temporary_) candidates.push_back(temporary.get());
  for (TLedgerDatabase* database : TLedgerSessionList::Instance().Databases())
    if (TLedgerSessionList::Instance().FindSession(database->SessionName()) == this)
      candidates.push_back(database);
  TLedgerDatabase* any = nullptr;
  for (TLedgerDatabase* database : candidates) {
    if (!SameDatabaseName(database->DatabaseName(), databaseName)) continue;
    if (owner && database->Owner() == owner && database->HandleShared()) return database;
    if (!any) any = database;
  }
  return any;
}

TLedgerDatabase& TLedgerSession::OpenDatabase(const std::string& databaseName, const void* owner) {
  StartSession();
  TSessionLock lock(*this);
  TLedgerDatabase* database = FindDatabase(databaseName, owner);
  if (!database) {
    temporary_.push_back(std::unique_ptr<TLedgerDatabase>(
        new TLedgerDatabase(TLedgerDatabase::TTemporaryTag{}, *this, databaseName)));
    database = temporary_.back().get();
    try {
      database->Connect();
    } catch (...) {
      FreeTemporary(*database);
      throw;
    }
  } else if (!database->Connected()) {
    database->Connect();
  }
  ++database->useCount_;
  return *database;
}

void TLedgerSession::CloseDatabase(TLedgerDatabase& database) {
  TSessionLock lock(*this);
  if (database.useCount_ > 0) --database.useCount_;
  // A database that is closing its datasets itself only counts them down.
  if (database.useCount_ > 0 || database.keepConnection_ || database.closing_ || stopping_) return;
  if (database.temporary_) {
    database.Disconnect();
    FreeTemporary(database);
  } else {
    database.Disconnect();
  }
}

void TLedgerSession::AttachDatabase(TLedgerDatabase& database) {
  for (TLedgerDatabase* other : databases_) {
    if (other == &database || !SameDatabaseName(other->DatabaseName(), database.DatabaseName()))
      continue;
    if (other->HandleShared() && database.HandleShared()) continue;
    const std::string name = database.DatabaseName();
    database.databaseName_.clear();
    DatabaseErrorFmt(SDuplicateDatabaseName, {name});
  }
  if (std::find(databases_.begin(), databases_.end(), &database) == databases_.end())
    databases_.push_back(&database);
}

void TLedgerSession::DetachDatabase(TLedgerDatabase& database) noexcept {
  databases_.erase(std::remove(databases_.begin(), databases_.end(), &database), databases_.end());
}

void TLedgerSession::FreeTemporary(TLedgerDatabase& database) noexcept {
  DetachDatabase(database);
  auto it = std::find_if(temporary_.begin(), temporary_.end(),
                         [&database](const auto& t) { return t.get() == &database; });
  if (it == temporary_.end()) return;
  std::unique_ptr<TLedgerDatabase> gone = std::move(*it);
  temporary_.erase(it);
}

}  // namespace ledger
