#pragma once
// The file services of the machine the program runs on: the POSIX ones on the
// desktop; in a browser, one process over the preloaded tables, read-only.

#include <memory>

#include "engine/files/file_system.h"

namespace ledger {

std::shared_ptr<TFileSystem> HostFileSystem();

}  // namespace ledger
