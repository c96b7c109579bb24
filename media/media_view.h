#pragma once
// The data-aware media control: the picture control extended to sound and
// movies. A media blob is written to a temporary file of its kind and opened
// in the attached player; pictures show as in TDBPictureView.

#include <functional>
#include <stdexcept>
#include <string>

#include "media/media_player.h"
#include "media/picture_view.h"
#include "toolkit/timer.h"

namespace media {

// The temporary file could not be made.
class EFCreateError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TDBMediaView : public TDBPictureView {
 public:
  TDBMediaView(toolkit::TForm& owner, std::string name);
  ~TDBMediaView() override;

  // Not closed by the control when it goes; the player outliving its file is
  // the owner's matter.
  TDBMediaPlayer* MediaPlayer() const { return player_; }
  void SetMediaPlayer(TDBMediaPlayer* player) { player_ = player; }

  // Directory of the temporary files, always ending in "/" or ":". The
  // default is the process's private directory. A directory that cannot be
  // entered stores the private directory; an empty value keeps the previous one.
  std::string PathForTempFile() const;
  void SetPathForTempFile(std::string value);

  std::string TempWAV = "$$$.WAV";
  std::string TempMID = "$$$.MID";
  std::string TempRMI = "$$$.RMI";
  std::string TempAVI = "$$$.AVI";
  std::string TempMov = "$$$.MOV";
  bool AutoPlayMultiMedia = false;
  bool AutoRePlayMultiMedia = false;
  bool AutoHideMediaPlayer = false;

  // Answers the decoder that plays a kind ("WAV", "MID", ...) or "none";
  // the mixer's list unless replaced.
  std::function<std::string(const std::string& key)> ExtensionCheck = MciExtensionCheck;

  // Runs every 500 ms while a media file is open.
  toolkit::TTimer& PlaybackTimer() { return playbackTimer_; }

  // Deletes the temporary files of every kind; failures are ignored.
  void DeleteTempFiles() noexcept;

 protected:
  void DataChange() override;
  void LoadContent(const dataset::TField& field) override;
  void BeforePaste() override;
  void EmptyBlob() override;

 private:
  void LoadMedia(const std::string& kind, std::span<const std::uint8_t> bytes);
  void HidePlayer();
  void PlaybackTick();

  TDBMediaPlayer* player_ = nullptr;
  std::string pathForTempFile_;  // empty: the private directory
  std::string tempMPG_ = "$$$.MPG";
  toolkit::TTimer playbackTimer_;
};

}  // namespace media
