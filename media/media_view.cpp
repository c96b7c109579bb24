#include "media/media_view.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>

#include "dataset/file_writer.h"
#include "media/content_recognition.h"
#include "media/temp_directory.h"
#include "toolkit/cursors.h"

namespace media {
namespace {

// Controls alive; the last one to go takes the private directory with it.
int& LiveViews() {
  static int count = 0;
  return count;
}

bool IsMediaKind(const std::string& kind) {
  return kind == "WAV" || kind == "MID" || kind == "RMI" || kind == "MOV" || kind == "AVI" ||
         kind == "MPG";
}

std::string CannotPlayMessage(const std::string& kind) {
  if (kind == "WAV") return "Wave sound file can't be played on this computer!";
  if (kind == "MID") return "Midi sound file can't be played on this computer!";
  if (kind == "RMI") return "RMI sound file can't be played on this computer!";
  if (kind == "AVI") return "AVI Movie file can't be played on this computer!";
  if (kind == "MOV") return "MOV Movie file can't be played on this computer!";
  return "MPG Movie file can't be played on this computer!";
}

// Creates or replaces the file without following a link planted at its name,
// and without waiting on a pipe planted there.
void WriteTempFile(const std::string& path, std::span<const std::uint8_t> bytes) {
  dataset::TFileWriter file(path, 0600, true);
  if (!file.IsOpen() || !file.Write(bytes.data(), bytes.size()) || !file.Close())
    throw EFCreateError("Cannot create file " + path);
}

}  // namespace

TDBMediaView::TDBMediaView(toolkit::TForm& owner, std::string name)
    : TDBPictureView(owner, std::move(name)) {
  ++LiveViews();
  playbackTimer_.SetInterval(500);
  playbackTimer_.OnTimer = [this] { PlaybackTick(); };
}

TDBMediaView::~TDBMediaView() {
  playbackTimer_.SetEnabled(false);
  DeleteTempFiles();
  if (--LiveViews() == 0) RemovePrivateTempDirectory();
}

std::string TDBMediaView::PathForTempFile() const {
  return pathForTempFile_.empty() ? PrivateTempDirectory() : pathForTempFile_;
}

void TDBMediaView::SetPathForTempFile(std::string value) {
  if (value.empty()) return;
  if (value.back() != '/' && value.back() != ':') value += '/';
  // Asked of the file system rather than by entering it: the working
  // directory is the whole process's.
  struct stat st {};
  const bool enterable =
      ::stat(value.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(value.c_str(), X_OK) == 0;
  pathForTempFile_ = enterable ? value : std::string();
}

void TDBMediaView::DeleteTempFiles() noexcept {
  // Nothing was written while the private directory was never made.
  if (pathForTempFile_.empty() && !PrivateTempDirectoryExists()) return;
  try {
    const std::string dir = PathForTempFile();
    for (const std::string* name : {&tempMPG_, &TempMov, &TempAVI, &TempWAV, &TempMID, &TempRMI})
      ::unlink((dir + *name).c_str());
  } catch (...) {
  }
}

void TDBMediaView::DataChange() {
  playbackTimer_.SetEnabled(false);
  if (player_) player_->Close();
  TDBPictureView::DataChange();
}

void TDBMediaView::EmptyBlob() { throw ErrorInvalid("Can't allocate memory"); }

void TDBMediaView::HidePlayer() {
  if (AutoHideMediaPlayer && player_) player_->SetVisible(false);
}

void TDBMediaView::LoadContent(const dataset::TField& field) {
  const std::uint64_t changes = DataChanges();
  const std::vector<std::uint8_t> bytes = BlobBytes(field);
  // The record was shown anew meanwhile, and loaded as it now is.
  if (DataChanges() != changes) return;
  const std::string kind = RecognizeContent(bytes);
  SetContentKind(kind);
  if (player_) player_->Close();
  DeleteTempFiles();
  ReportProgress(0);
  const int depth = RequestedDepth();
  if (IsMediaKind(kind)) {
    LoadMedia(kind, bytes);
  } else if (kind == "SCM" || kind == "CMS") {
    HidePlayer();
    {
      toolkit::TScreenCursorScope wait(toolkit::crHourGlass);
      if (ILUndo) PushUndo();
      ShowContent(kind, bytes, depth);
    }
    playbackTimer_.SetEnabled(false);
    ReportProgress(0);
  } else if (kind == "WMF") {
    HidePlayer();
    playbackTimer_.SetEnabled(false);
    ShowContent(kind, bytes, depth);
    ReportProgress(0);
  } else if (IsRasterKind(kind)) {
    HidePlayer();
    playbackTimer_.SetEnabled(false);
    ShowContent(kind, bytes, depth);
  } else if (kind != "RTF") {
    playbackTimer_.SetEnabled(false);
  }
}

void TDBMediaView::LoadMedia(const std::string& kind, std::span<const std::uint8_t> bytes) {
  const std::string answer = ExtensionCheck ? ExtensionCheck(kind) : MciExtensionCheck(kind);
  // The kind's signature may sit anywhere in the first bytes; only what the
  // mixer plays as that kind, and no decoder it carries besides, goes on.
  if (answer == "none" || !PlayableSound(kind, bytes)) throw ErrorInvalid(CannotPlayMessage(kind));
  toolkit::TScreenCursorScope wait(toolkit::crHourGlass);
  if (ILUndo) PushUndo();
  ClearContent(true);
  if (!player_) return;
  player_->SetVisible(true);
  const std::string& name = kind == "WAV"   ? TempWAV
                            : kind == "MID" ? TempMID
                            : kind == "RMI" ? TempRMI
                            : kind == "MOV" ? TempMov
                            : kind == "AVI" ? TempAVI
                                            : tempMPG_;
  const std::string path = PathForTempFile() + name;
  WriteTempFile(path, bytes);
  player_->FileName = path;
  player_->Open();
  if (kind == "MOV" || kind == "AVI") {
    player_->Display = this;
    player_->DisplayRect = toolkit::Bounds(0, 0, Width(), Height());
  }
  if (AutoPlayMultiMedia) player_->Play();
  playbackTimer_.SetEnabled(true);
}

void TDBMediaView::BeforePaste() {
  playbackTimer_.SetEnabled(false);
  if (player_) player_->Close();
}

void TDBMediaView::PlaybackTick() {
  if (!player_) return;
  // A tick never fails: whatever goes wrong, the next one tries again.
  try {
    if (!player_->IsOpen()) return;
    if (!AutoRePlayMultiMedia && player_->Mode() != TMPModes::mpPlaying) return;
    const std::int64_t length = player_->Length();
    if (length <= 0) return;
    // Rounded half to even, as the default rounding mode does.
    const double percent = std::nearbyint(static_cast<double>(player_->Position()) * (100.0 / length));
    if (!(percent >= 0 && percent <= 65535)) return;
    ReportProgress(static_cast<int>(percent));
    if (AutoRePlayMultiMedia && percent >= 100 && !player_->FileName.empty()) player_->Play();
  } catch (...) {
  }
}

}  // namespace media
