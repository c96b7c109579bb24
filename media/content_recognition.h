#pragma once
// What a blob holds: a metafile, one of the signature kinds (sounds, movies,
// banners, drawings, rich text) or a raster picture the library's probe names.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace media {

struct TContentInfo {
  std::string FormatName;
  std::string FormatClass;
  std::int32_t Width = 0, Height = 0;
  std::int16_t Bits = 0;
  std::int16_t Extra1 = 0, Extra2 = 0;  // kept from the probe, never read
  std::int32_t ByteSize = 0;
  std::int16_t TiffPages = 0;
  // Texts emptied, numbers zeroed: what a data change leaves.
  void Clear() { *this = TContentInfo{}; }
};

// The toolkit's graphic header some blobs carry: 16-bit 1, 16-bit 256 and a
// 32-bit length equal to the rest. Answers the bytes after it, or all of them.
std::span<const std::uint8_t> SkipGraphicHeader(std::span<const std::uint8_t> blob);

struct TRecognition {
  std::string Kind = "-1";  // "PNG", "JPG", "WAV", "WMF", ... or "-1"
  bool Failed = false;      // the probe failed; LastLibraryError says why
};

// Recognises a non-empty blob and fills `info` (which starts as "Empty" with
// -1 values). `tiffPage` is the page the TIFF size is asked for. Throws only
// what loading the image library throws.
TRecognition RecognizeBytes(std::span<const std::uint8_t> blob, int tiffPage,
                            TContentInfo& info);

// Whether the mixer may be handed `bytes` recognised as `kind`: for "WAV" only
// a RIFF WAVE file ("RIFF" at 0, "WAVE" at 8) whose format chunk, before its
// data chunk, says PCM (8 to 32 bits) or 32-bit IEEE float; for "MID" only a
// standard MIDI file ("MThd" at 0). The signature search above is loose, and
// the mixer's loader decodes whatever it recognises itself (modules, MP3,
// FLAC, Vorbis, VOC), so nothing else reaches it.
bool PlayableSound(std::string_view kind, std::span<const std::uint8_t> bytes);

}  // namespace media
