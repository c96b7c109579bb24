#include "media/image_library.h"

#include <algorithm>
#include <array>
#include <map>

#include "media/library_resolver.h"
#include "toolkit/platform.h"

namespace media {
namespace {

struct TLoaded {
  void* handle = nullptr;
  std::string overrideName;
};

std::array<TLoaded, 2>& Libraries() {
  static std::array<TLoaded, 2> libs;
  return libs;
}

TLibraryResolver& PlatformResolver() {
#ifdef __EMSCRIPTEN__
  static TLinkedLibraries linked({{TPictureLibrary::FileName(TPictureLibraryId::Crde), picturelib::CrdeEntries()},
                                  {TPictureLibrary::FileName(TPictureLibraryId::Isp), picturelib::IspEntries()}});
  return linked;
#else
  return DynamicLoader();
#endif
}

TLibraryResolver*& Resolver() {
  static TLibraryResolver* resolver = &PlatformResolver();
  return resolver;
}

std::filesystem::path& SearchDirectory() {
  static std::filesystem::path dir;
  return dir;
}

// What the decoder library answers when an entry failed from the inside.
constexpr int kInternalError = -100;

TLoaded& Slot(TPictureLibraryId id) { return Libraries()[static_cast<int>(id)]; }

std::string NameOf(TPictureLibraryId id) {
  const TLoaded& slot = Slot(id);
  return slot.overrideName.empty() ? TPictureLibrary::FileName(id) : slot.overrideName;
}

void* Load(TPictureLibraryId id) {
  TLoaded& slot = Slot(id);
  if (slot.handle) return slot.handle;
  const std::string name = NameOf(id);
  std::filesystem::path dir = SearchDirectory();
  if (dir.empty()) dir = toolkit::ProgramFilePath().parent_path();
  // The executable's directory first, then the system's own search.
  for (const std::string& candidate : {(dir / name).string(), name}) {
    if (void* h = Resolver()->Open(candidate)) return slot.handle = h;
  }
  throw ErrorInvalid(CantLoadMessage(name));
}

void Fail(int result) {
  auto& error = LastLibraryError();
  error.Code = static_cast<std::uint16_t>(result);
  char text[256] = {};
  using TErrorText = int(std::uint16_t, char*, std::int32_t);
  if (auto* f = reinterpret_cast<TErrorText*>(
          TPictureLibrary::Lookup(TPictureLibraryId::Crde, "errortext"))) {
    f(error.Code, text, sizeof text);
  }
  error.Text = text[0] ? text : "Image library error " + std::to_string(error.Code);
  // The library answers this code when something failed inside it unexpectedly.
  if (result == kInternalError) error.Text = kLibraryCrashMessage;
}

void FailMissing(const std::string& entry) {
  auto& error = LastLibraryError();
  error.Code = 0;
  error.Text = ProcAddressMessage(entry);
}

template <class F>
F* Entry(TPictureLibraryId id, const char* name) {
  auto* f = reinterpret_cast<F*>(TPictureLibrary::Lookup(id, name));
  if (!f) FailMissing(name);
  return f;
}

// The reader behind each content kind, with the stream name it reports.
struct TReader {
  const char* kind;
  const char* entry;
  const char* stream;
};
constexpr std::array kReaders{
    TReader{"PNG", "rdpngstreamdib", "PNG Stream"},
    TReader{"TIF", "readtiffiledibstream", "Tiff Stream"},
    TReader{"GIF", "rdgifstreamdib", "GIF Stream"},
    TReader{"PCX", "rdpcxstreamdib", "PCX Stream"},
    TReader{"TGA", "readtgafilestreamdib", "TGA Stream"},
    TReader{"EPS", "readepsfiledibstream", "EPS Stream"},
    TReader{"BMP", "rdbmpstreamdib", "BMP Stream"},
    TReader{"PCD", "readpcdfiledibstream", "PCD Stream"},
    TReader{"DXF", "readdxftoddbstream", "DXF Blob"},
    TReader{"JPG", "rdjpgstreamdib", "JPG Stream"},
};

using TPlainReader = int(const unsigned char*, std::int32_t, std::int16_t, std::int16_t, img_dib**,
                         void*, void*, img_progress_fn, std::int32_t);
using TJpegReader = int(const unsigned char*, std::int32_t, std::int16_t, std::int16_t,
                        std::int16_t, img_dib**, void*, void*, img_progress_fn, std::int32_t);
using TPagedReader = int(const unsigned char*, std::int32_t, std::int16_t, std::int16_t,
                         std::int16_t, img_dib**, void*, img_progress_fn, std::int32_t);
using TDxfReader = int(const unsigned char*, std::int32_t, std::int16_t, std::int16_t, void**,
                       void**, void*, img_progress_fn, std::int32_t);
using TConversion = img_dib*(const img_dib*, std::int16_t, std::int16_t, std::int32_t,
                             std::int32_t, std::int32_t, void*, img_progress_fn);

std::int32_t Count(std::span<const std::uint8_t> bytes) {
  // Blobs are 32-bit sized in the tables; anything larger is refused by the reader.
  return bytes.size() > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(bytes.size());
}

}  // namespace

const char* const kLibraryCrashMessage =
    "An exception error occured in the image library. We recommend to exit the application "
    "and to restart it by clicking its icon!";

TLibraryError& LastLibraryError() {
  static TLibraryError error;
  return error;
}

std::string& CurrentOperationText() {
  static std::string text;
  return text;
}

std::string ProcAddressMessage(const std::string& entry) {
  return "Error. Could not get a procaddress for " + entry + ". This could be" +
         "related to a dll name or version missmatch of " + "CRDE2000.DLL";
}

std::string CantLoadMessage(const std::string& name) {
  return "Can't load " + name + ". Make sure its located in the application's searchpath.";
}

const char* TPictureLibrary::FileName(TPictureLibraryId id) {
  return id == TPictureLibraryId::Crde ? "libcrde2000.so" : "libisp2000.so";
}

void TPictureLibrary::SetSearchDirectory(std::filesystem::path dir) {
  SearchDirectory() = std::move(dir);
}

void TPictureLibrary::SetFileNameOverride(TPictureLibraryId id, std::string fileName) {
  Unload(id);
  Slot(id).overrideName = std::move(fileName);
}

void TPictureLibrary::SetResolver(TLibraryResolver* resolver) {
  for (TPictureLibraryId id : {TPictureLibraryId::Crde, TPictureLibraryId::Isp}) Unload(id);
  Resolver() = resolver ? resolver : &PlatformResolver();
}

void TPictureLibrary::Unload(TPictureLibraryId id) {
  TLoaded& slot = Slot(id);
  if (slot.handle) Resolver()->Close(slot.handle);
  slot.handle = nullptr;
}

void* TPictureLibrary::Lookup(TPictureLibraryId id, const char* entry) {
  return Resolver()->Entry(Load(id), entry);
}

bool StreamInfo(std::span<const std::uint8_t> bytes, TStreamInfo& info) {
  using TProbe = int(const unsigned char*, std::int32_t, char*, std::int32_t*, std::int32_t*,
                     std::int16_t*, std::int16_t*, std::int16_t*, char*, std::int32_t);
  auto* probe = Entry<TProbe>(TPictureLibraryId::Crde, "streaminfo");
  if (!probe) return false;
  char name[IMG_NAME_BUFFER] = {};
  char klass[IMG_CLASS_BUFFER] = {};
  const int result = probe(bytes.data(), Count(bytes), name, &info.Width, &info.Height,
                           &info.Bits, &info.Extra1, &info.Extra2, klass, 0);
  if (result <= 0) {
    Fail(result);
    return false;
  }
  name[IMG_NAME_BUFFER - 1] = klass[IMG_CLASS_BUFFER - 1] = 0;
  info.FormatName = name;
  info.FormatClass = klass;
  return true;
}

bool TiffPageInfo(std::span<const std::uint8_t> bytes, int page, TTiffPageInfo& info) {
  using TInfo = int(const unsigned char*, std::int32_t, std::int16_t, std::int32_t*,
                    std::int32_t*, std::int32_t*, std::int32_t*, std::int16_t*, std::int16_t*);
  auto* f = Entry<TInfo>(TPictureLibraryId::Crde, "getinfostream");
  if (!f) return false;
  std::int32_t spare = 0;
  const int result = f(bytes.data(), Count(bytes), static_cast<std::int16_t>(page), &info.Width,
                       &info.Height, &info.Compression, &spare, &info.PageCount, &info.Bits);
  if (result <= 0) {
    Fail(result);
    return false;
  }
  return true;
}

bool DxfInfo(std::span<const std::uint8_t> bytes, TStreamInfo& info) {
  using TInfo = int(const unsigned char*, std::int32_t, std::int32_t*, std::int32_t*,
                    std::int16_t*);
  auto* f = Entry<TInfo>(TPictureLibraryId::Crde, "getdxfinfostream");
  if (!f) return false;
  const int result = f(bytes.data(), Count(bytes), &info.Width, &info.Height, &info.Bits);
  if (result <= 0) {
    Fail(result);
    return false;
  }
  return true;
}

TDibHandle ReadPicture(const std::string& kind, std::span<const std::uint8_t> bytes,
                       const TReadOptions& o) {
  const TReader* reader = nullptr;
  for (const TReader& r : kReaders) {
    if (kind == r.kind) reader = &r;
  }
  if (!reader) {
    LastLibraryError() = {0, "No reader for " + kind};
    return nullptr;
  }
  CurrentOperationText() = std::string("Reading ") + reader->stream;
  const auto depth = static_cast<std::int16_t>(o.Depth);
  const auto dither = static_cast<std::int16_t>(o.Dither);
  img_dib* out = nullptr;
  int result = 0;
  const auto id = TPictureLibraryId::Crde;
  if (kind == "JPG") {
    auto* f = Entry<TJpegReader>(id, reader->entry);
    if (!f) return nullptr;
    result = f(bytes.data(), Count(bytes), depth, 1, dither, &out, nullptr, o.Control,
               o.Progress, 0);
  } else if (kind == "TIF" || kind == "PCD") {
    auto* f = Entry<TPagedReader>(id, reader->entry);
    if (!f) return nullptr;
    const auto extra = static_cast<std::int16_t>(kind == "TIF" ? o.TiffPage : o.PcdMode);
    result = f(bytes.data(), Count(bytes), depth, dither, extra, &out, o.Control, o.Progress, 0);
  } else if (kind == "DXF") {
    // The drawing reader hands back platform objects this program cannot use.
    auto* f = Entry<TDxfReader>(id, reader->entry);
    if (!f) return nullptr;
    void* bitmap = nullptr;
    void* palette = nullptr;
    result = f(bytes.data(), Count(bytes), depth, dither, &bitmap, &palette, o.Control,
               o.Progress, 0);
    if (result > 0) result = 0;
  } else {
    auto* f = Entry<TPlainReader>(id, reader->entry);
    if (!f) return nullptr;
    result = f(bytes.data(), Count(bytes), depth, dither, &out, nullptr, o.Control, o.Progress,
               0);
  }
  TDibHandle dib(out);
  if (result <= 0 || !dib) {
    Fail(result);
    // A failed JPEG read leaves the decoder library to be loaded afresh.
    if (kind == "JPG") TPictureLibrary::Unload(id);
    return nullptr;
  }
  return dib;
}

TDibHandle ConvertDib(const char* entry, const img_dib& dib, int depth, bool dither,
                      void* control, img_progress_fn progress) {
  auto* f = Entry<TConversion>(TPictureLibraryId::Crde, entry);
  if (!f) return nullptr;
  return TDibHandle(f(&dib, static_cast<std::int16_t>(depth), static_cast<std::int16_t>(dither),
                      0, 0, 0, control, progress));
}

TDibHandle ReduceDib(const img_dib& dib, int depth, bool dither, void* control,
                     img_progress_fn progress) {
  TConversion* f = nullptr;
  try {
    f = Entry<TConversion>(TPictureLibraryId::Isp, "ReduceDib");
  } catch (const ErrorInvalid& e) {
    // The reduction library is optional: its absence is told, and the call fails.
    LastLibraryError() = {0, e.what()};
    return nullptr;
  }
  if (!f) return nullptr;
  const std::int32_t colours = depth >= 1 && depth <= 8 ? 1 << depth : 256;
  return TDibHandle(f(&dib, static_cast<std::int16_t>(depth), static_cast<std::int16_t>(dither),
                      colours, 0, 0, control, progress));
}

TDibHandle DecodeRunLength(const img_dib& dib) {
  using TDecode = int(const img_dib*, img_dib**, void**);
  auto* f = Entry<TDecode>(TPictureLibraryId::Crde, "DibtoDdb");
  if (!f) return nullptr;
  img_dib* out = nullptr;
  void* palette = nullptr;
  const int result = f(&dib, &out, &palette);
  TDibHandle owned(out);
  if (result <= 0) {
    Fail(result);
    return nullptr;
  }
  return owned;
}

const char* WriterEntry(TWriteFormat format) {
  static constexpr const char* kWriters[] = {"wrjpgstreamdib", "wrbmpstreamdib",
                                             "wrgifstreamdib", "wrpcxstreamdib",
                                             "writetgafilestreamdib", "wrpngstreamdib",
                                             "writetiffiledibstream"};
  return kWriters[static_cast<int>(format)];
}

std::optional<std::vector<std::uint8_t>> WritePicture(TWriteFormat format, const img_dib& dib,
                                                      std::size_t capacity,
                                                      const TWriteOptions& o) {
  const std::span<const std::uint8_t> existing =
      format == TWriteFormat::Tiff ? o.TiffExisting : std::span<const std::uint8_t>{};
  const std::size_t total = capacity + existing.size();
  if (total > INT32_MAX) {
    LastLibraryError() = {0, "The picture is too large to save"};
    return std::nullopt;
  }
  std::vector<std::uint8_t> out(total);
  std::copy(existing.begin(), existing.end(), out.begin());
  auto written = static_cast<std::int32_t>(existing.size());
  const auto size = static_cast<std::int32_t>(out.size());
  const auto depth = static_cast<std::int16_t>(o.Depth);
  const char* name = WriterEntry(format);
  const auto id = TPictureLibraryId::Crde;
  int result = 0;
  // The plain shape shared by BMP, GIF, PCX and TGA.
  using TPlainWriter = int(const img_dib*, std::int16_t, unsigned char*, std::int32_t,
                           std::int32_t*, void*, img_progress_fn);
  switch (format) {
    case TWriteFormat::Jpeg: {
      using F = int(const img_dib*, std::int16_t, std::int16_t, std::int16_t, unsigned char*,
                    std::int32_t, std::int32_t*, void*, img_progress_fn);
      auto* f = Entry<F>(id, name);
      if (!f) return std::nullopt;
      result = f(&dib, depth, static_cast<std::int16_t>(o.JpegQuality),
                 static_cast<std::int16_t>(o.JpegSmooth), out.data(), size, &written, o.Control,
                 o.Progress);
      break;
    }
    case TWriteFormat::Png: {
      using F = int(const img_dib*, std::int16_t, std::int16_t, unsigned char*, std::int32_t,
                    std::int32_t*, void*, img_progress_fn);
      auto* f = Entry<F>(id, name);
      if (!f) return std::nullopt;
      result = f(&dib, depth, static_cast<std::int16_t>(o.PngInterlaced), out.data(), size,
                 &written, o.Control, o.Progress);
      break;
    }
    case TWriteFormat::Tiff: {
      using F = int(const img_dib*, std::int16_t, std::int16_t, std::int16_t, unsigned char*,
                    std::int32_t, std::int32_t*, void*, img_progress_fn);
      auto* f = Entry<F>(id, name);
      if (!f) return std::nullopt;
      const bool append = o.TiffAppend && !existing.empty();
      result = f(&dib, depth, static_cast<std::int16_t>(o.TiffCompression),
                 static_cast<std::int16_t>(append), out.data(), size, &written, o.Control,
                 o.Progress);
      break;
    }
    case TWriteFormat::Bmp:
    case TWriteFormat::Gif:
    case TWriteFormat::Pcx:
    case TWriteFormat::Tga: {
      auto* f = Entry<TPlainWriter>(id, name);
      if (!f) return std::nullopt;
      result = f(&dib, depth, out.data(), size, &written, o.Control, o.Progress);
      break;
    }
  }
  if (result <= 0 || written <= 0 || written > size) {
    Fail(result);
    return std::nullopt;
  }
  out.resize(static_cast<std::size_t>(written));
  return out;
}

namespace {
template <class F>
F* AnnotationEntry(const char* name) {
  auto* f = reinterpret_cast<F*>(TPictureLibrary::Lookup(TPictureLibraryId::Crde, name));
  if (!f) throw ErrorInvalid(ProcAddressMessage(name));
  return f;
}
}  // namespace

void InitAnnotation(void* control, const std::string& settingsPath) {
  using F = int(void*, void*, void*, img_anno_fn, img_anno_fn, img_anno_fn, img_anno_fn,
                img_anno_fn, const char*);
  // The five callbacks would raise the control's annotation events; the layer
  // here never calls them, so none is handed over.
  AnnotationEntry<F>("InitAnnotation")(control, control, control, nullptr, nullptr, nullptr,
                                       nullptr, nullptr, settingsPath.c_str());
}

void DrawAnnotation(void* control, double zoom, int originX, int originY, int offsetX,
                    int offsetY, int bar) {
  using F = int(void*, double, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                std::int32_t, std::int32_t);
  AnnotationEntry<F>("DrawAnnotation")(control, zoom, originX, originY, offsetX, offsetY, bar, 0);
}

void DestroyAnnotation(void* control) noexcept {
  using F = int(void*);
  try {
    if (auto* f = reinterpret_cast<F*>(
            TPictureLibrary::Lookup(TPictureLibraryId::Crde, "DestroyAnnotation"))) {
      f(control);
    }
  } catch (...) {
    // Going away: a library that never loaded has nothing registered.
  }
}

}  // namespace media
