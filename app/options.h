#pragma once
// The game's command line.

#include <stdexcept>
#include <string>

namespace app {

inline constexpr const char* kUsage = "usage: tamblo [--scale N] [--fullscreen]";
// The largest window scale asked for on the command line: 632 x 456 times 16
// already outgrows any screen made.
inline constexpr int kMaxScale = 16;

struct TOptions {
  int scale = 0;  // 0: the largest that fits the display
  bool fullscreen = false;
  bool help = false;
};

// A command line the program does not understand; what() says what is wrong.
class EUsage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws EUsage for the first argument it cannot take.
TOptions ParseOptions(int argc, const char* const* argv);

}  // namespace app
