#include "engine/components/ledger_blob_stream.h"

#include <algorithm>
#include <limits>

#include "dataset/database_error.h"
#include "engine/components/component_messages.h"
#include "engine/components/ledger_data_set.h"
#include "engine/public/errors.h"

namespace ledger {

using dataset::DatabaseError;
using dataset::DatabaseErrorFmt;

TLedgerBlobStream::TLedgerBlobStream(const dataset::TField& field, dataset::TBlobStreamMode mode)
    : fieldName_(field.FieldName()), fieldNo_(field.FieldNo()) {
  auto* dataSet = dynamic_cast<TLedgerDataSet*>(&field.DataSet());
  if (!dataSet) DatabaseErrorFmt(SNotLedgerDataSet, {fieldName_});
  if (mode != dataset::TBlobStreamMode::bmRead) {
    if (!field.CanModify()) DatabaseErrorFmt(SFieldReadOnly, {fieldName_});
    if (dataSet->State() != dataset::dsEdit && dataSet->State() != dataset::dsInsert)
      DatabaseError(SNotEditing);
  }
  uint32_t size = 0;
  image_ = dataSet->OpenBlob(fieldNo_, fieldName_, TBlobOpenMode::Read, size);
  if (!image_) return;  // no record shown: an empty, unopened stream
  dataSet_ = dataSet;
  opened_ = true;
  dataSet_->AddStream(*this);
}

TLedgerBlobStream::~TLedgerBlobStream() {
  if (dataSet_) dataSet_->RemoveStream(*this);
  Detach();
}

void TLedgerBlobStream::Detach() noexcept {
  if (opened_ && dataSet_ && dataSet_->Handle()) {
    // The answer only matters to editing, which never wrote to this blob.
    dataSet_->Handle()->ReleaseBlob(fieldNo_, dataSet_->ImageSpan(image_));
  }
  opened_ = false;
  dataSet_ = nullptr;
  image_ = nullptr;
}

int64_t TLedgerBlobStream::Read(void* buffer, int64_t count) {
  if (!opened_ || count <= 0) return 0;
  // Blob offsets are 32-bit: a position outside them lies past every blob,
  // and a count is cut so offset + count cannot wrap.
  constexpr int64_t kLimit = std::numeric_limits<uint32_t>::max();
  if (position_ < 0 || position_ >= kLimit) return 0;
  const auto wanted = static_cast<uint32_t>(std::min(count, kLimit - position_));
  TDataCursor& cursor = *dataSet_->Handle();
  uint32_t copied = 0;
  const int code = cursor.ReadBlob(fieldNo_, dataSet_->ImageSpan(image_), static_cast<uint32_t>(position_),
                                   wanted, static_cast<uint8_t*>(buffer), copied);
  switch (code) {
    case kStatusOk:
    case LEDGER_ENDOFBLOB:
      position_ += copied;
      return copied;
    case LEDGER_INVALIDBLOBOFFSET:
      return 0;
    default:
      cursor.RaiseStatus(code, fieldName_);
  }
}

int64_t TLedgerBlobStream::Write(const void*, int64_t) {
  DatabaseErrorFmt(SFieldReadOnly, {fieldName_});
}

uint32_t TLedgerBlobStream::BlobSize() {
  if (!opened_) return 0;
  uint32_t size = 0;
  TDataCursor& cursor = *dataSet_->Handle();
  const int code = cursor.BlobSize(fieldNo_, dataSet_->ImageSpan(image_), size);
  if (code != kStatusOk) cursor.RaiseStatus(code, fieldName_);
  return size;
}

int64_t TLedgerBlobStream::Seek(int64_t offset, dataset::TSeekOrigin origin) {
  switch (origin) {
    case dataset::TSeekOrigin::soBeginning: position_ = offset; break;
    case dataset::TSeekOrigin::soCurrent: position_ += offset; break;
    case dataset::TSeekOrigin::soEnd: position_ = offset + BlobSize(); break;
  }
  return position_;
}

}  // namespace ledger
