#include "engine/files/host_file_system.h"

#include "engine/files/single_process_file_system.h"

namespace ledger {

std::shared_ptr<TFileSystem> HostFileSystem() {
#ifdef __EMSCRIPTEN__
  static const auto system =
      std::make_shared<TSingleProcessFileSystem>(TSingleProcessFileSystem::TAccess::ReadOnly);
  return system;
#else
  return PosixFileSystem();
#endif
}

}  // namespace ledger
