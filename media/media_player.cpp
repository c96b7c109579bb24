#include "media/media_player.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <list>
#include <memory>
#include <utility>
#include <vector>

#include "media/content_recognition.h"

namespace media {
namespace {

// The mixer, opened once for the process. A machine without a sound device
// still plays: into SDL's dummy driver, silently, as the game expects.
struct TAudio {
  int frequency = 0;
  int channels = 0;
  int bytesPerFrame = 0;
  std::string error;
  int nextChannel = 0;
  bool muted = false;

  TAudio() {
    if (!Open()) {
      Mix_CloseAudio();
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
      SDL_setenv("SDL_AUDIODRIVER", "dummy", 1);
      if (!Open()) error = Mix_GetError();
    }
  }

  bool Open() {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    if (Mix_OpenAudio(44100, AUDIO_S16SYS, 2, 1024) != 0) return false;
    Uint16 format = 0;
    Mix_QuerySpec(&frequency, &format, &channels);
    bytesPerFrame = SDL_AUDIO_BITSIZE(format) / 8 * channels;
    return bytesPerFrame > 0 && frequency > 0;
  }

  int AllocateChannel() {
    const int channel = nextChannel++;
    if (Mix_AllocateChannels(-1) <= channel) {
      Mix_AllocateChannels(channel + 8);
      Mix_Volume(-1, Volume());  // new channels start loud
    }
    return channel;
  }

  int Volume() const { return muted ? 0 : MIX_MAX_VOLUME; }
};

TAudio& Audio() {
  static TAudio audio;
  return audio;
}

// The last sounds decoded, by their file's bytes. The game's effects are a
// handful of short sounds played again and again, and decoding converts
// each to the device's rate and channels: a resampling that, in a browser
// whose audio runs at 48 kHz, cost more than the rest of a crane's tick.
class TDecodedSounds {
 public:
  // Takes the bytes: a sound not yet decoded keeps them as its key.
  std::shared_ptr<Mix_Chunk> Decode(std::vector<std::uint8_t> bytes) {
    for (auto it = recent_.begin(); it != recent_.end(); ++it) {
      if (it->bytes != bytes) continue;
      recent_.splice(recent_.begin(), recent_, it);
      return recent_.front().chunk;
    }
    // REQUIRES: bytes.size() <= INT_MAX, as the mixer takes the size as an int.
    Mix_Chunk* chunk = Mix_LoadWAV_RW(SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size())), 1);
    if (!chunk) return nullptr;
    held_ += bytes.size() + chunk->alen;
    recent_.push_front({std::move(bytes), std::shared_ptr<Mix_Chunk>(chunk, Mix_FreeChunk)});
    // A player still holding an evicted sound keeps it until it closes.
    while (recent_.size() > 1 && (recent_.size() > kMostSounds || held_ > kMostBytes)) {
      held_ -= recent_.back().bytes.size() + recent_.back().chunk->alen;
      recent_.pop_back();
    }
    return recent_.front().chunk;
  }

 private:
  static constexpr std::size_t kMostSounds = 32;
  static constexpr std::size_t kMostBytes = std::size_t{16} << 20;
  struct TSound {
    std::vector<std::uint8_t> bytes;
    std::shared_ptr<Mix_Chunk> chunk;
  };
  std::list<TSound> recent_;  // the most recently used first
  std::size_t held_ = 0;
};

TDecodedSounds& DecodedSounds() {
  static TDecodedSounds sounds;
  return sounds;
}

}  // namespace

void SetSoundMuted(bool muted) {
  TAudio& audio = Audio();
  audio.muted = muted;
  if (audio.error.empty()) Mix_Volume(-1, audio.Volume());
}

bool SoundMuted() { return Audio().muted; }

std::string MciExtensionCheck(const std::string& key) {
  TAudio& audio = Audio();
  if (!audio.error.empty()) return "none";
  if (key == "WAV") return Mix_HasChunkDecoder("WAVE") ? "WAVE" : "none";
  // A MIDI file plays as a chunk only where the mixer has a MIDI decoder.
  if (key == "MID" || key == "RMI") {
    for (const char* decoder : {"MID", "MIDI", "TIMIDITY", "FLUIDSYNTH"}) {
      if (Mix_HasChunkDecoder(decoder)) return decoder;
    }
  }
  return "none";
}

TDBMediaPlayer::TDBMediaPlayer(toolkit::TForm& owner, std::string name)
    : TControl(owner, std::move(name)) {}

TDBMediaPlayer::~TDBMediaPlayer() { Close(); }

void TDBMediaPlayer::Open() {
  Close();
  TAudio& audio = Audio();
  if (!audio.error.empty()) throw EMCIDeviceError(audio.error);
  if (channel_ < 0) channel_ = audio.AllocateChannel();
  // Read and judged first: the mixer's loader would decode any format it
  // knows, and only plain wave sound (or MIDI, where it has the decoder) is
  // meant to reach it.
  SDL_RWops* file = SDL_RWFromFile(FileName.c_str(), "rb");
  if (!file) throw EMCIDeviceError(SDL_GetError());
  // The mixer takes a memory block's size as an int.
  const Sint64 size = SDL_RWsize(file);
  const bool fits = size >= 0 && size <= INT_MAX;
  std::vector<std::uint8_t> bytes(fits ? static_cast<std::size_t>(size) : 0);
  const bool read = fits && SDL_RWread(file, bytes.data(), 1, bytes.size()) == bytes.size();
  SDL_RWclose(file);
  if (!read) throw EMCIDeviceError("Cannot read " + FileName);
  if (!PlayableSound("WAV", bytes) && !PlayableSound("MID", bytes))
    throw EMCIDeviceError("Not a PCM or float wave sound, nor a MIDI file: " + FileName);
  chunk_ = DecodedSounds().Decode(std::move(bytes));
  if (!chunk_) throw EMCIDeviceError(Mix_GetError());
  position_ = 0;
}

void TDBMediaPlayer::Close() noexcept {
  if (channel_ >= 0 && (chunk_ || playing_)) Mix_HaltChannel(channel_);
  if (playing_) Mix_FreeChunk(playing_);
  playing_ = nullptr;
  chunk_.reset();
  position_ = startedFrom_ = 0;
}

void TDBMediaPlayer::RequireOpen() const {
  if (!chunk_) throw EMCIDeviceError("No MCI device open");
}

std::int64_t TDBMediaPlayer::Length() const {
  if (!chunk_) return 0;
  const TAudio& audio = Audio();
  return std::int64_t{chunk_->alen} / audio.bytesPerFrame * 1000 / audio.frequency;
}

TMPModes TDBMediaPlayer::Mode() const {
  if (!chunk_) return TMPModes::mpNotReady;
  return playing_ && Mix_Playing(channel_) ? TMPModes::mpPlaying : TMPModes::mpStopped;
}

std::int64_t TDBMediaPlayer::Position() const {
  if (!chunk_) return 0;
  if (!playing_) return position_;
  // A sound that ran out stands at its end until played again.
  if (!Mix_Playing(channel_)) return Length();
  return std::min<std::int64_t>(startedFrom_ + (SDL_GetTicks() - startedAt_), Length());
}

void TDBMediaPlayer::Play() {
  RequireOpen();
  std::int64_t from = Position();
  if (from >= Length()) from = 0;  // rewinds at the end
  Mix_HaltChannel(channel_);
  if (playing_) Mix_FreeChunk(playing_);
  playing_ = nullptr;
  const TAudio& audio = Audio();
  const std::int64_t offset =
      std::min<std::int64_t>(from * audio.frequency / 1000 * audio.bytesPerFrame, chunk_->alen);
  // A view of the tail of the decoded sound; the chunk keeps the buffer.
  playing_ = Mix_QuickLoad_RAW(chunk_->abuf + offset, static_cast<Uint32>(chunk_->alen - offset));
  if (!playing_ || Mix_PlayChannel(channel_, playing_, 0) < 0)
    throw EMCIDeviceError(Mix_GetError());
  startedFrom_ = from;
  startedAt_ = SDL_GetTicks();
}

void TDBMediaPlayer::Stop() {
  RequireOpen();
  position_ = Position();
  Mix_HaltChannel(channel_);
  if (playing_) Mix_FreeChunk(playing_);
  playing_ = nullptr;
}

void TDBMediaPlayer::Paint(toolkit::TCanvas& target) {
  // Only the play button shows: a face with a triangle.
  target.Brush.Color = toolkit::clBtnFace;
  target.FillRect(bounds_);
  target.Pen.Color = toolkit::clBlack;
  const int cx = Left() + Width() / 2, cy = Top() + Height() / 2;
  for (int i = 0; i < 7; ++i) {
    target.MoveTo(cx - 3 + i, cy - 6 + i);
    target.LineTo(cx - 3 + i, cy + 7 - i);
  }
}

}  // namespace media
