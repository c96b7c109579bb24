#pragma once
// Writes a file anew with the system's own calls, never following a link
// planted at its name. Failures answer false with errno saying why.
#include <cstddef>
#include <filesystem>

namespace dataset {

class TFileWriter {
 public:
  // Creates or empties path with the permission bits mode. With regularOnly
  // anything but a regular file there is refused, and a pipe is not waited on.
  TFileWriter(const std::filesystem::path& path, unsigned mode, bool regularOnly);
  // Closes a file the caller gave up on; errors then no longer matter.
  ~TFileWriter();
  TFileWriter(const TFileWriter&) = delete;
  TFileWriter& operator=(const TFileWriter&) = delete;

  bool IsOpen() const noexcept { return fd_ >= 0; }
  // All of it, or false.
  // REQUIRES: IsOpen().
  bool Write(const void* data, std::size_t size);
  // REQUIRES: IsOpen().
  bool Close();

 private:
  int fd_ = -1;
};

}  // namespace dataset
