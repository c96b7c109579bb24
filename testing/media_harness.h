#pragma once
// The program's own reading of blobs on arbitrary bytes: recognising the
// kind, judging a sound before the mixer gets it, and turning the bytes,
// taken as a packed DIB block, into a toolkit bitmap. Shared by the fuzz
// target and the test that replays its corpus.
//
// Input layout: one control byte, then the bytes. Control bits 0-1 pick the
// depth of the bitmap (24, 8, 4, 1), bit 2 dithering, bits 3-4 the TIFF page
// (1-4).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "media/content_recognition.h"
#include "media/image_library.h"
#include "media/packed_dib.h"
#include "toolkit/graphics.h"

namespace media::fuzzing {

inline constexpr int kDepths[4] = {24, 8, 4, 1};

inline std::uint8_t Control(int depthSlot, bool dither, int page) {
  return static_cast<std::uint8_t>(depthSlot | (dither ? 4 : 0) | (page - 1) << 3);
}

struct TMediaRun {
  std::string kind;  // what the recognition said
  bool playable = false;
  bool bitmap = false;  // the bytes as a block gave a bitmap
  int broken = 0;       // answers that break the contract: never allowed
};

inline int GoOn(std::uint16_t, void*) { return 1; }

inline bool KnownKind(std::string_view kind) {
  for (std::string_view k : {"-1", "WMF", "WAV", "AVI", "RMI", "MOV", "MID", "SCM", "CMS", "DXF", "RTF", "PNG",
                             "GIF", "PCX", "TGA", "EPS", "JPG", "PCD", "BMP", "TIF"})
    if (kind == k) return true;
  return false;
}

inline bool Starts(std::span<const std::uint8_t> b, std::size_t at, std::string_view tag) {
  return b.size() >= at + tag.size() && std::memcmp(b.data() + at, tag.data(), tag.size()) == 0;
}

// The image libraries are looked for in `libraryDir`.
inline TMediaRun RunMedia(const std::uint8_t* data, std::size_t size, const char* libraryDir) {
  TMediaRun run;
  if (size < 1) return run;
  TPictureLibrary::SetSearchDirectory(libraryDir);
  const int depth = kDepths[data[0] & 3];
  const bool dither = data[0] & 4;
  const int page = (data[0] >> 3 & 3) + 1;
  const std::span<const std::uint8_t> bytes(data + 1, size - 1);

  if (!bytes.empty()) {
    TContentInfo info;
    const TRecognition recognised = RecognizeBytes(bytes, page, info);
    run.kind = recognised.Kind;
    if (!KnownKind(recognised.Kind)) ++run.broken;
    if (recognised.Kind != "-1" && info.ByteSize != static_cast<std::int32_t>(bytes.size())) ++run.broken;
    for (const char* kind : {"WAV", "MID"}) {
      if (!PlayableSound(kind, bytes)) continue;
      run.playable = true;
      // Nothing but a wave file or a MIDI file, by its first bytes, is played.
      const bool wave = Starts(bytes, 0, "RIFF") && Starts(bytes, 8, "WAVE");
      if (std::string_view(kind) == "WAV" ? !wave : !Starts(bytes, 0, "MThd")) ++run.broken;
    }
  }

  TDibHandle block(img_dib_alloc(static_cast<std::uint32_t>(bytes.size())));
  if (!block) return run;
  if (!bytes.empty()) std::memcpy(block->bytes, bytes.data(), bytes.size());
  toolkit::TBitmap bitmap;
  try {
    run.bitmap = DibToBitmap(block.get(), depth, dither, GoOn, nullptr, bitmap);
  } catch (const ErrorInvalid&) {
    // Out of memory for a legal size: an error, as the control shows it.
  }
  if (run.bitmap) {
    TPackedDib dib;
    dib.OwnsMemory = false;
    dib.AttachDib(block.get());
    const int height = dib.Height() < 0 ? -dib.Height() : dib.Height();
    if (bitmap.Width() != dib.Width() || bitmap.Height() != height) ++run.broken;
  }
  return run;
}

}  // namespace media::fuzzing
