#pragma once
// The process-wide list of shared file objects: one per file system, file
// name and kind. Names match after trimming blanks, case-insensitively. Opens
// through the same system share one object; a file object never serves
// another system, so a session on a test's system never reads through the
// real one. A file on disk is still one file to the process: while any system
// has it open, create, delete and rename refuse it and it exists.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/files/abstract_file.h"
#include "engine/files/file_system.h"

namespace ledger {

struct TOpenResult {
  TAbstractFile* File = nullptr;
  int Handle = 0;
  int Error = 0;  // a negated engine code, or 0
};

class TFileList {
 public:
  static TFileList& Instance();
  ~TFileList();

  // REQUIRES: system is not null.
  TOpenResult Open(const std::string& name, bool inMemory, bool exclusive, bool temporary,
                   const std::shared_ptr<TFileSystem>& system);
  TOpenResult Create(const std::string& name, bool inMemory, bool temporary,
                     const std::shared_ptr<TFileSystem>& system);
  void Close(TAbstractFile* file, int handle);
  int Delete(const std::string& name, bool inMemory, const std::shared_ptr<TFileSystem>& system);
  int Rename(const std::string& name, const std::string& newName, bool inMemory,
             const std::shared_ptr<TFileSystem>& system);
  bool Exists(const std::string& name, bool inMemory, const std::shared_ptr<TFileSystem>& system);
  // Closes and frees everything still listed.
  void Clear();

  static std::string Key(const std::string& name, bool inMemory);

 private:
  TFileList();
  TAbstractFile* FindLocked(const std::string& name, bool inMemory, const TFileSystem& system);
  // Open through this system or, for a file on disk, through any.
  bool OpenInProcessLocked(const std::string& name, bool inMemory, const TFileSystem& system);
  void RemoveLocked(TAbstractFile* file);

  mutable std::mutex guard_;
  std::vector<std::unique_ptr<TAbstractFile>> files_;
};

}  // namespace ledger
