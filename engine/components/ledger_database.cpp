#include "engine/components/ledger_database.h"

#include <algorithm>

#include "dataset/database_error.h"
#include "dataset/field_defs.h"
#include "engine/components/component_messages.h"
#include "engine/components/ledger_data_set.h"
#include "engine/components/ledger_session.h"
#include "engine/public/cursor.h"

namespace ledger {

using dataset::DatabaseError;
using dataset::DatabaseErrorFmt;

bool IsDirectoryName(const std::string& name) noexcept { return name.find('/') != std::string::npos; }

bool SameDatabaseName(const std::string& a, const std::string& b) noexcept {
  if (IsDirectoryName(a) || IsDirectoryName(b)) return a == b;
  return dataset::SameText(a, b);
}

TLedgerDatabase::TLedgerDatabase(const void* owner) : owner_(owner) {
  TLedgerSessionList::Instance().Register(*this);
}

TLedgerDatabase::TLedgerDatabase(TTemporaryTag, TLedgerSession& session, const std::string& name)
    : databaseName_(name),
      directoryPath_(dataset::SameText(name, "Memory") ? std::string() : name),
      keepConnection_(session.KeepConnections()),
      temporary_(true),
      session_(&session) {}

TLedgerDatabase::~TLedgerDatabase() {
  try {
    Disconnect();
  } catch (...) {
    // Nothing is left to report to while going away.
  }
  if (!temporary_) TLedgerSessionList::Instance().Unregister(*this);
}

std::string TLedgerDatabase::EngineVersion() const { return kEngineVersionText; }

void TLedgerDatabase::CheckInactive() const {
  if (Connected()) DatabaseError(SDatabaseOpen);
}

void TLedgerDatabase::SetConnected(bool value) {
  if (value)
    Connect();
  else
    Disconnect();
}

void TLedgerDatabase::SetDatabaseName(const std::string& value) {
  CheckInactive();
  databaseName_ = value;
}

void TLedgerDatabase::SetDirectory(const std::string& value) {
  CheckInactive();
  directoryPath_ = value;
}

void TLedgerDatabase::SetSessionName(const std::string& value) {
  CheckInactive();
  sessionName_ = value;
}

void TLedgerDatabase::SetRemoteDatabase(const std::string& value) {
  CheckInactive();
  remoteDatabase_ = value;
}

void TLedgerDatabase::SetHandleShared(bool value) {
  CheckInactive();
  handleShared_ = value;
}

void TLedgerDatabase::Connect() {
  if (Connected()) return;
  if (BeforeConnect) BeforeConnect(*this);
  if (!temporary_) {
    if (databaseName_.empty()) DatabaseError(SDatabaseNameMissing);
    if (IsDirectoryName(databaseName_)) DatabaseErrorFmt(SInvalidDatabaseName, {databaseName_});
  }
  TLedgerSession& session =
      temporary_ ? *session_ : TLedgerSessionList::Instance().GetSession(sessionName_);
  session.StartSession();
  session.LockSession();
  try {
    session.AttachDatabase(*this);
    session_ = &session;
    // A directory path goes to the engine as the directory alone.
    const std::string engineName = IsDirectoryName(databaseName_) ? std::string() : databaseName_;
    try {
      directory_ = &session.engine_->OpenDirectory(engineName, directoryPath_);
    } catch (...) {
      session.DetachDatabase(*this);
      throw;
    }
  } catch (...) {
    session.UnlockSession();
    throw;
  }
  session.UnlockSession();
}

void TLedgerDatabase::Disconnect() {
  if (!Connected()) return;
  std::exception_ptr failure;
  try {
    CloseDataSets();
  } catch (...) {
    failure = std::current_exception();
  }
  TLedgerSession& session = *session_;
  session.LockSession();
  TDataDirectory* directory = directory_;
  directory_ = nullptr;
  useCount_ = 0;
  if (session.engine_) session.engine_->ReleaseDirectory(*directory);
  if (!temporary_) {
    session.DetachDatabase(*this);
    session_ = nullptr;
  }
  session.UnlockSession();
  if (failure) std::rethrow_exception(failure);
}

void TLedgerDatabase::CloseDataSets() {
  closing_ = true;
  std::exception_ptr failure;
  // Last opened first; each close gives its reference back and leaves the list.
  while (!dataSets_.empty()) {
    TLedgerDBDataSet* dataSet = dataSets_.back();
    try {
      dataSet->Close();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
    RemoveDataSet(*dataSet);
  }
  closing_ = false;
  if (failure) std::rethrow_exception(failure);
}

void TLedgerDatabase::AddDataSet(TLedgerDBDataSet& dataSet) {
  if (std::find(dataSets_.begin(), dataSets_.end(), &dataSet) == dataSets_.end())
    dataSets_.push_back(&dataSet);
}

void TLedgerDatabase::RemoveDataSet(TLedgerDBDataSet& dataSet) noexcept {
  dataSets_.erase(std::remove(dataSets_.begin(), dataSets_.end(), &dataSet), dataSets_.end());
}

void TLedgerDatabase::StartTransaction() {
  if (!Connected()) DatabaseError(SDatabaseClosed);
  DatabaseErrorFmt(SNotSupported, {"Transactions"});
}

void TLedgerDatabase::Commit() {
  if (!Connected()) DatabaseError(SDatabaseClosed);
  DatabaseErrorFmt(SNotInTransaction, {databaseName_});
}

void TLedgerDatabase::Rollback() {
  if (!Connected()) DatabaseError(SDatabaseClosed);
  DatabaseErrorFmt(SNotInTransaction, {databaseName_});
}

}  // namespace ledger
