#pragma once
// What makes a run repeatable and observable from outside: a fixed seed for
// the random generator and a trace of what the game does. On the desktop they
// come from the environment (TAMBLO_SEED, TAMBLO_TRACE naming a file); in a
// browser from the page's address (?seed=N, ?trace=1), and the trace goes to
// the console.

#include <memory>
#include <optional>
#include <string>

namespace toolkit {

enum class THook { Seed, Trace };

// The hook's text as given; nullopt when it is not given or empty.
std::optional<std::string> HookSetting(THook hook);

// A whole number from 0 to UINT_MAX written in decimal digits alone; nullopt
// for anything else, so a mistyped seed is no seed rather than a wrong one.
std::optional<unsigned> ParseSeed(const std::string& text);

class TTraceOutput {
 public:
  virtual ~TTraceOutput() = default;
  // One JSON object, without a line end; it goes out whole and at once.
  virtual void Write(const std::string& object) = 0;
};

// Where the trace goes; null when tracing is off (or its file cannot be opened).
std::unique_ptr<TTraceOutput> OpenTraceOutput();

}  // namespace toolkit
