#pragma once
// The program's side of the two image libraries: loading them by name on first
// use, calling entries looked up by name on every call, and the process-wide
// record of the last library failure and of the running operation.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "media/picturelib/picturelib_api.h"

namespace media {

// The failure of the picture and sound controls and of the library interface.
class ErrorInvalid : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TLibraryError {
  std::uint16_t Code = 0;
  std::string Text;
};
// Shared by every control, without locking: the GUI thread is the only caller.
TLibraryError& LastLibraryError();
std::string& CurrentOperationText();

struct TDibFree {
  void operator()(img_dib* d) const noexcept { std::free(d); }
};
using TDibHandle = std::unique_ptr<img_dib, TDibFree>;

// What the format probe reports.
struct TStreamInfo {
  std::string FormatName;
  std::string FormatClass;
  std::int32_t Width = -1, Height = -1;
  std::int16_t Bits = -1, Extra1 = -1, Extra2 = -1;
};

struct TTiffPageInfo {
  std::int32_t Width = 0, Height = 0, Compression = 0;
  std::int16_t PageCount = 0, Bits = 0;
};

enum class TPictureLibraryId { Crde, Isp };

class TLibraryResolver;

// The two libraries. Each is loaded on first use and kept until exit (a failed
// JPEG read unloads the decoder library; the next call loads it again).
class TPictureLibrary {
 public:
  static const char* FileName(TPictureLibraryId id);  // "libcrde2000.so", "libisp2000.so"

  // Where the libraries are looked for first: the executable's directory
  // unless a test points elsewhere. An empty path restores the default.
  static void SetSearchDirectory(std::filesystem::path dir);
  // Tests stand in a library of another file name (a stub missing entries).
  static void SetFileNameOverride(TPictureLibraryId id, std::string fileName);
  static void Unload(TPictureLibraryId id);
  // How libraries and entries are found (see library_resolver.h); null
  // restores the platform's own. Unloads what the previous one loaded.
  static void SetResolver(TLibraryResolver* resolver);

  // The entry's address, loading the library first. Throws ErrorInvalid
  // "Can't load ..." when the library is nowhere to be found; answers null
  // when the library has no such entry.
  static void* Lookup(TPictureLibraryId id, const char* entry);
};

// The text of "Error. Could not get a procaddress for " + entry ... .
std::string ProcAddressMessage(const std::string& entry);
// "Can't load " + name + ". Make sure its located in the application's searchpath."
std::string CantLoadMessage(const std::string& name);
// Shown when an entry fails from the inside.
extern const char* const kLibraryCrashMessage;

// Each answers false (or null) on failure with LastLibraryError filled in;
// only a library that cannot be loaded throws (ErrorInvalid).
bool StreamInfo(std::span<const std::uint8_t> bytes, TStreamInfo& info);
bool TiffPageInfo(std::span<const std::uint8_t> bytes, int page, TTiffPageInfo& info);
bool DxfInfo(std::span<const std::uint8_t> bytes, TStreamInfo& info);

// Decodes with the reader of a content kind ("PNG", "TIF", "GIF", "PCX", "TGA",
// "EPS", "BMP", "PCD", "JPG"; "DXF" always fails here). Sets
// CurrentOperationText to "Reading " + the reader's stream name first.
struct TReadOptions {
  int Depth = 24;
  bool Dither = false;
  int TiffPage = 1;
  int PcdMode = 1;
  void* Control = nullptr;
  img_progress_fn Progress = nullptr;
};
TDibHandle ReadPicture(const std::string& kind, std::span<const std::uint8_t> bytes,
                       const TReadOptions& options);

// A depth conversion entry of the decoder library ("DIB1To8", "DIB32To24", ...)
// or "ReduceDib" of the reduction library; null on failure.
TDibHandle ConvertDib(const char* entry, const img_dib& dib, int depth, bool dither,
                      void* control, img_progress_fn progress);
TDibHandle ReduceDib(const img_dib& dib, int depth, bool dither, void* control,
                     img_progress_fn progress);
// Run-length coded block to plain rows.
TDibHandle DecodeRunLength(const img_dib& dib);

// In the order of the control's BlobUpDate choices.
enum class TWriteFormat { Jpeg, Bmp, Gif, Pcx, Tga, Png, Tiff };
// The writer entry of a format ("wrjpgstreamdib", ..., "writetiffiledibstream").
const char* WriterEntry(TWriteFormat format);
struct TWriteOptions {
  int Depth = 24;
  int JpegQuality = 25;
  int JpegSmooth = 0;
  bool PngInterlaced = false;
  int TiffCompression = 0;  // as TTiffCompression numbers it
  // A TIFF the blob holds: it goes in front of the buffer, which grows by its
  // size, and with TiffAppend the picture is added to it as a further page.
  std::span<const std::uint8_t> TiffExisting;
  bool TiffAppend = false;
  void* Control = nullptr;
  img_progress_fn Progress = nullptr;
};
// Encodes into a buffer of `capacity` bytes; nullopt on failure.
std::optional<std::vector<std::uint8_t>> WritePicture(TWriteFormat format, const img_dib& dib,
                                                      std::size_t capacity,
                                                      const TWriteOptions& options);

// The annotation layer. A missing entry throws ErrorInvalid with the
// procaddress message; so does a library that cannot be loaded.
void InitAnnotation(void* control, const std::string& settingsPath);
void DrawAnnotation(void* control, double zoom, int originX, int originY, int offsetX,
                    int offsetY, int bar);
void DestroyAnnotation(void* control) noexcept;

}  // namespace media
