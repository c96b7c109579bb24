#include "toolkit/strip_trailing_backslash.h"

#include <gtest/gtest.h>

namespace {

TEST(StripTrailingBackslash, RemovesOneTrailingSeparatorButKeepsTheRoot) {
  struct Case {
    const char* path;
    const char* expected;
  };
  const Case cases[] = {
      {"/", "/"},                          // the root keeps its separator
      {"/usr/games/", "/usr/games"},       // a directory loses it
      {"/usr/games", "/usr/games"},        // nothing to strip
      {"", ""},                            // empty stays empty
      {"/opt/tamblo//", "/opt/tamblo/"},   // only one is removed
      {"a/", "a"},                         // a short relative path is not a root
  };
  for (const Case& c : cases)
    EXPECT_EQ(toolkit::StripTrailingBackslash(c.path), c.expected) << "path \"" << c.path << "\"";
}

}  // namespace
