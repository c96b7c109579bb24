#pragma once
// Process-level services: the video, text and picture subsystems, the program
// file's path and the current directory.

#include <filesystem>
#include <string>

namespace toolkit {

// Starts video, text and picture support for the life of the object. Throws
// std::runtime_error when no display can be opened.
class TDisplaySession {
 public:
  TDisplaySession();
  ~TDisplaySession();
  TDisplaySession(const TDisplaySession&) = delete;
  TDisplaySession& operator=(const TDisplaySession&) = delete;
};

// The running program file, links resolved.
std::filesystem::path ProgramFilePath();
std::string GetCurrentDir();
// Throws std::system_error when the directory cannot be entered.
void SetCurrentDir(const std::string& dir);

}  // namespace toolkit
