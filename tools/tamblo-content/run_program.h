#pragma once
// Running the helper programs the tool leans on (the speech synthesizer, the
// phoneme source): argument vectors only, never a shell, so a word can never
// become a command.

#include <filesystem>
#include <string>
#include <vector>

namespace tamblo::content_tool {

// A private folder under $TMPDIR (or /tmp), removed with everything in it.
class TScratchDir {
 public:
  explicit TScratchDir(const char* prefix = "tamblo-speech");
  ~TScratchDir();
  TScratchDir(const TScratchDir&) = delete;
  TScratchDir& operator=(const TScratchDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

struct TRun {
  bool started = false;
  int status = -1;
  std::string out;
  std::string why;  // when it did not start
};

// Runs a program found on PATH with stdin from /dev/null, stderr to a file,
// and answers what it wrote to stdout.
TRun RunProgram(const std::vector<std::string>& argv, const std::filesystem::path& errFile);

std::string ReadText(const std::filesystem::path& file);
std::string LastLine(const std::string& text);

}  // namespace tamblo::content_tool
