#pragma once
// Sound as the content builder handles it: mono samples in [-1, 1] at one
// rate, read from and written to RIFF WAVE, trimmed, faded and levelled.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tamblo::content_tool {

// Every sound in the tables: 16-bit mono PCM at this rate.
inline constexpr int kTableRate = 22050;

struct TSound {
  int rate = kTableRate;
  std::vector<float> samples;
  double Seconds() const { return rate > 0 ? static_cast<double>(samples.size()) / rate : 0.0; }
};

// What a RIFF WAVE file says about itself, as far as playing it goes.
struct TWaveFormat {
  int formatTag = 0;  // 1 PCM, 3 IEEE float
  int channels = 0;
  int rate = 0;
  int bits = 0;
  std::uint64_t frames = 0;
};

// The most a recording may hold: a word or an effect with room for the
// silence around it, at any rate and channel count a recorder makes. Anything
// longer is refused from its header, before its samples are decoded.
inline constexpr double kLongestRecording = 60.0;
inline constexpr std::uint64_t kMostSampleBytes = std::uint64_t{128} << 20;

// Reads PCM (8, 16, 24 or 32 bits) or float (32 or 64 bits), any number of
// channels, mixed down to mono. On failure answers nullopt and says why.
std::optional<TSound> ReadWave(std::span<const std::uint8_t> bytes, std::string& why,
                               TWaveFormat* format = nullptr);
// The same from a file, which is read only as far as its samples go and only
// once its header has shown they are within the limits above.
std::optional<TSound> ReadWaveFile(const std::filesystem::path& file, std::string& why,
                                   TWaveFormat* format = nullptr);
// 16-bit mono PCM; samples beyond full scale are clipped. Throws
// std::length_error for a sound too long for a RIFF file to hold.
std::vector<std::uint8_t> WriteWave16(const TSound& sound);

// Band-limited change of rate (windowed sinc).
TSound Resample(const TSound& sound, int rate);

// Loudest 400 ms of the sound, K-weighted, in LUFS: the momentary loudness of
// the loudness meters. Short sounds count as padded with silence to 400 ms,
// which is roughly how the ear sums a short burst. -inf for silence.
double MaxMomentaryLoudness(const TSound& sound);
// Peak sample level in dBFS; -inf for silence.
double PeakLevel(const TSound& sound);
// Samples at or beyond full scale (|s| >= 32767/32768), a sign of clipping.
std::size_t ClippedSamples(const TSound& sound);

void ApplyGain(TSound& sound, double db);
// Holds every peak at or under `ceilingDb` with a gain that dips smoothly
// around each one (5 ms either side) instead of clipping it.
void LimitPeaks(TSound& sound, double ceilingDb);
// Brings the loudness to `targetLufs`. Peaks that would then pass
// `ceilingDb` are limited, by up to `maxLimitDb`; a sound that needs more
// stays quieter instead.
void Normalize(TSound& sound, double targetLufs, double ceilingDb, double maxLimitDb = 6.0);

// Cuts leading and trailing stretches quieter than `floorBelowPeakDb` under
// the loudest 10 ms, keeping a little margin so soft onsets and endings
// survive; then fades the ends so the cut cannot click.
void TrimSilence(TSound& sound, double floorBelowPeakDb = 50.0);
// Raised-cosine fades at both ends.
void FadeEnds(TSound& sound, double inSeconds, double outSeconds);

// Longest run of near-silent 10 ms frames inside the sound (not at its ends),
// in seconds: speech cut off or stuttering shows as a long gap.
double LongestInnerGap(const TSound& sound, double floorBelowPeakDb = 50.0);

}  // namespace tamblo::content_tool
