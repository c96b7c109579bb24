#pragma once
// Both libraries' entries by name, for a program that links the libraries in
// because it cannot load them (a browser has no dynamic loader). Built from
// the same wrappers the shared objects export, so the names are the same.

#include <span>

namespace picturelib {

struct TLinkedEntry {
  const char* name;
  void* address;
};

std::span<const TLinkedEntry> CrdeEntries();
std::span<const TLinkedEntry> IspEntries();

}  // namespace picturelib
