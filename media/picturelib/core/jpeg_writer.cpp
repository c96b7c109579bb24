// JPEG through libjpeg, which offers the input smoothing the save setting asks for.
#include <cstddef>
#include <cstdio>
// libjpeg's header leans on the two above.
#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <new>

#include "media/picturelib/core/errors.h"
#include "media/picturelib/core/format_writers.h"

namespace picturelib {
namespace {

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

void JpegFail(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1); }
void JpegQuiet(j_common_ptr) {}

// Coded bytes go through a small chunk into a vector of ours, so no buffer
// of libjpeg's outlives a failed run.
struct JpegSink {
  jpeg_destination_mgr mgr;
  std::vector<uint8_t>* bytes;
  bool outOfMemory = false;
  JOCTET chunk[4096];
};

bool Keep(j_compress_ptr cinfo, std::size_t n) {
  auto* sink = reinterpret_cast<JpegSink*>(cinfo->dest);
  try {
    sink->bytes->insert(sink->bytes->end(), sink->chunk, sink->chunk + n);
  } catch (const std::bad_alloc&) {
    sink->outOfMemory = true;
  }
  sink->mgr.next_output_byte = sink->chunk;
  sink->mgr.free_in_buffer = sizeof sink->chunk;
  return !sink->outOfMemory;
}
void SinkStart(j_compress_ptr cinfo) { Keep(cinfo, 0); }
boolean SinkFull(j_compress_ptr cinfo) {
  auto* sink = reinterpret_cast<JpegSink*>(cinfo->dest);
  if (!Keep(cinfo, sizeof sink->chunk)) cinfo->err->error_exit(reinterpret_cast<j_common_ptr>(cinfo));
  return TRUE;
}
void SinkEnd(j_compress_ptr cinfo) {
  auto* sink = reinterpret_cast<JpegSink*>(cinfo->dest);
  if (!Keep(cinfo, sizeof sink->chunk - sink->mgr.free_in_buffer))
    cinfo->err->error_exit(reinterpret_cast<j_common_ptr>(cinfo));
}

// Only plain data lives in this frame, so the long jump out of libjpeg
// leaves nothing undestroyed. `rows` are ready to hand over, top row first.
bool EncodeJpeg(int32_t width, int32_t height, bool grey, int quality, int smoothing, JSAMPARRAY rows,
               JpegSink& sink) {
  jpeg_compress_struct cinfo;
  JpegError error;
  cinfo.err = jpeg_std_error(&error.mgr);
  error.mgr.error_exit = JpegFail;
  error.mgr.output_message = JpegQuiet;
  if (setjmp(error.jump)) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  sink.mgr.init_destination = SinkStart;
  sink.mgr.empty_output_buffer = SinkFull;
  sink.mgr.term_destination = SinkEnd;
  cinfo.dest = &sink.mgr;
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = grey ? 1 : 3;
  // Block rows hold blue, green, red.
  cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  cinfo.smoothing_factor = smoothing;
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) jpeg_write_scanlines(&cinfo, rows + cinfo.next_scanline, 1);
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

}  // namespace

std::vector<uint8_t> WriteJpeg(const DibRef& d, bool grey, int quality, int smoothing) {
  if (!grey && d.bits != 24) Fail(kErrInternal);
  std::vector<uint8_t> luma;
  std::vector<JSAMPROW> rows(static_cast<std::size_t>(d.height));
  const std::size_t width = static_cast<std::size_t>(d.width);
  if (grey) {
    luma.resize(width * static_cast<std::size_t>(d.height));
    std::vector<uint8_t> rgb(width * 3);
    for (int32_t y = 0; y < d.height; ++y) {
      RowToRgb(d, y, rgb.data());
      uint8_t* row = &luma[width * static_cast<std::size_t>(y)];
      for (std::size_t x = 0; x < width; ++x) {
        const uint8_t* p = &rgb[x * 3];
        row[x] = static_cast<uint8_t>((299 * p[0] + 587 * p[1] + 114 * p[2] + 500) / 1000);
      }
      rows[static_cast<std::size_t>(y)] = row;
    }
  } else {
    for (int32_t y = 0; y < d.height; ++y) rows[static_cast<std::size_t>(y)] = const_cast<JSAMPROW>(d.Row(y));
  }
  std::vector<uint8_t> bytes;
  JpegSink sink{};
  sink.bytes = &bytes;
  const bool ok =
      EncodeJpeg(d.width, d.height, grey, std::clamp(quality, 1, 100), std::clamp(smoothing, 0, 100), rows.data(), sink);
  if (sink.outOfMemory) Fail(kErrOutOfMemory);
  if (!ok || bytes.empty()) Fail(kErrEncode);
  return bytes;
}

}  // namespace picturelib
