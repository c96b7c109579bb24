#pragma once
// `probe FILE... [--decode DIR]`: what the image library makes of each file.

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tamblo::content_tool {

// One JSON line per readable file on `out`, one line per unreadable file on
// `err`; with `decodeDir`, each picture is also decoded at 24 bits and written
// there as "<file name>.png". Answers the exit code.
int Probe(const std::vector<std::string>& files, const std::optional<std::filesystem::path>& decodeDir,
          std::ostream& out, std::ostream& err);

}  // namespace tamblo::content_tool
