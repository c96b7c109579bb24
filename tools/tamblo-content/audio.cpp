#include "tools/tamblo-content/audio.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <string_view>

#include "engine/public/byte_order.h"

namespace tamblo::content_tool {
namespace {

using ledger::GetU16;
using ledger::GetU32;

constexpr double kMinusInf = -std::numeric_limits<double>::infinity();
constexpr double kInaudibleLufs = -150.0;

double ToDb(double power) { return power > 0 ? 10.0 * std::log10(power) : kMinusInf; }

double DecodeSample(const std::uint8_t* p, int formatTag, int bits) {
  if (formatTag == 3) {
    if (bits == 32) return std::bit_cast<float>(GetU32(p));
    return ledger::GetF64(p);
  }
  switch (bits) {
    case 8:
      return (p[0] - 128) / 128.0;
    case 16:
      return static_cast<std::int16_t>(GetU16(p)) / 32768.0;
    case 24: {
      const std::int32_t v = static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) << 8 |
                                                       static_cast<std::uint32_t>(p[1]) << 16 |
                                                       static_cast<std::uint32_t>(p[2]) << 24);
      return v / 2147483648.0;
    }
    default:
      return static_cast<std::int32_t>(GetU32(p)) / 2147483648.0;
  }
}

// One biquad section in direct form I.
struct TBiquad {
  double b0, b1, b2, a1, a2;
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  double Step(double x) {
    const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
  }
};

// The two stages of the K-weighting filter of the loudness meters, designed
// for any rate from their analogue prototypes.
std::vector<double> KWeighted(const TSound& sound) {
  const double fs = sound.rate;
  double k = std::tan(std::numbers::pi * 1681.974450955533 / fs);
  const double q = 0.7071752369554196;
  const double vh = std::pow(10.0, 3.999843853973347 / 20.0);
  const double vb = std::pow(vh, 0.4996667741545416);
  double a0 = 1.0 + k / q + k * k;
  TBiquad shelf{(vh + vb * k / q + k * k) / a0, 2.0 * (k * k - vh) / a0, (vh - vb * k / q + k * k) / a0,
                2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
  k = std::tan(std::numbers::pi * 38.13547087602444 / fs);
  const double q2 = 0.5003270373238773;
  a0 = 1.0 + k / q2 + k * k;
  TBiquad highPass{1.0, -2.0, 1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / q2 + k * k) / a0};
  std::vector<double> out(sound.samples.size());
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = highPass.Step(shelf.Step(sound.samples[i]));
  return out;
}

// Mean power of each 10 ms frame.
std::vector<double> FramePowers(const TSound& sound, std::size_t& frameLength) {
  frameLength = std::max<std::size_t>(1, static_cast<std::size_t>(sound.rate / 100));
  std::vector<double> powers;
  for (std::size_t start = 0; start < sound.samples.size(); start += frameLength) {
    const std::size_t end = std::min(sound.samples.size(), start + frameLength);
    double sum = 0;
    for (std::size_t i = start; i < end; ++i) sum += double{sound.samples[i]} * sound.samples[i];
    powers.push_back(sum / static_cast<double>(end - start));
  }
  return powers;
}

double SilenceFloor(const std::vector<double>& powers, double floorBelowPeakDb) {
  const double loudest = powers.empty() ? 0.0 : *std::max_element(powers.begin(), powers.end());
  return std::max(ToDb(loudest) - floorBelowPeakDb, -75.0);
}

double Sinc(double x) {
  if (std::abs(x) < 1e-12) return 1.0;
  return std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
}

std::string OneDecimal(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", v);
  return text;
}

// Where a RIFF WAVE file keeps its samples and what they are.
struct TWaveLayout {
  TWaveFormat format;
  std::uint64_t dataStart = 0, dataSize = 0;
};

// Walks the chunks of a file of `total` bytes up to its samples, reading
// through `peek` (offset, count, destination; false when the bytes are not
// there), and checks the format and the length against the limits. Answers
// what is wrong, or nothing.
template <class TPeek>
std::string ReadLayout(std::uint64_t total, TWaveLayout& layout, TPeek&& peek) {
  std::uint8_t head[12];
  if (total < 12 || !peek(0, 12, head) || std::memcmp(head, "RIFF", 4) != 0 ||
      std::memcmp(head + 8, "WAVE", 4) != 0)
    return "not a RIFF WAVE file";
  TWaveFormat& fmt = layout.format;
  bool haveFormat = false, haveData = false;
  std::uint64_t pos = 12;
  while (pos + 8 <= total) {
    std::uint8_t chunk[8];
    if (!peek(pos, 8, chunk)) return "cannot be read";
    const std::string_view id(reinterpret_cast<const char*>(chunk), 4);
    const std::uint64_t size = GetU32(chunk, 4);
    const std::uint64_t body = pos + 8;
    const bool truncated = size > total - body;
    if (id == "fmt ") {
      if (truncated || size < 16) return "the format chunk is cut short";
      std::uint8_t f[26] = {};
      if (!peek(body, size < 26 ? 16 : 26, f)) return "cannot be read";
      fmt.formatTag = GetU16(f, 0);
      fmt.channels = GetU16(f, 2);
      const std::uint32_t rate = GetU32(f, 4);
      fmt.rate = rate > 384000 ? -1 : static_cast<int>(rate);
      fmt.bits = GetU16(f, 14);
      // WAVE_FORMAT_EXTENSIBLE names the real format in its sub-format GUID.
      if (fmt.formatTag == 0xFFFE && size >= 26) fmt.formatTag = GetU16(f, 24);
      haveFormat = true;
    } else if (id == "data") {
      if (!haveFormat) return "the data chunk comes before the format chunk";
      // A writer that never went back to fill in the size leaves it too large;
      // the bytes that are there still play.
      layout.dataStart = body;
      layout.dataSize = truncated ? total - body : size;
      haveData = true;
      break;
    }
    if (truncated) break;
    pos = body + size + (size & 1);
  }
  if (!haveFormat) return "no format chunk";
  if (!haveData) return "no data chunk";
  const bool pcm =
      fmt.formatTag == 1 && (fmt.bits == 8 || fmt.bits == 16 || fmt.bits == 24 || fmt.bits == 32);
  const bool floating = fmt.formatTag == 3 && (fmt.bits == 32 || fmt.bits == 64);
  if (!pcm && !floating) return "not PCM or float samples";
  if (fmt.channels < 1 || fmt.channels > 8) return "an impossible number of channels";
  if (fmt.rate < 4000 || fmt.rate > 384000) return "an impossible sample rate";
  const std::uint64_t frameBytes = static_cast<std::uint64_t>(fmt.bits / 8) * static_cast<std::uint64_t>(fmt.channels);
  fmt.frames = layout.dataSize / frameBytes;
  if (fmt.frames == 0) return "no samples";
  const double seconds = static_cast<double>(fmt.frames) / fmt.rate;
  if (seconds > kLongestRecording)
    return "lasts " + OneDecimal(seconds) + " s, longer than the " + OneDecimal(kLongestRecording) +
           " s a recording may";
  if (layout.dataSize > kMostSampleBytes)
    return "holds " + std::to_string(layout.dataSize >> 20) + " MiB of samples, more than the " +
           std::to_string(kMostSampleBytes >> 20) + " MiB a recording may";
  return {};
}

// The samples of `data`, laid out as `fmt` says, mixed down to mono.
std::optional<TSound> Decode(const TWaveFormat& fmt, std::span<const std::uint8_t> data, std::string& why,
                             TWaveFormat* format) {
  const std::size_t sampleBytes = static_cast<std::size_t>(fmt.bits / 8);
  const std::size_t frameBytes = sampleBytes * static_cast<std::size_t>(fmt.channels);
  const std::size_t frames = static_cast<std::size_t>(fmt.frames);
  TSound sound;
  sound.rate = fmt.rate;
  sound.samples.resize(frames);
  for (std::size_t f = 0; f < frames; ++f) {
    double sum = 0;
    for (int c = 0; c < fmt.channels; ++c) {
      const double v = DecodeSample(data.data() + f * frameBytes + static_cast<std::size_t>(c) * sampleBytes,
                                    fmt.formatTag, fmt.bits);
      // Infinity or not-a-number has no level, and would poison every step
      // after; a double beyond a float's range would become infinity.
      if (!(std::abs(v) <= std::numeric_limits<float>::max())) {
        why = "sample " + std::to_string(f) + " is not a finite level";
        return std::nullopt;
      }
      sum += v;
    }
    sound.samples[f] = static_cast<float>(sum / fmt.channels);
  }
  if (format) *format = fmt;
  return sound;
}

}  // namespace

std::optional<TSound> ReadWave(std::span<const std::uint8_t> bytes, std::string& why, TWaveFormat* format) {
  TWaveLayout layout;
  why = ReadLayout(bytes.size(), layout, [&](std::uint64_t offset, std::size_t count, std::uint8_t* out) {
    if (offset > bytes.size() || count > bytes.size() - offset) return false;
    std::copy_n(bytes.data() + offset, count, out);
    return true;
  });
  if (!why.empty()) return std::nullopt;
  return Decode(layout.format, bytes.subspan(layout.dataStart, layout.dataSize), why, format);
}

std::optional<TSound> ReadWaveFile(const std::filesystem::path& file, std::string& why, TWaveFormat* format) {
  std::ifstream in(file, std::ios::binary);
  std::error_code error;
  const bool regular = std::filesystem::is_regular_file(file, error);
  const std::uintmax_t total = regular ? std::filesystem::file_size(file, error) : 0;
  if (!in || !regular || error) {
    why = "cannot be read";
    return std::nullopt;
  }
  auto peek = [&](std::uint64_t offset, std::size_t count, std::uint8_t* out) {
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(count));
    return in.gcount() == static_cast<std::streamsize>(count);
  };
  TWaveLayout layout;
  why = ReadLayout(total, layout, peek);
  if (!why.empty()) return std::nullopt;
  // Only the samples: whatever else the file holds may be large and is not needed.
  std::vector<std::uint8_t> data(static_cast<std::size_t>(layout.dataSize));
  if (!peek(layout.dataStart, data.size(), data.data())) {
    why = "cannot be read";
    return std::nullopt;
  }
  return Decode(layout.format, data, why, format);
}

std::vector<std::uint8_t> WriteWave16(const TSound& sound) {
  const std::uint64_t dataBytes = std::uint64_t{sound.samples.size()} * 2;
  if (dataBytes > std::uint64_t{UINT32_MAX} - 36)
    throw std::length_error("a sound of " + std::to_string(sound.samples.size()) +
                            " samples is too long for a WAV file");
  std::vector<std::uint8_t> out(static_cast<std::size_t>(44 + dataBytes));
  std::uint8_t* p = out.data();
  std::copy_n("RIFF", 4, p);
  ledger::PutU32(p, 4, static_cast<std::uint32_t>(36 + dataBytes));
  std::copy_n("WAVEfmt ", 8, p + 8);
  ledger::PutU32(p, 16, 16);
  ledger::PutU16(p, 20, 1);
  ledger::PutU16(p, 22, 1);
  ledger::PutU32(p, 24, static_cast<std::uint32_t>(sound.rate));
  ledger::PutU32(p, 28, static_cast<std::uint32_t>(std::uint64_t{static_cast<std::uint32_t>(sound.rate)} * 2));
  ledger::PutU16(p, 32, 2);
  ledger::PutU16(p, 34, 16);
  std::copy_n("data", 4, p + 36);
  ledger::PutU32(p, 40, static_cast<std::uint32_t>(dataBytes));
  for (std::size_t i = 0; i < sound.samples.size(); ++i) {
    // A sample that is not a number has no level to write; it is silence.
    const double s = std::isnan(sound.samples[i]) ? 0.0 : double{sound.samples[i]};
    const double v = std::clamp(std::round(s * 32767.0), -32768.0, 32767.0);
    ledger::PutU16(p, 44 + 2 * i, static_cast<std::uint16_t>(static_cast<std::int16_t>(v)));
  }
  return out;
}

TSound Resample(const TSound& sound, int rate) {
  if (rate == sound.rate || sound.samples.empty()) {
    TSound same = sound;
    same.rate = rate;
    return same;
  }
  const double ratio = static_cast<double>(rate) / sound.rate;
  // Cut a little below the lower Nyquist frequency so the window's skirt
  // does not fold back.
  const double cutoff = 0.5 * std::min(1.0, ratio) * 0.96;
  const double halfWidth = 16.0 / std::min(1.0, ratio);
  const std::size_t outCount = static_cast<std::size_t>(std::llround(sound.samples.size() * ratio));
  TSound out;
  out.rate = rate;
  out.samples.resize(outCount);
  const long long last = static_cast<long long>(sound.samples.size()) - 1;
  for (std::size_t n = 0; n < outCount; ++n) {
    const double t = n / ratio;
    const long long first = std::max<long long>(0, static_cast<long long>(std::ceil(t - halfWidth)));
    const long long stop = std::min<long long>(last, static_cast<long long>(std::floor(t + halfWidth)));
    double sum = 0;
    for (long long k = first; k <= stop; ++k) {
      const double d = t - static_cast<double>(k);
      const double w = 0.5 + 0.5 * std::cos(std::numbers::pi * d / halfWidth);
      sum += sound.samples[static_cast<std::size_t>(k)] * 2.0 * cutoff * Sinc(2.0 * cutoff * d) * w;
    }
    out.samples[n] = static_cast<float>(sum);
  }
  return out;
}

double MaxMomentaryLoudness(const TSound& sound) {
  if (sound.samples.empty() || sound.rate <= 0) return kMinusInf;
  const std::vector<double> weighted = KWeighted(sound);
  const std::size_t window = static_cast<std::size_t>(sound.rate * 0.4);
  // Running sum of squares over a window sliding in 10 ms steps.
  std::vector<double> prefix(weighted.size() + 1, 0.0);
  for (std::size_t i = 0; i < weighted.size(); ++i) prefix[i + 1] = prefix[i] + weighted[i] * weighted[i];
  const std::size_t step = std::max<std::size_t>(1, static_cast<std::size_t>(sound.rate / 100));
  double best = 0;
  for (std::size_t start = 0;; start += step) {
    const std::size_t end = std::min(weighted.size(), start + window);
    best = std::max(best, (prefix[end] - prefix[start]) / static_cast<double>(window));
    if (end == weighted.size()) break;
  }
  return best > 0 ? -0.691 + ToDb(best) : kMinusInf;
}

double PeakLevel(const TSound& sound) {
  double peak = 0;
  for (float s : sound.samples) peak = std::max(peak, static_cast<double>(std::abs(s)));
  return peak > 0 ? 20.0 * std::log10(peak) : kMinusInf;
}

std::size_t ClippedSamples(const TSound& sound) {
  return static_cast<std::size_t>(std::count_if(sound.samples.begin(), sound.samples.end(),
                                                [](float s) { return std::abs(s) >= 32767.0f / 32768.0f; }));
}

void ApplyGain(TSound& sound, double db) {
  const float factor = static_cast<float>(std::pow(10.0, db / 20.0));
  for (float& s : sound.samples) s *= factor;
}

void LimitPeaks(TSound& sound, double ceilingDb) {
  const float ceiling = static_cast<float>(std::pow(10.0, ceilingDb / 20.0));
  const std::size_t n = sound.samples.size();
  std::vector<float> need(n);
  for (std::size_t i = 0; i < n; ++i) {
    const float a = std::abs(sound.samples[i]);
    need[i] = a > ceiling ? ceiling / a : 1.0f;
  }
  // The least gain within 5 ms, then averaged over 5 ms: the average of
  // values each no higher than a peak's own need stays under it.
  const std::size_t reach = std::max<std::size_t>(1, static_cast<std::size_t>(sound.rate * 0.005));
  std::vector<float> least(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t from = i > reach ? i - reach : 0, to = std::min(n, i + reach + 1);
    least[i] = *std::min_element(need.begin() + static_cast<std::ptrdiff_t>(from),
                                 need.begin() + static_cast<std::ptrdiff_t>(to));
  }
  const std::size_t half = reach / 2;
  double sum = 0;
  std::size_t count = 0, lo = 0, hi = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t from = i > half ? i - half : 0, to = std::min(n, i + half + 1);
    for (; hi < to; ++hi, ++count) sum += least[hi];
    for (; lo < from; ++lo, --count) sum -= least[lo];
    sound.samples[i] *= std::min(need[i], static_cast<float>(sum / static_cast<double>(count)));
  }
}

void Normalize(TSound& sound, double targetLufs, double ceilingDb, double maxLimitDb) {
  const double loudness = MaxMomentaryLoudness(sound);
  // Far below hearing is silence, however a float file happens to carry it;
  // raising it hundreds of decibels would overflow into infinities.
  if (!std::isfinite(loudness) || loudness < kInaudibleLufs) return;
  double gain = targetLufs - loudness;
  const double over = PeakLevel(sound) + gain - ceilingDb;
  if (over > maxLimitDb) gain -= over - maxLimitDb;
  ApplyGain(sound, gain);
  if (over <= 0) return;
  LimitPeaks(sound, ceilingDb);
  // Limiting took a little loudness off; give back what the ceiling allows.
  const double lost = targetLufs - MaxMomentaryLoudness(sound);
  if (over < maxLimitDb && lost > 0.05) {
    ApplyGain(sound, lost);
    LimitPeaks(sound, ceilingDb);
  }
}

void FadeEnds(TSound& sound, double inSeconds, double outSeconds) {
  const std::size_t n = sound.samples.size();
  const std::size_t fadeIn = std::min(n, static_cast<std::size_t>(inSeconds * sound.rate));
  const std::size_t fadeOut = std::min(n, static_cast<std::size_t>(outSeconds * sound.rate));
  for (std::size_t i = 0; i < fadeIn; ++i)
    sound.samples[i] *= static_cast<float>(0.5 - 0.5 * std::cos(std::numbers::pi * i / fadeIn));
  for (std::size_t i = 0; i < fadeOut; ++i)
    sound.samples[n - 1 - i] *= static_cast<float>(0.5 - 0.5 * std::cos(std::numbers::pi * i / fadeOut));
}

void TrimSilence(TSound& sound, double floorBelowPeakDb) {
  std::size_t frame = 0;
  const std::vector<double> powers = FramePowers(sound, frame);
  const double floor = SilenceFloor(powers, floorBelowPeakDb);
  auto loud = [&](double p) { return ToDb(p) > floor; };
  const auto first = std::find_if(powers.begin(), powers.end(), loud);
  if (first == powers.end()) {
    sound.samples.clear();
    return;
  }
  const auto last = std::find_if(powers.rbegin(), powers.rend(), loud);
  // A soft onset (an "h", a breathy vowel) starts below the floor, and a
  // word's last consonant fades out under it: keep a margin on both sides.
  const std::size_t leadIn = static_cast<std::size_t>(0.02 * sound.rate);
  const std::size_t tail = static_cast<std::size_t>(0.06 * sound.rate);
  const std::size_t firstSample = static_cast<std::size_t>(first - powers.begin()) * frame;
  const std::size_t endSample = static_cast<std::size_t>(powers.rend() - last) * frame;
  const std::size_t begin = firstSample > leadIn ? firstSample - leadIn : 0;
  const std::size_t end = std::min(sound.samples.size(), endSample + tail);
  sound.samples = std::vector<float>(sound.samples.begin() + static_cast<std::ptrdiff_t>(begin),
                                     sound.samples.begin() + static_cast<std::ptrdiff_t>(end));
  FadeEnds(sound, 0.005, 0.02);
}

double LongestInnerGap(const TSound& sound, double floorBelowPeakDb) {
  std::size_t frame = 0;
  const std::vector<double> powers = FramePowers(sound, frame);
  const double floor = SilenceFloor(powers, floorBelowPeakDb);
  std::size_t longest = 0, run = 0;
  bool started = false;
  for (double p : powers) {
    if (ToDb(p) > floor) {
      if (started) longest = std::max(longest, run);
      started = true;
      run = 0;
    } else {
      ++run;
    }
  }
  return static_cast<double>(longest * frame) / sound.rate;
}

}  // namespace tamblo::content_tool
