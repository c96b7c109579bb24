#include "engine/files/compression.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

#include "engine/errors/ledger_error.h"

namespace ledger {
namespace {

constexpr std::size_t kStep = 256;

}  // namespace

std::vector<std::uint8_t> CompressBuffer(std::span<const std::uint8_t> input) {
  const std::size_t n = input.size();
  if (n > UINT_MAX / 2) RaiseError(LEDGER_COMPRESS, TErrorContext{});
  std::vector<std::uint8_t> out((n + n / 10 + 267) / kStep * kStep);
  z_stream z{};
  if (deflateInit(&z, 9) != Z_OK) RaiseError(LEDGER_COMPRESS, TErrorContext{});
  z.next_in = const_cast<Bytef*>(input.data());
  z.avail_in = static_cast<uInt>(n);
  int status;
  for (;;) {
    z.next_out = out.data() + z.total_out;
    z.avail_out = static_cast<uInt>(out.size() - z.total_out);
    status = deflate(&z, Z_FINISH);
    if (status == Z_STREAM_END) break;
    if ((status != Z_OK && status != Z_BUF_ERROR) || z.avail_out != 0) break;
    out.resize(out.size() + kStep);
  }
  const std::size_t produced = z.total_out;
  deflateEnd(&z);
  if (status != Z_STREAM_END) RaiseError(LEDGER_COMPRESS, TErrorContext{});
  out.resize(produced);
  return out;
}

std::vector<std::uint8_t> DecompressBuffer(std::span<const std::uint8_t> input,
                                           std::size_t maxOutput) {
  const std::size_t n = input.size();
  if (n > UINT_MAX / 2 || maxOutput > UINT_MAX / 2) RaiseError(LEDGER_UNCOMPRESS, TErrorContext{});
  // Never a zero step: empty input would otherwise grow the buffer by nothing
  // for ever.
  const std::size_t step = n == 0 ? kStep : (n + kStep - 1) / kStep * kStep;
  std::vector<std::uint8_t> out(std::min(step, maxOutput));
  z_stream z{};
  if (inflateInit(&z) != Z_OK) RaiseError(LEDGER_UNCOMPRESS, TErrorContext{});
  z.next_in = const_cast<Bytef*>(input.data());
  z.avail_in = static_cast<uInt>(n);
  int status;
  Bytef scratch;  // zlib refuses a null output pointer even for no output
  for (;;) {
    z.next_out = out.empty() ? &scratch : out.data() + z.total_out;
    z.avail_out = static_cast<uInt>(out.size() - z.total_out);
    status = inflate(&z, Z_FINISH);
    if (status == Z_STREAM_END) break;
    // Only a full buffer is worth growing; anything else is bad or cut input.
    if ((status != Z_OK && status != Z_BUF_ERROR) || z.avail_out != 0) break;
    if (out.size() >= maxOutput) break;
    out.resize(std::min(out.size() + step, maxOutput));
  }
  const std::size_t produced = z.total_out;
  inflateEnd(&z);
  if (status != Z_STREAM_END) RaiseError(LEDGER_UNCOMPRESS, TErrorContext{});
  out.resize(produced);
  return out;
}

}  // namespace ledger
