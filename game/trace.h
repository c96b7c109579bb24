#pragma once
// The game's trace for tests and debugging: one JSON object per line, appended
// to the file TAMBLO_TRACE names. Without it, nothing is formatted or written.

#include <cstdio>
#include <initializer_list>
#include <string>
#include <utility>

namespace game {

class TTrace {
 public:
  // Opens the file the environment names, if any.
  TTrace();
  ~TTrace();
  TTrace(const TTrace&) = delete;
  TTrace& operator=(const TTrace&) = delete;

  bool On() const { return file_ != nullptr; }
  // Writes {"event": event, ...fields}; each field's value is ready-made JSON.
  void Write(const char* event, std::initializer_list<std::pair<const char*, std::string>> fields);

  static std::string Quote(const std::string& text);

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace game
