#include "game/trace.h"

#include <cstdio>

namespace game {

TTrace::TTrace() : output_(toolkit::OpenTraceOutput()) {}

TTrace::~TTrace() = default;

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
  if (!output_) return;
  std::string line = "{\"event\": " + Quote(event);
  for (const auto& [name, value] : fields) line += ", " + Quote(name) + ": " + value;
  line += "}";
  output_->Write(line);
}

}  // namespace game
