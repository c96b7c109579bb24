#include "toolkit/test_hooks.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using toolkit::ParseSeed;

// A seed from a command line or an address either replays a run exactly or
// is no seed at all; strtoul alone would take signs, blanks and overflow.
TEST(TestHooks, SeedsAreDecimalNumbersThatFitOrNothing) {
  struct Case {
    const char* text;
    std::optional<unsigned> seed;
  };
  const Case cases[] = {
      {"20261211", 20261211u}, {"0", 0u},           {"4294967295", 4294967295u},
      {"4294967296", std::nullopt}, {"99999999999999999999999", std::nullopt},
      {"-1", std::nullopt},    {"+5", std::nullopt}, {" 5", std::nullopt},
      {"5x", std::nullopt},    {"", std::nullopt},  {"0x10", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseSeed(c.text), c.seed) << '"' << c.text << '"';
}

}  // namespace
