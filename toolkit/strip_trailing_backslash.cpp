#include "toolkit/strip_trailing_backslash.h"

namespace toolkit {

std::string StripTrailingBackslash(const std::string& path) {
  if (path.size() > 1 && path.back() == '/') return path.substr(0, path.size() - 1);
  return path;
}

}  // namespace toolkit
