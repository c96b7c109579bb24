// Program entry: on the desktop a loop that sleeps between turns; in a browser
// the page's frames drive the same turns.

#include <cstdio>
#include <exception>
#include <memory>
#include <optional>

#include "app/options.h"
#include "app/startup.h"
#include "toolkit/form.h"
#include "toolkit/platform.h"

#ifdef __EMSCRIPTEN__
#include <emscripten.h>

// Tells the page the game has ended (EXIT), so it can offer another.
EM_JS(void, tamblo_game_over, (), {
  if (Module.tamblo && typeof Module.tamblo.gameOver === "function") Module.tamblo.gameOver();
});
#endif

namespace {

#ifdef __EMSCRIPTEN__

// What lives from frame to frame: main returns before the first one.
struct TBrowserGame {
  toolkit::TDisplaySession display;
  toolkit::Application application;
  app::TSystemClock clock;
  std::optional<app::TStartup> startup;
};

void Frame(void* data) {
  auto* game = static_cast<TBrowserGame*>(data);
  bool going = false;
  try {
    going = game->startup->Step();
  } catch (const std::exception&) {
    // What escapes the loop ends the game, as it ends the program on the desktop.
    game->application.HandleException(std::current_exception());
  }
  if (going) return;
  emscripten_cancel_main_loop();
  delete game;
  tamblo_game_over();
}

#else

// The exit status of a command-line mistake, as sysexits.h spells it.
constexpr int kExitUsage = 64;

#endif

}  // namespace

#ifdef __EMSCRIPTEN__

int main() {
  std::unique_ptr<TBrowserGame> game;
  try {
    app::EnterProgramDirectory();
    game = std::make_unique<TBrowserGame>();
    // The page scales the canvas by whole numbers itself.
    game->application.WindowScale = 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tamblo: %s\n", e.what());
    return 1;
  }
  try {
    const auto assets = app::AssetDirectory();
    game->startup.emplace(game->application, game->clock, assets);
    game->startup->Begin([&] { app::CreateProgramForms(game->application, assets); });
  } catch (const std::exception&) {
    game->application.Title = "Tamblo";
    game->application.HandleException(std::current_exception());
    return 1;
  }
  // Every animation frame; main returns now and the frames run the game.
  emscripten_set_main_loop_arg(Frame, game.release(), 0, false);
  return 0;
}

#else

int main(int argc, char** argv) {
  // A mistake on the command line is reported before a window could hide it.
  app::TOptions options;
  try {
    options = app::ParseOptions(argc, argv);
  } catch (const app::EUsage& e) {
    std::fprintf(stderr, "tamblo: %s\n%s\n", e.what(), app::kUsage);
    return kExitUsage;
  }
  if (options.help) {
    std::printf("%s\n", app::kUsage);
    return 0;
  }
  try {
    app::EnterProgramDirectory();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tamblo: %s\n", e.what());
    return 1;
  }
  std::unique_ptr<toolkit::TDisplaySession> display;
  try {
    display = std::make_unique<toolkit::TDisplaySession>();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tamblo: %s\n", e.what());
    return 1;
  }
  toolkit::Application application;
  application.WindowScale = options.scale;
  try {
    app::TSystemClock clock;
    const auto assets = app::AssetDirectory();
    app::TStartup startup(application, clock, assets);
    startup.Run([&] {
      app::CreateProgramForms(application, assets);
      if (options.fullscreen && application.MainForm()) application.MainForm()->SetFullscreen(true);
    });
  } catch (const std::exception& e) {
    // Only a broken installation (a missing picture, no usable font) lands here,
    // possibly before the title is set.
    application.Title = "Tamblo";
    application.HandleException(std::current_exception());
    return 1;
  }
  return 0;
}

#endif
