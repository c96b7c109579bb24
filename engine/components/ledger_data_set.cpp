#include "engine/components/ledger_data_set.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "dataset/database_error.h"
#include "engine/components/component_messages.h"
#include "engine/components/ledger_blob_stream.h"
#include "engine/components/ledger_database.h"
#include "engine/components/ledger_session.h"
#include "engine/public/errors.h"

namespace ledger {

using dataset::DatabaseError;
using dataset::DatabaseErrorFmt;
using dataset::TFieldData;
using dataset::TGetMode;
using dataset::TGetResult;

namespace {

constexpr int kKeyBufferCount = 6;
constexpr int kRecordInfoSize = 5;  // record number, bookmark flag
constexpr uint8_t kBookmarkCurrent = 0;
// Where a hidden field is marked in a descriptor's reserved bytes.
constexpr std::size_t kHiddenFieldByte = field_desc::kHidden - field_desc::kReserved;

TFieldData ToFieldData(const TFieldValue& value, const dataset::TField& field, bool& isNull) {
  isNull = false;
  if (std::holds_alternative<std::monostate>(value)) {
    isNull = true;
    return {};
  }
  if (auto s = std::get_if<std::string>(&value)) {
    std::string text = s->substr(0, s->find('\0'));
    if (field.Size() > 0 && text.size() > static_cast<std::size_t>(field.Size()))
      text.resize(static_cast<std::size_t>(field.Size()));
    // An empty text is stored as null and reads as null.
    isNull = text.empty();
    return text;
  }
  if (auto b = std::get_if<bool>(&value)) return *b;
  if (auto i = std::get_if<int64_t>(&value)) return *i;
  if (auto d = std::get_if<double>(&value)) return *d;
  if (auto bcd = std::get_if<TBcd>(&value)) return BcdToText(*bcd);
  if (auto bytes = std::get_if<std::vector<uint8_t>>(&value)) return *bytes;
  // A blob reference: present, but its content comes through a stream.
  return {};
}

TFieldValue ToEngineValue(const TFieldData& value, const TFieldDesc& desc, const std::string& name) {
  if (std::holds_alternative<std::monostate>(value)) return std::monostate{};
  if (auto s = std::get_if<std::string>(&value)) {
    if (desc.type == ftBCD) {
      TBcd bcd;
      if (!BcdFromText(*s, bcd)) DatabaseErrorFmt(dataset::SInvalidValue, {*s, name});
      return bcd;
    }
    return *s;
  }
  if (auto b = std::get_if<bool>(&value)) return *b;
  if (auto i = std::get_if<int64_t>(&value)) return *i;
  if (auto d = std::get_if<double>(&value)) return *d;
  return std::get<std::vector<uint8_t>>(value);
}

struct TMappedType {
  dataset::TFieldType type = dataset::ftUnknown;
  int size = 0;
  int precision = 0;
};

// The framework's type of an engine field; ftUnknown adds no definition.
TMappedType MapFieldType(const TFieldDesc& d) {
  namespace ds = dataset;
  switch (d.type) {
    case 1: return {d.subtype == fstFixedChar ? ds::ftFixedChar : ds::ftString, d.size};
    case 2: return {ds::ftDate};
    case 3:
      switch (d.subtype) {
        case fstMemo: return {ds::ftMemo};
        case fstFormattedMemo: return {ds::ftFmtMemo};
        case fstGraphic: return {ds::ftGraphic};
        case fstTypedBinary: return {ds::ftTypedBinary};
        default: return {ds::ftBlob};
      }
    case 4: return {ds::ftBoolean};
    case 5: return {ds::ftSmallint};
    case 6: return {d.subtype == fstAutoInc ? ds::ftAutoInc : ds::ftInteger};
    case 7: return {d.subtype == fstMoney ? ds::ftCurrency : ds::ftFloat};
    case 8: return {ds::ftBCD, d.scale, 32};
    case 9: return {ds::ftBytes, d.size};
    case 10: return {ds::ftTime};
    case 11: return {ds::ftDateTime};
    case 12: return {ds::ftWord};
    case 13: return {ds::ftInteger};
    case 15: return {ds::ftVarBytes, d.size};
    case 18:
    case 19: return {ds::ftLargeint};
    case 20: return {ds::ftADT};
    case 21: return {ds::ftArray};
    case 22: return {ds::ftReference};
    case 23: return {ds::ftDataSet};
    default: return {};
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// TLedgerDataSet

TLedgerDataSet::TLedgerDataSet() = default;

TLedgerDataSet::~TLedgerDataSet() {
  try {
    Close();
  } catch (...) {
  }
  DetachStreams();
}

std::string TLedgerDataSet::EngineVersion() const { return kEngineVersionText; }

void TLedgerDataSet::OpenCursor() {
  cursor_ = CreateHandle();
  if (!cursor_) DatabaseError(SHandleError);
  TDataSet::OpenCursor();
}

void TLedgerDataSet::CloseCursor() {
  DetachStreams();
  std::exception_ptr failure;
  try {
    TDataSet::CloseCursor();
  } catch (...) {
    failure = std::current_exception();
  }
  try {
    DestroyHandle();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  if (failure) std::rethrow_exception(failure);
}

void TLedgerDataSet::DestroyHandle() {
  // Moved out first, so the cursor is freed even when closing it raises.
  std::unique_ptr<TDataCursor> cursor = std::move(cursor_);
  if (cursor) cursor->Close();
}

void TLedgerDataSet::InternalInitFieldDefs() {
  dataset::TFieldDefs& defs = FieldDefs();
  defs.Clear();
  for (int n = 1; n <= cursor_->FieldCount(); ++n) {
    const TFieldDesc& d = cursor_->Field(n);
    if (d.reserved[kHiddenFieldByte] != 0) continue;
    const TMappedType mapped = MapFieldType(d);
    if (mapped.type == dataset::ftUnknown) continue;
    std::string name = d.name;
    for (int i = 1; defs.IndexOf(name) >= 0; ++i) name = d.name + "_" + std::to_string(i);
    dataset::TFieldDef& def = defs.Add(name, mapped.type, mapped.size, d.required);
    def.FieldNo = n;
    def.Precision = mapped.precision;
  }
}

void TLedgerDataSet::InternalOpen() {
  recordSize_ = cursor_->RecordSize();
  bookmarkSize_ = cursor_->BookmarkSize();
  calcFieldsSize_ = 0;
  canModify_ = !cursor_->ReadOnly();
  InternalInitFieldDefs();
  GetIndexInfo();
  CreateFields();
  for (int i = 0; i < FieldCount(); ++i) {
    dataset::TField& field = Fields(i);
    if (field.FieldNo() <= 0) continue;
    if (autoDisplayLabels_) field.SetDisplayLabel(cursor_->Field(field.FieldNo()).description);
    field.SetOrigin(cursor_->FieldOrigin(field.FieldNo()));
  }
  keyBuffers_.assign(kKeyBufferCount, TKeyBuffer{});
  for (TKeyBuffer& key : keyBuffers_) {
    key.image.assign(static_cast<std::size_t>(recordSize_), 0);
    cursor_->BlankRecord(key.image);
  }
  oldBuffer_.assign(RecordBufferSize(), 0);
  cursor_->SetToBeginning();
  AfterOpenHook();
}

void TLedgerDataSet::InternalClose() {
  keyBuffers_.clear();
  oldBuffer_.clear();
  DestroyFields();
  indexFields_.clear();
  indexCaseInsensitive_ = false;
  indexKeyLength_ = 0;
}

void TLedgerDataSet::InternalFirst() { cursor_->SetToBeginning(); }

void TLedgerDataSet::InternalLast() { cursor_->SetToEnd(); }

TGetResult TLedgerDataSet::GetRecord(uint8_t* buffer, TGetMode mode, bool doCheck) {
  if (!cursor_) return TGetResult::grError;
  // The blob handle in a buffer's image is its streams' only way back to
  // their blob; overwritten, the blob could never be let go.
  if (!streams_.empty()) DetachStreamsOn(buffer);
  int code;
  try {
    switch (mode) {
      case TGetMode::gmCurrent: code = cursor_->Current(buffer); break;
      case TGetMode::gmNext: code = cursor_->Next(buffer); break;
      default: code = cursor_->Prior(buffer); break;
    }
  } catch (const ELedgerEngineError&) {
    // Raised as it came: its context names more than the code alone would.
    if (doCheck) throw;
    return TGetResult::grError;
  }
  switch (code) {
    case kStatusOk: {
      uint8_t* info = buffer + recordSize_ + calcFieldsSize_;
      std::memset(buffer + recordSize_, 0, static_cast<std::size_t>(calcFieldsSize_));
      const int32_t recNo = cursor_->RecordNumber();
      std::memcpy(info, &recNo, sizeof recNo);
      info[4] = kBookmarkCurrent;
      const std::vector<uint8_t> bookmark = cursor_->Bookmark();
      std::memcpy(info + kRecordInfoSize, bookmark.data(),
                  std::min(bookmark.size(), static_cast<std::size_t>(bookmarkSize_)));
      return TGetResult::grOK;
    }
    case kStatusBeginning: return TGetResult::grBOF;
    case kStatusEnd: return TGetResult::grEOF;
    default:
      if (doCheck) cursor_->RaiseStatus(code);
      return TGetResult::grError;
  }
}

void TLedgerDataSet::InternalSetToRecord(uint8_t* buffer) {
  cursor_->GoToBookmark(buffer + recordSize_ + calcFieldsSize_ + kRecordInfoSize);
}

void TLedgerDataSet::InternalGotoRecNo(int32_t value) { cursor_->GoToPosition(value); }

int32_t TLedgerDataSet::GetRecNo() {
  const uint8_t* buffer = State() == dataset::dsCalcFields ? nullptr : ActiveBuffer();
  if (!buffer) return 0;
  int32_t recNo;
  std::memcpy(&recNo, buffer + recordSize_ + calcFieldsSize_, sizeof recNo);
  return recNo;
}

int32_t TLedgerDataSet::GetRecordCount() { return cursor_ ? cursor_->RecordCount() : 0; }

std::size_t TLedgerDataSet::RecordBufferSize() const {
  return static_cast<std::size_t>(recordSize_ + calcFieldsSize_ + kRecordInfoSize + bookmarkSize_);
}

void TLedgerDataSet::InternalRefresh() {
  ++refreshes_;
  cursor_->Refresh();
}

bool TLedgerDataSet::IsSequenced() { return cursor_ && !cursor_->PhysicalOrder(); }

uint8_t* TLedgerDataSet::RecordImage() noexcept {
  switch (State()) {
    case dataset::dsSetKey:
      return keyBuffers_.empty() ? nullptr : keyBuffers_[static_cast<std::size_t>(currentKey_)].image.data();
    case dataset::dsOldValue:
      return oldBuffer_.empty() ? nullptr : oldBuffer_.data();
    case dataset::dsCalcFields:
    case dataset::dsInactive:
      return nullptr;
    default:
      return ActiveBuffer();
  }
}

void TLedgerDataSet::GetIndexInfo() {
  indexFields_.clear();
  indexCaseInsensitive_ = false;
  indexKeyLength_ = 0;
  if (!cursor_ || cursor_->PhysicalOrder()) return;
  const TIndexDesc& desc = cursor_->ActiveIndexDescriptor();
  for (int i = 0; i < desc.fieldCount && i < kMaxKeyFields; ++i) indexFields_.push_back(desc.fields[static_cast<std::size_t>(i)]);
  indexCaseInsensitive_ = desc.caseInsensitive;
  indexKeyLength_ = desc.keyLength;
}

void TLedgerDataSet::IndexChanged() {
  DetachStreams();
  bookmarkSize_ = cursor_->BookmarkSize();
  GetIndexInfo();
  oldBuffer_.assign(RecordBufferSize(), 0);
  ReallocateBuffers();
  Resync();
}

bool TLedgerDataSet::IsIndexField(const dataset::TField& field) const {
  return std::find(indexFields_.begin(), indexFields_.end(), field.FieldNo()) != indexFields_.end();
}

TFieldValue TLedgerDataSet::EngineValue(int fieldNo) {
  uint8_t* image = RecordImage();
  if (!image || !cursor_) return std::monostate{};
  return cursor_->FieldValue(fieldNo, ImageSpan(image));
}

bool TLedgerDataSet::GetFieldData(const dataset::TField& field, TFieldData* value) {
  uint8_t* image = RecordImage();
  if (!image || !cursor_ || field.FieldNo() <= 0) return false;
  bool isNull = false;
  TFieldData data = ToFieldData(cursor_->FieldValue(field.FieldNo(), ImageSpan(image)), field, isNull);
  if (isNull) return false;
  if (value) *value = std::move(data);
  return true;
}

void TLedgerDataSet::SetFieldData(dataset::TField& field, const TFieldData& value) {
  if (field.ReadOnly() && State() != dataset::dsSetKey) DatabaseErrorFmt(SFieldReadOnly, {field.FieldName()});
  switch (State()) {
    case dataset::dsSetKey: break;
    case dataset::dsOldValue: DatabaseErrorFmt(SFieldReadOnly, {field.FieldName()});
    default: DatabaseError(SNotEditing);
  }
  const auto position = std::find(indexFields_.begin(), indexFields_.end(), field.FieldNo());
  if (position == indexFields_.end()) DatabaseErrorFmt(SNotIndexField, {field.FieldName()});
  TKeyBuffer& key = keyBuffers_.at(static_cast<std::size_t>(currentKey_));
  const TFieldDesc& desc = cursor_->Field(field.FieldNo());
  try {
    cursor_->PutField(field.FieldNo(), key.image, ToEngineValue(value, desc, field.FieldName()));
  } catch (const std::invalid_argument&) {
    DatabaseErrorFmt(dataset::SInvalidValue, {dataset::FieldDataToString(value), field.FieldName()});
  }
  key.modified = true;
  // Key entry is the lookup's own business: bound controls hear of the
  // lookup's outcome, not of the values it searches for.
  key.fieldCount = std::max(key.fieldCount, static_cast<int32_t>(position - indexFields_.begin() + 1));
}

uint8_t* TLedgerDataSet::OpenBlob(int fieldNo, const std::string& fieldName, TBlobOpenMode mode,
                                  uint32_t& size) {
  for (bool retried = false;; retried = true) {
    uint8_t* image = RecordImage();
    if (!image || !cursor_) return nullptr;
    int code;
    try {
      code = cursor_->OpenBlob(fieldNo, ImageSpan(image), mode, size);
    } catch (const ELedgerEngineError& e) {
      if (e.ErrorCode() != LEDGER_KEYORRECDELETED || mode != TBlobOpenMode::Read || retried) throw;
      code = LEDGER_KEYORRECDELETED;
    }
    if (code == kStatusOk) return image;
    // Another process changed the record under us: see it anew, once.
    if (code == LEDGER_KEYORRECDELETED && mode == TBlobOpenMode::Read && !retried) {
      Refresh();
      continue;
    }
    cursor_->RaiseStatus(code, fieldName);
  }
}

std::unique_ptr<dataset::TStream> TLedgerDataSet::CreateBlobStream(const dataset::TField& field,
                                                                   dataset::TBlobStreamMode mode) {
  if (!field.IsBlob()) DatabaseErrorFmt(dataset::SNotBlobField, {field.FieldName()});
  return std::make_unique<TLedgerBlobStream>(field, mode);
}

std::vector<uint8_t> TLedgerDataSet::GetBlobFieldData(const dataset::TField& field) {
  std::vector<uint8_t> data;
  for (bool retried = false;; retried = true) {
    uint8_t* image = RecordImage();
    if (!image || !cursor_) return {};
    int code;
    try {
      code = cursor_->ReadWholeBlob(field.FieldNo(), ImageSpan(image), data);
    } catch (const ELedgerEngineError& e) {
      if (e.ErrorCode() != LEDGER_KEYORRECDELETED || retried) throw;
      code = LEDGER_KEYORRECDELETED;
    }
    if (code == kStatusOk) return data;
    // Another process changed the record under us: see it anew, once.
    if (code == LEDGER_KEYORRECDELETED && !retried) {
      Refresh();
      continue;
    }
    cursor_->RaiseStatus(code, field.FieldName());
  }
}

void TLedgerDataSet::AddStream(TLedgerBlobStream& stream) { streams_.push_back(&stream); }

void TLedgerDataSet::RemoveStream(TLedgerBlobStream& stream) noexcept {
  streams_.erase(std::remove(streams_.begin(), streams_.end(), &stream), streams_.end());
}

void TLedgerDataSet::DetachStreamsOn(const uint8_t* buffer) noexcept {
  const std::vector<TLedgerBlobStream*> streams = streams_;
  for (TLedgerBlobStream* stream : streams) {
    if (stream->image_ != buffer) continue;
    RemoveStream(*stream);
    stream->Detach();
  }
}

void TLedgerDataSet::DetachStreams() noexcept {
  const std::vector<TLedgerBlobStream*> streams = std::move(streams_);
  streams_.clear();
  for (TLedgerBlobStream* stream : streams) stream->Detach();
}

// ---------------------------------------------------------------------------
// TLedgerDBDataSet

TLedgerDBDataSet::TLedgerDBDataSet(const void* owner) : owner_(owner) {
  TLedgerSessionList::Instance().Register(*this);
}

TLedgerDBDataSet::~TLedgerDBDataSet() {
  try {
    Close();
  } catch (...) {
  }
  TLedgerSessionList::Instance().Unregister(*this);
}

void TLedgerDBDataSet::SetDatabaseName(const std::string& value) {
  if (database_) DatabaseError(SDatabaseOpen);
  CheckInactive();
  std::string name = value;
  std::replace(name.begin(), name.end(), '\\', '/');
  databaseName_ = std::move(name);
  DatabaseNameChanged();
  DataEvent(dataset::dePropertyChange);
}

void TLedgerDBDataSet::SetSessionName(const std::string& value) {
  if (database_) DatabaseError(SDatabaseOpen);
  CheckInactive();
  sessionName_ = value;
  DataEvent(dataset::dePropertyChange);
}

TLedgerSession& TLedgerDBDataSet::DBSession() const {
  return TLedgerSessionList::Instance().GetSession(sessionName_);
}

void TLedgerDBDataSet::SetDBFlag(TDBFlag flag, bool value) {
  if (value) {
    if (dbFlags_ & flag) return;
    if (dbFlags_ == 0) {
      TLedgerDatabase& database = DBSession().OpenDatabase(databaseName_, owner_);
      database.AddDataSet(*this);
      database_ = &database;
    }
    dbFlags_ |= flag;
  } else {
    if (!(dbFlags_ & flag)) return;
    dbFlags_ &= ~static_cast<unsigned>(flag);
    if (dbFlags_ != 0 || !database_) return;
    TLedgerDatabase* database = database_;
    database_ = nullptr;
    database->RemoveDataSet(*this);
    database->Session()->CloseDatabase(*database);
  }
}

void TLedgerDBDataSet::OpenCursor() {
  SetDBFlag(dbfOpened, true);
  TLedgerDataSet::OpenCursor();
}

void TLedgerDBDataSet::CloseCursor() {
  try {
    TLedgerDataSet::CloseCursor();
  } catch (...) {
    SetDBFlag(dbfOpened, false);
    throw;
  }
  SetDBFlag(dbfOpened, false);
}

}  // namespace ledger
