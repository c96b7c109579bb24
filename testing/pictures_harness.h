#pragma once
// Runs every entry of the image libraries on arbitrary bytes: the probe, the
// TIFF page query, each reader, the writers on what the readers decode, and,
// with the same bytes taken as a DIB block, run-length decoding, the depth
// increases and colour reduction.
// Shared by the fuzz target and the test that replays its corpus.
//
// Input layout: one control byte, then the bytes. Control bits 0-1 pick the
// readers' depth (24, 8, 4, 1), bit 2 dithering, bits 3-4 the TIFF page
// (1-4), bit 5 writing back whatever a reader decoded with every writer
// (bits 2-4 then also pick the PNG interlace, the JPEG smoothing and the
// TIFF compression) and adding a TIFF page to the bytes, bits 6-7 the depth
// ReduceDib is asked for (0, 1, 4, 8).
//
// The limits are the production ones: the probe must keep a few bytes from
// costing a large picture's memory, and the fuzzer's RSS limit shows when it
// does not.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "media/picturelib/core/dib.h"
#include "media/picturelib/core/entries.h"
#include "media/picturelib/core/errors.h"
#include "media/picturelib/core/limits.h"
#include "media/picturelib/core/probe.h"

namespace picturelib::fuzzing {

inline constexpr int kReaderDepths[4] = {24, 8, 4, 1};
inline constexpr int kReduceDepths[4] = {0, 1, 4, 8};

inline uint8_t Control(int depthSlot, bool dither, int page, bool write, int reduceSlot) {
  return static_cast<uint8_t>(depthSlot | (dither ? 4 : 0) | (page - 1) << 3 | (write ? 32 : 0) | reduceSlot << 6);
}

// What a run did, for the replay test's checks of the seeds.
struct PicturesRun {
  bool probed = false;
  int decoded = 0;  // readers that answered a block
  int blocks = 0;   // conversions of the raw block that answered one
  int broken = 0;   // answers that break the contract: never allowed
};

// A block handed out must be one the next entry accepts.
inline bool Sound(const img_dib* dib, int bits) {
  try {
    const DibRef ref = InspectDib(dib);
    return ref.compression == 0 && (bits == 0 || ref.bits == bits) && !ref.topDown;
  } catch (const ImageError&) {
    return false;
  }
}

// A progress callback that always lets the work go on.
inline int GoOn(uint16_t, void*) { return 1; }

// Every writer, with the settings the control byte picks; what a writer
// answers success for must read back through its own reader at its size.
inline void WriteBack(const img_dib* dib, uint8_t control, PicturesRun& run) {
  std::vector<unsigned char> buffer(dib->size + 4096);
  const int32_t size = static_cast<int32_t>(buffer.size());
  const int16_t depth = static_cast<int16_t>(kReaderDepths[control & 3]);
  const int16_t flag = (control >> 2) & 1;
  const int16_t compression = static_cast<int16_t>(((control >> 2) & 7) % 6);
  int32_t width = 0, height = 0;
  {
    const DibRef ref = InspectDib(dib);
    width = ref.width;
    height = ref.height;
  }
  const auto check = [&](int result, int32_t written, int (*read)(const unsigned char*, int32_t, img_dib**)) {
    if (result <= 0) return;
    if (written <= 0 || written > size) {
      ++run.broken;
      return;
    }
    img_dib* back = nullptr;
    if (read(buffer.data(), written, &back) <= 0 || !back) {
      ++run.broken;
      return;
    }
    const DibRef ref = InspectDib(back);
    if (ref.width != width || ref.height != height) ++run.broken;
    std::free(back);
  };
  int32_t written = 0;
  int result = entries::wrbmpstreamdib(dib, depth, buffer.data(), size, &written, nullptr, GoOn);
  if (result <= 0) ++run.broken;
  check(result, written, [](const unsigned char* b, int32_t n, img_dib** out) {
    return entries::rdbmpstreamdib(b, n, 24, 0, out, nullptr, nullptr, nullptr, 0);
  });
  result = entries::wrpngstreamdib(dib, depth, flag, buffer.data(), size, &written, nullptr, nullptr);
  check(result, written, [](const unsigned char* b, int32_t n, img_dib** out) {
    return entries::rdpngstreamdib(b, n, 24, 0, out, nullptr, nullptr, nullptr, 0);
  });
  result = entries::wrjpgstreamdib(dib, depth, 75, static_cast<int16_t>(flag * 50), buffer.data(), size, &written,
                                   nullptr, nullptr);
  check(result, written, [](const unsigned char* b, int32_t n, img_dib** out) {
    return entries::rdjpgstreamdib(b, n, 24, 1, 0, out, nullptr, nullptr, nullptr, 0);
  });
  result = entries::wrgifstreamdib(dib, depth, buffer.data(), size, &written, nullptr, nullptr);
  check(result, written, [](const unsigned char* b, int32_t n, img_dib** out) {
    return entries::rdgifstreamdib(b, n, 24, 0, out, nullptr, nullptr, nullptr, 0);
  });
  result = entries::wrpcxstreamdib(dib, depth, buffer.data(), size, &written, nullptr, nullptr);
  check(result, written, [](const unsigned char* b, int32_t n, img_dib** out) {
    return entries::rdpcxstreamdib(b, n, 24, 0, out, nullptr, nullptr, nullptr, 0);
  });
  result = entries::writetgafilestreamdib(dib, depth, buffer.data(), size, &written, nullptr, nullptr);
  check(result, written, [](const unsigned char* b, int32_t n, img_dib** out) {
    return entries::readtgafilestreamdib(b, n, 24, 0, out, nullptr, nullptr, nullptr, 0);
  });
  result = entries::writetiffiledibstream(dib, depth, compression, 0, buffer.data(), size, &written, nullptr, nullptr);
  check(result, written, [](const unsigned char* b, int32_t n, img_dib** out) {
    return entries::readtiffiledibstream(b, n, 24, 0, 1, out, nullptr, nullptr, 0);
  });
  // Too small a buffer is an error, never an overrun.
  if (entries::wrbmpstreamdib(dib, depth, buffer.data(), 16, &written, nullptr, nullptr) > 0) ++run.broken;
}

// The bytes as a TIFF a page is added to: an error, or a file one page
// longer whose new last page reads back.
inline void AppendPage(const unsigned char* bytes, int32_t count, PicturesRun& run) {
  static const uint8_t kTwo[] = {0, 0, 0, 0, 255, 255, 255, 0};
  DibPtr page = NewDib(3, 2, 1, 2);
  std::memcpy(page->bytes + IMG_DIB_HEADER_SIZE, kTwo, sizeof kTwo);
  std::vector<unsigned char> buffer(static_cast<std::size_t>(count) + 4096);
  std::memcpy(buffer.data(), bytes, static_cast<std::size_t>(count));
  int32_t written = count;
  const int result = entries::writetiffiledibstream(page.get(), 1, IMG_TIFF_CCITT_FAX4, 1, buffer.data(),
                                                    static_cast<int32_t>(buffer.size()), &written, nullptr, nullptr);
  if (result <= 0) return;
  // Pages are counted by the walk alone: the pages already there need not decode.
  std::size_t before = 0;
  try {
    before = WalkTiff(Bytes{bytes, static_cast<std::size_t>(count)}).directories.size();
  } catch (const ImageError&) {
    ++run.broken;  // appended to what is not a sound TIFF
    return;
  }
  int32_t width = 0, height = 0, compression = 0, spare = 0;
  int16_t after = 0, bits = 0;
  if (written <= count || written > static_cast<int32_t>(buffer.size()) ||
      entries::getinfostream(buffer.data(), written, INT16_MAX, &width, &height, &compression, &spare, &after,
                             &bits) <= 0 ||
      static_cast<std::size_t>(after) != before + 1) {
    ++run.broken;
    return;
  }
  // The new page reads back wherever the file's first page did: the decoder
  // reads that page on opening any.
  img_dib* first = nullptr;
  const bool readable = entries::readtiffiledibstream(bytes, count, 24, 0, 1, &first, nullptr, nullptr, 0) > 0;
  std::free(first);
  if (!readable) return;
  img_dib* back = nullptr;
  if (entries::readtiffiledibstream(buffer.data(), written, 24, 0, after, &back, nullptr, nullptr, 0) <= 0 || !back) {
    ++run.broken;
    return;
  }
  if (InspectDib(back).width != 3) ++run.broken;
  std::free(back);
}

inline PicturesRun RunPictures(const uint8_t* data, std::size_t size) {
  PicturesRun run;
  if (size < 2 || size > INT32_MAX) return run;
  SetLimits(Limits{});
  const uint8_t control = data[0];
  const unsigned char* bytes = data + 1;
  const int32_t count = static_cast<int32_t>(size - 1);
  const int16_t depth = static_cast<int16_t>(kReaderDepths[control & 3]);
  const int16_t dither = (control >> 2) & 1;
  const int16_t page = static_cast<int16_t>(((control >> 3) & 3) + 1);

  char name[IMG_NAME_BUFFER];
  char klass[IMG_CLASS_BUFFER];
  int32_t width = 0, height = 0, compression = 0, spare = 0;
  int16_t bits = 0, extra1 = 0, extra2 = 0, pages = 0;
  if (entries::streaminfo(bytes, count, name, &width, &height, &bits, &extra1, &extra2, klass, 0) > 0) {
    run.probed = true;
    if (width <= 0 || height <= 0 || std::strlen(name) >= IMG_NAME_BUFFER) ++run.broken;
  }
  entries::getinfostream(bytes, count, page, &width, &height, &compression, &spare, &pages, &bits);
  if (control & 32) AppendPage(bytes, count, run);

  using Reader = int (*)(const unsigned char*, int32_t, int16_t, int16_t, int16_t, img_dib**);
  static const Reader kReaders[] = {
      [](const unsigned char* b, int32_t n, int16_t d, int16_t t, int16_t, img_dib** out) {
        return entries::rdpngstreamdib(b, n, d, t, out, nullptr, nullptr, GoOn, 0);
      },
      [](const unsigned char* b, int32_t n, int16_t d, int16_t t, int16_t, img_dib** out) {
        return entries::rdjpgstreamdib(b, n, d, 1, t, out, nullptr, nullptr, GoOn, 0);
      },
      [](const unsigned char* b, int32_t n, int16_t d, int16_t t, int16_t, img_dib** out) {
        return entries::rdgifstreamdib(b, n, d, t, out, nullptr, nullptr, GoOn, 0);
      },
      [](const unsigned char* b, int32_t n, int16_t d, int16_t t, int16_t, img_dib** out) {
        return entries::rdbmpstreamdib(b, n, d, t, out, nullptr, nullptr, GoOn, 0);
      },
      [](const unsigned char* b, int32_t n, int16_t d, int16_t t, int16_t, img_dib** out) {
        return entries::rdpcxstreamdib(b, n, d, t, out, nullptr, nullptr, GoOn, 0);
      },
      [](const unsigned char* b, int32_t n, int16_t d, int16_t t, int16_t, img_dib** out) {
        return entries::readtgafilestreamdib(b, n, d, t, out, nullptr, nullptr, GoOn, 0);
      },
      [](const unsigned char* b, int32_t n, int16_t d, int16_t t, int16_t p, img_dib** out) {
        return entries::readtiffiledibstream(b, n, d, t, p, out, nullptr, GoOn, 0);
      },
  };
  for (Reader read : kReaders) {
    img_dib* out = nullptr;
    const int result = read(bytes, count, depth, dither, page, &out);
    if ((result > 0) != (out != nullptr)) ++run.broken;
    if (!out) continue;
    ++run.decoded;
    if (!Sound(out, depth == 0 ? 4 : depth)) ++run.broken;
    if (control & 32) WriteBack(out, control, run);
    std::free(out);
  }

  // The same bytes as a block handed in by the program.
  DibPtr raw(img_dib_alloc(static_cast<uint32_t>(count)));
  if (!raw) return run;
  std::memcpy(raw->bytes, bytes, static_cast<std::size_t>(count));
  const auto take = [&](img_dib* out, int expectBits) {
    if (!out) return;
    ++run.blocks;
    if (!Sound(out, expectBits)) ++run.broken;
    std::free(out);
  };
  img_dib* plain = nullptr;
  void* palette = &run;
  const int decoded = entries::DibtoDdb(raw.get(), &plain, &palette);
  if ((decoded > 0) != (plain != nullptr) || palette != nullptr) ++run.broken;
  take(plain, 0);
  take(entries::DIB1to4(raw.get(), 4, 0, 0, 0, 0, nullptr, GoOn), 4);
  take(entries::DIB1To8(raw.get(), 8, 0, 0, 0, 0, nullptr, GoOn), 8);
  take(entries::DIB1To24(raw.get(), 24, 0, 0, 0, 0, nullptr, GoOn), 24);
  take(entries::DIB4To8(raw.get(), 8, 0, 0, 0, 0, nullptr, GoOn), 8);
  take(entries::DIB4To24(raw.get(), 24, 0, 0, 0, 0, nullptr, GoOn), 24);
  take(entries::DIB8To24(raw.get(), 24, 0, 0, 0, 0, nullptr, GoOn), 24);
  take(entries::DIB16To24(raw.get(), 24, 0, 0, 0, 0, nullptr, GoOn), 24);
  take(entries::DIB32To24(raw.get(), 24, 0, 0, 0, 0, nullptr, GoOn), 24);
  const int reduceDepth = kReduceDepths[control >> 6];
  take(entries::ReduceDib(raw.get(), static_cast<int16_t>(reduceDepth), dither,
                          1 << (reduceDepth == 0 ? 4 : reduceDepth), 0, 0, nullptr, GoOn),
       reduceDepth == 0 ? 4 : reduceDepth);
  if (control & 32) {
    std::vector<unsigned char> buffer(static_cast<std::size_t>(count) + 4096);
    int32_t written = 0;
    entries::wrbmpstreamdib(raw.get(), depth, buffer.data(), static_cast<int32_t>(buffer.size()), &written, nullptr,
                            nullptr);
  }
  return run;
}

}  // namespace picturelib::fuzzing
