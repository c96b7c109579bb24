#include "tools/tamblo-content/speech.h"

#include "tools/tamblo-content/run_program.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>

namespace tamblo::content_tool {
namespace {

namespace fs = std::filesystem;

// The voice and the way of speaking that the comparison in the README chose.
constexpr const char* kVoice = "rms";
// Said alone, a short word comes out hurried and its first sound swallowed
// ("sun" heard as "swan", "hat" as "hand"); as the last word of a short
// sentence it gets a full onset and the falling close of a statement. The
// sentence's segments up to the word are cut away.
constexpr const char* kCarrier = "Now say ";
constexpr std::array<std::string_view, 5> kCarrierSegments = {"pau", "n", "aw", "s", "ey"};

// Where the word starts in the sentence, from the segments flite lists as
// "name:end time"; negative when the sentence did not begin as expected.
double WordStart(const std::string& segments) {
  std::istringstream in(segments);
  std::string segment;
  double end = -1;
  for (std::string_view expected : kCarrierSegments) {
    if (!(in >> segment)) return -1;
    const std::size_t colon = segment.find(':');
    if (colon == std::string::npos || segment.substr(0, colon) != expected) return -1;
    end = std::atof(segment.c_str() + colon + 1);
  }
  return end;
}

TSpokenWord SpeakOne(const std::string& word, const fs::path& dir, std::size_t index) {
  TSpokenWord result;
  const fs::path wave = dir / (std::to_string(index) + ".wav");
  const fs::path errors = dir / (std::to_string(index) + ".err");
  // The words reach here only as lower-case letters: nothing to quote.
  const TRun run = RunProgram(
      {"flite", "-voice", kVoice, "-psdur", "-t", std::string(kCarrier) + word + ".", "-o", wave.string()},
      errors);
  if (!run.started) {
    result.error = "cannot run flite (" + run.why + "); install the Debian package flite";
    return result;
  }
  if (!WIFEXITED(run.status) || WEXITSTATUS(run.status) != 0) {
    result.error = "flite failed: " + LastLine(ReadText(errors));
    return result;
  }
  const double start = WordStart(run.out);
  if (start < 0) {
    result.error = "flite began the sentence unexpectedly: " + run.out.substr(0, 80);
    return result;
  }
  std::string why;
  std::optional<TSound> sound = ReadWaveFile(wave, why);
  if (!sound) {
    result.error = "flite's waveform is unreadable: " + why;
    return result;
  }
  const std::size_t cut = std::min(sound->samples.size(), static_cast<std::size_t>(start * sound->rate));
  sound->samples.erase(sound->samples.begin(), sound->samples.begin() + static_cast<std::ptrdiff_t>(cut));
  result.sound = LevelWord(std::move(*sound));
  if (result.sound.samples.empty()) result.error = "flite said nothing";
  return result;
}

}  // namespace

std::string VoiceDescription() { return std::string("flite ") + kVoice; }

TSound LevelWord(TSound sound) {
  sound = Resample(sound, kTableRate);
  TrimSilence(sound);
  Normalize(sound, kTargetLoudness, kPeakCeiling);
  return sound;
}

std::vector<TSpokenWord> SpeakWords(const std::vector<std::string>& words, int workers,
                                    const std::function<void()>& done) {
  std::vector<TSpokenWord> results(words.size());
  if (words.empty()) return results;
  TScratchDir scratch;
  std::atomic<std::size_t> next{0};
  std::mutex doneLock;
  auto finished = [&](std::size_t) {
    std::lock_guard<std::mutex> lock(doneLock);
    if (done) done();
  };
  auto worker = [&] {
    for (std::size_t i = next++; i < words.size(); i = next++) {
      results[i] = SpeakOne(words[i], scratch.Path(), i);
      finished(i);
    }
  };
  std::vector<std::thread> threads;
  for (int i = 0; i < std::max(1, workers); ++i) threads.emplace_back(worker);
  for (std::thread& t : threads) t.join();
  return results;
}

}  // namespace tamblo::content_tool
