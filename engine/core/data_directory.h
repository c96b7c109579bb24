#pragma once
// The tables open in one directory, each shared by every cursor on it.
#include <memory>
#include <string>
#include <vector>

namespace ledger {

class TDataSession;
class TDataTable;

class TDataDirectory {
 public:
  // path: ending in '/', or empty for the in-memory database.
  TDataDirectory(TDataSession& session, std::string path);
  ~TDataDirectory();
  TDataDirectory(const TDataDirectory&) = delete;
  TDataDirectory& operator=(const TDataDirectory&) = delete;

  TDataSession& Session() const noexcept { return session_; }
  const std::string& Path() const noexcept { return path_; }
  int UserCount() const noexcept { return users_; }
  void AddUser() noexcept { ++users_; }
  int RemoveUser() noexcept { return --users_; }
  bool InTransaction() const noexcept { return inTransaction_; }

  // The table for one more cursor: shared when already open, its files
  // opened otherwise. Raises LEDGER_OSEACCES (11013) on an exclusive
  // conflict and whatever opening the files raises, with the table name and
  // this directory as context.
  TDataTable& OpenTable(const std::string& name, bool inMemory, bool exclusive);
  // One cursor fewer; the last one closes the files and frees the table.
  void ReleaseTable(TDataTable& table);

  TDataTable* FindTable(const std::string& name, bool inMemory) const;
  const std::vector<std::unique_ptr<TDataTable>>& Tables() const noexcept { return tables_; }

 private:
  TDataSession& session_;
  std::string path_;
  int users_ = 0;
  bool inTransaction_ = false;
  std::vector<std::unique_ptr<TDataTable>> tables_;
};

}  // namespace ledger
