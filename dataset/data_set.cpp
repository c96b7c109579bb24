#include "dataset/data_set.h"

#include <algorithm>
#include <cstring>

#include "dataset/data_source.h"
#include "dataset/database_error.h"
#include "dataset/stream.h"

namespace dataset {

TDataSet::TDataSet() = default;

TDataSet::~TDataSet() {
  // The sources outlive us more often than not; leave them pointing nowhere.
  while (!sources_.empty()) sources_.back()->SetDataSet(nullptr);
}

void TDataSet::SetActive(bool value) {
  if (value == Active()) return;
  if (value)
    DoOpen();
  else
    DoClose();
}

void TDataSet::DoOpen() {
  if (BeforeOpen) BeforeOpen(*this);
  try {
    OpenCursor();
    ReallocateBuffers();
    state_ = dsBrowse;
    InternalFirst();
    Fetch(TGetMode::gmNext, true);
    bof_ = true;
    eof_ = !hasRecord_;
  } catch (...) {
    state_ = dsInactive;
    ClearBuffers();
    try {
      CloseCursor();
    } catch (...) {
      // The open's own failure is the one worth reporting.
    }
    throw;
  }
  DataEvent(deUpdateState);
  if (AfterOpen) AfterOpen(*this);
}

void TDataSet::DoClose() {
  if (BeforeClose) BeforeClose(*this);
  std::exception_ptr failure;
  try {
    CloseCursor();
  } catch (...) {
    failure = std::current_exception();
  }
  ClearBuffers();
  state_ = dsInactive;
  DataEvent(deUpdateState);
  if (AfterClose) AfterClose(*this);
  if (failure) std::rethrow_exception(failure);
}

void TDataSet::ClearBuffers() noexcept {
  active_.clear();
  spare_.clear();
  hasRecord_ = false;
  bof_ = eof_ = true;
  cursorPosChanged_ = false;
}

void TDataSet::ReallocateBuffers() {
  const std::size_t size = RecordBufferSize();
  // Zero-filled, so a buffer never shows bytes of an earlier record.
  active_.assign(size, 0);
  spare_.assign(size, 0);
  hasRecord_ = false;
}

TGetResult TDataSet::Fetch(TGetMode mode, bool doCheck) {
  const TGetResult result = GetRecord(spare_.data(), mode, doCheck);
  if (result == TGetResult::grOK) {
    active_.swap(spare_);
    hasRecord_ = true;
  }
  return result;
}

void TDataSet::UpdateCursorPos() {
  if (cursorPosChanged_ && hasRecord_) InternalSetToRecord(active_.data());
  cursorPosChanged_ = false;
}

void TDataSet::Resync() {
  TGetResult result = Fetch(TGetMode::gmCurrent, false);
  if (result != TGetResult::grOK) result = Fetch(TGetMode::gmNext, true);
  if (result != TGetResult::grOK) result = Fetch(TGetMode::gmPrior, true);
  if (result != TGetResult::grOK) hasRecord_ = false;
  bof_ = eof_ = !hasRecord_;
  cursorPosChanged_ = false;
  DataEvent(deDataSetChange);
}

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  InternalFirst();
  if (Fetch(TGetMode::gmNext, true) != TGetResult::grOK) hasRecord_ = false;
  bof_ = true;
  eof_ = !hasRecord_;
  cursorPosChanged_ = false;
  DataEvent(deDataSetChange);
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  InternalLast();
  if (Fetch(TGetMode::gmPrior, true) != TGetResult::grOK) hasRecord_ = false;
  eof_ = true;
  bof_ = !hasRecord_;
  cursorPosChanged_ = false;
  DataEvent(deDataSetChange);
  DoAfterScroll();
}

void TDataSet::Next() {
  CheckBrowseMode();
  if (eof_) return;
  DoBeforeScroll();
  UpdateCursorPos();
  if (Fetch(TGetMode::gmNext, true) == TGetResult::grOK) {
    bof_ = false;
    DataEvent(deDataSetScroll);
  } else {
    eof_ = true;
    // The cursor now stands past the shown record.
    cursorPosChanged_ = true;
  }
  DoAfterScroll();
}

void TDataSet::Prior() {
  CheckBrowseMode();
  if (bof_) return;
  DoBeforeScroll();
  UpdateCursorPos();
  if (Fetch(TGetMode::gmPrior, true) == TGetResult::grOK) {
    eof_ = false;
    DataEvent(deDataSetScroll);
  } else {
    bof_ = true;
    cursorPosChanged_ = true;
  }
  DoAfterScroll();
}

int32_t TDataSet::RecordCount() {
  CheckActive();
  return GetRecordCount();
}

int32_t TDataSet::RecNo() { return Active() ? GetRecNo() : 0; }

void TDataSet::SetRecNo(int32_t value) {
  CheckBrowseMode();
  if (value == GetRecNo()) return;
  DoBeforeScroll();
  InternalGotoRecNo(value);
  Resync();
  DoAfterScroll();
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  if (BeforeRefresh) BeforeRefresh(*this);
  UpdateCursorPos();
  InternalRefresh();
  Resync();
  if (AfterRefresh) AfterRefresh(*this);
}

bool TDataSet::DoGotoKey(const std::function<bool()>& findOnCursor) {
  CheckBrowseMode();
  DoBeforeScroll();
  CursorPosChanged();
  if (!findOnCursor()) return false;
  Resync();
  DoAfterScroll();
  return true;
}

void TDataSet::DoBeforeScroll() {
  if (BeforeScroll) BeforeScroll(*this);
}

void TDataSet::DoAfterScroll() {
  if (AfterScroll) AfterScroll(*this);
}

TDataSetState TDataSet::SetTempState(TDataSetState state) noexcept {
  const TDataSetState old = state_;
  state_ = state;
  return old;
}

void TDataSet::CheckActive() const {
  if (!Active()) DatabaseError(SDataSetClosed);
}

void TDataSet::CheckInactive() const {
  if (Active()) DatabaseError(SDataSetOpen);
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  if (state_ == dsSetKey) Cancel();
  DataEvent(deCheckBrowseMode);
}

void TDataSet::Cancel() {
  if (state_ == dsSetKey) state_ = dsBrowse;
}

void TDataSet::Edit() { DatabaseError(SEditingNotSupported); }
void TDataSet::Insert() { DatabaseError(SEditingNotSupported); }
void TDataSet::Append() { DatabaseError(SEditingNotSupported); }
void TDataSet::Post() { DatabaseError(SEditingNotSupported); }
void TDataSet::Delete() { DatabaseError(SEditingNotSupported); }

void TDataSet::SetFieldData(TField&, const TFieldData&) { DatabaseError(SNotEditing); }

std::unique_ptr<TStream> TDataSet::CreateBlobStream(const TField& field, TBlobStreamMode) {
  DatabaseErrorFmt(SNotBlobField, {field.FieldName()});
}

std::vector<uint8_t> TDataSet::GetBlobFieldData(const TField& field) {
  std::unique_ptr<TStream> stream = CreateBlobStream(field, TBlobStreamMode::bmRead);
  TMemoryStream memory;
  memory.CopyFrom(*stream);
  return memory.TakeBytes();
}

TField* TDataSet::FindField(std::string_view name) const noexcept {
  for (const auto& field : fields_)
    if (SameText(field->FieldName(), name)) return field.get();
  return nullptr;
}

TField& TDataSet::FieldByName(std::string_view name) const {
  TField* field = FindField(name);
  if (!field) DatabaseErrorFmt(SFieldNotFound, {name});
  return *field;
}

TField* TDataSet::FieldByNumber(int fieldNo) const noexcept {
  for (const auto& field : fields_)
    if (field->FieldNo() == fieldNo) return field.get();
  return nullptr;
}

void TDataSet::CreateFields() {
  fields_.clear();
  for (const TFieldDef& def : fieldDefs_) {
    if (IsBlobType(def.DataType))
      fields_.push_back(std::make_unique<TBlobField>(*this, def));
    else
      fields_.push_back(std::make_unique<TField>(*this, def));
  }
}

void TDataSet::DestroyFields() noexcept { fields_.clear(); }

void TDataSet::AddDataSource(TDataSource* source) {
  if (std::find(sources_.begin(), sources_.end(), source) == sources_.end())
    sources_.push_back(source);
}

void TDataSet::RemoveDataSource(TDataSource* source) noexcept {
  sources_.erase(std::remove(sources_.begin(), sources_.end(), source), sources_.end());
}

void TDataSet::DataEvent(TDataEvent event, TField* field) {
  // A handler may rebind or destroy sources while we walk them.
  const std::vector<TDataSource*> sources = sources_;
  for (TDataSource* source : sources)
    if (std::find(sources_.begin(), sources_.end(), source) != sources_.end())
      source->DataEvent(event, field);
}

}  // namespace dataset
