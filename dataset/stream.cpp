#include "dataset/stream.h"

#include <algorithm>
#include <cstring>

#include "dataset/database_error.h"

namespace dataset {

int64_t TStream::Size() {
  const int64_t at = Seek(0, TSeekOrigin::soCurrent);
  const int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(at, TSeekOrigin::soBeginning);
  return size;
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  std::vector<uint8_t> chunk(64 * 1024);
  int64_t copied = 0;
  for (;;) {
    int64_t want = static_cast<int64_t>(chunk.size());
    if (count > 0) want = std::min(want, count - copied);
    if (want <= 0) break;
    const int64_t got = source.Read(chunk.data(), want);
    if (got <= 0) break;
    if (Write(chunk.data(), got) != got) DatabaseError(SStreamWrite);
    copied += got;
  }
  return copied;
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  const int64_t size = Size();
  if (count <= 0 || position_ < 0 || position_ >= size) return 0;
  const int64_t n = std::min(count, size - position_);
  std::memcpy(buffer, data_.data() + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0 || position_ < 0) return 0;
  const auto end = static_cast<std::size_t>(position_ + count);
  if (end > data_.size()) data_.resize(end);
  std::memcpy(data_.data() + position_, buffer, static_cast<std::size_t>(count));
  position_ += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  switch (origin) {
    case TSeekOrigin::soBeginning: position_ = offset; break;
    case TSeekOrigin::soCurrent: position_ += offset; break;
    case TSeekOrigin::soEnd: position_ = Size() + offset; break;
  }
  return position_;
}

std::vector<uint8_t> TMemoryStream::TakeBytes() noexcept {
  std::vector<uint8_t> out = std::move(data_);
  data_.clear();
  position_ = 0;
  return out;
}

void TMemoryStream::Clear() noexcept {
  data_.clear();
  position_ = 0;
}

}  // namespace dataset
