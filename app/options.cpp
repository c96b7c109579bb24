#include "app/options.h"

#include <charconv>
#include <string_view>

namespace app {
namespace {

int ScaleFrom(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 1 ||
      value > kMaxScale)
    throw EUsage("--scale takes a whole number from 1 to " + std::to_string(kMaxScale) +
                 ", not \"" + std::string(text) + "\"");
  return value;
}

}  // namespace

TOptions ParseOptions(int argc, const char* const* argv) {
  TOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--fullscreen") {
      options.fullscreen = true;
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--scale") {
      if (i + 1 >= argc) throw EUsage("--scale needs a number");
      options.scale = ScaleFrom(argv[++i]);
    } else if (arg.starts_with("--scale=")) {
      options.scale = ScaleFrom(arg.substr(8));
    } else {
      throw EUsage("unknown option " + std::string(arg));
    }
  }
  return options;
}

}  // namespace app
