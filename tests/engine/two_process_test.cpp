// One process reads a table while another rewrites it in place again and
// again. Every value and every blob byte of a version tells its version, so
// a record or blob put together from two versions cannot pass unnoticed.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/build/table_builder.h"
#include "engine/core/data_cursor.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
#include "engine/errors/ledger_error.h"
#include "table_files_util.h"

namespace ledger {
namespace {

using testing::TScratchDir;

constexpr int kRounds = 20;
// Keys 1 to kCommonKeys are in every version.
constexpr int kCommonKeys = 40;
constexpr int kBlobField = 4;

int RecordsOf(int version) { return kCommonKeys + (version % 5) * 7; }

std::string KeyOf(int i) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "w%05d", i);
  return buf;
}

std::string LabelOf(int version, int i) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "v%06d/w%05d", version, i);
  return buf;
}

// Several blocks each, a different length in every version.
uint32_t BlobSizeOf(int version, int i) { return 200 + static_cast<uint32_t>((version * 131 + i * 977) % 3000); }

uint8_t BlobByte(int version, int i, uint32_t at) { return static_cast<uint8_t>(version * 37 + i * 11 + at); }


void BuildVersion(const std::string& dir, int version, TBuildTarget target) {
  TTableDefinition def;
  def.data.fields = {FieldDef("Word", ftString, 20), FieldDef("Version", ftInteger), FieldDef("Label", ftString, 24),
                     FieldDef("Data", ftBlob, 0, fstBinary)};
  TIndexDefinition primary;
  primary.fields = {"Word"};
  def.primary = primary;
  TTableBuilder builder(dir, "Versions", def, target, PosixFileSystem());
  for (int i = 1; i <= RecordsOf(version); ++i) {
    std::vector<uint8_t> blob(BlobSizeOf(version, i));
    for (uint32_t j = 0; j < blob.size(); ++j) blob[j] = BlobByte(version, i, j);
    builder.Append(std::vector<TFieldValue>{KeyOf(i), int64_t{version}, LabelOf(version, i), std::move(blob)});
  }
  builder.Finish();
}

// What the two processes tell each other, in memory both see.
struct TShared {
  std::atomic<int> readerSteps{0};
  std::atomic<bool> readerWaiting{false};  // for the next version
  std::atomic<int> version{1};
  std::atomic<bool> writerDone{false};
};

// Until the writer has written another version (or stopped).
void WaitForRewrite(TShared& shared) {
  const int version = shared.version.load();
  shared.readerWaiting.store(true);
  while (shared.version.load() == version && !shared.writerDone.load()) usleep(200);
  shared.readerWaiting.store(false);
}

// Rewrites the table once per round, each time only after the reader has
// moved on a little, so the two always overlap.
[[noreturn]] void RunWriter(const std::string& dir, TShared& shared, pid_t reader) {
  int status = 0;
  try {
    for (int v = 2; v <= kRounds + 1; ++v) {
      const int seen = shared.readerSteps.load();
      while (shared.readerSteps.load() < seen + 25 && !shared.readerWaiting.load()) {
        if (getppid() != reader) _exit(3);
        usleep(200);
      }
      BuildVersion(dir, v, TBuildTarget::InPlace);
      shared.version.store(v);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "writer: %s\n", e.what());
    status = 1;
  }
  shared.writerDone.store(true);
  _exit(status);
}

class TReader {
 public:
  TReader(const std::string& dir, bool strict) {
    session_.SetStrictChangeDetection(strict);
    directory_ = &session_.OpenDirectory("Shared", dir);
    cursor_.emplace(*directory_);
    cursor_->SetTableName("Versions");
    cursor_->Open();
    buffer_.resize(cursor_->RecordSize());
  }
  ~TReader() {
    cursor_.reset();
    session_.ReleaseDirectory(*directory_);
  }

  TDataCursor& Cursor() { return *cursor_; }
  const std::set<int>& VersionsSeen() const { return versions_; }
  int StaleBlobs() const { return staleBlobs_; }

  // The version of a record image; a record whose fields disagree fails.
  int Check(std::span<const uint8_t> image) {
    const auto word = std::get<std::string>(cursor_->FieldValue(1, image));
    const int version = static_cast<int>(std::get<int64_t>(cursor_->FieldValue(2, image)));
    const int i = std::stoi(word.substr(1));
    EXPECT_GE(i, 1);
    EXPECT_LE(i, RecordsOf(version)) << word;
    EXPECT_EQ(std::get<std::string>(cursor_->FieldValue(3, image)), LabelOf(version, i)) << "torn record";
    versions_.insert(version);
    return version;
  }

  // Reads the blob of a record image whole. A blob rewritten since the
  // record was read answers 8708: the record is read again and so is its blob.
  void CheckBlob(std::span<const uint8_t> record) {
    std::vector<uint8_t> image(record.begin(), record.end());
    for (int attempt = 0; attempt < 3; ++attempt) {
      int status = 0;
      uint32_t size = 0;
      try {
        status = cursor_->OpenBlob(kBlobField, image, TBlobOpenMode::Read, size);
      } catch (const ELedgerEngineError& e) {
        status = e.ErrorCode();
      }
      if (status == LEDGER_KEYORRECDELETED) {
        ++staleBlobs_;
        cursor_->Refresh();
        const std::span<const uint8_t> again = cursor_->CurrentRecord();
        image.assign(again.begin(), again.end());
        continue;
      }
      ASSERT_EQ(status, 0);
      const int version = Check(image);
      const int i = std::stoi(std::get<std::string>(cursor_->FieldValue(1, image)).substr(1));
      ASSERT_EQ(size, BlobSizeOf(version, i)) << "blob length of another version";
      std::vector<uint8_t> bytes(size);
      uint32_t copied = 0;
      EXPECT_EQ(cursor_->ReadBlob(kBlobField, image, 0, size, bytes.data(), copied), 0);
      EXPECT_EQ(copied, size);
      for (uint32_t j = 0; j < size; ++j)
        if (bytes[j] != BlobByte(version, i, j)) {
          ADD_FAILURE() << "blob of version " << version << ", record " << i << " mixed at byte " << j;
          break;
        }
      EXPECT_EQ(cursor_->ReleaseBlob(kBlobField, image), 0);
      return;
    }
    ADD_FAILURE() << "blob still rewritten after three reads";
  }

  // One round of navigation: a position and its blob, a few steps, a key,
  // the count. A slow round opens the blob only after the next rewrite, with
  // the record it read before.
  void Step(std::mt19937& random, TShared& shared, bool slow) {
    TDataCursor& c = *cursor_;
    const int32_t n = std::uniform_int_distribution<int32_t>(1, RecordsOf(4))(random);
    if (c.GoToPosition(n)) {
      Check(c.CurrentRecord());
      const std::vector<uint8_t> record(c.CurrentRecord().begin(), c.CurrentRecord().end());
      if (slow) WaitForRewrite(shared);
      CheckBlob(record);
    }
    if (n % 3 == 0) {
      c.SetToBeginning();
      for (int k = 0; k < 5 && c.Next(buffer_.data()) == kStatusOk; ++k) Check(buffer_);
    } else {
      for (int k = 0; k < 3 && c.Next(buffer_.data()) == kStatusOk; ++k) Check(buffer_);
    }
    const int i = std::uniform_int_distribution<int>(1, kCommonKeys)(random);
    std::vector<uint8_t> image(c.RecordSize());
    std::vector<uint8_t> key(c.ActiveIndexDescriptor().keyLength);
    c.BlankRecord(image);
    c.PutField(1, image, KeyOf(i));
    c.BuildKey(image, key.data());
    ASSERT_TRUE(c.FindKey(key.data(), 1)) << KeyOf(i);
    Check(c.CurrentRecord());
    EXPECT_EQ(std::get<std::string>(c.FieldValue(1, c.CurrentRecord())), KeyOf(i));
    const int32_t count = c.RecordCount();
    EXPECT_GE(count, kCommonKeys);
    EXPECT_LE(count, RecordsOf(4));
  }

  // Exactly the given version, every record and blob.
  void ExpectOnly(int version) {
    TDataCursor& c = *cursor_;
    ASSERT_EQ(c.RecordCount(), RecordsOf(version));
    versions_.clear();
    for (int32_t n = 1; n <= RecordsOf(version); ++n) {
      ASSERT_TRUE(c.GoToPosition(n)) << n;
      EXPECT_EQ(std::get<std::string>(c.FieldValue(1, c.CurrentRecord())), KeyOf(n));
      CheckBlob(c.CurrentRecord());
    }
    EXPECT_EQ(versions_, std::set<int>{version});
    EXPECT_FALSE(c.GoToPosition(RecordsOf(version) + 1));
  }

 private:
  TDataSession session_{PosixFileSystem()};
  TDataDirectory* directory_ = nullptr;
  std::optional<TDataCursor> cursor_;
  std::vector<uint8_t> buffer_;
  std::set<int> versions_;
  int staleBlobs_ = 0;
};

class TwoProcesses : public ::testing::TestWithParam<bool> {};

TEST_P(TwoProcesses, ReaderSeesWholeVersionsWhileAWriterRewritesInPlace) {
  const bool strict = GetParam();
  TScratchDir dir;
  BuildVersion(dir.Path(), 1, TBuildTarget::NewFiles);

  void* memory = mmap(nullptr, sizeof(TShared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(memory, MAP_FAILED);
  auto* shared = new (memory) TShared;
  // Forked before this process opens anything: the writer must not share
  // its open files, or their locks would not keep the two apart.
  const pid_t reader = getpid();
  const pid_t writer = fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) RunWriter(dir.Path(), *shared, reader);

  {
    TReader r(dir.Path() + "/", strict);
    std::mt19937 random(strict ? 17 : 71);
    for (int step = 1; !shared->writerDone.load() && !::testing::Test::HasFatalFailure() &&
                       !::testing::Test::HasNonfatalFailure();
         ++step) {
      r.Step(random, *shared, step % 40 == 0);
      shared->readerSteps.fetch_add(1);
      usleep(100);  // room for the writer, whose lock must find no reader
    }
    // A reader that failed stops stepping, and the writer would wait for it.
    if (!shared->writerDone.load()) kill(writer, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(writer, &status, 0), writer);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer failed";
    EXPECT_GT(r.VersionsSeen().size(), 1u) << "the reader never saw the table change";
    std::printf("%s: versions seen %zu, blobs read again %d\n", strict ? "strict" : "lazy",
                r.VersionsSeen().size(), r.StaleBlobs());

    // Strict detection checks at every operation; otherwise a refresh asks.
    if (!strict) r.Cursor().Refresh();
    r.ExpectOnly(kRounds + 1);
  }
  shared->~TShared();
  munmap(memory, sizeof(TShared));
}

INSTANTIATE_TEST_SUITE_P(ChangeDetection, TwoProcesses, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Strict" : "Lazy"; });

}  // namespace
}  // namespace ledger
