// Program entry. Takes no arguments.

#include <cstdio>
#include <exception>
#include <memory>

#include "app/startup.h"
#include "toolkit/platform.h"

int main() {
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
