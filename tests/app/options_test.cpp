#include "app/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace app {
namespace {

TOptions Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "tamblo");
  return ParseOptions(static_cast<int>(args.size()), args.data());
}

TEST(Options, ScaleAndFullscreenInEitherSpelling) {
  struct Case {
    std::vector<const char*> args;
    int scale;
    bool fullscreen, help;
  };
  const Case cases[] = {
      {{}, 0, false, false},
      {{"--scale", "3"}, 3, false, false},
      {{"--scale=2", "--fullscreen"}, 2, true, false},
      {{"--fullscreen", "--scale", "16"}, 16, true, false},
      {{"--scale", "1", "--scale", "4"}, 4, false, false},  // the last one holds
      {{"--help"}, 0, false, true},
  };
  for (const Case& c : cases) {
    const TOptions o = Parse(c.args);
    EXPECT_EQ(o.scale, c.scale) << c.args.size();
    EXPECT_EQ(o.fullscreen, c.fullscreen) << c.args.size();
    EXPECT_EQ(o.help, c.help) << c.args.size();
  }
}

TEST(Options, AMistakeIsNamedInTheError) {
  struct Case {
    std::vector<const char*> args;
    const char* message;
  };
  const Case cases[] = {
      {{"--no-such-option"}, "unknown option --no-such-option"},
      {{"-f"}, "unknown option -f"},
      {{"--scale"}, "--scale needs a number"},
      {{"--scale", "0"}, "--scale takes a whole number from 1 to 16, not \"0\""},
      {{"--scale", "17"}, "--scale takes a whole number from 1 to 16, not \"17\""},
      {{"--scale", "2x"}, "--scale takes a whole number from 1 to 16, not \"2x\""},
      {{"--scale", "-2"}, "--scale takes a whole number from 1 to 16, not \"-2\""},
      {{"--scale="}, "--scale takes a whole number from 1 to 16, not \"\""},
      {{"--scale", "99999999999999999999"},
       "--scale takes a whole number from 1 to 16, not \"99999999999999999999\""},
  };
  for (const Case& c : cases) {
    try {
      Parse(c.args);
      ADD_FAILURE() << "accepted: " << c.message;
    } catch (const EUsage& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

}  // namespace
}  // namespace app
