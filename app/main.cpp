// Program entry.

#include <cstdio>
#include <exception>
#include <memory>

#include "app/startup.h"
#include "toolkit/platform.h"

namespace {

// The exit status of a command-line mistake, as sysexits.h spells it.
constexpr int kExitUsage = 64;

}  // namespace

int main(int argc, char** argv) {
  // A child's game has nothing to be told on its command line yet; anything
  // there is a mistake, reported before a window could hide it.
  if (argc > 1) {
    std::fprintf(stderr, "tamblo: unknown option %s\nusage: tamblo\n", argv[1]);
    return kExitUsage;
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
  try {
    app::TSystemClock clock;
    const auto assets = app::AssetDirectory();
    app::TStartup startup(application, clock, assets);
    startup.Run([&] { app::CreateProgramForms(application, assets); });
  } catch (const std::exception& e) {
    // Only a broken installation (a missing picture, no usable font) lands here,
    // possibly before the title is set.
    application.Title = "Tamblo";
    application.HandleException(std::current_exception());
    return 1;
  }
  return 0;
}
