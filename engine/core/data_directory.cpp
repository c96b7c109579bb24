#include "engine/core/data_directory.h"

#include <algorithm>

#include "engine/core/data_session.h"
#include "engine/core/data_table.h"
#include "engine/errors/ledger_error.h"

namespace ledger {

TDataDirectory::TDataDirectory(TDataSession& session, std::string path)
    : session_(session), path_(std::move(path)) {}

TDataDirectory::~TDataDirectory() {
  for (auto& table : tables_) {
    try {
      table->CloseFiles();
    } catch (const ELedgerEngineError&) {
      // Closing goes on regardless: the files are released with the object.
    }
  }
}

TDataTable* TDataDirectory::FindTable(const std::string& name, bool inMemory) const {
  // Tables on disk are the same table when they name the same data file,
  // case included; in-memory tables have no file system to ask.
  const std::string file = TDataTable::FileNameFor(path_, name, ".DAT");
  for (const auto& table : tables_) {
    if (table->IsInMemory() != inMemory) continue;
    if (inMemory ? SameTrimmedText(table->Name(), name) : table->FileName(".DAT") == file)
      return table.get();
  }
  return nullptr;
}

TDataTable& TDataDirectory::OpenTable(const std::string& name, bool inMemory, bool exclusive) {
  if (TDataTable* table = FindTable(name, inMemory)) {
    if (table->CursorCount() > 0 || table->InTransaction()) {
      if (table->CursorCount() > 0 && (table->Exclusive() || exclusive))
        RaiseTableError(LEDGER_OSEACCES, name, path_);
      table->AddCursor();
      return *table;
    }
    try {
      table->OpenFiles(exclusive, inMemory);
    } catch (...) {
      // An object left without cursors and files serves nobody.
      ReleaseTable(*table);
      throw;
    }
    table->AddCursor();
    return *table;
  }
  // Listed only once its files are open, so a failed open leaves no trace.
  auto table = std::make_unique<TDataTable>(*this, name);
  table->OpenFiles(exclusive, inMemory);
  table->AddCursor();
  tables_.push_back(std::move(table));
  return *tables_.back();
}

void TDataDirectory::ReleaseTable(TDataTable& table) {
  auto it = std::find_if(tables_.begin(), tables_.end(), [&table](const auto& t) { return t.get() == &table; });
  if (it == tables_.end()) return;
  if (table.CursorCount() > 0 && table.RemoveCursor() > 0) return;
  if (table.InTransaction()) return;
  std::unique_ptr<TDataTable> gone = std::move(*it);
  tables_.erase(it);
  gone->CloseFiles();
}

}  // namespace ledger
