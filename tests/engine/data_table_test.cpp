// Shared tables: finding and opening them through a directory, their files,
// the status index rebuild, locks, the change check and the flush.
#include "engine/core/data_table.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/build/table_builder.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
#include "engine/files/byte_order.h"
#include "engine/files/file_list.h"
#include "engine/files/file_system.h"
#include "engine/files/index_key.h"
#include "engine/files/scramble.h"
#include "engine/files/single_process_file_system.h"
#include "table_files_util.h"

namespace ledger {
namespace {

namespace fs = std::filesystem;
using testing::CodeOf;
using testing::TScratchDir;


// Word (string 20, primary key), Count (integer), Picture (blob), RecID (autoinc).
TTableDefinition WordTable(bool withBlob = true) {
  TTableDefinition def;
  def.data.fields = {FieldDef("Word", ftString, 20), FieldDef("Count", ftInteger)};
  if (withBlob) def.data.fields.push_back(FieldDef("Picture", ftBlob, 0, fstGraphic));
  def.data.fields.push_back(FieldDef("RecID", ftInteger, 0, fstAutoInc));
  TIndexDefinition primary;
  primary.fields = {"Word"};
  def.primary = primary;
  return def;
}

// Records w1000 ... with a small blob each; every record in deleted is marked deleted.
void MakeWords(const std::string& dir, const std::string& table, int records,
               const std::vector<int32_t>& deleted = {}, bool withBlob = true, bool encrypted = false) {
  TTableDefinition def = WordTable(withBlob);
  def.data.encrypted = encrypted;
  TTableBuilder builder(dir, table, def, TBuildTarget::NewFiles, PosixFileSystem());
  for (int i = 0; i < records; ++i) {
    std::vector<TFieldValue> row(withBlob ? 4 : 3);
    row[0] = "w" + std::to_string(1000 + i);
    row[1] = int64_t{i};
    if (withBlob) row[2] = std::vector<uint8_t>(40, static_cast<uint8_t>(i));
    builder.Append(row);
  }
  for (int32_t r : deleted) builder.MarkDeleted(r);
  builder.Finish();
}

// Lets tests see the lock, sleep and flush calls the engine makes, and
// refuse read-write opens as a read-only share would.
class TWatchingSystem : public TPosixFileSystem {
 public:
  int Open(const std::string& path, int flags, unsigned mode) override {
    if (refuseWrites && (flags & O_ACCMODE) != O_RDONLY) return -EROFS;
    return TPosixFileSystem::Open(path, flags, mode);
  }
  int SetLock(int fd, TLockKind kind, std::uint64_t offset, std::uint64_t length) override {
    ++lockCalls;
    return TPosixFileSystem::SetLock(fd, kind, offset, length);
  }
  int FSync(int fd) override {
    ++syncs;
    return TPosixFileSystem::FSync(fd);
  }
  // Retries run at full speed; the pauses are only counted.
  void SleepMs(unsigned milliseconds) override {
    ++sleeps;
    lastSleep = milliseconds;
  }

  bool refuseWrites = false;
  int lockCalls = 0;
  int syncs = 0;
  int sleeps = 0;
  unsigned lastSleep = 0;
};

// Another process's view of a file: its own open file description, so its
// locks conflict with the engine's as another program's would.
class TOtherProcess {
 public:
  explicit TOtherProcess(const std::string& path) : fd_(open(path.c_str(), O_RDWR)) {}
  ~TOtherProcess() {
    if (fd_ >= 0) close(fd_);
  }
  bool Lock(uint64_t offset, uint64_t length, bool shared = false) {
    struct flock fl {};
    fl.l_type = shared ? F_RDLCK : F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = static_cast<off_t>(length);
    return fcntl(fd_, F_OFD_SETLK, &fl) == 0;
  }
  void Unlock(uint64_t offset, uint64_t length) {
    struct flock fl {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = static_cast<off_t>(length);
    fcntl(fd_, F_OFD_SETLK, &fl);
  }
  // Moves the change counter at offset 0 on, as another writer's header write would.
  void BumpCounter() {
    uint8_t raw[4];
    ASSERT_EQ(pread(fd_, raw, 4, 0), 4);
    PutI32(raw, 0, GetI32(raw, 0) + 1);
    ASSERT_EQ(pwrite(fd_, raw, 4, 0), 4);
  }

 private:
  int fd_;
};

class DataTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    system_ = std::make_shared<TWatchingSystem>();
    session_ = std::make_unique<TDataSession>(system_);
  }
  void TearDown() override { session_.reset(); }

  TDataDirectory& Directory() { return session_->OpenDirectory("", dir_.Path()); }
  std::string File(const std::string& name) const { return dir_ / name; }

  TScratchDir dir_;
  std::shared_ptr<TWatchingSystem> system_;
  std::unique_ptr<TDataSession> session_;
};

// ---------------------------------------------------------------- session

TEST(DataSessionTest, SettingsStartAtTheirDefaults) {
  TDataSession session(PosixFileSystem());
  const TSessionSettings& s = session.Settings();
  EXPECT_EQ(s.privateDir, "");
  EXPECT_FALSE(s.strictChangeDetection);
  EXPECT_FALSE(s.forceBufferFlush);
  EXPECT_EQ(s.lockRetryCount, 15);
  EXPECT_EQ(s.lockWaitTime, 100);
  EXPECT_EQ(s.lockProtocol, TLockProtocol::Pessimistic);
  EXPECT_EQ(s.progressSteps, 20);
  EXPECT_EQ(s.cache.dataCacheBytes, 16384);
  EXPECT_EQ(s.cache.dataCacheRecords, 8192);
  EXPECT_EQ(s.cache.blobCacheBytes, 32768);
  EXPECT_EQ(s.cache.blobCacheBlocks, 8192);
  EXPECT_EQ(s.indexCacheBytes, 16384);
  EXPECT_FALSE(session.Remote());

  session.SetPrivateDir("  /tmp/private ");
  EXPECT_EQ(session.Settings().privateDir, "/tmp/private/");
  session.SetPrivateDir(" ");
  EXPECT_EQ(session.Settings().privateDir, "");
}

TEST(DataSessionTest, CapturesTheWorkingDirectoryWithItsSeparator) {
  TScratchDir dir;
  const fs::path before = fs::current_path();
  fs::current_path(dir.Path());
  TDataSession session(PosixFileSystem());
  fs::current_path(before);
  EXPECT_EQ(session.WorkingDirectory(), fs::canonical(dir.Path()).string() + "/");
}

// Asked of the session's own system; a system without one leaves the session
// without a working directory rather than failing.
TEST(DataSessionTest, TakesTheWorkingDirectoryFromItsSystem) {
  class TCwdSystem : public TPosixFileSystem {
   public:
    TCwdSystem(int answer, std::string path) : answer_(answer), path_(std::move(path)) {}
    int GetCwd(std::string& path) override {
      if (answer_ >= 0) path = path_;
      return answer_;
    }

   private:
    int answer_;
    std::string path_;
  };
  const struct {
    int answer;
    const char* path;
    const char* expected;
  } cases[] = {{0, "/data/Words", "/data/Words/"}, {0, "/", "/"}, {-ENOENT, "", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    TDataSession session(std::make_shared<TCwdSystem>(c.answer, c.path));
    EXPECT_EQ(session.WorkingDirectory(), c.expected);
  }
}

TEST(DataSessionTest, GlobalSessionExistsOnlyBetweenCreateAndFree) {
  TDataSession::FreeGlobal();
  EXPECT_FALSE(TDataSession::GlobalExists());
  EXPECT_EQ(CodeOf([] { TDataSession::Global(); }), LEDGER_NOTINITIALIZED);
  TDataSession& created = TDataSession::CreateGlobal();
  EXPECT_EQ(&TDataSession::CreateGlobal(), &created);
  EXPECT_EQ(&TDataSession::Global(), &created);
  TDataSession::FreeGlobal();
  EXPECT_EQ(CodeOf([] { TDataSession::Global(); }), LEDGER_NOTINITIALIZED);
}

TEST(DataSessionTest, DirectoriesAreSharedByPathAndFreedWithTheirLastUser) {
  TDataSession session(PosixFileSystem());
  TDataDirectory& a = session.OpenDirectory("", " /data/Words ");
  TDataDirectory& b = session.OpenDirectory("Words", "/data/Words/");
  EXPECT_EQ(&a, &b);
  EXPECT_EQ(a.Path(), "/data/Words/");
  EXPECT_EQ(a.UserCount(), 2);
  // Another folder on a file system that tells case apart.
  TDataDirectory& other = session.OpenDirectory("", "/data/words");
  EXPECT_NE(&other, &a);
  session.ReleaseDirectory(other);

  TDataDirectory& work = session.OpenDirectory("", "  ");
  EXPECT_EQ(work.Path(), session.WorkingDirectory());
  TDataDirectory& memory = session.OpenDirectory(" memory ", "");
  EXPECT_EQ(memory.Path(), "");
  EXPECT_NE(&memory, &work);
  EXPECT_EQ(session.Directories().size(), 3u);

  session.ReleaseDirectory(a);
  EXPECT_EQ(session.Directories().size(), 3u);
  session.ReleaseDirectory(b);
  EXPECT_EQ(session.Directories().size(), 2u);
}

TEST(DataSessionTest, PasswordsMatchExactly) {
  TDataSession session(PosixFileSystem());
  session.AddPassword("Secret");
  session.AddPassword("other");
  EXPECT_TRUE(session.HasPassword("Secret"));
  EXPECT_FALSE(session.HasPassword("secret"));
  EXPECT_FALSE(session.HasPassword("Secret "));
  session.RemovePassword("Secret");
  EXPECT_FALSE(session.HasPassword("Secret"));
  EXPECT_TRUE(session.HasPassword("other"));
  session.RemoveAllPasswords();
  EXPECT_FALSE(session.HasPassword("other"));
}

// ---------------------------------------------------------------- opening and sharing

TEST_F(DataTableTest, CursorsOfOneProcessShareOneTableAndOneHandle) {
  MakeWords(dir_.Path(), "Words", 3);
  TCacheLimits limits;
  limits.dataCacheRecords = 5;
  session_->SetCacheLimits(limits, 65536);
  TDataDirectory& d = Directory();
  TDataTable& first = d.OpenTable("Words", false, false);
  const int handle = first.Data().HandleNumber();
  TDataTable& second = d.OpenTable(" Words ", false, false);

  EXPECT_EQ(&first, &second);
  EXPECT_EQ(first.CursorCount(), 2);
  EXPECT_EQ(d.Tables().size(), 1u);
  EXPECT_EQ(first.Data().HandleNumber(), handle) << "the files were opened again";
  EXPECT_EQ(first.Data().File()->OpenCount(), 1);
  EXPECT_EQ(first.RecordCount(), 3);
  EXPECT_NE(first.Blob(), nullptr);
  EXPECT_EQ(first.Data().CacheLimit(), 5u);
  EXPECT_EQ(first.Index().SlotCapacity(), 8u);

  d.ReleaseTable(first);
  EXPECT_TRUE(second.FilesOpen());
  d.ReleaseTable(second);
  EXPECT_TRUE(d.Tables().empty());
  // Nothing of it is left open: the files can be had exclusively again.
  TFileHandler probe(File("Words.DAT"));
  probe.SetExclusive(true);
  EXPECT_EQ(CodeOf([&] { probe.Open(); }), 0);
}

TEST_F(DataTableTest, ExclusiveUseConflictsWithAnyOtherCursor) {
  MakeWords(dir_.Path(), "Words", 3);
  struct TCase {
    bool firstExclusive;
    bool secondExclusive;
    bool otherSession;  // the second open comes through another session: the file layer refuses
  };
  for (TCase c : {TCase{false, true, false}, TCase{true, false, false}, TCase{true, true, false},
                  TCase{false, true, true}, TCase{true, false, true}}) {
    SCOPED_TRACE(::testing::Message() << c.firstExclusive << c.secondExclusive << c.otherSession);
    TDataDirectory& d = Directory();
    TDataTable& first = d.OpenTable("Words", false, c.firstExclusive);
    TDataSession otherSession(PosixFileSystem());
    TDataDirectory& other = c.otherSession ? otherSession.OpenDirectory("", dir_.Path()) : d;
    try {
      other.OpenTable(" Words.dat", false, c.secondExclusive);
      ADD_FAILURE() << "opened";
    } catch (const ELedgerEngineError& e) {
      EXPECT_EQ(e.ErrorCode(), LEDGER_OSEACCES);
      EXPECT_EQ(e.TableName(), " Words.dat");
      EXPECT_EQ(e.DatabaseName(), dir_.Path() + "/");
    }
    EXPECT_EQ(first.CursorCount(), 1);
    EXPECT_TRUE(other.Tables().size() == (c.otherSession ? 0u : 1u));
    d.ReleaseTable(first);
    session_->ReleaseDirectory(d);
  }
}

TEST_F(DataTableTest, ASessionReadsThroughItsOwnSystemWhenAnotherOpenedTheTableFirst) {
  MakeWords(dir_.Path(), "Words", 3);
  TDataSession realSession(PosixFileSystem());
  TDataDirectory& real = realSession.OpenDirectory("", dir_.Path());
  TDataTable& first = real.OpenTable("Words", false, false);
  system_->lockCalls = 0;

  TDataDirectory& d = Directory();
  TDataTable& table = d.OpenTable("Words", false, false);
  for (TFileHandler* file : {static_cast<TFileHandler*>(&table.Data()), static_cast<TFileHandler*>(&table.Index())})
    EXPECT_EQ(&file->File()->System(), system_.get());
  table.ReadLock();
  table.ReleaseReadLock();
  EXPECT_GT(system_->lockCalls, 0);
  EXPECT_EQ(table.RecordCount(), first.RecordCount());

  d.ReleaseTable(table);
  session_->ReleaseDirectory(d);
  real.ReleaseTable(first);
  realSession.ReleaseDirectory(real);
}

TEST_F(DataTableTest, FileNamesReplaceADatExtensionAndKeepAnyOther) {
  struct TCase {
    const char* table;
    const char* extension;
    const char* file;
  };
  const TCase cases[] = {
      {"Words", ".IDX", "Words.IDX"},          {"Words.DAT", ".IDX", "Words.IDX"},
      {" Words.dAt ", ".BLB", "Words.BLB"},    {"Words.dat", ".DAT", "Words.DAT"},
      {"Words.txt", ".DAT", "Words.txt.DAT"},  {"Old.dat.bak", ".IDX", "Old.dat.bak.IDX"},
      {"sub.dat/Words", ".DAT", "sub.dat/Words.DAT"},
  };
  TDataDirectory& d = Directory();
  for (const TCase& c : cases) {
    TDataTable table(d, c.table);
    EXPECT_EQ(table.FileName(c.extension), d.Path() + c.file) << c.table;
  }

  MakeWords(dir_.Path(), "Words", 4);
  TDataTable& bare = d.OpenTable("Words", false, false);
  TDataTable& dotted = d.OpenTable("Words.Dat", false, false);
  EXPECT_EQ(bare.Data().File(), dotted.Data().File());
  EXPECT_EQ(bare.Index().File(), dotted.Index().File());
  EXPECT_EQ(dotted.RecordCount(), 4);

  // words.DAT is another file beside Words.DAT, not a second name for it.
  MakeWords(dir_.Path(), "words", 7);
  TDataTable& lower = d.OpenTable("words", false, false);
  EXPECT_NE(&lower, &bare);
  EXPECT_NE(lower.Data().File(), bare.Data().File());
  EXPECT_EQ(lower.RecordCount(), 7);
  EXPECT_EQ(bare.RecordCount(), 4);
}

TEST_F(DataTableTest, AMissingDataFileIsReportedWithTableAndDirectory) {
  TDataDirectory& d = Directory();
  try {
    d.OpenTable("Nothing", false, false);
    ADD_FAILURE() << "opened";
  } catch (const ELedgerEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), LEDGER_OSENOENT);
    EXPECT_EQ(e.TableName(), "Nothing");
    EXPECT_EQ(e.DatabaseName(), dir_.Path() + "/");
  }
  EXPECT_TRUE(d.Tables().empty());
}

TEST_F(DataTableTest, AFailedOpenClosesWhatItOpened) {
  MakeWords(dir_.Path(), "Words", 3);
  // An index file of another format version fails after the data file opened.
  std::vector<uint8_t> index = testing::ReadBytes(File("Words.IDX"));
  index[8] = 4;
  testing::WriteBytes(File("Words.IDX"), index);
  TDataDirectory& d = Directory();
  EXPECT_EQ(CodeOf([&] { d.OpenTable("Words", false, false); }), LEDGER_OLDVERSION);
  EXPECT_TRUE(d.Tables().empty());
  for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
    TFileHandler probe(File(std::string("Words") + ext));
    probe.SetExclusive(true);
    EXPECT_EQ(CodeOf([&] { probe.Open(); }), 0) << ext << " left open";
  }
}

// ---------------------------------------------------------------- the status index

struct TStatusEntry {
  std::vector<uint8_t> key;
  int32_t record;
  bool operator==(const TStatusEntry&) const = default;
};

std::vector<TStatusEntry> StatusEntries(TIndexFile& index) {
  std::vector<TStatusEntry> out;
  for (TKeyPosition at = index.First(kSlotDeleted); at.found; at = index.Next(kSlotDeleted, at))
    out.push_back({at.key, at.record});
  return out;
}

std::vector<TStatusEntry> ExpectedStatusEntries(const std::vector<std::pair<bool, int32_t>>& slots) {
  std::vector<TStatusEntry> out;
  for (std::size_t i = 0; i < slots.size(); ++i) {
    std::vector<uint8_t> key(kDeletedKeyLength);
    key[0] = slots[i].first ? 1 : 0;
    PutKeyInt32(key.data() + 1, slots[i].second);
    out.push_back({key, static_cast<int32_t>(i + 1)});
  }
  std::sort(out.begin(), out.end(), [](const TStatusEntry& a, const TStatusEntry& b) { return a.key < b.key; });
  return out;
}

TEST_F(DataTableTest, AMissingIndexFileIsMadeAnewAndTheStatusIndexRebuilt) {
  struct TCase {
    bool encrypted;
    bool shuffledAutoInc;  // slots reused over time: values out of slot order
  };
  for (TCase c : {TCase{false, false}, TCase{true, false}, TCase{false, true}, TCase{true, true}}) {
    SCOPED_TRACE(::testing::Message() << "encrypted " << c.encrypted << " shuffled " << c.shuffledAutoInc);
    const int records = 1200;  // several leaves and a branch level
    std::vector<int32_t> deleted;
    for (int32_t r = 3; r <= records; r += 7) deleted.push_back(r);
    MakeWords(dir_.Path(), "Words", records, deleted, false, c.encrypted);

    std::vector<std::pair<bool, int32_t>> slots(records);
    for (int32_t r = 1; r <= records; ++r) slots[r - 1] = {false, r};
    for (int32_t r : deleted) slots[r - 1].first = true;
    if (c.shuffledAutoInc) {
      TDataFile raw;
      raw.SetFileName(File("Words.DAT"));
      raw.Open();
      std::vector<uint8_t> image(raw.RecordSize());
      for (int32_t r = 1; r <= records; ++r) {
        slots[r - 1].second = (r * 389) % 1201;  // a permutation of 1..1200
        const uint64_t at = raw.DataStart() + uint64_t(r - 1) * image.size();
        raw.ReadAt(at, image.data(), image.size());
        if (c.encrypted) Scramble(image.data(), image.size(), kRecordKey);
        PutI32(image.data(), kAutoIncOffset, slots[r - 1].second);
        if (c.encrypted) Scramble(image.data(), image.size(), kRecordKey);
        raw.WriteAt(at, image.data(), image.size());
      }
      raw.Close();
    }
    std::vector<TStatusEntry> built;
    if (!c.shuffledAutoInc) {
      TIndexFile builderIndex;
      builderIndex.SetFileName(File("Words.IDX"));
      builderIndex.SetEncrypted(c.encrypted);
      builderIndex.Open();
      built = StatusEntries(builderIndex);
      builderIndex.Close();
    }
    fs::remove(File("Words.IDX"));

    TDataDirectory& d = Directory();
    {
      TDataTable& table = d.OpenTable("Words", false, false);
      EXPECT_TRUE(fs::exists(File("Words.IDX")));
      EXPECT_TRUE(table.RebuildNeeded());
      EXPECT_TRUE(table.Index().NoPrimary());
      EXPECT_EQ(table.Blob(), nullptr);
      EXPECT_EQ(table.RecordCount(), 0);
      table.RebuildDeletedIndex();
      EXPECT_FALSE(table.RebuildNeeded());
      EXPECT_EQ(table.RecordCount(), records - static_cast<int32_t>(deleted.size()));
      EXPECT_EQ(StatusEntries(table.Index()), ExpectedStatusEntries(slots));
      if (!c.shuffledAutoInc) {
        EXPECT_EQ(StatusEntries(table.Index()), built);
      }
      d.ReleaseTable(table);
    }
    // What the rebuild wrote passes the checks of the next open and reads the same.
    TDataTable& again = d.OpenTable("Words", false, false);
    EXPECT_FALSE(again.RebuildNeeded());
    EXPECT_EQ(again.RecordCount(), records - static_cast<int32_t>(deleted.size()));
    EXPECT_EQ(StatusEntries(again.Index()), ExpectedStatusEntries(slots));
    d.ReleaseTable(again);
    session_->ReleaseDirectory(d);
  }
}

// ---------------------------------------------------------------- read-only files

TEST_F(DataTableTest, ReadOnlyFilesMakeAReadOnlyTable) {
  struct TCase {
    const char* what;
    bool attribute;      // the files carry the read-only attribute
    bool refuseWrites;   // the system refuses read-write opens (a read-only share)
    bool expectNoLocking;
  };
  for (TCase c : {TCase{"attribute", true, false, true}, TCase{"read-only share", false, true, false}}) {
    SCOPED_TRACE(c.what);
    MakeWords(dir_.Path(), "Words", 5);
    if (c.attribute)
      for (const char* ext : {".DAT", ".IDX", ".BLB"})
        fs::permissions(File(std::string("Words") + ext), fs::perms::owner_write | fs::perms::group_write |
                                                               fs::perms::others_write,
                        fs::perm_options::remove);
    system_->refuseWrites = c.refuseWrites;
    system_->lockCalls = 0;

    TDataDirectory& d = Directory();
    TDataTable& table = d.OpenTable("Words", false, false);
    EXPECT_TRUE(table.ReadOnly());
    EXPECT_EQ(table.NoLocking(), c.expectNoLocking);
    table.ReadLock();
    EXPECT_EQ(table.HoldsReadLock(), !c.expectNoLocking);
    table.ReleaseReadLock();
    TRecord* record = table.Data().GetRecord(5);
    ASSERT_NE(record, nullptr);
    table.Data().ReleaseRecord(record);
    if (c.expectNoLocking) {
      table.WriteLock();
      table.ReleaseWriteLock();
      table.LockRecord(2);
      table.UnlockRecord(2);
      EXPECT_EQ(system_->lockCalls, 0);
    } else {
      EXPECT_GT(system_->lockCalls, 0);
    }
    d.ReleaseTable(table);
    session_->ReleaseDirectory(d);
    system_->refuseWrites = false;
    for (const char* ext : {".DAT", ".IDX", ".BLB"})
      fs::permissions(File(std::string("Words") + ext), fs::perms::owner_write, fs::perm_options::add);
  }
}

// ---------------------------------------------------------------- change check

TEST_F(DataTableTest, ChangeCheckDropsWhatAnotherProcessMadeStale) {
  struct TCase {
    const char* bumped;  // extension of the file another writer changed, or ""
    bool changed;
    bool recordsDropped;
    bool pagesDropped;
    bool blocksDropped;
  };
  const TCase cases[] = {
      {"", false, false, false, false},
      {".DAT", true, true, false, false},
      {".IDX", true, true, true, false},
      {".BLB", true, false, false, true},
  };
  MakeWords(dir_.Path(), "Words", 20);
  TDataDirectory& d = Directory();
  TDataTable& table = d.OpenTable("Words", false, false);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.bumped);
    table.Data().ReleaseRecord(table.Data().GetRecord(1));
    ASSERT_TRUE(table.Index().First(0).found);
    table.Blob()->ReleaseBlock(table.Blob()->GetBlock(1));
    ASSERT_GT(table.Data().CacheCount(), 0u);
    ASSERT_GT(table.Index().CachedPages(0), 0u);
    ASSERT_GT(table.Blob()->CacheCount(), 0u);
    const TChangeSnapshot before = table.Changes();

    if (*c.bumped) TOtherProcess(File(std::string("Words") + c.bumped)).BumpCounter();
    EXPECT_EQ(table.ReadLock(), c.changed);
    table.ReleaseReadLock();
    EXPECT_EQ(table.Data().CacheCount() == 0, c.recordsDropped);
    EXPECT_EQ(table.Index().CachedPages(0) == 0, c.pagesDropped);
    EXPECT_EQ(table.Blob()->CacheCount() == 0, c.blocksDropped);
    EXPECT_EQ(table.Changes() != before, c.changed);
  }
  d.ReleaseTable(table);
}

// A browser tab is the only process: every lock is granted, the tables are
// read-only, and the change counters are still read under the read lock.
TEST_F(DataTableTest, OneProcessSystemGrantsLocksAndStillSeesChanges) {
  MakeWords(dir_.Path(), "Words", 5);
  TOtherProcess other(File("Words.DAT"));
  ASSERT_TRUE(other.Lock(0, 0)) << "an exclusive lock over the whole file";
  TDataSession browser(std::make_shared<TSingleProcessFileSystem>(TSingleProcessFileSystem::TAccess::ReadOnly));
  TDataDirectory& d = browser.OpenDirectory("", dir_.Path());
  TDataTable& table = d.OpenTable("Words", false, false);
  EXPECT_TRUE(table.ReadOnly());
  EXPECT_FALSE(table.NoLocking());
  EXPECT_FALSE(table.ReadLock());
  EXPECT_TRUE(table.HoldsReadLock());
  table.ReleaseReadLock();
  TRecord* record = table.Data().GetRecord(5);
  ASSERT_NE(record, nullptr);
  table.Data().ReleaseRecord(record);
  ASSERT_GT(table.Data().CacheCount(), 0u);

  other.BumpCounter();
  EXPECT_TRUE(table.ReadLock()) << "the change went unseen";
  table.ReleaseReadLock();
  EXPECT_EQ(table.Data().CacheCount(), 0u);
  d.ReleaseTable(table);
  browser.ReleaseDirectory(d);
}

TEST_F(DataTableTest, ALayoutChangedByAnotherWriterIsRefusedNotMisread) {
  struct TCase {
    const char* what;
    std::function<void(TTableDefinition&)> change;
  };
  const TCase cases[] = {
      {"a field of the same size but another type", [](TTableDefinition& def) { def.data.fields[1].type = ftDate; }},
      {"scrambling switched on", [](TTableDefinition& def) { def.data.encrypted = true; }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    MakeWords(dir_.Path(), "Words", 5, {}, false);
    TDataDirectory& d = Directory();
    TDataTable& table = d.OpenTable("Words", false, false);
    TTableDefinition def = WordTable(false);
    c.change(def);
    {
      TTableBuilder rewrite(dir_.Path(), "Words", def, TBuildTarget::InPlace, PosixFileSystem());
      rewrite.Append(std::vector<TFieldValue>{std::string("w1"), int64_t{1}, std::monostate{}});
      rewrite.Finish();
    }
    EXPECT_EQ(CodeOf([&] { table.ReadLock(); }), LEDGER_HEADERCORRUPT);
    if (table.HoldsReadLock()) table.ReleaseReadLock();
    d.ReleaseTable(table);
    session_->ReleaseDirectory(d);
    for (const char* ext : {".DAT", ".IDX", ".BLB"}) fs::remove(File(std::string("Words") + ext));
  }
}

TEST_F(DataTableTest, ACacheMissTakesTheReadLockUntilTheOperationEnds) {
  MakeWords(dir_.Path(), "Words", 20);
  TDataDirectory& d = Directory();
  TDataTable& table = d.OpenTable("Words", false, false);
  TOtherProcess writer(File("Words.IDX"));

  // Outside an operation the lock goes again at once.
  table.Data().ReleaseRecord(table.Data().GetRecord(1));
  EXPECT_FALSE(table.HoldsReadLock());

  table.BeginOperation();
  table.BeginOperation();
  TOtherProcess(File("Words.DAT")).BumpCounter();
  EXPECT_EQ(table.Data().GetRecord(2), nullptr) << "a change must make the caller start over";
  EXPECT_TRUE(table.ChangedDuringOperation());
  EXPECT_TRUE(table.HoldsReadLock());
  EXPECT_FALSE(writer.Lock(kWriteRangeStart, kWriteRangeLength));
  TRecord* record = table.Data().GetRecord(2);
  ASSERT_NE(record, nullptr);
  table.Data().ReleaseRecord(record);
  table.EndOperation();
  EXPECT_TRUE(table.HoldsReadLock()) << "released by an inner operation";
  table.EndOperation();
  EXPECT_FALSE(table.HoldsReadLock());
  EXPECT_TRUE(writer.Lock(kWriteRangeStart, kWriteRangeLength));
  writer.Unlock(kWriteRangeStart, kWriteRangeLength);
  table.ClearChangedDuringOperation();

  // A write lock taken inside a read lock hands the read bytes back after;
  // a writer slipping in between is noticed.
  table.ReadLock();
  table.BeginOperation();
  table.WriteLock();
  TOtherProcess(File("Words.IDX")).BumpCounter();
  table.ReleaseWriteLock();
  EXPECT_TRUE(table.ChangedDuringOperation());
  table.EndOperation();
  table.ReleaseReadLock();
  table.ClearChangedDuringOperation();

  // With strict change detection the cursor locks around each operation itself.
  session_->SetStrictChangeDetection(true);
  system_->lockCalls = 0;
  table.Data().ReleaseRecord(table.Data().GetRecord(15));
  EXPECT_EQ(system_->lockCalls, 0);
  d.ReleaseTable(table);
}

// ---------------------------------------------------------------- locks

TEST_F(DataTableTest, TableLocksExcludeOtherProcessesAsTheProtocolSays) {
  MakeWords(dir_.Path(), "Words", 5);
  TDataDirectory& d = Directory();
  TDataTable& table = d.OpenTable("Words", false, false);
  TOtherProcess data(File("Words.DAT"));
  TOtherProcess index(File("Words.IDX"));
  TOtherProcess blob(File("Words.BLB"));
  auto canWrite = [](TOtherProcess& other) {
    bool ok = other.Lock(kWriteRangeStart, kWriteRangeLength);
    if (ok) other.Unlock(kWriteRangeStart, kWriteRangeLength);
    return ok;
  };
  auto canRead = [](TOtherProcess& other) {
    bool ok = other.Lock(ReadLockOffset(777), 1, true);
    if (ok) other.Unlock(ReadLockOffset(777), 1);
    return ok;
  };
  auto canTakeDataByte = [&] {
    bool ok = data.Lock(kDataWriteByte, 1);
    if (ok) data.Unlock(kDataWriteByte, 1);
    return ok;
  };

  // Readers keep writers out, never other readers.
  table.ReadLock();
  const int calls = system_->lockCalls;
  EXPECT_FALSE(table.ReadLock()) << "held already: not taken again";
  EXPECT_EQ(system_->lockCalls, calls);
  EXPECT_FALSE(canWrite(index));
  EXPECT_FALSE(canWrite(blob));
  EXPECT_TRUE(canRead(index));

  // The write lock inside it keeps everybody out, and gives the read lock back after.
  table.WriteLock();
  EXPECT_FALSE(canRead(index));
  EXPECT_FALSE(canRead(blob));
  EXPECT_FALSE(canTakeDataByte());
  table.ReleaseWriteLock();
  EXPECT_TRUE(canTakeDataByte());
  EXPECT_TRUE(table.HoldsReadLock());
  EXPECT_FALSE(canWrite(index));
  table.ReleaseReadLock();
  EXPECT_TRUE(canWrite(index));
  EXPECT_TRUE(canWrite(blob));

  // A transaction holds the data byte, and record unlocks wait for its end.
  table.TransactionLock();
  EXPECT_FALSE(canTakeDataByte());
  table.LockRecord(4);
  table.LockRecord(4);  // inside a transaction: already held, not locked again
  table.UnlockRecord(4);
  EXPECT_FALSE(data.Lock(RecordLockOffset(4), 1));
  table.ReleaseTransactionLock();
  EXPECT_TRUE(canTakeDataByte());
  EXPECT_TRUE(data.Lock(RecordLockOffset(4), 1));
  data.Unlock(RecordLockOffset(4), 1);
  d.ReleaseTable(table);
}

TEST_F(DataTableTest, LocksHeldElsewhereFailAfterTheirRetries) {
  MakeWords(dir_.Path(), "Words", 5);
  session_->SetLockRetryCount(3);
  session_->SetLockWaitTime(7);
  TDataDirectory& d = Directory();
  TDataTable& table = d.OpenTable("Words", false, false);
  TOtherProcess data(File("Words.DAT"));
  TOtherProcess index(File("Words.IDX"));

  ASSERT_TRUE(index.Lock(kWriteRangeStart, kWriteRangeLength));
  system_->sleeps = 0;
  EXPECT_EQ(CodeOf([&] { table.ReadLock(); }), LEDGER_LOCKTIMEOUT);
  EXPECT_EQ(system_->sleeps, kLockAttempts - 1);
  EXPECT_EQ(system_->lastSleep, kLockPauseMs);
  EXPECT_FALSE(table.HoldsReadLock());
  index.Unlock(kWriteRangeStart, kWriteRangeLength);

  // A reader elsewhere: the write lock fails and gives back the data byte it took.
  ASSERT_TRUE(index.Lock(ReadLockOffset(5), 1, true));
  EXPECT_EQ(CodeOf([&] { table.WriteLock(); }), LEDGER_LOCKTIMEOUT);
  EXPECT_FALSE(table.HoldsWriteLock());
  EXPECT_TRUE(data.Lock(kDataWriteByte, 1));
  data.Unlock(kDataWriteByte, 1);
  index.Unlock(ReadLockOffset(5), 1);

  // Record locks wait LockWaitTime between LockRetryCount more tries.
  ASSERT_TRUE(data.Lock(RecordLockOffset(2), 1));
  system_->sleeps = 0;
  EXPECT_EQ(CodeOf([&] { table.LockRecord(2); }), LEDGER_RECLOCKFAILED);
  EXPECT_EQ(system_->sleeps, 3);
  EXPECT_EQ(system_->lastSleep, 7u);
  EXPECT_FALSE(table.HoldsReadLock());
  data.Unlock(RecordLockOffset(2), 1);
  d.ReleaseTable(table);
}

TEST_F(DataTableTest, RecordLockMistakesAreRefused) {
  MakeWords(dir_.Path(), "Words", 5);
  TDataDirectory& d = Directory();
  TDataTable& table = d.OpenTable("Words", false, false);
  EXPECT_EQ(CodeOf([&] { table.LockRecord(0); }), LEDGER_RECLOCKFAILED);
  EXPECT_EQ(CodeOf([&] { table.UnlockRecord(3); }), LEDGER_UNLOCKFAILED);
  table.LockRecord(3);
  // Every cursor of the process locks through the same handle, which the
  // system would let lock the byte twice: another cursor must be refused.
  EXPECT_EQ(CodeOf([&] { table.LockRecord(3); }), LEDGER_RECLOCKFAILED);
  table.UnlockRecord(3);
  EXPECT_EQ(CodeOf([&] { table.UnlockRecord(3); }), LEDGER_UNLOCKFAILED);
  d.ReleaseTable(table);
}

TEST_F(DataTableTest, AnExclusiveTableTakesNoLocks) {
  MakeWords(dir_.Path(), "Words", 5);
  TDataDirectory& d = Directory();
  TDataTable& table = d.OpenTable("Words", false, true);
  system_->lockCalls = 0;
  EXPECT_FALSE(table.ReadLock());
  table.ReleaseReadLock();
  EXPECT_FALSE(table.WriteLock());
  table.ReleaseWriteLock();
  table.LockRecord(1);
  table.UnlockRecord(1);
  table.Data().ReleaseRecord(table.Data().GetRecord(4));
  EXPECT_EQ(system_->lockCalls, 0);
  d.ReleaseTable(table);
}

TEST_F(DataTableTest, InMemoryTablesLockThroughTheirFilesLockLists) {
  MakeWords(dir_.Path(), "Words", 5);
  for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
    TFileHandler memory(std::string("Words") + ext, true);
    memory.SetSystem(system_);
    memory.Create();
    std::vector<uint8_t> bytes = testing::ReadBytes(File(std::string("Words") + ext));
    memory.WriteAt(0, bytes.data(), bytes.size());
    memory.Close();
  }
  TDataDirectory& d = session_->OpenDirectory("Memory", "");
  TDataTable& table = d.OpenTable("Words", true, false);
  EXPECT_TRUE(table.IsInMemory());
  EXPECT_EQ(table.RecordCount(), 5);
  system_->sleeps = 0;
  // Our own read byte lies inside the write range; it must not stand in the way.
  table.ReadLock();
  table.WriteLock();
  table.ReleaseWriteLock();
  EXPECT_TRUE(table.HoldsReadLock());
  table.ReleaseReadLock();
  EXPECT_EQ(system_->sleeps, 0);
  d.ReleaseTable(table);
  for (const char* ext : {".DAT", ".IDX", ".BLB"})
    TFileList::Instance().Delete(std::string("Words") + ext, true, system_);
}

// ---------------------------------------------------------------- flush

TEST_F(DataTableTest, FlushWritesTheChangeOthersThenSee) {
  struct TCase {
    bool force;
    bool sessionForces;
    bool synced;
  };
  for (TCase c : {TCase{false, false, false}, TCase{true, false, true}, TCase{false, true, true}}) {
    SCOPED_TRACE(::testing::Message() << "force " << c.force << " session " << c.sessionForces);
    MakeWords(dir_.Path(), "Words", 5);
    session_->SetForceBufferFlush(c.sessionForces);
    TDataDirectory& d = Directory();
    TDataTable& writer = d.OpenTable("Words", false, false);
    // Another session of the process: its own table object and caches, as another program has.
    TDataSession otherSession(PosixFileSystem());
    TDataTable& reader = otherSession.OpenDirectory("", dir_.Path()).OpenTable("Words", false, false);
    reader.Data().ReleaseRecord(reader.Data().GetRecord(3));
    const int32_t counter = GetI32(testing::ReadBytes(File("Words.DAT")).data(), 0);

    writer.WriteLock();
    TRecord* record = writer.Data().GetRecord(3);
    ASSERT_NE(record, nullptr);
    writer.Data().SetField(*record, 2, int64_t{4242});
    writer.Data().ReleaseRecord(record);
    writer.Data().SetHeaderModified();
    system_->syncs = 0;
    writer.Flush(c.force, false);
    writer.ReleaseWriteLock();
    EXPECT_EQ(system_->syncs > 0, c.synced);
    EXPECT_EQ(GetI32(testing::ReadBytes(File("Words.DAT")).data(), 0), counter + 1);

    EXPECT_TRUE(reader.ReadLock());
    record = reader.Data().GetRecord(3);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(std::get<int64_t>(reader.Data().GetField(*record, 2)), 4242);
    reader.Data().ReleaseRecord(record);
    reader.ReleaseReadLock();
    d.ReleaseTable(writer);
    session_->ReleaseDirectory(d);
  }
}

TEST_F(DataTableTest, FlushInsideATransactionWritesNothingYet) {
  MakeWords(dir_.Path(), "Words", 5);
  TDataDirectory& d = Directory();
  TDataTable& table = d.OpenTable("Words", false, false);
  const std::vector<uint8_t> before = testing::ReadBytes(File("Words.DAT"));
  const TChangeSnapshot seen = table.Changes();
  table.TransactionLock();
  table.WriteLock();
  TRecord* record = table.Data().GetRecord(1);
  ASSERT_NE(record, nullptr);
  table.Data().SetField(*record, 2, int64_t{99});
  table.Data().ReleaseRecord(record);
  table.Flush(true, false);
  table.ReleaseWriteLock();
  EXPECT_EQ(testing::ReadBytes(File("Words.DAT")), before);
  EXPECT_NE(table.Changes(), seen) << "the other cursors of the process must notice";
  table.ReleaseTransactionLock();
  table.Flush(false, false);
  EXPECT_NE(testing::ReadBytes(File("Words.DAT")), before);
  d.ReleaseTable(table);
}

}  // namespace
}  // namespace ledger
