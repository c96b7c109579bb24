#pragma once
// The process-wide list of shared file objects: one per file name and kind.
// Names match after trimming blanks, case-insensitively.

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

  // The services new file objects use. Swapping is for tests, between runs
  // with no file open.
  std::shared_ptr<TFileSystem> System() const;
  void SetSystem(std::shared_ptr<TFileSystem> system);

  TOpenResult Open(const std::string& name, bool inMemory, bool exclusive, bool temporary);
  TOpenResult Create(const std::string& name, bool inMemory, bool temporary);
  void Close(TAbstractFile* file, int handle);
  int Delete(const std::string& name, bool inMemory);
  int Rename(const std::string& name, const std::string& newName, bool inMemory);
  bool Exists(const std::string& name, bool inMemory);
  // Closes and frees everything still listed.
  void Clear();

  static std::string Key(const std::string& name, bool inMemory);

 private:
  TFileList();
  TAbstractFile* FindLocked(const std::string& name, bool inMemory);
  void RemoveLocked(TAbstractFile* file);

  mutable std::mutex guard_;
  std::shared_ptr<TFileSystem> system_;
  std::vector<std::unique_ptr<TAbstractFile>> files_;
};

}  // namespace ledger
