#pragma once
// The media player the media controls open their temporary files in: sound
// through the mixer, each player on a mixer channel of its own so that an
// effect and a spoken word sound together.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "toolkit/controls.h"

struct Mix_Chunk;

namespace media {

class EMCIDeviceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class TMPModes { mpNotReady, mpStopped, mpPlaying, mpRecording, mpSeeking, mpPaused, mpOpen };

// The extensions the mixer can play, as the platform's list of playable media
// answers them: the decoder's name, or "none".
std::string MciExtensionCheck(const std::string& key);

// Every sound of the process on or off. A muted sound still plays, silently,
// so whatever waits for it ends when it would have.
void SetSoundMuted(bool muted);
bool SoundMuted();

class TDBMediaPlayer : public toolkit::TControl {
 public:
  TDBMediaPlayer(toolkit::TForm& owner, std::string name);
  ~TDBMediaPlayer() override;

  std::string FileName;
  // Closes what was open first. Throws EMCIDeviceError with the device's text.
  void Open();
  // Nothing, and no error, when nothing is open.
  void Close() noexcept;
  // From the current position, rewinding first at the end. Throws
  // EMCIDeviceError "No MCI device open" when nothing is open; so does Stop.
  void Play();
  void Stop();
  bool IsOpen() const { return chunk_ != nullptr; }
  TMPModes Mode() const;
  // Milliseconds.
  std::int64_t Position() const;
  std::int64_t Length() const;

  // Where video would be shown; kept for the controls, sound ignores it.
  toolkit::TControl* Display = nullptr;
  toolkit::TRect DisplayRect;

  void Paint(toolkit::TCanvas& target) override;

 private:
  void RequireOpen() const;
  std::shared_ptr<Mix_Chunk> chunk_;  // decoded; shared with the decoded-sound cache
  Mix_Chunk* playing_ = nullptr;  // the tail of chunk_ being played
  int channel_ = -1;
  std::int64_t position_ = 0;     // where Play starts, ms
  std::uint32_t startedAt_ = 0;   // tick of the last Play
  std::int64_t startedFrom_ = 0;  // position at the last Play
};

}  // namespace media
