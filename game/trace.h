#pragma once
// The game's trace for tests and debugging: one JSON object per line, to where
// the test hooks send it (the file TAMBLO_TRACE names, or a browser's console).
// Without it, nothing is formatted or written.

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

#include "toolkit/test_hooks.h"

namespace game {

class TTrace {
 public:
  // Opens the output the test hooks name, if any.
  TTrace();
  ~TTrace();
  TTrace(const TTrace&) = delete;
  TTrace& operator=(const TTrace&) = delete;

  bool On() const { return output_ != nullptr; }
  // Writes {"event": event, ...fields}; each field's value is ready-made JSON.
  void Write(const char* event, std::initializer_list<std::pair<const char*, std::string>> fields);

  static std::string Quote(const std::string& text);

 private:
  std::unique_ptr<toolkit::TTraceOutput> output_;
};

}  // namespace game
