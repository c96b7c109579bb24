// Reading teachers' recordings in the forms WAV files come in, and the
// levelling every sound in the tables gets.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numbers>

#include "tools/tamblo-content/audio.h"

namespace tamblo::content_tool {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put(Bytes& b, std::uint32_t v, int size) {
  for (int i = 0; i < size; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Put(Bytes& b, const char* text) { b.insert(b.end(), text, text + std::strlen(text)); }

struct TWaveLayout {
  int tag = 1, channels = 1, rate = 22050, bits = 16;
  bool extensible = false;
  bool listBeforeData = false;
};

// Two frames per channel layout: the first channel holds +half scale, any
// second -quarter scale, so the mix-down is known.
Bytes Wave(const TWaveLayout& s, std::size_t frames = 2) {
  Bytes data;
  for (std::size_t f = 0; f < frames; ++f) {
    for (int c = 0; c < s.channels; ++c) {
      const double v = c == 0 ? 0.5 : -0.25;
      if (s.tag == 3 && s.bits == 32) {
        Put(data, std::bit_cast<std::uint32_t>(static_cast<float>(v)), 4);
      } else if (s.tag == 3) {
        const std::uint64_t u = std::bit_cast<std::uint64_t>(v);
        Put(data, static_cast<std::uint32_t>(u), 4);
        Put(data, static_cast<std::uint32_t>(u >> 32), 4);
      } else if (s.bits == 8) {
        Put(data, static_cast<std::uint32_t>(128 + std::lround(v * 128)), 1);
      } else {
        const std::int64_t full = std::int64_t{1} << (s.bits - 1);
        Put(data, static_cast<std::uint32_t>(std::llround(v * static_cast<double>(full))), s.bits / 8);
      }
    }
  }
  Bytes fmt;
  Put(fmt, s.extensible ? 0xFFFE : static_cast<std::uint32_t>(s.tag), 2);
  Put(fmt, static_cast<std::uint32_t>(s.channels), 2);
  Put(fmt, static_cast<std::uint32_t>(s.rate), 4);
  Put(fmt, static_cast<std::uint32_t>(s.rate * s.channels * s.bits / 8), 4);
  Put(fmt, static_cast<std::uint32_t>(s.channels * s.bits / 8), 2);
  Put(fmt, static_cast<std::uint32_t>(s.bits), 2);
  if (s.extensible) {
    Put(fmt, 22, 2);
    Put(fmt, static_cast<std::uint32_t>(s.bits), 2);
    Put(fmt, 0, 4);
    Put(fmt, static_cast<std::uint32_t>(s.tag), 2);  // the sub-format GUID starts with the tag
    for (int i = 0; i < 14; ++i) fmt.push_back(0);
  }
  Bytes b;
  Put(b, "RIFF");
  Put(b, 0, 4);
  Put(b, "WAVEfmt ");
  Put(b, static_cast<std::uint32_t>(fmt.size()), 4);
  b.insert(b.end(), fmt.begin(), fmt.end());
  if (s.listBeforeData) {
    Put(b, "LIST");
    Put(b, 3, 4);
    Put(b, "abc");
    b.push_back(0);  // the pad byte after an odd-sized chunk
  }
  Put(b, "data");
  Put(b, static_cast<std::uint32_t>(data.size()), 4);
  b.insert(b.end(), data.begin(), data.end());
  const std::uint32_t riff = static_cast<std::uint32_t>(b.size() - 8);
  for (int i = 0; i < 4; ++i) b[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(riff >> (8 * i));
  return b;
}

TEST(ReadWave, ReadsEveryCommonFormatAndMixesToMono) {
  struct TCase {
    const char* what;
    TWaveLayout layout;
    double first;  // the first sample after mixing down
  };
  const TCase cases[] = {
      {"16-bit mono", {}, 0.5},
      {"8-bit unsigned", {.bits = 8}, 0.5},
      {"24-bit", {.bits = 24}, 0.5},
      {"32-bit", {.bits = 32}, 0.5},
      {"32-bit float", {.tag = 3, .bits = 32}, 0.5},
      {"64-bit float", {.tag = 3, .bits = 64}, 0.5},
      {"stereo, averaged", {.channels = 2, .rate = 44100}, 0.125},
      {"the extensible header", {.channels = 2, .bits = 24, .extensible = true}, 0.125},
      {"a chunk with its pad byte before the data", {.listBeforeData = true}, 0.5},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::string why;
    TWaveFormat format;
    const auto sound = ReadWave(Wave(c.layout), why, &format);
    ASSERT_TRUE(sound) << why;
    EXPECT_EQ(sound->rate, c.layout.rate);
    EXPECT_EQ(format.channels, c.layout.channels);
    ASSERT_EQ(sound->samples.size(), 2u);
    EXPECT_NEAR(sound->samples[0], c.first, 0.01);
  }
}

TEST(ReadWave, NamesWhatIsWrongWithAFileItCannotRead) {
  Bytes noData = Wave({});
  noData.resize(36);  // just the header and the format chunk
  Bytes mp3 = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  Bytes compressed = Wave({});
  compressed[20] = 2;  // ADPCM
  struct TCase {
    const char* what;
    Bytes bytes;
    const char* why;
  };
  const TCase cases[] = {
      {"not RIFF", mp3, "not a RIFF WAVE file"},
      {"no data chunk", noData, "no data chunk"},
      {"compressed samples", compressed, "not PCM or float samples"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::string why;
    EXPECT_FALSE(ReadWave(c.bytes, why));
    EXPECT_EQ(why, c.why);
  }
}

// A float sample with no level would reach the conversion to 16 bits, which
// has no answer for it; a double beyond a float's range would become one.
TEST(ReadWave, RefusesFloatSamplesThatAreNotFiniteLevels) {
  struct TCase {
    const char* what;
    int bits;
    double bad;
  };
  const TCase cases[] = {
      {"32-bit not a number", 32, std::numeric_limits<double>::quiet_NaN()},
      {"32-bit infinity", 32, std::numeric_limits<double>::infinity()},
      {"64-bit minus infinity", 64, -std::numeric_limits<double>::infinity()},
      {"64-bit beyond a float", 64, 1e300},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes b = Wave({.tag = 3, .bits = c.bits}, 3);
    const std::size_t second = b.size() - 2 * static_cast<std::size_t>(c.bits / 8);
    if (c.bits == 32) {
      const auto u = std::bit_cast<std::uint32_t>(static_cast<float>(c.bad));
      for (int i = 0; i < 4; ++i) b[second + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(u >> (8 * i));
    } else {
      const auto u = std::bit_cast<std::uint64_t>(c.bad);
      for (int i = 0; i < 8; ++i) b[second + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(u >> (8 * i));
    }
    std::string why;
    EXPECT_FALSE(ReadWave(b, why));
    EXPECT_EQ(why, "sample 1 is not a finite level");
  }
}

TEST(ReadWave, RefusesARecordingLongerThanAnyWordNeeds) {
  // 61 s at the lowest rate, 8 bits: small in bytes, long in time.
  const Bytes b = Wave({.rate = 4000, .bits = 8}, 61 * 4000);
  std::string why;
  EXPECT_FALSE(ReadWave(b, why));
  EXPECT_EQ(why, "lasts 61.0 s, longer than the 60.0 s a recording may");
}

// Files on disk are judged by their header before their samples are read:
// each here is sparse, so its size costs nothing until someone reads it.
class ReadWaveFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("tamblo-audio-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // The header of `wave` with its data chunk claiming `dataBytes`, and the
  // file grown to hold them; `junk` bytes of another chunk come before it.
  std::filesystem::path Sparse(const char* name, Bytes wave, std::uint64_t dataBytes, std::uint64_t junk = 0) {
    const std::size_t dataAt = wave.size() - 8 - (wave.size() - 44);  // the plain header is 44 bytes
    Bytes head(wave.begin(), wave.begin() + static_cast<std::ptrdiff_t>(dataAt));
    if (junk) {
      Put(head, "JUNK");
      Put(head, static_cast<std::uint32_t>(junk), 4);
    }
    const std::uint64_t junkAt = head.size();
    Bytes data;
    Put(data, "data");
    Put(data, static_cast<std::uint32_t>(dataBytes), 4);
    data.insert(data.end(), wave.begin() + 44, wave.end());
    const std::filesystem::path file = dir_ / name;
    {
      std::ofstream out(file, std::ios::binary);
      out.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
      out.seekp(static_cast<std::streamoff>(junkAt + junk));
      out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    }
    std::filesystem::resize_file(file, junkAt + junk + 8 + std::max<std::uint64_t>(dataBytes, data.size() - 8));
    return file;
  }

  std::filesystem::path dir_;
};

TEST_F(ReadWaveFileTest, RefusesFromTheHeaderWhatWouldCostTooMuchToRead) {
  struct TCase {
    const char* what;
    TWaveLayout layout;
    std::uint64_t dataBytes;
    const char* why;
  };
  const TCase cases[] = {
      {"600 MB of 16-bit mono", {}, 600'000'000, "lasts 13605.4 s, longer than the 60.0 s a recording may"},
      {"200 MiB of 8-channel doubles, 8.5 s", {.tag = 3, .channels = 8, .rate = 384000, .bits = 64},
       std::uint64_t{200} << 20, "holds 200 MiB of samples, more than the 128 MiB a recording may"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::string why;
    EXPECT_FALSE(ReadWaveFile(Sparse("big.wav", Wave(c.layout), c.dataBytes), why));
    EXPECT_EQ(why, c.why);
  }
}

TEST_F(ReadWaveFileTest, ReadsOnlyTheSamplesPastALargeChunkBeforeThem) {
  const Bytes wave = Wave({}, 3);
  std::string why;
  const auto sound = ReadWaveFile(Sparse("tagged.wav", wave, 6, std::uint64_t{1} << 30), why);
  ASSERT_TRUE(sound) << why;
  ASSERT_EQ(sound->samples.size(), 3u);
  EXPECT_NEAR(sound->samples[2], 0.5, 0.01);

  EXPECT_FALSE(ReadWaveFile(dir_ / "missing.wav", why));
  EXPECT_EQ(why, "cannot be read");
  EXPECT_FALSE(ReadWaveFile(dir_, why));
  EXPECT_EQ(why, "cannot be read");
}

TEST(ReadWave, KeepsTheSamplesOfAFileWhoseWriterNeverFilledInTheSize) {
  Bytes b = Wave({}, 100);
  for (std::size_t i = 40; i < 44; ++i) b[i] = 0xFF;  // data size left at its placeholder
  std::string why;
  const auto sound = ReadWave(b, why);
  ASSERT_TRUE(sound) << why;
  EXPECT_EQ(sound->samples.size(), 100u);
}

TSound Tone(double seconds, double hz, double amplitude, int rate = kTableRate) {
  TSound s;
  s.rate = rate;
  for (std::size_t i = 0; i < static_cast<std::size_t>(seconds * rate); ++i)
    s.samples.push_back(
        static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate)));
  return s;
}

TEST(Levelling, TrimsSilenceAtBothEndsAndFadesTheCut) {
  TSound s = Tone(0.5, 300, 0.4);
  s.samples.insert(s.samples.begin(), kTableRate, 0.0f);
  s.samples.insert(s.samples.end(), kTableRate, 0.0001f);  // hiss far under the word
  TrimSilence(s);
  // The word and its margins: 20 ms before, 60 ms after.
  EXPECT_NEAR(s.Seconds(), 0.58, 0.02);
  EXPECT_EQ(s.samples.front(), 0.0f);
  EXPECT_EQ(s.samples.back(), 0.0f);
}

TEST(Levelling, BringsLoudAndQuietSoundsToOneLoudnessUnderTheCeiling) {
  TSound quiet = Tone(0.6, 500, 0.01), loud = Tone(0.6, 500, 0.9);
  Normalize(quiet, -20, -1);
  Normalize(loud, -20, -1);
  EXPECT_NEAR(MaxMomentaryLoudness(quiet), -20, 0.1);
  EXPECT_NEAR(MaxMomentaryLoudness(loud), -20, 0.1);
  // A word with a sharp peak reaches the loudness with that peak limited.
  TSound peaky = Tone(0.6, 500, 0.05);
  peaky.samples[3000] = 0.6f;
  Normalize(peaky, -20, -1);
  EXPECT_NEAR(MaxMomentaryLoudness(peaky), -20, 0.2);
  EXPECT_LE(PeakLevel(peaky), -1.0 + 1e-4);
  // A click's energy is short: reaching the loudness would take more than
  // limiting may, so it stays quieter, its peak at the ceiling.
  TSound click = Tone(0.001, 2000, 0.5);
  Normalize(click, -20, -1);
  EXPECT_LE(PeakLevel(click), -1.0 + 1e-4);
  EXPECT_LT(MaxMomentaryLoudness(click), -22);
}

// A float file can carry levels far below hearing; raising them to the
// target would need a gain no float holds.
TEST(Levelling, LeavesASoundFarBelowHearingAsItIs) {
  TSound faint = Tone(0.6, 500, 1e-40);
  const TSound before = faint;
  Normalize(faint, -20, -1);
  EXPECT_EQ(faint.samples, before.samples);
  const Bytes written = WriteWave16(faint);
  std::string why;
  const auto back = ReadWave(written, why);
  ASSERT_TRUE(back) << why;
  EXPECT_EQ(PeakLevel(*back), -std::numeric_limits<double>::infinity());
}

TEST(Levelling, ChangingTheRateKeepsTheToneAndDropsWhatTheNewRateCannotHold) {
  const TSound low = Resample(Tone(1.0, 1000, 0.5, 32000), kTableRate);
  EXPECT_EQ(low.samples.size(), static_cast<std::size_t>(kTableRate));
  EXPECT_NEAR(PeakLevel(low), 20 * std::log10(0.5), 0.2);
  // 14 kHz cannot be held at 22050 Hz; folded back it would sound at 8 kHz.
  // (Measured away from the ends, where the tone's own abrupt start is heard.)
  TSound alias = Resample(Tone(1.0, 14000, 0.5, 32000), kTableRate);
  alias.samples = std::vector<float>(alias.samples.begin() + 2000, alias.samples.end() - 2000);
  EXPECT_LT(PeakLevel(alias), -60);
}

}  // namespace
}  // namespace tamblo::content_tool
