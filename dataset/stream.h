#pragma once
// Byte streams: what blob fields are read through and copied into.
#include <cstdint>
#include <vector>

namespace dataset {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  virtual ~TStream() = default;
  // Bytes actually moved; fewer than count at the end of the data.
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // The new position.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t position) { Seek(position, TSeekOrigin::soBeginning); }
  // What seeking to the end answers; the position is kept.
  virtual int64_t Size();
  // Appends the rest of source (count <= 0) or count bytes of it from its
  // current position; answers the bytes copied.
  int64_t CopyFrom(TStream& source, int64_t count = 0);
};

class TMemoryStream : public TStream {
 public:
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }

  const std::vector<uint8_t>& Bytes() const noexcept { return data_; }
  std::vector<uint8_t> TakeBytes() noexcept;
  void Clear() noexcept;

 private:
  std::vector<uint8_t> data_;
  int64_t position_ = 0;
};

}  // namespace dataset
