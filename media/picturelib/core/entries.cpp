#include "media/picturelib/core/entries.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <set>

#include "media/picturelib/core/decode.h"
#include "media/picturelib/core/dib.h"
#include "media/picturelib/core/encode.h"
#include "media/picturelib/core/errors.h"
#include "media/picturelib/core/probe.h"
#include "media/picturelib/core/reduce.h"

namespace picturelib::entries {
namespace {

template <class F>
int Guard(F&& f) noexcept {
  try {
    return f();
  } catch (const ImageError& e) {
    return e.code();
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  } catch (...) {
    return kErrInternal;
  }
}

// Block-answering entries have no code to give back: any failure is null.
template <class F>
img_dib* GuardDib(F&& f) noexcept {
  try {
    return f();
  } catch (...) {
    return nullptr;
  }
}

Bytes Input(const unsigned char* bytes, int32_t count) {
  if (!bytes || count <= 0) Fail(kErrBadArgument);
  return {bytes, static_cast<std::size_t>(count)};
}

void CopyText(const std::string& text, char* out, std::size_t capacity) {
  if (!out) return;
  const std::size_t n = std::min(text.size(), capacity - 1);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

template <class T>
void Put(T* out, int64_t value) {
  if (out) *out = static_cast<T>(value);
}

int Read(Format format, const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither, int page,
         img_dib** out, void* control, img_progress_fn progress) {
  if (out) *out = nullptr;
  return Guard([&] {
    const Bytes in = Input(bytes, count);
    if (!out) Fail(kErrBadArgument);
    const int checked = CheckedDepth(depth);
    Progress p(progress, control);
    *out = ReadPicture(format, in, checked, dither != 0, page, p).release();
    return 1;
  });
}

img_dib* Increase(const img_dib* dib, int from, int to, void* control, img_progress_fn progress) {
  return GuardDib([&] {
    const DibRef r = InspectDib(dib);
    if (r.bits != from) Fail(kErrBadDib);
    Progress p(progress, control);
    p.Report(0);
    DibPtr plain;
    DibRef src = r;
    if (r.compression != 0) {
      plain = DecodeRunLength(r);
      src = RefOf(plain.get());
    }
    DibPtr out = Expand(src, to);
    p.Report(100);
    return out.release();
  });
}

// Encodes into the caller's buffer; runs inside a Guard.
int Deliver(Encoding encoding, const img_dib* dib, int16_t depth, const EncodeOptions& options,
            unsigned char* buffer, int32_t size, int32_t* written, void* control, img_progress_fn progress) {
  if (!dib || !buffer || size <= 0 || !written) Fail(kErrBadArgument);
  Progress p(progress, control);
  const std::vector<uint8_t> bytes = Encode(encoding, dib, CheckedDepth(depth), options, p);
  if (bytes.size() > static_cast<std::size_t>(size)) Fail(kErrBufferTooSmall);
  std::memcpy(buffer, bytes.data(), bytes.size());
  *written = static_cast<int32_t>(bytes.size());
  return 1;
}

int Write(Encoding encoding, const img_dib* dib, int16_t depth, const EncodeOptions& options, unsigned char* buffer,
          int32_t size, int32_t* written, void* control, img_progress_fn progress) {
  if (written) *written = 0;
  return Guard([&] { return Deliver(encoding, dib, depth, options, buffer, size, written, control, progress); });
}

std::mutex g_annotationLock;
std::set<void*>& Annotated() {
  static std::set<void*> controls;
  return controls;
}

}  // namespace

int errortext(uint16_t code, char* buffer, int32_t size) {
  return Guard([&] { return CopyErrorText(code, buffer, size); });
}

int streaminfo(const unsigned char* bytes, int32_t count, char name[IMG_NAME_BUFFER], int32_t* width, int32_t* height,
               int16_t* bits, int16_t* extra1, int16_t* extra2, char klass[IMG_CLASS_BUFFER], int32_t) {
  return Guard([&] {
    const ProbeInfo info = ProbeAny(Input(bytes, count));
    CopyText(info.name, name, IMG_NAME_BUFFER);
    CopyText(info.klass, klass, IMG_CLASS_BUFFER);
    Put(width, info.width);
    Put(height, info.height);
    Put(bits, info.bits);
    Put(extra1, std::min(info.extra1, 32767));
    Put(extra2, std::min(info.extra2, 32767));
    return 1;
  });
}

int getinfostream(const unsigned char* bytes, int32_t count, int16_t page, int32_t* width, int32_t* height,
                  int32_t* compression, int32_t* spare, int16_t* page_count, int16_t* bits) {
  return Guard([&] {
    const Bytes in = Input(bytes, count);
    const TiffFile file = WalkTiff(in);
    if (page < 1) Fail(kErrNoSuchPage);
    // A page past the end is answered as the last page, with the count the
    // caller needs to lower its page to that one; refusing it would hide the
    // count too.
    const std::size_t index = std::min<std::size_t>(static_cast<std::size_t>(page), file.directories.size()) - 1;
    const TiffPage info = ReadTiffPage(in, file, index);
    Put(width, info.width);
    Put(height, info.height);
    Put(compression, info.compression);
    // The spare output carries the photometric interpretation (-1 when absent).
    Put(spare, info.photometric == 0xFFFFFFFF ? -1 : std::min<int64_t>(info.photometric, INT32_MAX));
    Put(page_count, std::min<std::size_t>(file.directories.size(), 32767));
    Put(bits, info.samples * info.bitsPerSample);
    return 1;
  });
}

int getdxfinfostream(const unsigned char*, int32_t, int32_t*, int32_t*, int16_t*) { return kErrNotAvailable; }

int rdjpgstreamdib(const unsigned char* bytes, int32_t count, int16_t depth, int16_t, int16_t dither, img_dib** out,
                   void*, void* control, img_progress_fn progress, int32_t) {
  return Read(Format::Jpeg, bytes, count, depth, dither, 1, out, control, progress);
}
int rdbmpstreamdib(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither, img_dib** out, void*,
                   void* control, img_progress_fn progress, int32_t) {
  return Read(Format::Bmp, bytes, count, depth, dither, 1, out, control, progress);
}
int rdpngstreamdib(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither, img_dib** out, void*,
                   void* control, img_progress_fn progress, int32_t) {
  return Read(Format::Png, bytes, count, depth, dither, 1, out, control, progress);
}
int rdgifstreamdib(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither, img_dib** out, void*,
                   void* control, img_progress_fn progress, int32_t) {
  return Read(Format::Gif, bytes, count, depth, dither, 1, out, control, progress);
}
int rdpcxstreamdib(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither, img_dib** out, void*,
                   void* control, img_progress_fn progress, int32_t) {
  return Read(Format::Pcx, bytes, count, depth, dither, 1, out, control, progress);
}
int readtgafilestreamdib(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither, img_dib** out, void*,
                         void* control, img_progress_fn progress, int32_t) {
  return Read(Format::Tga, bytes, count, depth, dither, 1, out, control, progress);
}
int readtiffiledibstream(const unsigned char* bytes, int32_t count, int16_t depth, int16_t dither, int16_t page,
                         img_dib** out, void* control, img_progress_fn progress, int32_t) {
  return Read(Format::Tiff, bytes, count, depth, dither, page, out, control, progress);
}
int readepsfiledibstream(const unsigned char*, int32_t, int16_t, int16_t, img_dib** out, void*, void*, img_progress_fn,
                         int32_t) {
  if (out) *out = nullptr;
  return kErrNotAvailable;
}
int readpcdfiledibstream(const unsigned char*, int32_t, int16_t, int16_t, int16_t, img_dib** out, void*,
                         img_progress_fn, int32_t) {
  if (out) *out = nullptr;
  return kErrNotAvailable;
}
int readdxftoddbstream(const unsigned char*, int32_t, int16_t, int16_t, void** bitmap, void** palette, void*,
                       img_progress_fn, int32_t) {
  if (bitmap) *bitmap = nullptr;
  if (palette) *palette = nullptr;
  return kErrNotAvailable;
}

img_dib* DIB1to4(const img_dib* dib, int16_t, int16_t, int32_t, int32_t, int32_t, void* control,
                 img_progress_fn progress) {
  return Increase(dib, 1, 4, control, progress);
}
img_dib* DIB1To8(const img_dib* dib, int16_t, int16_t, int32_t, int32_t, int32_t, void* control,
                 img_progress_fn progress) {
  return Increase(dib, 1, 8, control, progress);
}
img_dib* DIB1To24(const img_dib* dib, int16_t, int16_t, int32_t, int32_t, int32_t, void* control,
                  img_progress_fn progress) {
  return Increase(dib, 1, 24, control, progress);
}
img_dib* DIB4To8(const img_dib* dib, int16_t, int16_t, int32_t, int32_t, int32_t, void* control,
                 img_progress_fn progress) {
  return Increase(dib, 4, 8, control, progress);
}
img_dib* DIB4To24(const img_dib* dib, int16_t, int16_t, int32_t, int32_t, int32_t, void* control,
                  img_progress_fn progress) {
  return Increase(dib, 4, 24, control, progress);
}
img_dib* DIB8To24(const img_dib* dib, int16_t, int16_t, int32_t, int32_t, int32_t, void* control,
                  img_progress_fn progress) {
  return Increase(dib, 8, 24, control, progress);
}
img_dib* DIB16To24(const img_dib* dib, int16_t, int16_t, int32_t, int32_t, int32_t, void* control,
                   img_progress_fn progress) {
  return Increase(dib, 16, 24, control, progress);
}
img_dib* DIB32To24(const img_dib* dib, int16_t, int16_t, int32_t, int32_t, int32_t, void* control,
                   img_progress_fn progress) {
  return Increase(dib, 32, 24, control, progress);
}

int DibtoDdb(const img_dib* dib, img_dib** out, void** palette) {
  if (palette) *palette = nullptr;
  if (out) *out = nullptr;
  return Guard([&] {
    if (!out) Fail(kErrBadArgument);
    // A block that is not run-length coded comes back as a plain copy.
    *out = Normalised(InspectDib(dib)).release();
    return 1;
  });
}

int wrjpgstreamdib(const img_dib* dib, int16_t depth, int16_t quality, int16_t smooth, unsigned char* buffer,
                   int32_t size, int32_t* written, void* control, img_progress_fn progress) {
  EncodeOptions options;
  options.quality = quality;
  options.smoothing = smooth;
  return Write(Encoding::Jpeg, dib, depth, options, buffer, size, written, control, progress);
}
int wrpngstreamdib(const img_dib* dib, int16_t depth, int16_t interlaced, unsigned char* buffer, int32_t size,
                   int32_t* written, void* control, img_progress_fn progress) {
  EncodeOptions options;
  options.interlaced = interlaced != 0;
  return Write(Encoding::Png, dib, depth, options, buffer, size, written, control, progress);
}
int wrbmpstreamdib(const img_dib* dib, int16_t depth, unsigned char* buffer, int32_t size, int32_t* written,
                   void* control, img_progress_fn progress) {
  return Write(Encoding::Bmp, dib, depth, {}, buffer, size, written, control, progress);
}
int wrgifstreamdib(const img_dib* dib, int16_t depth, unsigned char* buffer, int32_t size, int32_t* written,
                   void* control, img_progress_fn progress) {
  return Write(Encoding::Gif, dib, depth, {}, buffer, size, written, control, progress);
}
int wrpcxstreamdib(const img_dib* dib, int16_t depth, unsigned char* buffer, int32_t size, int32_t* written,
                   void* control, img_progress_fn progress) {
  return Write(Encoding::Pcx, dib, depth, {}, buffer, size, written, control, progress);
}
int writetgafilestreamdib(const img_dib* dib, int16_t depth, unsigned char* buffer, int32_t size, int32_t* written,
                          void* control, img_progress_fn progress) {
  return Write(Encoding::Tga, dib, depth, {}, buffer, size, written, control, progress);
}
int writetiffiledibstream(const img_dib* dib, int16_t depth, int16_t compression, int16_t append,
                          unsigned char* buffer, int32_t size, int32_t* written, void* control,
                          img_progress_fn progress) {
  const int32_t held = written ? *written : 0;
  if (written) *written = 0;
  return Guard([&] {
    // The file to add a page to is in the buffer the result goes to, so it
    // is copied out first; a failure leaves it there as it was.
    std::vector<uint8_t> existing;
    if (append) {
      if (!buffer || held <= 0 || held > size) Fail(kErrBadArgument);
      existing.assign(buffer, buffer + held);
    }
    EncodeOptions options;
    options.tiffCompression = compression;
    options.appendTo = {existing.data(), existing.size()};
    return Deliver(Encoding::Tiff, dib, depth, options, buffer, size, written, control, progress);
  });
}

int InitAnnotation(void* control, void*, void*, img_anno_fn, img_anno_fn, img_anno_fn, img_anno_fn, img_anno_fn,
                   const char*) {
  return Guard([&] {
    if (!control) Fail(kErrBadArgument);
    std::lock_guard lock(g_annotationLock);
    Annotated().insert(control);
    return 1;
  });
}
int DrawAnnotation(void*, double, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) { return 1; }
int DestroyAnnotation(void* control) {
  return Guard([&] {
    std::lock_guard lock(g_annotationLock);
    Annotated().erase(control);
    return 1;
  });
}
bool AnnotationRegistered(void* control) {
  std::lock_guard lock(g_annotationLock);
  return Annotated().count(control) != 0;
}

img_dib* ReduceDib(const img_dib* dib, int16_t depth, int16_t dither, int32_t colours, int32_t, int32_t, void* control,
                   img_progress_fn progress) {
  return GuardDib([&] {
    const DibRef r = InspectDib(dib);
    if (depth != 0 && depth != 1 && depth != 4 && depth != 8) Fail(kErrBadDepth);
    Progress p(progress, control);
    p.Report(0);
    DibPtr plain;
    DibRef src = r;
    if (r.compression != 0) {
      plain = DecodeRunLength(r);
      src = RefOf(plain.get());
    }
    DibPtr out = Reduce(src, depth, dither != 0, colours, p);
    p.Report(100);
    return out.release();
  });
}

}  // namespace picturelib::entries
