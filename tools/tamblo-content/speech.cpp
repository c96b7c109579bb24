#include "tools/tamblo-content/speech.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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

extern char** environ;

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

class TScratchDir {
 public:
  TScratchDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tamblo-speech-XXXXXX";
    if (!mkdtemp(pattern.data()))
      throw std::runtime_error("cannot make a scratch folder: " + std::string(std::strerror(errno)));
    path_ = pattern;
  }
  ~TScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  TScratchDir(const TScratchDir&) = delete;
  TScratchDir& operator=(const TScratchDir&) = delete;
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

struct TRun {
  bool started = false;
  int status = -1;
  std::string out;
  std::string why;  // when it did not start
};

// Runs a program found on PATH with stdin from /dev/null, stderr to a file,
// and answers what it wrote to stdout.
TRun RunProgram(const std::vector<std::string>& argv, const fs::path& errFile) {
  TRun run;
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    run.why = std::strerror(errno);
    return run;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (spawned != 0) {
    close(pipeFds[0]);
    run.why = std::strerror(spawned);
    return run;
  }
  run.started = true;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
    if (n > 0) {
      run.out.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(pipeFds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  run.status = status;
  return run;
}

std::string ReadText(const fs::path& file) {
  std::ifstream in(file);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string LastLine(const std::string& text) {
  std::istringstream in(text);
  std::string line, last;
  while (std::getline(in, line))
    if (!line.empty()) last = line;
  return last;
}

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
