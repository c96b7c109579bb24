#pragma once

#include <string>

namespace toolkit {

// Path without one trailing separator, unless Path is the root ("/"), which keeps
// it. An empty Path comes back unchanged.
std::string StripTrailingBackslash(const std::string& path);

}  // namespace toolkit
