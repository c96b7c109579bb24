#include "app/startup.h"

#include <SDL.h>

#include "content/data_module.h"
#include "game/wrdcnst_form.h"
#include "toolkit/platform.h"
#include "toolkit/random.h"
#include "toolkit/strip_trailing_backslash.h"
#include "toolkit/timer.h"

namespace app {

std::uint32_t TSystemClock::Ticks() { return toolkit::GetTickCount(); }

void TSystemClock::Sleep(std::uint32_t ms) { SDL_Delay(ms); }

void EnterProgramDirectory() {
  std::string dir = toolkit::ProgramFilePath().parent_path().string();
  if (dir.empty() || dir.back() != '/') dir += '/';
  toolkit::SetCurrentDir(toolkit::StripTrailingBackslash(dir));
  toolkit::Randomize();
}

std::filesystem::path AssetDirectory() {
  return toolkit::ProgramFilePath().parent_path() / "assets";
}

TStartup::TStartup(toolkit::Application& app, TStartupClock& clock, std::filesystem::path assetDir)
    : app_(app), clock_(clock), assetDir_(std::move(assetDir)) {}

void TStartup::Begin(const std::function<void()>& createForms) {
  start_ = clock_.Ticks();
  app_.SetIcon(assetDir_ / "icon-48.png");
  // Created directly, not through the application, so it never becomes the main form.
  splash_ = std::make_unique<TfSplash>(app_, assetDir_);
  splash_->Show();
  splash_->Update();
  app_.Title = "Tamblo";
  createForms();
}

std::uint32_t TStartup::SplashLeft() {
  // A difference of tick readings, so a wrap of the counter cannot prolong the wait.
  const std::uint32_t elapsed = clock_.Ticks() - start_;
  return elapsed < kSplashMilliseconds ? kSplashMilliseconds - elapsed : 0;
}

void TStartup::EndSplash() {
  splash_->Hide();
  splash_.reset();
}

void TStartup::Run(const std::function<void()>& createForms) {
  Begin(createForms);
  for (std::uint32_t left; (left = SplashLeft()) > 0;) clock_.Sleep(left);
  EndSplash();
  app_.Run();
}

bool TStartup::Step() {
  if (splash_) {
    if (SplashLeft() > 0) return true;
    EndSplash();
  }
  return app_.Step().has_value();
}

void CreateProgramForms(toolkit::Application& app, const std::filesystem::path& assetDir,
                        const std::filesystem::path& programFile) {
  content::TDataModule1& dataModule = app.CreateForm<content::TDataModule1>();
  app.CreateForm<game::TfWrdCnst>(assetDir, dataModule, programFile);
}

}  // namespace app
