// Test entry for everything that draws: a real video subsystem on SDL's dummy
// driver, so tests run without a display and read pixels back from bitmaps.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "toolkit/platform.h"

namespace {

class HeadlessDisplay : public ::testing::Environment {
 public:
  void SetUp() override { display_ = std::make_unique<toolkit::TDisplaySession>(); }
  void TearDown() override { display_.reset(); }

 private:
  std::unique_ptr<toolkit::TDisplaySession> display_;
};

}  // namespace

int main(int argc, char** argv) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new HeadlessDisplay);
  return RUN_ALL_TESTS();
}
