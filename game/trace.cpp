#include "game/trace.h"

#include <cstdlib>

namespace game {

TTrace::TTrace() {
  if (const char* path = std::getenv("TAMBLO_TRACE"); path && *path) file_ = std::fopen(path, "a");
}

TTrace::~TTrace() {
  if (file_) std::fclose(file_);
}

std::string TTrace::Quote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void TTrace::Write(const char* event,
                   std::initializer_list<std::pair<const char*, std::string>> fields) {
  if (!file_) return;
  std::string line = "{\"event\": " + Quote(event);
  for (const auto& [name, value] : fields) line += ", " + Quote(name) + ": " + value;
  line += "}\n";
  // Each line goes out whole and at once, so a reader never sees half of one.
  std::fputs(line.c_str(), file_);
  std::fflush(file_);
}

}  // namespace game
