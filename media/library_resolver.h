#pragma once
// How the image libraries and their entries are found by name: through the
// dynamic loader on the desktop, or from tables linked into the program
// where there is no loader (a browser). Either way a library that is not
// there and an entry it lacks answer null, and the callers' messages follow.

#include <span>
#include <string>
#include <vector>

#include "media/picturelib/linked_entries.h"

namespace media {

class TLibraryResolver {
 public:
  virtual ~TLibraryResolver() = default;
  // The library at `path` (a bare name lets the system search); null when
  // there is none.
  virtual void* Open(const std::string& path) = 0;
  // The named entry of an open library; null when it has no such entry.
  virtual void* Entry(void* library, const char* name) = 0;
  virtual void Close(void* library) = 0;
};

// dlopen, dlsym, dlclose.
TLibraryResolver& DynamicLoader();

using picturelib::TLinkedEntry;

// Libraries linked into the program, known by file name: a path opens the
// library its last component names, wherever the path points.
class TLinkedLibraries : public TLibraryResolver {
 public:
  struct TLibrary {
    std::string fileName;
    std::span<const TLinkedEntry> entries;
  };
  explicit TLinkedLibraries(std::vector<TLibrary> libraries) : libraries_(std::move(libraries)) {}

  void* Open(const std::string& path) override;
  void* Entry(void* library, const char* name) override;
  void Close(void*) override {}

 private:
  std::vector<TLibrary> libraries_;
};

}  // namespace media
