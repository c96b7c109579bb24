#pragma once
// The content builder's path for a teacher's recording, on arbitrary bytes:
// read; then as a word (to the table rate, trimmed, levelled) and as an
// effect (to the table rate, levelled, faded), each written as the tables
// hold it and read back. Shared by the fuzz target and the test that replays
// its corpus.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "tools/tamblo-content/audio.h"
#include "tools/tamblo-content/speech.h"

namespace tamblo::content_tool::fuzzing {

struct TWavRun {
  bool read = false;
  int broken = 0;  // answers that break the contract: never allowed
};

// What the builder stores must read back as 16-bit mono at the table rate,
// sample for sample.
inline bool WritesBack(const TSound& sound) {
  std::string why;
  TWaveFormat format;
  const auto back = ReadWave(WriteWave16(sound), why, &format);
  if (sound.samples.empty()) return !back;
  return back && format.formatTag == 1 && format.bits == 16 && format.channels == 1 &&
         back->rate == kTableRate && back->samples.size() == sound.samples.size();
}

inline bool Finite(const TSound& sound) {
  for (float s : sound.samples)
    if (!std::isfinite(s)) return false;
  return true;
}

inline TWavRun RunWav(const std::uint8_t* data, std::size_t size) {
  TWavRun run;
  std::string why;
  TWaveFormat format;
  const auto sound = ReadWave(std::span<const std::uint8_t>(data, size), why, &format);
  if (!sound) {
    run.broken += why.empty();
    return run;
  }
  run.read = true;
  if (sound->samples.size() != format.frames || sound->rate != format.rate || !Finite(*sound) ||
      sound->Seconds() > kLongestRecording)
    ++run.broken;
  const TSound word = LevelWord(*sound);
  if (!Finite(word) || !WritesBack(word)) ++run.broken;
  TSound effect = Resample(*sound, kTableRate);
  Normalize(effect, kTargetLoudness, kPeakCeiling);
  FadeEnds(effect, 0.003, 0.02);
  if (!Finite(effect) || !WritesBack(effect)) ++run.broken;
  return run;
}

}  // namespace tamblo::content_tool::fuzzing
