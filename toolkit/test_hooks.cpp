#include "toolkit/test_hooks.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#ifdef __EMSCRIPTEN__
#include <emscripten.h>

// The parameter's value from the page's address; -1 when it is absent. Writes
// at most size - 1 bytes and a terminator, and answers the full length.
EM_JS(int, tamblo_page_parameter, (const char* name, char* buffer, int size), {
  const value = new URLSearchParams(location.search).get(UTF8ToString(name));
  if (value === null) return -1;
  stringToUTF8(value, buffer, size);
  return lengthBytesUTF8(value);
});

EM_JS(void, tamblo_console_line, (const char* text), { console.log(UTF8ToString(text)); });
#endif

namespace toolkit {
namespace {

#ifdef __EMSCRIPTEN__

std::optional<std::string> Setting(const char* name) {
  std::string value(64, '\0');
  int length = tamblo_page_parameter(name, value.data(), static_cast<int>(value.size()));
  if (length >= static_cast<int>(value.size())) {
    value.resize(static_cast<std::size_t>(length) + 1);
    length = tamblo_page_parameter(name, value.data(), static_cast<int>(value.size()));
  }
  if (length <= 0) return std::nullopt;
  value.resize(static_cast<std::size_t>(length));
  return value;
}

const char* NameOf(THook hook) { return hook == THook::Seed ? "seed" : "trace"; }

class TConsoleTrace : public TTraceOutput {
 public:
  void Write(const std::string& object) override { tamblo_console_line(object.c_str()); }
};

#else

std::optional<std::string> Setting(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) return std::nullopt;
  return std::string(value);
}

const char* NameOf(THook hook) { return hook == THook::Seed ? "TAMBLO_SEED" : "TAMBLO_TRACE"; }

class TFileTrace : public TTraceOutput {
 public:
  explicit TFileTrace(std::FILE* file) : file_(file) {}
  ~TFileTrace() override { std::fclose(file_); }
  void Write(const std::string& object) override {
    const std::string line = object + "\n";
    std::fputs(line.c_str(), file_);
    std::fflush(file_);
  }

 private:
  std::FILE* file_;
};

#endif

}  // namespace

std::optional<std::string> HookSetting(THook hook) { return Setting(NameOf(hook)); }

std::optional<unsigned> ParseSeed(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  if (errno == ERANGE || value > UINT_MAX) return std::nullopt;
  return static_cast<unsigned>(value);
}

std::unique_ptr<TTraceOutput> OpenTraceOutput() {
  const std::optional<std::string> setting = HookSetting(THook::Trace);
  if (!setting) return nullptr;
#ifdef __EMSCRIPTEN__
  if (*setting != "1") return nullptr;
  return std::make_unique<TConsoleTrace>();
#else
  std::FILE* file = std::fopen(setting->c_str(), "a");
  if (!file) return nullptr;
  return std::make_unique<TFileTrace>(file);
#endif
}

}  // namespace toolkit
