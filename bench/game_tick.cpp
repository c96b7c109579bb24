// What one animation tick costs against its 100 ms budget, on the real
// content tables beside the program: a plain tick (the scene composed and
// shown) and a tick that also plays a cue (key search, the effect's media
// control reloading, the player opening and playing it).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "bench/bench_support.h"
#include "content/data_module.h"
#include "game/wrdcnst_form.h"
#include "media/image_library.h"
#include "toolkit/application.h"
#include "toolkit/platform.h"
#include "toolkit/random.h"

namespace {

namespace fs = std::filesystem;

constexpr double kBudgetSeconds = 0.1;
constexpr const char* kCues[] = {"craneh", "cranev", "konk", "clack", "click", "constr"};

struct TGame {
  std::unique_ptr<toolkit::TDisplaySession> display = std::make_unique<toolkit::TDisplaySession>();
  std::unique_ptr<toolkit::Application> app = std::make_unique<toolkit::Application>();
  content::TDataModule1* dm = nullptr;
  game::TfWrdCnst* form = nullptr;
  std::vector<std::string> reports;

  explicit TGame(const fs::path& runtime) {
    media::TPictureLibrary::SetSearchDirectory(runtime);
    app->SetReporter([this](const std::string&, const std::string& t) { reports.push_back(t); });
    dm = &app->CreateForm<content::TDataModule1>();
    form = &app->CreateForm<game::TfWrdCnst>(runtime / "assets", *dm, runtime / "tamblo");
    toolkit::RandSeed(7);
    form->FormActivate();
  }
  ~TGame() {
    app.reset();
    display.reset();
  }
};

TGame* running = nullptr;

void BM_PlainTick(benchmark::State& state) {
  for (auto _ : state) running->form->Timer1Timer();
}

void BM_TickWithCue(benchmark::State& state) {
  std::size_t i = 0;
  for (auto _ : state) {
    running->form->Cue(kCues[i++ % std::size(kCues)]);
    running->form->Timer1Timer();
  }
}

BENCHMARK(BM_PlainTick)->MinTime(2.0);
BENCHMARK(BM_TickWithCue)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  benchmark::Initialize(&argc, argv);
  // The tables and artwork beside the program in the build folder.
  const fs::path runtime = toolkit::ProgramFilePath().parent_path().parent_path();
  TGame g(runtime);
  if (!g.reports.empty()) {
    std::fprintf(stderr, "bench_game_tick: the game did not start: %s\n", g.reports.front().c_str());
    return 1;
  }
  running = &g;
  bench::TRecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (auto [name, run] : {std::pair{"tick_vs_budget", "BM_PlainTick/min_time:2.000"},
                           std::pair{"tick_with_cue_vs_budget", "BM_TickWithCue/min_time:2.000"}}) {
    if (auto it = reporter.seconds.find(run); it != reporter.seconds.end())
      std::printf("ratio %s %.6g\n", name, it->second / kBudgetSeconds);
  }
  running = nullptr;
  return 0;
}
