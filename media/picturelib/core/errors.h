#pragma once
// Error codes of the image libraries. An entry answers one of these negative
// numbers; the program reads it back as an unsigned 16-bit code and asks
// errortext for the words.
#include <cstddef>
#include <cstdint>
#include <exception>

namespace picturelib {

enum ErrorCode : int {
  kErrInternal = -100,
  kErrOutOfMemory = -101,
  kErrCancelled = -102,
  kErrBadArgument = -103,
  kErrUnknownFormat = -104,
  kErrTooLarge = -105,
  kErrBadDepth = -106,
  kErrNotAvailable = -107,
  kErrBadDib = -108,
  kErrBufferTooSmall = -109,
  kErrEncode = -110,
  kErrUnsupported = -111,
  kErrNotPng = -120,
  kErrCorruptPng = -121,
  kErrNotJpeg = -122,
  kErrCorruptJpeg = -123,
  kErrNotGif = -124,
  kErrCorruptGif = -125,
  kErrNotBmp = -126,
  kErrCorruptBmp = -127,
  kErrNotPcx = -128,
  kErrCorruptPcx = -129,
  kErrNotTga = -130,
  kErrCorruptTga = -131,
  kErrNotTiff = -132,
  kErrCorruptTiff = -133,
  kErrNoSuchPage = -134,
};

// Thrown inside the core and turned into a result at the entry boundary, so
// deep helpers need not thread codes through every return.
class ImageError : public std::exception {
 public:
  explicit ImageError(ErrorCode code) : code_(code) {}
  ErrorCode code() const noexcept { return code_; }
  const char* what() const noexcept override;

 private:
  ErrorCode code_;
};

[[noreturn]] void Fail(ErrorCode code);
// Fails with words that say more than the code's own text (the sizes that
// were refused, say). errortext answers them for this code until the next
// failure on the same thread, which is when the program asks for them.
[[noreturn]] void Fail(ErrorCode code, const char* detail);

// The text of a code as the program sees it (the negative result cast to
// 16 bits); unknown codes get a generic text rather than nothing.
const char* ErrorText(uint16_t code);

// errortext's contract: copy what fits, always terminate, answer the full
// length so a caller can size its buffer.
int CopyErrorText(uint16_t code, char* buffer, int32_t size);

}  // namespace picturelib
