#include "media/picturelib/core/tiff_memory.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "media/picturelib/core/errors.h"
#include "media/picturelib/core/limits.h"

namespace picturelib {

struct TiffMemoryIo {
  static TiffMemory& Of(thandle_t h) { return *static_cast<TiffMemory*>(h); }

  static tmsize_t Read(thandle_t h, void* buffer, tmsize_t size) {
    TiffMemory& m = Of(h);
    if (size < 0 || m.pos_ >= m.size_) return 0;
    const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(size), m.size_ - m.pos_);
    std::memcpy(buffer, m.data_ + m.pos_, n);
    m.pos_ += n;
    return static_cast<tmsize_t>(n);
  }
  static tmsize_t Write(thandle_t h, void* buffer, tmsize_t size) {
    TiffMemory& m = Of(h);
    if (!m.out_ || size < 0) return -1;
    const uint64_t end = m.pos_ + static_cast<uint64_t>(size);
    // Nothing we write comes near this; a larger offset is a fault, not a file.
    if (end > UINT32_MAX) return -1;
    try {
      if (end > m.out_->size()) m.out_->resize(end);
    } catch (const std::bad_alloc&) {
      m.outOfMemory_ = true;
      return -1;
    }
    m.data_ = m.out_->data();
    m.size_ = m.out_->size();
    std::memcpy(m.out_->data() + m.pos_, buffer, static_cast<std::size_t>(size));
    m.pos_ = end;
    return size;
  }
  static toff_t Seek(thandle_t h, toff_t offset, int whence) {
    TiffMemory& m = Of(h);
    const uint64_t base = whence == SEEK_CUR ? m.pos_ : whence == SEEK_END ? m.size_ : 0;
    m.pos_ = base + offset;
    return m.pos_;
  }
  static int Close(thandle_t) { return 0; }
  static toff_t Size(thandle_t h) { return Of(h).size_; }
  static int Map(thandle_t, void**, toff_t*) { return 0; }
  static void Unmap(thandle_t, void*, toff_t) {}
  static int Quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }
};

TiffPtr OpenTiff(TiffMemory& memory, const char* mode) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) Fail(kErrOutOfMemory);
  TIFFOpenOptionsSetErrorHandlerExtR(options, TiffMemoryIo::Quiet, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, TiffMemoryIo::Quiet, nullptr);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(CurrentLimits().maxPixels * 8 + (1 << 20)));
  TiffPtr tif(TIFFClientOpenExt("memory", mode, &memory, TiffMemoryIo::Read, TiffMemoryIo::Write, TiffMemoryIo::Seek,
                                TiffMemoryIo::Close, TiffMemoryIo::Size, TiffMemoryIo::Map, TiffMemoryIo::Unmap,
                                options));
  TIFFOpenOptionsFree(options);
  return tif;
}

}  // namespace picturelib
