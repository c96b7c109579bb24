#include "engine/files/file_list.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "engine/errors/ledger_error.h"
#include "engine/files/ascii_text.h"
#include "engine/files/memory_file.h"
#include "engine/files/physical_file.h"

namespace ledger {
namespace {

int Refused(TErrorCode code, int errorNumber) {
  errno = errorNumber;
  return -static_cast<int>(code);
}

}  // namespace

TFileList::TFileList() = default;

TFileList::~TFileList() { Clear(); }

TFileList& TFileList::Instance() {
  // Never destroyed, so handlers that outlive static destruction still find
  // it; what is open at exit is closed (and temporary files removed) by Clear.
  static TFileList* const list = [] {
    auto* made = new TFileList;
    std::atexit([] { Instance().Clear(); });
    return made;
  }();
  return *list;
}

std::string TFileList::Key(const std::string& name, bool inMemory) {
  // Names of files on disk keep their case: the file system tells Words.DAT
  // from words.DAT, and sharing one object between them would read the wrong file.
  return inMemory ? AsciiLower(TrimBlanks(name)) : TrimBlanks(name);
}

TAbstractFile* TFileList::FindLocked(const std::string& name, bool inMemory, const TFileSystem& system) {
  const std::string key = Key(name, inMemory);
  for (const auto& file : files_)
    if (&file->System() == &system && file->IsMemory() == inMemory && Key(file->Name(), inMemory) == key)
      return file.get();
  return nullptr;
}

bool TFileList::OpenInProcessLocked(const std::string& name, bool inMemory, const TFileSystem& system) {
  // Memory files of different systems are different buffers; a file on disk
  // is the same file whichever system opened it.
  const std::string key = Key(name, inMemory);
  for (const auto& file : files_)
    if ((!inMemory || &file->System() == &system) && file->IsMemory() == inMemory &&
        file->OpenCount() > 0 && Key(file->Name(), inMemory) == key)
      return true;
  return false;
}

void TFileList::RemoveLocked(TAbstractFile* file) {
  std::erase_if(files_, [file](const auto& f) { return f.get() == file; });
}

TOpenResult TFileList::Open(const std::string& name, bool inMemory, bool exclusive, bool temporary,
                            const std::shared_ptr<TFileSystem>& system) {
  std::lock_guard lock(guard_);
  TAbstractFile* file = FindLocked(name, inMemory, *system);
  if (file != nullptr && file->OpenCount() > 0) {
    if (file->Exclusive() || exclusive) return {nullptr, 0, Refused(LEDGER_OSEACCES, EACCES)};
    return {file, file->OpenAnother(), 0};
  }
  if (file != nullptr) {  // a memory file kept after its last close
    int handle = file->Open(exclusive, temporary);
    if (handle < 0) return {nullptr, 0, handle};
    return {file, handle, 0};
  }
  if (inMemory) return {nullptr, 0, Refused(LEDGER_OSENOENT, ENOENT)};
  auto made = std::make_unique<TPhysicalFile>(TrimBlanks(name), system);
  int handle = made->Open(exclusive, temporary);
  if (handle < 0) return {nullptr, 0, handle};
  files_.push_back(std::move(made));
  return {files_.back().get(), handle, 0};
}

TOpenResult TFileList::Create(const std::string& name, bool inMemory, bool temporary,
                              const std::shared_ptr<TFileSystem>& system) {
  std::lock_guard lock(guard_);
  if (OpenInProcessLocked(name, inMemory, *system)) return {nullptr, 0, Refused(LEDGER_OSEACCES, EACCES)};
  TAbstractFile* file = FindLocked(name, inMemory, *system);
  if (file != nullptr) {
    int handle = file->Create(temporary);
    if (handle < 0) return {nullptr, 0, handle};
    return {file, handle, 0};
  }
  std::unique_ptr<TAbstractFile> made;
  if (inMemory)
    made = std::make_unique<TMemoryFile>(TrimBlanks(name), system);
  else
    made = std::make_unique<TPhysicalFile>(TrimBlanks(name), system);
  int handle = made->Create(temporary);
  if (handle < 0) return {nullptr, 0, handle};
  files_.push_back(std::move(made));
  return {files_.back().get(), handle, 0};
}

void TFileList::Close(TAbstractFile* file, int handle) {
  std::lock_guard lock(guard_);
  // The list may have been cleared at exit under a handler still open.
  auto it = std::find_if(files_.begin(), files_.end(),
                         [file](const auto& f) { return f.get() == file; });
  if (it == files_.end()) return;
  if (!file->Close(handle)) return;
  if (!file->IsMemory() || file->Temporary()) RemoveLocked(file);
}

int TFileList::Delete(const std::string& name, bool inMemory, const std::shared_ptr<TFileSystem>& system) {
  std::lock_guard lock(guard_);
  if (OpenInProcessLocked(name, inMemory, *system)) return Refused(LEDGER_OSEACCES, EACCES);
  TAbstractFile* file = FindLocked(name, inMemory, *system);
  if (inMemory) {
    if (file == nullptr) return Refused(LEDGER_OSENOENT, ENOENT);
    file->Delete();
    RemoveLocked(file);
    return 0;
  }
  return TPhysicalFile(TrimBlanks(name), system).Delete();
}

int TFileList::Rename(const std::string& name, const std::string& newName, bool inMemory,
                      const std::shared_ptr<TFileSystem>& system) {
  std::lock_guard lock(guard_);
  if (OpenInProcessLocked(name, inMemory, *system) || OpenInProcessLocked(newName, inMemory, *system))
    return Refused(LEDGER_OSEACCES, EACCES);
  TAbstractFile* file = FindLocked(name, inMemory, *system);
  TAbstractFile* target = FindLocked(newName, inMemory, *system);
  if (inMemory) {
    if (file == nullptr) return Refused(LEDGER_OSENOENT, ENOENT);
    if (target != nullptr && target != file) return Refused(LEDGER_OSUNKNOWN, EEXIST);
    return file->Rename(TrimBlanks(newName));
  }
  return TPhysicalFile(TrimBlanks(name), system).Rename(TrimBlanks(newName));
}

bool TFileList::Exists(const std::string& name, bool inMemory, const std::shared_ptr<TFileSystem>& system) {
  std::lock_guard lock(guard_);
  if (FindLocked(name, inMemory, *system) != nullptr || OpenInProcessLocked(name, inMemory, *system))
    return true;
  if (inMemory) return false;
  TFileStatus status;
  return system->Stat(TrimBlanks(name), status) >= 0 && !status.IsDirectory;
}

void TFileList::Clear() {
  std::lock_guard lock(guard_);
  for (auto& file : files_)
    if (!file->IsMemory() && file->Temporary() && file->OpenCount() > 0) file->Delete();
  files_.clear();
}

}  // namespace ledger
