#include "engine/components/ledger_table.h"

#include <algorithm>
#include <utility>

#include "dataset/database_error.h"
#include "engine/components/component_messages.h"
#include "engine/components/ledger_database.h"
#include "engine/components/ledger_session.h"
#include "engine/public/schema.h"

namespace ledger {

using dataset::DatabaseError;
using dataset::DatabaseErrorFmt;

namespace {

std::string IndexFieldList(TDataCursor& cursor, const TIndexDesc& desc) {
  std::string fields;
  for (int i = 0; i < desc.fieldCount && i < kMaxKeyFields; ++i) {
    if (i > 0) fields += ';';
    fields += cursor.Field(desc.fields[static_cast<std::size_t>(i)]).name;
  }
  return fields;
}

}  // namespace

TLedgerTable::TLedgerTable(const void* owner) : TLedgerDBDataSet(owner) {}

TLedgerTable::~TLedgerTable() {
  try {
    Close();
  } catch (...) {
  }
}

void TLedgerTable::SetTableName(const std::string& value) {
  CheckInactive();
  std::string name = value;
  std::replace(name.begin(), name.end(), '\\', '/');
  const std::size_t slash = name.rfind('/');
  if (slash != std::string::npos) {
    SetDatabaseName(name.substr(0, slash + 1));
    name.erase(0, slash + 1);
  }
  tableName_ = std::move(name);
  DataEvent(dataset::dePropertyChange);
}

void TLedgerTable::DatabaseNameChanged() { inMemory_ = dataset::SameText(DatabaseName(), "Memory"); }

void TLedgerTable::SetExclusive(bool value) {
  CheckInactive();
  exclusive_ = value;
}

void TLedgerTable::SetReadOnly(bool value) {
  CheckInactive();
  readOnly_ = value;
}

void TLedgerTable::SetMasterFields(const std::string& value) {
  if (!value.empty()) DatabaseErrorFmt(SNotSupported, {"A master/detail link"});
  masterFields_.clear();
}

void TLedgerTable::SetIndexName(const std::string& value) { ChooseIndex(value, {}); }

void TLedgerTable::SetIndexFieldNames(const std::string& value) { ChooseIndex({}, value); }

// The two choices exclude each other; an open table switches at once and
// keeps its old choice when the switch fails.
void TLedgerTable::ChooseIndex(std::string name, std::string fieldNames) {
  std::string oldName = std::exchange(indexName_, std::move(name));
  std::string oldFields = std::exchange(indexFieldNames_, std::move(fieldNames));
  if (!Active()) return;
  try {
    SwitchIndex();
  } catch (...) {
    indexName_ = std::move(oldName);
    indexFieldNames_ = std::move(oldFields);
    throw;
  }
}

std::string TLedgerTable::ChosenIndexName(TDataCursor& cursor) const {
  if (!indexFieldNames_.empty()) {
    const std::vector<std::string> wanted = dataset::SplitFieldNames(indexFieldNames_);
    for (int slot = 0; slot <= cursor.SecondaryIndexCount(); ++slot) {
      const TIndexDesc& desc = cursor.IndexDescriptor(slot);
      if (!desc.Defined()) continue;
      const std::vector<std::string> have = dataset::SplitFieldNames(IndexFieldList(cursor, desc));
      if (std::equal(have.begin(), have.end(), wanted.begin(), wanted.end(),
                     [](const std::string& a, const std::string& b) { return dataset::SameText(a, b); }))
        return desc.name;
    }
    DatabaseErrorFmt(SNoIndexForFields, {indexFieldNames_});
  }
  if (indexName_.empty()) {
    const TIndexDesc& primary = cursor.IndexDescriptor(0);
    return primary.Defined() ? primary.name : std::string();
  }
  return indexName_;
}

void TLedgerTable::SwitchIndex() {
  CheckBrowseMode();
  UpdateCursorPos();
  Handle()->SwitchToIndex(ChosenIndexName(*Handle()));
  IndexChanged();
}

std::unique_ptr<TDataCursor> TLedgerTable::CreateHandle() {
  if (tableName_.empty()) DatabaseError(SNoTableName);
  TLedgerDatabase& database = *Database();
  auto cursor = std::make_unique<TDataCursor>(*database.Handle());
  cursor->SetTableName(tableName_);
  cursor->SetExclusive(exclusive_);
  cursor->SetReadOnly(readOnly_);
  cursor->SetInMemory(inMemory_);
  TLedgerSession* session = database.Session();
  cursor->SetPasswordCallback([session] { return session->GetPassword(); });
  cursor->Open();
  readOnly_ = cursor->ReadOnly();
  if (!indexName_.empty() || !indexFieldNames_.empty()) cursor->SwitchToIndex(ChosenIndexName(*cursor));
  return cursor;
}

void TLedgerTable::InternalOpen() {
  TLedgerDataSet::InternalOpen();
  UpdateIndexDefs();
}

void TLedgerTable::UpdateIndexDefs() {
  indexDefs_.Clear();
  TDataCursor& cursor = *Handle();
  for (int slot = 0; slot <= cursor.SecondaryIndexCount(); ++slot) {
    const TIndexDesc& desc = cursor.IndexDescriptor(slot);
    if (!desc.Defined()) continue;
    dataset::TIndexDef def;
    def.Name = desc.name;
    def.Fields = IndexFieldList(cursor, desc);
    def.Primary = slot == 0;
    def.Unique = desc.unique;
    def.Descending = desc.descending;
    def.CaseInsensitive = desc.caseInsensitive;
    indexDefs_.Add(std::move(def));
  }
}

void TLedgerTable::ResetKeyBuffer() {
  TKeyBuffer& key = KeyBuffer(currentKey_);
  Handle()->BlankRecord(key.image);
  key.modified = false;
  key.fieldCount = 0;
}

void TLedgerTable::SetKey() {
  CheckBrowseMode();
  if (IndexFieldCount() == 0) DatabaseError(SNoFieldIndexes);
  currentKey_ = 0;
  ResetKeyBuffer();
  SetTempState(dataset::dsSetKey);
}

void TLedgerTable::SetKeyFields(std::span<const dataset::TFieldData> values) {
  if (IndexFieldCount() == 0) DatabaseError(SNoFieldIndexes);
  const dataset::TDataSetState previous = SetTempState(dataset::dsSetKey);
  try {
    currentKey_ = 0;
    ResetKeyBuffer();
    if (values.size() > static_cast<std::size_t>(IndexFieldCount())) DatabaseError(SFieldIndexError);
    for (std::size_t i = 0; i < values.size(); ++i) {
      const int fieldNo = IndexField(static_cast<int>(i));
      dataset::TField* field = FieldByNumber(fieldNo);
      if (!field) DatabaseErrorFmt(SIndexFieldMissing, {Handle()->Field(fieldNo).name});
      field->SetValue(values[i]);
    }
    TKeyBuffer& key = KeyBuffer(currentKey_);
    key.fieldCount = static_cast<int32_t>(values.size());
    key.modified = true;
  } catch (...) {
    RestoreState(previous);
    throw;
  }
  RestoreState(previous);
}

bool TLedgerTable::GotoKey() {
  CheckBrowseMode();
  TDataCursor& cursor = *Handle();
  const TKeyBuffer& key = KeyBuffer(0);
  return DoGotoKey([&] {
    if (cursor.PhysicalOrder()) return false;
    std::vector<uint8_t> search(
        std::max<std::size_t>(kMaxKeyPartsSize, cursor.ActiveIndexDescriptor().keyLength), 0);
    cursor.BuildKey(key.image, search.data());
    return cursor.FindKey(search.data(), key.fieldCount);
  });
}

bool TLedgerTable::FindKey(std::span<const dataset::TFieldData> values) {
  CheckBrowseMode();
  SetKeyFields(values);
  return GotoKey();
}

}  // namespace ledger
