// The finished files under the table's names: renamed over the old set, or
// copied into the old files under their write locks.

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "engine/build/table_builder_state.h"
#include "engine/files/byte_order.h"
#include "engine/files/change_counter.h"
#include "engine/files/data_header.h"
#include "engine/files/index_header.h"
#include "engine/files/scramble.h"

namespace ledger {

namespace {

// A counter is read and written as the first four bytes of its header.
static_assert(data_header::kChangeCounter == 0 && index_header::kChangeCounter == 0 &&
              blob_header::kChangeCounter == 0);

}  // namespace

void TTableBuilder::TState::RenameIntoPlace(const char* ext) {
  if (std::string_view(ext) == ".BLB" && !hasBlobs) {
    system->Unlink(FinalName(ext));  // a stale blob file of an older table
    return;
  }
  if (int r = system->Rename(TempName(ext), FinalName(ext)); r < 0) {
    errno = -r;
    Fail(LEDGER_WRITEERR);
  }
}

// The new files replace the old set whole or not at all: the old files step
// aside, the new ones move in, and the old ones go only once all new ones are
// in place. On any failure the new ones go and the old ones come back; an old
// file that cannot come back stays under its aside name rather than be lost.
void TTableBuilder::TState::ReplaceFiles() {
  const char* const exts[] = {".DAT", ".IDX", ".BLB"};
  bool aside[3] = {};
  bool placed[3] = {};
  int failure = 0;
  for (int i = 0; i < 3 && failure == 0; ++i) {
    int r = system->Rename(FinalName(exts[i]), AsideName(exts[i]));
    if (r == -EEXIST) {
      // Left by a build cut short; the file under the real name is newer.
      system->Unlink(AsideName(exts[i]));
      r = system->Rename(FinalName(exts[i]), AsideName(exts[i]));
    }
    if (r < 0 && r != -ENOENT) failure = r;
    aside[i] = r == 0;
  }
  for (int i = 0; i < 3 && failure == 0; ++i) {
    if (i == 2 && !hasBlobs) continue;
    const int r = system->Rename(TempName(exts[i]), FinalName(exts[i]));
    if (r < 0) failure = r;
    placed[i] = r == 0;
  }
  if (failure == 0) {
    for (int i = 0; i < 3; ++i)
      if (aside[i]) system->Unlink(AsideName(exts[i]));
    return;
  }
  for (int i = 2; i >= 0; --i) {
    if (placed[i]) system->Unlink(FinalName(exts[i]));
    if (aside[i]) system->Rename(AsideName(exts[i]), FinalName(exts[i]));
  }
  errno = -failure;
  Fail(LEDGER_WRITEERR);
}

// A reader that read a record before the rewrite may open its blob after
// it; the identifier in each block is what tells it the chain is no longer
// that record's, so the new blobs must not reuse the old identifiers.
void TTableBuilder::TState::ContinueBlobIds() {
  if (!TFileHandler::Exists(FinalName(".DAT"), false, system)) return;
  TFileHandler old(FinalName(".DAT"));
  old.SetSystem(system);
  old.SetErrorContext(table, directory);
  old.Open();
  uint8_t raw[kDataHeaderSize];
  if (old.ReadAt(0, raw, sizeof raw, true) == sizeof raw) {
    TDataHeader h;
    DecodeDataHeader(raw, h);
    lastBlobId = std::max(h.lastBlobId, 0);
  }
}

// Readers hold a read byte inside the index and blob write ranges while they
// read, so under these locks nobody reads: each reader sees the old table
// or, after its change check, the new one. The counters must move on from
// what the files hold; a restart at 1 could equal what a reader last saw.
void TTableBuilder::TState::RewriteInPlace() {
  struct TTarget {
    const char* ext;
    bool wanted;  // the new table has this file
    TFileHandler file;
    bool locked = false;
    int32_t counter = 0;
  };
  TTarget targets[3] = {{".DAT", true, {}}, {".IDX", true, {}}, {".BLB", hasBlobs, {}}};
  auto unlock = [](TTarget& t) {
    bool ok = std::string_view(t.ext) == ".DAT" ? t.file.UnlockDataWriteByte() : t.file.UnlockWriteRange();
    t.locked = false;
    return ok;
  };
  try {
    for (TTarget& t : targets) {
      if (!TFileHandler::Exists(FinalName(t.ext), false, system)) continue;
      t.file.SetFileName(FinalName(t.ext));
      t.file.SetSystem(system);
      t.file.SetErrorContext(table, directory);
      t.file.Open();
      if (t.file.OpenedReadOnly()) {
        errno = EACCES;
        Fail(LEDGER_OSEACCES);
      }
      t.locked = std::string_view(t.ext) == ".DAT" ? t.file.LockDataWriteByte() : t.file.LockWriteRange();
      if (!t.locked) Fail(LEDGER_LOCKTIMEOUT);
    }
    // Counters are read under the lock: another writer may have just moved them.
    bool wasEncrypted = false;
    if (targets[0].file.IsOpen()) {
      uint8_t raw[kDataHeaderSize];
      std::size_t n = targets[0].file.ReadAt(0, raw, sizeof raw, true);
      if (n >= 4) targets[0].counter = GetI32(raw, data_header::kChangeCounter);
      if (n == sizeof raw) {
        TDataHeader h;
        DecodeDataHeader(raw, h);
        wasEncrypted = h.encrypted == 1;
      }
    }
    for (TTarget& t : targets) {
      if (&t == &targets[0] || !t.file.IsOpen()) continue;
      uint8_t raw[4];
      if (t.file.ReadAt(0, raw, sizeof raw, true) != sizeof raw) continue;
      // The key stream restarts at each header, so its first bytes unscramble alone.
      if (wasEncrypted) Scramble(raw, sizeof raw, kRecordKey);
      t.counter = GetI32(raw, 0);
    }
    for (TTarget& t : targets) {
      if (!t.wanted) continue;
      if (t.file.IsOpen())
        CopyOver(t.ext, t.file, CounterAfter(t.counter), encrypted && &t != &targets[0]);
      else
        RenameIntoPlace(t.ext);
    }
    bool released = true;
    for (int i = 2; i >= 0; --i)
      if (targets[i].locked && !unlock(targets[i])) released = false;
    if (!released) Fail(LEDGER_LOCKTIMEOUT);
  } catch (...) {
    for (int i = 2; i >= 0; --i)
      if (targets[i].locked) unlock(targets[i]);
    throw;
  }
  if (!hasBlobs && targets[2].file.IsOpen()) {
    targets[2].file.Close();
    RenameIntoPlace(".BLB");  // removes the stale one
  }
}

// The body first, the header with its new counter last, then the file is cut
// to the new size.
void TTableBuilder::TState::CopyOver(const char* ext, TFileHandler& target, int32_t counter,
                                     bool scrambleCounter) {
  TFileHandler source(TempName(ext));
  source.SetSystem(system);
  source.SetErrorContext(table, directory);
  source.Open();
  const uint64_t size = source.Size();
  std::vector<uint8_t> chunk(static_cast<std::size_t>(std::min<uint64_t>(size, kWriteChunk)));
  for (uint64_t at = chunk.size(); at < size;) {
    const auto n = static_cast<std::size_t>(std::min<uint64_t>(chunk.size(), size - at));
    source.ReadAt(at, chunk.data(), n);
    target.WriteAt(at, chunk.data(), n);
    at += n;
  }
  target.WriteAt(size, nullptr, 0);
  if (chunk.empty()) return;
  source.ReadAt(0, chunk.data(), chunk.size());
  if (chunk.size() >= 4) {
    uint8_t raw[4];
    PutI32(raw, 0, counter);
    if (scrambleCounter) Scramble(raw, sizeof raw, kRecordKey);
    std::memcpy(chunk.data(), raw, sizeof raw);
  }
  target.WriteAt(0, chunk.data(), chunk.size());
  source.Close();
}

void TTableBuilder::TState::CloseAll() {
  if (spill.IsOpen()) spill.Close();
  if (data.IsOpen()) data.Close();
  if (index.IsOpen()) index.Close();
  if (blob.IsOpen()) blob.Close();
}

void TTableBuilder::TState::RemoveTemporaries() {
  for (const char* ext : {".DAT", ".IDX", ".BLB"}) system->Unlink(TempName(ext));
}

}  // namespace ledger
