#pragma once
// The program's start-up: splash, data module and main window, the splash's
// minimum time on screen, the message loop and shutdown.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

#include "app/splash_form.h"
#include "toolkit/application.h"

namespace app {

// Tick readings and a sleep, replaceable so tests need not wait six seconds.
class TStartupClock {
 public:
  virtual ~TStartupClock() = default;
  virtual std::uint32_t Ticks() = 0;
  virtual void Sleep(std::uint32_t ms) = 0;
};

class TSystemClock : public TStartupClock {
 public:
  std::uint32_t Ticks() override;
  void Sleep(std::uint32_t ms) override;
};

inline constexpr std::uint32_t kSplashMilliseconds = 5999;

// Makes the program's own directory the current directory and seeds the random
// generator. Throws std::system_error when the directory cannot be entered.
void EnterProgramDirectory();

// Where the pictures of the windows live: beside the program file.
std::filesystem::path AssetDirectory();

class TStartup {
 public:
  TStartup(toolkit::Application& app, TStartupClock& clock, std::filesystem::path assetDir);

  // Shows the splash, runs `createForms` (the data module, then the main window),
  // keeps the splash up until kSplashMilliseconds have passed since the first tick
  // reading, releases it and runs the message loop until the main window closes.
  void Run(const std::function<void()>& createForms);

  // The same in turns that never wait, for a caller that must get control back
  // (a browser's frame): Begin shows the splash and creates the forms; each Step
  // is nothing while the splash's time runs, then ends the splash, then one
  // turn of the message loop. Step answers false once the loop has ended.
  void Begin(const std::function<void()>& createForms);
  bool Step();

  // The splash while it exists.
  TfSplash* Splash() const { return splash_.get(); }

 private:
  // How long the splash must still stay up; 0 when its time is over.
  std::uint32_t SplashLeft();
  void EndSplash();

  toolkit::Application& app_;
  TStartupClock& clock_;
  std::filesystem::path assetDir_;
  std::unique_ptr<TfSplash> splash_;
  std::uint32_t start_ = 0;
};

// The program's own forms: DataModule1, then fWrdCnst, which opens the content
// tables beside programFile (empty: the running program).
void CreateProgramForms(toolkit::Application& app, const std::filesystem::path& assetDir,
                        const std::filesystem::path& programFile = {});

}  // namespace app
