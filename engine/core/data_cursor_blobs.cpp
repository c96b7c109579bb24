// Blobs: handles of the blobs a cursor holds open, and reading them.

#include "engine/core/data_cursor_impl.h"

namespace ledger {

// ---------------------------------------------------------------- open blobs

void TCursorBlobs::Clear() {
  buffers_.clear();
  handles_.clear();
}

const TFieldDesc* TCursorBlobs::Field(int field, std::size_t imageSize) const {
  if (field < 1 || field > cursor_.FieldCount()) return nullptr;
  const TFieldDesc& d = cursor_.Field(field);
  if (d.type != ftBlob || !FieldFits(d, imageSize)) return nullptr;
  return &d;
}

int TCursorBlobs::Find(int32_t handle) const {
  if (handle >= 0) return -1;
  for (std::size_t i = 0; i < handles_.size(); ++i)
    if (handles_[i] == handle) return static_cast<int>(i);
  return -1;
}

int32_t TCursorBlobs::NewHandle() {
  for (;;) {
    lastHandle_ = lastHandle_ <= std::numeric_limits<int32_t>::min() + 1 ? -1 : lastHandle_ - 1;
    if (Find(lastHandle_) < 0) return lastHandle_;
  }
}

bool TCursorBlobs::InTextIndex(int field) const {
  const TIndexDesc& text = Index().Descriptor(kSlotText);
  if (!text.Defined()) return false;
  for (int i = 0; i < text.fieldCount && i < kMaxKeyFields; ++i)
    if (text.fields[i] == field) return true;
  return false;
}

int TCursorBlobs::Open(const TFieldDesc& d, int field, std::span<uint8_t> image, TBlobOpenMode mode,
                       uint32_t& size) {
  const int32_t first = GetI32(image.data(), d.ValueOffset() + blob_ref::kFirstBlock);
  if (first < 0) {
    int i = Find(first);
    if (i < 0) return LEDGER_INVALIDBLOBOFFSET;
    TBlobBuffer& buffer = *buffers_[static_cast<std::size_t>(i)];
    if (mode == TBlobOpenMode::ReadWrite) buffer.SetMode(mode);
    size = static_cast<uint32_t>(buffer.Size());
    return kStatusOk;
  }
  if (buffers_.size() >= kMaxOpenBlobs) return LEDGER_OPENBLOBLIMIT;
  TBlobRef ref{first, GetI32(image.data(), d.ValueOffset() + blob_ref::kBlobId)};
  auto buffer = std::make_unique<TBlobBuffer>(field, GetI32(image.data(), record_image::kLink), ref, mode,
                                               InTextIndex(field));
  if (first != 0) {
    TBlobFile* file = Table().Blob();
    if (!file) Raise(LEDGER_MEMOCORRUPT, d.name);
    buffer->Load(*file);
  }
  const int32_t handle = NewHandle();
  size = static_cast<uint32_t>(buffer->Size());
  buffers_.push_back(std::move(buffer));
  handles_.push_back(handle);
  PutI32(image.data(), d.ValueOffset() + blob_ref::kFirstBlock, handle);
  image[d.offset] = size != 0 ? 1 : 0;
  return kStatusOk;
}

int TCursorBlobs::ReadWhole(const TFieldDesc& d, std::span<const uint8_t> image, std::vector<uint8_t>& out) {
  const int32_t first = GetI32(image.data(), d.ValueOffset() + blob_ref::kFirstBlock);
  if (first < 0) {
    int i = Find(first);
    if (i < 0) return LEDGER_INVALIDBLOBOFFSET;
    const std::vector<uint8_t>& data = buffers_[static_cast<std::size_t>(i)]->Data();
    out.assign(data.begin(), data.end());
  } else if (first != 0) {
    TBlobFile* file = Table().Blob();
    if (!file) Raise(LEDGER_MEMOCORRUPT, d.name);
    try {
      LoadBlobChain(*file, TBlobRef{first, GetI32(image.data(), d.ValueOffset() + blob_ref::kBlobId)}, out);
    } catch (...) {
      out.clear();
      throw;
    }
  }
  return kStatusOk;
}

int TCursorBlobs::Read(const TFieldDesc& d, std::span<const uint8_t> image, uint32_t offset, uint32_t count,
                       uint8_t* destination, uint32_t& copied) const {
  int i = Find(GetI32(image.data(), d.offset + 1u));
  if (i < 0) return LEDGER_INVALIDBLOBHANDLE;
  const std::vector<uint8_t>& data = buffers_[static_cast<std::size_t>(i)]->Data();
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

int TCursorBlobs::Size(const TFieldDesc& d, std::span<const uint8_t> image, uint32_t& size) const {
  int i = Find(GetI32(image.data(), d.offset + 1u));
  if (i < 0) return LEDGER_INVALIDBLOBHANDLE;
  size = static_cast<uint32_t>(buffers_[static_cast<std::size_t>(i)]->Size());
  return kStatusOk;
}

int TCursorBlobs::Release(const TFieldDesc& d, std::span<uint8_t> image) {
  int i = Find(GetI32(image.data(), d.offset + 1u));
  if (i < 0) return LEDGER_INVALIDBLOBHANDLE;
  auto at = static_cast<std::size_t>(i);
  // A written buffer holds data the record does not have yet; it stays.
  if (buffers_[at]->Modified()) return kStatusOk;
  const int32_t first = buffers_[at]->Ref().firstBlock;
  buffers_.erase(buffers_.begin() + i);
  handles_.erase(handles_.begin() + i);
  PutI32(image.data(), d.ValueOffset() + blob_ref::kFirstBlock, first);
  image[d.offset] = first != 0 ? 1 : 0;
  return kStatusOk;
}

// ---------------------------------------------------------------- blobs

// A call that answers another status than 0 leaves its operation quietly,
// as one that raises does.

int TDataCursor::OpenBlob(int field, std::span<uint8_t> image, TBlobOpenMode mode, uint32_t& size) {
  TImpl& m = *impl_;
  size = 0;
  const TFieldDesc* d = m.blobs.Field(field, image.size());
  if (!d) return LEDGER_NOTABLOB;
  TImpl::TOp op(m);
  const int status = m.blobs.Open(*d, field, image, mode, size);
  if (status == kStatusOk) op.End();
  return status;
}

int TDataCursor::ReadBlob(int field, std::span<const uint8_t> image, uint32_t offset, uint32_t count,
                          uint8_t* destination, uint32_t& copied) {
  const TImpl& m = *impl_;
  copied = 0;
  const TFieldDesc* d = m.blobs.Field(field, image.size());
  if (!d) return LEDGER_NOTABLOB;
  return m.blobs.Read(*d, image, offset, count, destination, copied);
}

int TDataCursor::ReadWholeBlob(int field, std::span<const uint8_t> image, std::vector<uint8_t>& out) {
  TImpl& m = *impl_;
  out.clear();
  const TFieldDesc* d = m.blobs.Field(field, image.size());
  if (!d) return LEDGER_NOTABLOB;
  TImpl::TOp op(m);
  const int status = m.blobs.ReadWhole(*d, image, out);
  if (status == kStatusOk) op.End();
  return status;
}

int TDataCursor::BlobSize(int field, std::span<const uint8_t> image, uint32_t& size) {
  const TImpl& m = *impl_;
  size = 0;
  const TFieldDesc* d = m.blobs.Field(field, image.size());
  if (!d) return LEDGER_NOTABLOB;
  return m.blobs.Size(*d, image, size);
}

int TDataCursor::ReleaseBlob(int field, std::span<uint8_t> image) {
  TImpl& m = *impl_;
  const TFieldDesc* d = m.blobs.Field(field, image.size());
  if (!d) return LEDGER_NOTABLOB;
  return m.blobs.Release(*d, image);
}

std::size_t TDataCursor::OpenBlobCount() const noexcept { return impl_->blobs.Count(); }

}  // namespace ledger
