#include "media/temp_directory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace media {
namespace {

std::string& Current() {
  static std::string path;
  return path;
}

}  // namespace

const std::string& PrivateTempDirectory() {
  std::string& path = Current();
  if (!path.empty()) return path;
  const char* base = std::getenv("TMPDIR");
  std::string pattern = base && *base ? base : "/tmp";
  if (pattern.back() != '/') pattern += '/';
  pattern += "tamblo-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back(0);
  if (!mkdtemp(buffer.data()))
    throw std::runtime_error("cannot create a temporary directory " + pattern + ": " +
                             std::strerror(errno));
  // mkdtemp asks for 0700, but a strict umask could leave even less.
  chmod(buffer.data(), 0700);
  static const bool registered = std::atexit([] { RemovePrivateTempDirectory(); }) == 0;
  (void)registered;
  path = std::string(buffer.data()) + "/";
  return path;
}

bool PrivateTempDirectoryExists() { return !Current().empty(); }

void RemovePrivateTempDirectory() noexcept {
  std::string& path = Current();
  if (path.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
  path.clear();
}

}  // namespace media
