// Program entry.

#include <cstdio>
#include <exception>
#include <memory>

#include "app/options.h"
#include "app/startup.h"
#include "toolkit/form.h"
#include "toolkit/platform.h"

namespace {

// The exit status of a command-line mistake, as sysexits.h spells it.
constexpr int kExitUsage = 64;

}  // namespace

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
