#pragma once
// Opens a cursor on a table made of arbitrary bytes and runs a short
// navigation script on it: first, next, last, prior, positions, keys,
// bookmarks, index switches and blobs. Shared by the fuzz target and the test
// that replays its corpus.
//
// Input layout: one flag byte, kScriptLength script bytes, the data file's and
// the index file's lengths (4 bytes each, little endian), the data file, the
// index file, then the blob file. A script byte holds the step in its low
// three bits and the step's argument in the other five.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "engine/core/data_cursor.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
#include "engine/errors/ledger_error.h"
#include "engine/files/byte_order.h"
#include "engine/files/file_handler.h"

namespace ledger::fuzzing {

enum : uint8_t {
  kCursorStrict = 1,       // strict change detection
  kCursorPhysical = 2,     // navigate in physical order
  kCursorSmallCaches = 4,  // caches of a few entries, so eviction runs
};

enum TCursorStep : uint8_t {
  kStepFirst = 0,     // set to beginning, then next (argument + 1) times
  kStepLast = 1,      // set to end, then prior (argument + 1) times
  kStepPosition = 2,  // argument 31: one past the record count
  kStepFindKey = 3,   // the current record's key, argument % 3 + 1 key fields
  kStepBlobs = 4,     // open, read whole and release every blob of the current record
  kStepBookmark = 5,  // leave and come back
  kStepIndex = 6,     // switch to secondary index argument % (count + 1), 0 the primary
  kStepCount = 7,     // record count, refresh, current
};

inline constexpr std::size_t kScriptLength = 8;
inline constexpr std::size_t kCursorHeader = 1 + kScriptLength + 8;
inline constexpr char kCursorPassword[] = "pw";

inline void PutCursorFile(const std::string& name, const uint8_t* bytes, std::size_t size) {
  TFileHandler file(name, true);
  file.Create();
  if (size > 0) file.Write(bytes, size);
  file.Close();
}

inline void DropCursorFile(const std::string& name) {
  TFileHandler file(name, true);
  try {
    file.Delete();
  } catch (const ELedgerEngineError&) {
  }
}

inline std::vector<uint8_t> MakeCursorInput(uint8_t flags, std::span<const uint8_t> script,
                                            const std::vector<uint8_t>& data, const std::vector<uint8_t>& index,
                                            const std::vector<uint8_t>& blob) {
  std::vector<uint8_t> input(kCursorHeader, 0);
  input[0] = flags;
  std::copy_n(script.begin(), std::min(script.size(), kScriptLength), input.begin() + 1);
  PutU32(input.data(), 1 + kScriptLength, static_cast<uint32_t>(data.size()));
  PutU32(input.data(), 5 + kScriptLength, static_cast<uint32_t>(index.size()));
  input.insert(input.end(), data.begin(), data.end());
  input.insert(input.end(), index.begin(), index.end());
  input.insert(input.end(), blob.begin(), blob.end());
  return input;
}

// What a script did, for the replay test's checks of sound tables.
struct TCursorRun {
  bool opened = false;
  int32_t recordCount = -1;
  int records = 0;  // records delivered by next and prior
  int blobs = 0;    // blobs read whole
  int errors = 0;   // engine errors raised by steps
};

inline void ReadBlobs(TDataCursor& cursor, TCursorRun& run) {
  const std::span<const uint8_t> current = cursor.CurrentRecord();
  if (current.empty()) return;
  std::vector<uint8_t> image(current.size());
  std::memcpy(image.data(), current.data(), current.size());
  for (int f = 1; f <= cursor.FieldCount(); ++f) {
    if (cursor.Field(f).type != ftBlob) continue;
    uint32_t size = 0;
    if (cursor.OpenBlob(f, image, TBlobOpenMode::Read, size) != 0) continue;
    std::vector<uint8_t> bytes(size);
    uint32_t copied = 0;
    if (cursor.ReadBlob(f, image, 0, size, bytes.data(), copied) == 0 && copied == size && size > 0) ++run.blobs;
    // Past the end: the end-of-blob answer, nothing copied beyond.
    uint8_t tail[4];
    cursor.ReadBlob(f, image, size, sizeof tail, tail, copied);
    cursor.ReleaseBlob(f, image);
  }
}

inline void RunStep(TDataCursor& cursor, uint8_t step, TCursorRun& run, std::vector<uint8_t>& buffer) {
  const int arg = step >> 3;
  switch (static_cast<TCursorStep>(step & 7)) {
    case kStepFirst:
      cursor.SetToBeginning();
      for (int i = 0; i <= arg && cursor.Next(buffer.data()) == kStatusOk; ++i) ++run.records;
      break;
    case kStepLast:
      cursor.SetToEnd();
      for (int i = 0; i <= arg && cursor.Prior(buffer.data()) == kStatusOk; ++i) ++run.records;
      break;
    case kStepPosition:
      cursor.GoToPosition(arg == 31 ? cursor.RecordCount() + 1 : arg);
      break;
    case kStepFindKey: {
      if (cursor.PhysicalOrder() || cursor.CurrentRecord().empty()) break;
      const TIndexDesc& index = cursor.ActiveIndexDescriptor();
      if (index.keyLength == 0) break;
      std::vector<uint8_t> key(index.keyLength);
      cursor.BuildKey(cursor.CurrentRecord(), key.data());
      const int fields = std::min<int>(arg % 3 + 1, index.fieldCount);
      cursor.FindKey(key.data(), fields);
      break;
    }
    case kStepBlobs:
      ReadBlobs(cursor, run);
      break;
    case kStepBookmark: {
      const std::vector<uint8_t> mark = cursor.Bookmark();
      cursor.GoToPosition(arg);
      const std::vector<uint8_t> here = cursor.Bookmark();
      if (mark.size() == here.size() && !mark.empty()) cursor.CompareBookmarks(mark.data(), here.data());
      if (!mark.empty()) cursor.GoToBookmark(mark.data());
      break;
    }
    case kStepIndex: {
      const int count = cursor.SecondaryIndexCount();
      const int slot = arg % (count + 1);
      if (slot == 0 || slot > 30) break;
      cursor.SwitchToIndex(cursor.IndexDescriptor(slot).name);
      break;
    }
    case kStepCount:
      run.recordCount = cursor.RecordCount();
      cursor.Refresh();
      cursor.Current(buffer.data());
      break;
  }
}

inline TCursorRun RunCursor(const uint8_t* input, std::size_t size) {
  TCursorRun run;
  if (size < kCursorHeader) return run;
  const uint8_t flags = input[0];
  const uint8_t* script = input + 1;
  std::size_t rest = size - kCursorHeader;
  const std::size_t dataSize = std::min<std::size_t>(GetU32(input, 1 + kScriptLength), rest);
  rest -= dataSize;
  const std::size_t indexSize = std::min<std::size_t>(GetU32(input, 5 + kScriptLength), rest);
  const uint8_t* bytes = input + kCursorHeader;
  const std::string folder = "fuzzcursor";
  const std::string names[3] = {folder + "/Fuzz.DAT", folder + "/Fuzz.IDX", folder + "/Fuzz.BLB"};
  PutCursorFile(names[0], bytes, dataSize);
  PutCursorFile(names[1], bytes + dataSize, indexSize);
  PutCursorFile(names[2], bytes + dataSize + indexSize, rest - indexSize);
  {
    TDataSession session(PosixFileSystem());
    session.SetStrictChangeDetection((flags & kCursorStrict) != 0);
    session.AddPassword(kCursorPassword);
    if (flags & kCursorSmallCaches) {
      TCacheLimits limits;
      limits.dataCacheBytes = 256;
      limits.blobCacheBytes = 1024;
      session.SetCacheLimits(limits, 8192);
    }
    TDataDirectory& directory = session.OpenDirectory("Memory", folder);
    {
      TDataCursor cursor(directory);
      cursor.SetTableName("Fuzz");
      cursor.SetInMemory(true);
      cursor.SetNoIndex((flags & kCursorPhysical) != 0);
      try {
        cursor.Open();
        run.opened = true;
      } catch (const ELedgerEngineError&) {
      }
      if (run.opened) {
        std::vector<uint8_t> buffer(static_cast<std::size_t>(cursor.RecordSize()));
        for (std::size_t i = 0; i < kScriptLength; ++i) {
          try {
            RunStep(cursor, script[i], run, buffer);
          } catch (const ELedgerEngineError&) {
            ++run.errors;
          }
        }
        try {
          cursor.Close();
        } catch (const ELedgerEngineError&) {
          ++run.errors;
        }
      }
    }
    session.ReleaseDirectory(directory);
  }
  for (const std::string& name : names) DropCursorFile(name);
  return run;
}

}  // namespace ledger::fuzzing
