#pragma once
// A dataset over one table: its name and directory, how it is opened, which
// index orders it, and the key lookup.
#include <initializer_list>
#include <memory>
#include <span>
#include <string>

#include "dataset/index_defs.h"
#include "engine/components/ledger_data_set.h"

namespace ledger {

class TLedgerTable : public TLedgerDBDataSet {
 public:
  explicit TLedgerTable(const void* owner = nullptr);
  ~TLedgerTable() override;

  // '\' becomes '/'; a name holding '/' is split, its directory part (with
  // the separator) going to DatabaseName. Only while closed.
  const std::string& TableName() const noexcept { return tableName_; }
  void SetTableName(const std::string& value);
  bool Exclusive() const noexcept { return exclusive_; }
  void SetExclusive(bool value);
  // Once open: what the engine granted.
  bool ReadOnly() const noexcept { return readOnly_; }
  void SetReadOnly(bool value);
  // Empty: the primary index. IndexName and IndexFieldNames exclude each
  // other; either switches the open table's order at once.
  const std::string& IndexName() const noexcept { return indexName_; }
  void SetIndexName(const std::string& value);
  const std::string& IndexFieldNames() const noexcept { return indexFieldNames_; }
  void SetIndexFieldNames(const std::string& value);
  // Read from the table when it opens.
  const dataset::TIndexDefs& IndexDefs() const noexcept { return indexDefs_; }
  bool StoreDefs() const noexcept { return storeDefs_; }
  void SetStoreDefs(bool value) noexcept { storeDefs_ = value; }
  bool InMemory() const noexcept { return inMemory_; }
  // Master/detail links are not offered: setting one raises.
  const std::string& MasterFields() const noexcept { return masterFields_; }
  void SetMasterFields(const std::string& value);

  // The lookup on the active index: one value per leading key field. Found,
  // the table shows that record and tells its data sources; not found, it
  // keeps showing what it showed and tells nobody.
  bool FindKey(std::span<const dataset::TFieldData> values);
  bool FindKey(std::initializer_list<dataset::TFieldData> values) {
    return FindKey(std::span<const dataset::TFieldData>(values.begin(), values.size()));
  }
  // The same lookup in its steps: key entry on the lookup buffer (assign key
  // fields through FieldByName meanwhile), then the search.
  void SetKey();
  bool GotoKey();

 protected:
  std::unique_ptr<TDataCursor> CreateHandle() override;
  void InternalOpen() override;
  void DatabaseNameChanged() override;

 private:
  void SetKeyFields(std::span<const dataset::TFieldData> values);
  void ResetKeyBuffer();
  // The index the choice names, as the cursor knows it.
  std::string ChosenIndexName(TDataCursor& cursor) const;
  void ChooseIndex(std::string name, std::string fieldNames);
  void SwitchIndex();
  void UpdateIndexDefs();

  std::string tableName_;
  bool exclusive_ = false;
  bool readOnly_ = false;
  bool inMemory_ = false;
  std::string indexName_;
  std::string indexFieldNames_;
  dataset::TIndexDefs indexDefs_;
  bool storeDefs_ = false;
  std::string masterFields_;
};

}  // namespace ledger
