// Opening and closing, fields and indexes, keys and field values. The steps
// of the other operations: the files data_cursor_impl.h names.

#include "engine/core/data_cursor_impl.h"
#include "engine/files/ascii_text.h"

namespace ledger {

namespace {

constexpr std::size_t kOriginLength = 100;

// Field values are short: the inline block copy a compiler picks for a size
// it knows to be below 256 takes longer to start than such a copy takes.
void CopyValue(uint8_t* to, const uint8_t* from, std::size_t n) {
  if (n >= 32) {
    for (std::size_t k = 0; k + 32 < n; k += 32) std::memcpy(to + k, from + k, 32);
    std::memcpy(to + n - 32, from + n - 32, 32);
  } else if (n >= 16) {
    std::memcpy(to, from, 16);
    std::memcpy(to + n - 16, from + n - 16, 16);
  } else if (n >= 8) {
    std::memcpy(to, from, 8);
    std::memcpy(to + n - 8, from + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(to, from, 4);
    std::memcpy(to + n - 4, from + n - 4, 4);
  } else {
    for (std::size_t k = 0; k < n; ++k) to[k] = from[k];
  }
}

}  // namespace

// ---------------------------------------------------------------- life

TDataCursor::TDataCursor(TDataDirectory& directory)
    : directory_(directory), impl_(std::make_unique<TImpl>(*this)) {}

TDataCursor::~TDataCursor() {
  try {
    Close();
  } catch (...) {
    // Destruction cannot report; the table has been released as far as it could be.
  }
}

void TDataCursor::SetTableName(std::string_view name) {
  std::size_t slash = name.find_last_of("/\\");
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  if (name.size() >= 4 && SameAsciiText(name.substr(name.size() - 4), ".DAT")) name.remove_suffix(4);
  tableName_.assign(name.substr(0, 255));
}

void TDataCursor::Open() {
  if (open_) return;
  TImpl& m = *impl_;
  table_ = &directory_.OpenTable(tableName_, inMemory_, exclusive_);
  open_ = true;
  try {
    TDataTable& table = *table_;
    readOnly_ = readOnly_ || table.ReadOnly();
    noLocking_ = table.NoLocking();

    // The table checked the headers under its read lock when it opened its
    // files for the first cursor; later cursors share what it found.

    const std::string password = table.Data().Password();
    if (!password.empty()) {
      TDataSession& session = directory_.Session();
      while (!session.HasPassword(password))
        if (!passwordCallback_ || !passwordCallback_()) m.Raise(LEDGER_NOTSUFFTABLERIGHTS);
    }

    m.lcid = table.Data().LocaleId();
    m.fields = table.Data().Fields();
    m.fitsRecord.clear();
    m.blobReferences.clear();
    for (const TFieldDesc& f : m.fields) {
      const bool fits = FieldFits(f, static_cast<std::size_t>(table.Data().RecordSize()));
      m.fitsRecord.push_back(fits);
      if (fits && f.type == ftBlob) m.blobReferences.push_back(f.ValueOffset() + blob_ref::kFirstBlock);
    }
    m.origins.clear();
    for (const TFieldDesc& f : m.fields) {
      std::string origin = tableName_ + "." + f.name;
      if (origin.size() > kOriginLength) origin.resize(kOriginLength);
      m.origins.push_back(std::move(origin));
    }

    current_.assign(static_cast<std::size_t>(table.Data().RecordSize()), 0);

    if (table.RebuildNeeded()) table.RebuildDeletedIndex();
    snapshot_ = table.Changes();

    m.view.Open(noIndex_ ? kNoIndex : 0);
    m.view.Refresh();
    SetToBeginning();
  } catch (...) {
    try {
      Close();
    } catch (...) {
    }
    throw;
  }
}

void TDataCursor::Close() {
  if (!open_) return;
  TImpl& m = *impl_;
  m.blobs.Clear();
  m.view.Close();
  m.fields.clear();
  m.fitsRecord.clear();
  m.blobReferences.clear();
  m.origins.clear();
  m.depth = 0;
  m.lockTaken = false;
  current_.clear();
  m.position.Clear();
  open_ = false;
  TDataTable* table = table_;
  table_ = nullptr;
  if (table) directory_.ReleaseTable(*table);
}

// ---------------------------------------------------------------- fields and indexes

int TDataCursor::FieldCount() const noexcept { return static_cast<int>(impl_->fields.size()); }

int TDataCursor::RecordSize() const noexcept { return static_cast<int>(current_.size()); }

const TFieldDesc& TDataCursor::Field(int number) const {
  if (number < 1 || number > FieldCount()) impl_->Raise(LEDGER_OUTOFRANGE, std::to_string(number));
  return impl_->fields[static_cast<std::size_t>(number - 1)];
}

int TDataCursor::FieldNumber(std::string_view name) const {
  int n = open_ ? table_->Data().FindField(name) : 0;
  if (n == 0) impl_->Raise(LEDGER_OUTOFRANGE, name);
  return n;
}

std::string TDataCursor::FieldOrigin(int number) const {
  Field(number);
  return impl_->origins[static_cast<std::size_t>(number - 1)];
}

int TDataCursor::SecondaryIndexCount() const noexcept {
  return open_ ? table_->Index().Header().secondaryCount : 0;
}

const TIndexDesc& TDataCursor::IndexDescriptor(int slot) const {
  if (!open_) throw std::logic_error("cursor is not open");
  return table_->Index().Descriptor(slot);
}

int TDataCursor::ActiveIndex() const noexcept { return impl_->view.ActiveIndex(); }

const TIndexDesc& TDataCursor::ActiveIndexDescriptor() const { return impl_->view.Descriptor(); }

bool TDataCursor::PhysicalOrder() const noexcept {
  return open_ ? impl_->view.Physical() : impl_->view.ActiveIndex() == kNoIndex;
}

bool TDataCursor::BitmapMode() const noexcept { return impl_->view.BitmapMode(); }

int TDataCursor::BookmarkSize() const noexcept { return PhysicalOrder() ? 4 : impl_->view.KeyLength(); }

void TDataCursor::SwitchToIndex(std::string_view name) {
  TImpl& m = *impl_;
  if (!open_) throw std::logic_error("cursor is not open");
  const std::string& activeName = m.view.ActiveIndex() == kNoIndex ? std::string() : m.view.Descriptor().name;
  if (SameAsciiText(name, activeName)) return;
  TImpl::TOp op(m);
  const TIndexFile& idx = table_->Index();
  int found = -1;
  for (int slot = 0; slot <= idx.Header().secondaryCount && slot <= kMaxSecondaryIndexes; ++slot)
    if (SameAsciiText(name, idx.Descriptor(slot).name)) {
      found = slot;
      break;
    }
  if (found < 0) m.Raise(LEDGER_INVALIDINDEXNAME, {}, name);

  // Where we stand, in terms the new order understands.
  const bool wasBeginning = m.position.AtBeginning(), wasEnd = m.position.AtEnd();
  const int32_t record = m.position.Record();
  std::vector<uint8_t> image = current_;

  m.view.SwitchTo(found);
  m.Guarded([&] {
    m.view.Refresh();
    if (wasBeginning || wasEnd) {
      m.Restore(TPlace{wasBeginning, wasEnd, {}});
    } else if (m.view.Physical()) {
      uint8_t bookmark[4];
      PutI32(bookmark, 0, record);
      m.position.GoToBookmark(bookmark);
    } else {
      const int keyLength = m.view.KeyLength();
      m.search.assign(static_cast<std::size_t>(keyLength), 0);
      m.view.KeyDef().Build(image, m.search.data());
      m.position.Seek(m.search.data(), keyLength);
    }
  });
  m.ReadCurrent(TMove::Jump);
  op.End();
}

// ---------------------------------------------------------------- keys

void TDataCursor::BuildKey(std::span<const uint8_t> image, uint8_t* key) const {
  const TCursorView& view = impl_->view;
  if (view.Physical() || view.KeyLength() == 0) return;
  if (image.size() < current_.size()) impl_->Raise(LEDGER_OUTOFRANGE);
  view.KeyDef().Build(image, key);
}

bool TDataCursor::FindKey(const uint8_t* key, int keyFields, int partialLength) {
  TImpl& m = *impl_;
  if (!open_) throw std::logic_error("cursor is not open");
  const TCursorView& view = m.view;
  if (view.Physical()) return false;
  TImpl::TOp op(m);
  const TIndexDesc& desc = view.Descriptor();
  const int k = view.KeyLength();
  m.search.assign(key, key + k);
  const int fieldCount = desc.fieldCount;
  keyFields = std::clamp(keyFields, 0, fieldCount);
  partialLength = std::max(partialLength, 0);
  const bool partial = (keyFields > 0 && keyFields < fieldCount) || !desc.unique ||
                       (keyFields == 0 && partialLength > 0);
  int n = k;
  if (partial) {
    n = 0;
    for (int i = 0; i < keyFields; ++i) {
      uint16_t number = desc.fields[static_cast<std::size_t>(i)];
      if (number >= 1 && number <= m.fields.size()) n += KeyPartSize(m.fields[number - 1u]) + 1;
    }
    if (partialLength > 0) n += partialLength + 1;
    n = std::min(n, k);
    // Only the first n bytes are compared; the fill keeps the key one that
    // sorts first among those sharing the prefix.
    std::fill(m.search.begin() + n, m.search.end(), desc.descending ? 0xFF : 0x00);
  }
  bool found = false;
  m.Guarded([&] {
    found = m.position.Seek(m.search.data(), n) &&
            view.KeyDef().Compare(m.position.CurrentKey(), m.search.data(), n) == 0;
  });
  m.ReadCurrent(TMove::Jump);
  op.End();
  return found;
}

// ---------------------------------------------------------------- field values

namespace {

void CheckImage(const TDataCursor& cursor, const TFieldDesc& d, std::size_t size) {
  if (!FieldFits(d, size)) cursor.RaiseStatus(LEDGER_OUTOFRANGE, d.name);
}

}  // namespace

bool TDataCursor::GetField(int number, std::span<const uint8_t> image, uint8_t* value) const {
  const TImpl& m = *impl_;
  // Called for every field of every record a scan delivers: a whole image
  // needs only the check made at open.
  const std::size_t i = static_cast<std::size_t>(number) - 1;
  const TFieldDesc* d = nullptr;
  if (i < m.fitsRecord.size() && m.fitsRecord[i] && image.size() >= current_.size()) {
    d = &m.fields[i];
  } else {
    d = &Field(number);
    CheckImage(*this, *d, image.size());
  }
  if (d->IsAutoInc()) {
    if (value) std::memcpy(value, image.data() + kAutoIncOffset, 4);
    return true;
  }
  // Copied even when null: a blob's open handle lives there whatever its size.
  if (value) CopyValue(value, image.data() + d->ValueOffset(), d->physicalSize);
  return image[d->offset] != 0;
}

TFieldValue TDataCursor::FieldValue(int number, std::span<const uint8_t> image) const {
  const TFieldDesc& d = Field(number);
  CheckImage(*this, d, image.size());
  return ReadValue(image, d);
}

void TDataCursor::PutField(int number, std::span<uint8_t> image, const TFieldValue& value) const {
  const TFieldDesc& d = Field(number);
  CheckImage(*this, d, image.size());
  WriteValue(image, d, value, impl_->lcid);
}

void TDataCursor::BlankRecord(std::span<uint8_t> image) const { std::fill(image.begin(), image.end(), 0); }

void TDataCursor::RaiseStatus(int code, std::string_view field) const {
  impl_->Raise(static_cast<TErrorCode>(code), field);
}

}  // namespace ledger
