#include "media/picturelib/core/errors.h"

#include <cstdio>
#include <cstring>

namespace picturelib {
namespace {

struct Entry {
  ErrorCode code;
  const char* text;
};

constexpr Entry kTexts[] = {
    {kErrInternal, "Internal error in the image library"},
    {kErrOutOfMemory, "Out of memory"},
    {kErrCancelled, "Operation cancelled"},
    {kErrBadArgument, "Invalid argument"},
    {kErrUnknownFormat, "Unknown picture format"},
    {kErrTooLarge, "Picture too large"},
    {kErrBadDepth, "Unsupported colour depth"},
    {kErrNotAvailable, "Reader not available in this build"},
    {kErrBadDib, "Invalid or corrupt bitmap block"},
    {kErrBufferTooSmall, "Output buffer too small"},
    {kErrEncode, "The picture could not be encoded"},
    {kErrUnsupported, "Unsupported variant of the picture format"},
    {kErrNotPng, "Not a PNG file"},
    {kErrCorruptPng, "Truncated or corrupt PNG data"},
    {kErrNotJpeg, "Not a JPEG file"},
    {kErrCorruptJpeg, "Truncated or corrupt JPEG data"},
    {kErrNotGif, "Not a GIF file"},
    {kErrCorruptGif, "Truncated or corrupt GIF data"},
    {kErrNotBmp, "Not a BMP file"},
    {kErrCorruptBmp, "Truncated or corrupt BMP data"},
    {kErrNotPcx, "Not a PCX file"},
    {kErrCorruptPcx, "Truncated or corrupt PCX data"},
    {kErrNotTga, "Not a TGA file"},
    {kErrCorruptTga, "Truncated or corrupt TGA data"},
    {kErrNotTiff, "Not a TIFF file"},
    {kErrCorruptTiff, "Truncated or corrupt TIFF data"},
    {kErrNoSuchPage, "Page does not exist"},
};

thread_local char t_detail[256];
thread_local uint16_t t_detailCode;

}  // namespace

const char* ImageError::what() const noexcept { return ErrorText(static_cast<uint16_t>(code_)); }

void Fail(ErrorCode code) {
  t_detail[0] = '\0';
  throw ImageError(code);
}

void Fail(ErrorCode code, const char* detail) {
  std::snprintf(t_detail, sizeof t_detail, "%s", detail);
  t_detailCode = static_cast<uint16_t>(code);
  throw ImageError(code);
}

const char* ErrorText(uint16_t code) {
  if (t_detail[0] && code == t_detailCode) return t_detail;
  for (const Entry& e : kTexts)
    if (static_cast<uint16_t>(e.code) == code) return e.text;
  return "Unknown image library error";
}

int CopyErrorText(uint16_t code, char* buffer, int32_t size) {
  const char* text = ErrorText(code);
  const std::size_t length = std::strlen(text);
  if (buffer && size > 0) {
    const std::size_t n = length < static_cast<std::size_t>(size) - 1 ? length : static_cast<std::size_t>(size) - 1;
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
  }
  return static_cast<int>(length);
}

}  // namespace picturelib
