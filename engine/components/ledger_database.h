#pragma once
// A database component: one directory of tables, holding the engine's
// directory object while connected and counting the datasets that use it.
#include <functional>
#include <string>
#include <vector>

namespace ledger {

class TDataDirectory;
class TLedgerDBDataSet;
class TLedgerSession;

class TLedgerDatabase {
 public:
  explicit TLedgerDatabase(const void* owner = nullptr);
  ~TLedgerDatabase();
  TLedgerDatabase(const TLedgerDatabase&) = delete;
  TLedgerDatabase& operator=(const TLedgerDatabase&) = delete;

  std::string EngineVersion() const;
  void SetEngineVersion(const std::string&) noexcept {}
  const void* Owner() const noexcept { return owner_; }

  bool Connected() const noexcept { return directory_ != nullptr; }
  void SetConnected(bool value);
  void Open() { SetConnected(true); }
  // Closes the datasets still using it first, the last opened first.
  void Close() { SetConnected(false); }

  // The next three only change while disconnected.
  const std::string& DatabaseName() const noexcept { return databaseName_; }
  void SetDatabaseName(const std::string& value);
  const std::string& Directory() const noexcept { return directoryPath_; }
  void SetDirectory(const std::string& value);
  const std::string& SessionName() const noexcept { return sessionName_; }
  void SetSessionName(const std::string& value);
  const std::string& RemoteDatabase() const noexcept { return remoteDatabase_; }
  void SetRemoteDatabase(const std::string& value);
  bool HandleShared() const noexcept { return handleShared_; }
  void SetHandleShared(bool value);
  // Stay connected when the last dataset closes.
  bool KeepConnection() const noexcept { return keepConnection_; }
  void SetKeepConnection(bool value) noexcept { keepConnection_ = value; }

  std::function<void(TLedgerDatabase&)> BeforeConnect;

  // Transactions belong to editing, which tables here do not offer.
  void StartTransaction();
  void Commit();
  void Rollback();
  bool InTransaction() const noexcept { return false; }

  TLedgerSession* Session() const noexcept { return session_; }
  TDataDirectory* Handle() const noexcept { return directory_; }
  bool Temporary() const noexcept { return temporary_; }
  int UseCount() const noexcept { return useCount_; }
  int DataSetCount() const noexcept { return static_cast<int>(dataSets_.size()); }
  TLedgerDBDataSet& DataSets(int index) const { return *dataSets_.at(static_cast<std::size_t>(index)); }

 private:
  friend class TLedgerSession;
  friend class TLedgerSessionList;
  friend class TLedgerDBDataSet;
  struct TTemporaryTag {};
  TLedgerDatabase(TTemporaryTag, TLedgerSession& session, const std::string& name);

  void CheckInactive() const;
  void Connect();
  void Disconnect();
  void CloseDataSets();
  void AddDataSet(TLedgerDBDataSet& dataSet);
  void RemoveDataSet(TLedgerDBDataSet& dataSet) noexcept;

  const void* owner_ = nullptr;
  std::string databaseName_;
  std::string directoryPath_;
  std::string sessionName_;
  std::string remoteDatabase_;
  bool handleShared_ = false;
  bool keepConnection_ = true;
  bool temporary_ = false;
  TLedgerSession* session_ = nullptr;
  TDataDirectory* directory_ = nullptr;
  int useCount_ = 0;
  // While it closes its own datasets, their references only count down.
  bool closing_ = false;
  std::vector<TLedgerDBDataSet*> dataSets_;
};

// Whether a database name names a directory rather than a database.
bool IsDirectoryName(const std::string& name) noexcept;
// Directory paths compare exactly, since the file system tells case apart;
// other database names ignore case.
bool SameDatabaseName(const std::string& a, const std::string& b) noexcept;

}  // namespace ledger
