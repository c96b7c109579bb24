// What a record move costs the picture and media controls, against the bare
// path through the same libraries on the same bytes in the same run:
//   picture_load: move to the next of 200 word pictures (136 x 128 PNG) until
//                 the picture view has painted it, vs IMG_Load_RW + one blit;
//   sound_load:   the media view's reload of a 1-second WAV (temporary file
//                 written, opened in the player), vs Mix_LoadWAV_RW from memory.
#include <SDL.h>
#include <SDL_image.h>
#include <SDL_mixer.h>
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>

#include "bench/bench_support.h"
#include "engine/components/ledger_table.h"
#include "engine/public/builder.h"
#include "media/image_library.h"
#include "media/media_player.h"
#include "media/media_view.h"
#include "media/picture_view.h"
#include "toolkit/application.h"
#include "toolkit/form.h"
#include "toolkit/platform.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr int kPictures = 200;
constexpr int kSounds = 20;

// Word-picture-like content: a soft gradient with a few shapes and some noise,
// so PNG compression does about as well as on real pictures.
Bytes MakePicture(int seed) {
  std::mt19937 random(static_cast<unsigned>(seed));
  SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, 136, 128, 32, SDL_PIXELFORMAT_ARGB8888);
  const int cx = 30 + static_cast<int>(random() % 76), cy = 30 + static_cast<int>(random() % 68);
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 136; ++x) {
      const int d = (x - cx) * (x - cx) + (y - cy) * (y - cy);
      const Uint8 noise = static_cast<Uint8>(random() % 8);
      const Uint8 r = d < 900 ? 230 : static_cast<Uint8>(255 - noise);
      const Uint8 g = d < 900 ? static_cast<Uint8>(120 + seed % 100) : static_cast<Uint8>(255 - noise);
      const Uint8 b = d < 900 ? 40 : static_cast<Uint8>(250 - y / 4);
      static_cast<Uint32*>(s->pixels)[y * (s->pitch / 4) + x] = 0xFF000000u | r << 16 | g << 8 | b;
    }
  Bytes buffer(136 * 128 * 4 + 4096);
  SDL_RWops* rw = SDL_RWFromMem(buffer.data(), static_cast<int>(buffer.size()));
  IMG_SavePNG_RW(s, rw, 0);
  buffer.resize(static_cast<std::size_t>(SDL_RWtell(rw)));
  SDL_RWclose(rw);
  SDL_FreeSurface(s);
  return buffer;
}

Bytes MakeWav(int hz) {
  const int rate = 22050, samples = rate;  // one second, 16-bit mono
  Bytes b;
  auto put = [&](std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  auto text = [&](const char* s) { b.insert(b.end(), s, s + 4); };
  text("RIFF"), put(36 + samples * 2, 4), text("WAVE"), text("fmt "), put(16, 4), put(1, 2),
      put(1, 2), put(rate, 4), put(rate * 2, 4), put(2, 2), put(16, 2), text("data"),
      put(samples * 2, 4);
  for (int i = 0; i < samples; ++i)
    put(static_cast<std::uint16_t>(static_cast<std::int16_t>(6000 * std::sin(2 * M_PI * hz * i / rate))), 2);
  return b;
}

struct TFixture {
  fs::path dir;
  std::vector<Bytes> pictures, sounds;
  std::unique_ptr<toolkit::TDisplaySession> display;
  std::unique_ptr<toolkit::Application> app;
  std::unique_ptr<toolkit::TForm> form;
  ledger::TLedgerTable words, effects;
  std::unique_ptr<dataset::TDataSource> wordSource, effectSource;
  media::TDBPictureView* picture = nullptr;
  media::TDBMediaView* sound = nullptr;
  media::TDBMediaPlayer* player = nullptr;
  toolkit::TBitmap screen{632, 456};

  TFixture() {
    std::string pattern = (fs::temp_directory_path() / "picture-load.XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary directory");
    dir = pattern;
    display = std::make_unique<toolkit::TDisplaySession>();
    for (int i = 0; i < kPictures; ++i) pictures.push_back(MakePicture(i));
    for (int i = 0; i < kSounds; ++i) sounds.push_back(MakeWav(220 + 20 * i));
    Build("Words", "Graphic", ledger::fstGraphic, pictures);
    Build("Effects", "SoundFile", ledger::fstBinary, sounds);

    media::TPictureLibrary::SetSearchDirectory(toolkit::ProgramFilePath().parent_path().parent_path());
    app = std::make_unique<toolkit::Application>();
    form = std::make_unique<toolkit::TForm>(*app, "Form1");
    for (auto* t : {&words, &effects}) t->SetDatabaseName(dir.string());
    words.SetTableName("Words");
    effects.SetTableName("Effects");
    words.Open();
    effects.Open();
    wordSource = std::make_unique<dataset::TDataSource>(&words);
    effectSource = std::make_unique<dataset::TDataSource>(&effects);

    picture = &form->Add<media::TDBPictureView>("DBPictureView1");
    picture->SetBounds(8, 0, 265, 145);
    picture->Loaded();
    picture->SetDataField("Graphic");
    picture->SetDataSource(wordSource.get());

    player = &form->Add<media::TDBMediaPlayer>("DBMediaPlayer1");
    sound = &form->Add<media::TDBMediaView>("DBMediaView1");
    sound->Loaded();
    sound->TempWAV = "twcns1.wav";
    sound->SetMediaPlayer(player);
    sound->SetDataField("SoundFile");
    sound->SetDataSource(effectSource.get());
  }

  void Build(const char* table, const char* field, ledger::TFieldSubtype subtype,
             const std::vector<Bytes>& blobs) {
    using namespace ledger;
    TTableDefinition def;
    def.data.fields = {FieldDef("Word", ftString, 20), FieldDef(field, ftBlob, 0, subtype)};
    def.primary = TIndexDefinition{.fields = {"Word"}};
    TTableBuilder builder(dir.string(), table, def, TBuildTarget::NewFiles, PosixFileSystem());
    for (std::size_t i = 0; i < blobs.size(); ++i) {
      char word[32];
      std::snprintf(word, sizeof word, "w%04zu", i);
      std::vector<TFieldValue> row = {std::string(word), blobs[i]};
      builder.Append(row);
    }
    builder.Finish();
  }

  ~TFixture() {
    sound = nullptr;
    form.reset();
    words.Close();
    effects.Close();
    app.reset();
    display.reset();
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

TFixture* fixture = nullptr;

void Next(ledger::TLedgerTable& table, int count) {
  const int next = table.RecNo() % count + 1;
  table.SetRecNo(next);
}

void BM_PictureViewRecordMove(benchmark::State& state) {
  for (auto _ : state) {
    Next(fixture->words, kPictures);
    fixture->picture->Paint(fixture->screen.Canvas());
    if (!fixture->picture->PictureLoaded()) state.SkipWithError("no picture");
  }
}

void BM_BareImageLoadAndBlit(benchmark::State& state) {
  SDL_Surface* target = fixture->screen.Surface();
  int i = 0;
  for (auto _ : state) {
    const Bytes& png = fixture->pictures[static_cast<std::size_t>(i++ % kPictures)];
    SDL_Surface* s = IMG_Load_RW(SDL_RWFromConstMem(png.data(), static_cast<int>(png.size())), 1);
    SDL_Rect at{8, 0, 0, 0};
    SDL_BlitSurface(s, nullptr, target, &at);
    SDL_FreeSurface(s);
  }
}

void BM_MediaViewRecordMove(benchmark::State& state) {
  for (auto _ : state) {
    Next(fixture->effects, kSounds);
    if (!fixture->player->IsOpen()) state.SkipWithError("no sound opened");
  }
}

void BM_BareWavLoad(benchmark::State& state) {
  int i = 0;
  for (auto _ : state) {
    const Bytes& wav = fixture->sounds[static_cast<std::size_t>(i++ % kSounds)];
    Mix_Chunk* c = Mix_LoadWAV_RW(SDL_RWFromConstMem(wav.data(), static_cast<int>(wav.size())), 1);
    benchmark::DoNotOptimize(c);
    Mix_FreeChunk(c);
  }
}

BENCHMARK(BM_PictureViewRecordMove)->MinTime(2.0);
BENCHMARK(BM_BareImageLoadAndBlit)->MinTime(2.0);
BENCHMARK(BM_MediaViewRecordMove)->MinTime(2.0);
BENCHMARK(BM_BareWavLoad)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  benchmark::Initialize(&argc, argv);
  TFixture f;
  fixture = &f;
  bench::TRecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  bench::PrintRatio(reporter, "picture_load", "BM_PictureViewRecordMove/min_time:2.000",
                    "BM_BareImageLoadAndBlit/min_time:2.000");
  bench::PrintRatio(reporter, "sound_load", "BM_MediaViewRecordMove/min_time:2.000",
                    "BM_BareWavLoad/min_time:2.000");
  fixture = nullptr;
  return 0;
}
