// Blobs: handles of the blobs a cursor holds open, and reading them.

#include "engine/core/data_cursor_impl.h"

namespace ledger {

// ---------------------------------------------------------------- open blobs

const TFieldDesc* TDataCursor::TImpl::BlobField(int field, std::size_t imageSize) const {
  if (field < 1 || field > static_cast<int>(fields.size())) return nullptr;
  const TFieldDesc& d = fields[static_cast<std::size_t>(field - 1)];
  if (d.type != ftBlob || !FieldFits(d, imageSize)) return nullptr;
  return &d;
}

int TDataCursor::TImpl::FindBlob(int32_t handle) const {
  if (handle >= 0) return -1;
  for (std::size_t i = 0; i < blobHandles.size(); ++i)
    if (blobHandles[i] == handle) return static_cast<int>(i);
  return -1;
}

int32_t TDataCursor::TImpl::NewHandle() {
  for (;;) {
    lastHandle = lastHandle <= std::numeric_limits<int32_t>::min() + 1 ? -1 : lastHandle - 1;
    if (FindBlob(lastHandle) < 0) return lastHandle;
  }
}

bool TDataCursor::TImpl::InTextIndex(int field) const {
  const TIndexDesc& text = Index().Descriptor(kSlotText);
  if (!text.Defined()) return false;
  for (int i = 0; i < text.fieldCount && i < kMaxKeyFields; ++i)
    if (text.fields[i] == field) return true;
  return false;
}

// ---------------------------------------------------------------- blobs

int TDataCursor::OpenBlob(int field, std::span<uint8_t> image, TBlobOpenMode mode, uint32_t& size) {
  TImpl& m = *impl_;
  size = 0;
  const TFieldDesc* d = m.BlobField(field, image.size());
  if (!d) return LEDGER_NOTABLOB;
  TImpl::TOp op(m);
  const int32_t first = GetI32(image.data(), d->ValueOffset() + blob_ref::kFirstBlock);
  if (first < 0) {
    int i = m.FindBlob(first);
    if (i < 0) return LEDGER_INVALIDBLOBOFFSET;
    TBlobBuffer& buffer = *blobs_[static_cast<std::size_t>(i)];
    if (mode == TBlobOpenMode::ReadWrite) buffer.SetMode(mode);
    size = static_cast<uint32_t>(buffer.Size());
    op.End();
    return kStatusOk;
  }
  if (blobs_.size() >= kMaxOpenBlobs) return LEDGER_OPENBLOBLIMIT;
  TBlobRef ref{first, GetI32(image.data(), d->ValueOffset() + blob_ref::kBlobId)};
  auto buffer = std::make_unique<TBlobBuffer>(field, GetI32(image.data(), record_image::kLink), ref, mode,
                                               m.InTextIndex(field));
  if (first != 0) {
    TBlobFile* file = table_->Blob();
    if (!file) m.Raise(LEDGER_MEMOCORRUPT, d->name);
    buffer->Load(*file);
  }
  const int32_t handle = m.NewHandle();
  size = static_cast<uint32_t>(buffer->Size());
  blobs_.push_back(std::move(buffer));
  m.blobHandles.push_back(handle);
  PutI32(image.data(), d->ValueOffset() + blob_ref::kFirstBlock, handle);
  image[d->offset] = size != 0 ? 1 : 0;
  op.End();
  return kStatusOk;
}

int TDataCursor::ReadBlob(int field, std::span<const uint8_t> image, uint32_t offset, uint32_t count,
                          uint8_t* destination, uint32_t& copied) {
  const TImpl& m = *impl_;
  copied = 0;
  const TFieldDesc* d = m.BlobField(field, image.size());
  if (!d) return LEDGER_NOTABLOB;
  int i = m.FindBlob(GetI32(image.data(), d->offset + 1u));
  if (i < 0) return LEDGER_INVALIDBLOBHANDLE;
  const std::vector<uint8_t>& data = blobs_[static_cast<std::size_t>(i)]->Data();
  const uint64_t size = data.size();
  uint64_t n = count;
  int status = kStatusOk;
  if (uint64_t{offset} + count > size) {
    n = offset < size ? size - offset : 0;
    status = LEDGER_ENDOFBLOB;
  }
  if (n > 0) std::memcpy(destination, data.data() + offset, static_cast<std::size_t>(n));
  copied = static_cast<uint32_t>(n);
  return status;
}

int TDataCursor::ReadWholeBlob(int field, std::span<const uint8_t> image, std::vector<uint8_t>& out) {
  TImpl& m = *impl_;
  out.clear();
  const TFieldDesc* d = m.BlobField(field, image.size());
  if (!d) return LEDGER_NOTABLOB;
  TImpl::TOp op(m);
  const int32_t first = GetI32(image.data(), d->ValueOffset() + blob_ref::kFirstBlock);
  if (first < 0) {
    int i = m.FindBlob(first);
    if (i < 0) return LEDGER_INVALIDBLOBOFFSET;
    const std::vector<uint8_t>& data = blobs_[static_cast<std::size_t>(i)]->Data();
    out.assign(data.begin(), data.end());
  } else if (first != 0) {
    TBlobFile* file = table_->Blob();
    if (!file) m.Raise(LEDGER_MEMOCORRUPT, d->name);
    try {
      LoadBlobChain(*file, TBlobRef{first, GetI32(image.data(), d->ValueOffset() + blob_ref::kBlobId)}, out);
    } catch (...) {
      out.clear();
      throw;
    }
  }
  op.End();
  return kStatusOk;
}

int TDataCursor::BlobSize(int field, std::span<const uint8_t> image, uint32_t& size) {
  const TImpl& m = *impl_;
  size = 0;
  const TFieldDesc* d = m.BlobField(field, image.size());
  if (!d) return LEDGER_NOTABLOB;
  int i = m.FindBlob(GetI32(image.data(), d->offset + 1u));
  if (i < 0) return LEDGER_INVALIDBLOBHANDLE;
  size = static_cast<uint32_t>(blobs_[static_cast<std::size_t>(i)]->Size());
  return kStatusOk;
}

int TDataCursor::ReleaseBlob(int field, std::span<uint8_t> image) {
  TImpl& m = *impl_;
  const TFieldDesc* d = m.BlobField(field, image.size());
  if (!d) return LEDGER_NOTABLOB;
  int i = m.FindBlob(GetI32(image.data(), d->offset + 1u));
  if (i < 0) return LEDGER_INVALIDBLOBHANDLE;
  auto at = static_cast<std::size_t>(i);
  // A written buffer holds data the record does not have yet; it stays.
  if (blobs_[at]->Modified()) return kStatusOk;
  const int32_t first = blobs_[at]->Ref().firstBlock;
  blobs_.erase(blobs_.begin() + i);
  m.blobHandles.erase(m.blobHandles.begin() + i);
  PutI32(image.data(), d->ValueOffset() + blob_ref::kFirstBlock, first);
  image[d->offset] = first != 0 ? 1 : 0;
  return kStatusOk;
}

}  // namespace ledger
