#pragma once
// A TIFF file in memory as libtiff sees it, for the reader (the caller's
// bytes, read only) and the writer (a vector that writes grow).
#include <tiffio.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "media/picturelib/core/bytes.h"

namespace picturelib {

class TiffMemory {
 public:
  explicit TiffMemory(const Bytes& in) : data_(in.data), size_(in.size) {}
  explicit TiffMemory(std::vector<uint8_t>& out) : data_(out.data()), size_(out.size()), out_(&out) {}
  bool OutOfMemory() const { return outOfMemory_; }

 private:
  friend struct TiffMemoryIo;
  const uint8_t* data_;
  uint64_t size_;
  std::vector<uint8_t>* out_ = nullptr;  // null: writes fail
  uint64_t pos_ = 0;
  bool outOfMemory_ = false;
};

struct TiffCloser {
  void operator()(TIFF* t) const noexcept { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

// Opens with libtiff's messages silenced and no single allocation larger
// than the largest picture we accept needs; null when libtiff refuses.
TiffPtr OpenTiff(TiffMemory& memory, const char* mode);

}  // namespace picturelib
