#pragma once
// Spoken words: the speech synthesizer run on many words at once, and the
// levelling every spoken word gets, synthesized or recorded.

#include <functional>
#include <string>
#include <vector>

#include "tools/tamblo-content/audio.h"

namespace tamblo::content_tool {

// Every spoken word and every effect is brought to this loudness (the
// loudest 400 ms, K-weighted) unless its peak would pass the ceiling.
inline constexpr double kTargetLoudness = -20.0;
inline constexpr double kPeakCeiling = -1.0;

// What the tables' "SoundSource" says of a synthesized word.
std::string VoiceDescription();

// Brings a spoken word to the table rate, trims its silence, levels it.
TSound LevelWord(TSound sound);

struct TSpokenWord {
  TSound sound;       // levelled; empty on failure
  std::string error;  // why it failed
};

// Speaks every word with `workers` synthesizer processes side by side; calls
// `done` (from those threads, one call at a time) after each word. A missing
// synthesizer fails every word with the same message.
std::vector<TSpokenWord> SpeakWords(const std::vector<std::string>& words, int workers,
                                    const std::function<void()>& done);

}  // namespace tamblo::content_tool
