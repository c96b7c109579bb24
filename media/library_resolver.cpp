#include "media/library_resolver.h"

#include <dlfcn.h>

#include <cstring>
#include <filesystem>

namespace media {
namespace {

class TDynamicLoader : public TLibraryResolver {
 public:
  void* Open(const std::string& path) override { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }
  void* Entry(void* library, const char* name) override { return dlsym(library, name); }
  void Close(void* library) override { dlclose(library); }
};

}  // namespace

TLibraryResolver& DynamicLoader() {
  static TDynamicLoader loader;
  return loader;
}

void* TLinkedLibraries::Open(const std::string& path) {
  const std::string fileName = std::filesystem::path(path).filename().string();
  for (TLibrary& library : libraries_)
    if (library.fileName == fileName) return &library;
  return nullptr;
}

void* TLinkedLibraries::Entry(void* library, const char* name) {
  if (!library || !name) return nullptr;
  for (const TLinkedEntry& entry : static_cast<const TLibrary*>(library)->entries)
    if (std::strcmp(entry.name, name) == 0) return entry.address;
  return nullptr;
}

}  // namespace media
