#include "engine/files/blob_file.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "engine/files/blob_buffer.h"
#include "engine/files/byte_order.h"
#include "table_files_util.h"

namespace ledger {
namespace {

using testing::CodeOf;
using testing::ReadBytes;
using testing::TFakeOwner;
using testing::TScratchDir;
using testing::WriteBytes;

std::vector<uint8_t> Pattern(std::size_t size, uint8_t seed = 1) {
  std::vector<uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
  return bytes;
}

class BlobFileTest : public ::testing::Test {
 protected:
  std::string Path() const { return dir_ / "Words.BLB"; }

  void Prepare(TBlobFile& file, uint32_t blockSize = 512, bool encrypted = false) {
    file.SetFileName(Path());
    file.SetBlockSize(blockSize);
    file.SetEncrypted(encrypted);
  }

  TBlobRef Store(TBlobFile& file, const std::vector<uint8_t>& data, TBlobRef old = {}, int32_t id = 0) {
    TBlobBuffer buffer(1, 1, old, TBlobOpenMode::ReadWrite);
    buffer.SetData(data);
    return buffer.Store(file, id != 0 ? id : ++lastId_);
  }

  std::vector<uint8_t> Load(TBlobFile& file, TBlobRef ref) {
    TBlobBuffer buffer(1, 1, ref);
    buffer.Load(file);
    EXPECT_FALSE(buffer.Modified());
    return buffer.Data();
  }

  void Save(TBlobFile& file) {
    file.FlushBlocks();
    file.WriteHeader(false);
  }

  TScratchDir dir_;
  int32_t lastId_ = 0;
};

class BlobChainTest : public BlobFileTest, public ::testing::WithParamInterface<bool> {};

TEST_P(BlobChainTest, ChainsAroundTheBlockBoundaryRoundTrip) {
  const bool encrypted = GetParam();
  const std::size_t per = 512 - 18;
  struct Case {
    std::size_t size;
    int32_t blocks;
  };
  const Case cases[] = {{0, 0}, {per, 1}, {per + 1, 2}, {40 * per + 3, 41}};
  std::vector<TBlobRef> refs;
  {
    TBlobFile file;
    Prepare(file, 0, encrypted);
    file.Create();
    EXPECT_EQ(file.BlockSize(), 512u);
    for (const Case& c : cases) {
      int32_t before = file.BlockCount();
      refs.push_back(Store(file, Pattern(c.size)));
      EXPECT_EQ(file.BlockCount() - before, c.blocks) << c.size;
      EXPECT_EQ(refs.back().firstBlock == 0, c.size == 0);
    }
    Save(file);
    file.Close();
  }
  std::vector<uint8_t> raw = ReadBytes(Path());
  EXPECT_EQ(raw.size(), 512u + 44u * 512u);
  // Block 1 holds the first blob: header at 512, data at 530.
  std::vector<uint8_t> expected = Pattern(per);
  EXPECT_EQ(std::equal(expected.begin(), expected.end(), raw.begin() + 530), !encrypted);
  EXPECT_EQ(GetI32(raw.data(), 512 + 14) == static_cast<int32_t>(per), !encrypted);

  TBlobFile file;
  Prepare(file, 0, encrypted);
  file.Open();
  ASSERT_NO_THROW(file.CheckStructure());
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(Load(file, refs[i]), Pattern(cases[i].size)) << cases[i].size;
  }
  EXPECT_EQ(file.PinnedCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(PlainAndEncrypted, BlobChainTest, ::testing::Bool());

TEST_F(BlobFileTest, BlockSizeComesFromTheLow16BitsAndZeroMeans512) {
  struct Case {
    uint32_t header;
    uint32_t size;
  };
  for (Case c : {Case{0, 512}, Case{0x10000, 512}, Case{1024, 1024}, Case{0x20040, 64}}) {
    TBlobFile file;
    file.SetBlockSize(c.header);
    EXPECT_EQ(file.BlockSize(), c.size) << c.header;
    EXPECT_EQ(file.BlockDataSize(), c.size - 18);
  }
  // A block with no room for data is a corrupt header field.
  TBlobFile file;
  Prepare(file, 18);
  EXPECT_EQ(CodeOf([&] { file.Create(); }), LEDGER_HEADERCORRUPT);
  Prepare(file, 0);
  file.Create();
  file.Close();
  file.SetBlockSize(10);
  EXPECT_EQ(CodeOf([&] { file.Open(); }), LEDGER_HEADERCORRUPT);
  EXPECT_FALSE(file.IsOpen());
}

TEST_F(BlobFileTest, ARewrittenBlobNoLongerLoadsUnderItsOldIdentifier) {
  TBlobFile file;
  Prepare(file);
  file.Create();
  TBlobRef old = Store(file, Pattern(1000, 3));
  TBlobRef fresh = Store(file, Pattern(700, 9), old);
  EXPECT_EQ(fresh.firstBlock, old.firstBlock);
  EXPECT_NE(fresh.blobId, old.blobId);
  EXPECT_EQ(CodeOf([&] { Load(file, old); }), LEDGER_KEYORRECDELETED);
  EXPECT_EQ(Load(file, fresh), Pattern(700, 9));
  EXPECT_EQ(file.PinnedCount(), 0u);
}

// Corrupt chains, made by editing a file of one 3-block blob (64-byte blocks).
struct ChainDamage {
  const char* label;
  std::function<void(std::vector<uint8_t>&)> damage;
  TErrorCode code;
};

std::size_t BlockAt(int32_t b) { return 512 + static_cast<std::size_t>(b - 1) * 64; }

TEST_F(BlobFileTest, BrokenChainsEndInTheirCodes) {
  const ChainDamage cases[] = {
      {"loop back to the first block", [](auto& b) { PutI32(b.data(), BlockAt(3) + 4, 1); }, LEDGER_MEMOCORRUPT},
      {"block linked to itself", [](auto& b) { PutI32(b.data(), BlockAt(2) + 4, 2); }, LEDGER_MEMOCORRUPT},
      {"link past the last block", [](auto& b) { PutI32(b.data(), BlockAt(1) + 4, 99); }, LEDGER_MEMOCORRUPT},
      {"negative link", [](auto& b) { PutI32(b.data(), BlockAt(1) + 4, -2); }, LEDGER_MEMOCORRUPT},
      {"chain ends early", [](auto& b) { PutI32(b.data(), BlockAt(2) + 4, 0); }, LEDGER_ENDOFBLOB},
      {"block shorter than it should be", [](auto& b) { PutU16(b.data(), BlockAt(2) + 8, 3); }, LEDGER_ENDOFBLOB},
      {"length beyond the file", [](auto& b) { PutI32(b.data(), BlockAt(1) + 14, 2000000000); }, LEDGER_ENDOFBLOB},
      {"negative length", [](auto& b) { PutI32(b.data(), BlockAt(1) + 14, -1); }, LEDGER_ENDOFBLOB},
      {"later block of another blob", [](auto& b) { PutI32(b.data(), BlockAt(3) + 10, 77); }, LEDGER_KEYORRECDELETED},
      {"first block of another blob", [](auto& b) { PutI32(b.data(), BlockAt(1) + 10, 77); }, LEDGER_KEYORRECDELETED},
      {"file cut inside the chain", [](auto& b) { b.resize(BlockAt(3) + 10); }, LEDGER_ENDOFBLOB},
  };
  TBlobRef ref;
  {
    TBlobFile file;
    Prepare(file, 64);
    file.Create();
    // 100 bytes on 46-byte blocks, then a second blob so that the file could
    // hold a longer first one.
    ref = Store(file, Pattern(100), {}, 5);
    Store(file, Pattern(138), {}, 6);
    Save(file);
    file.Close();
  }
  ASSERT_EQ(ref.firstBlock, 1);
  const std::vector<uint8_t> good = ReadBytes(Path());
  for (const ChainDamage& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<uint8_t> bytes = good;
    // Room for the walk to continue, so only the damage can stop it.
    if (std::string(c.label).find("length") == std::string::npos &&
        std::string(c.label).find("short") == std::string::npos &&
        std::string(c.label).find("early") == std::string::npos) {
      PutI32(bytes.data(), BlockAt(1) + 14, 200);
      PutU16(bytes.data(), BlockAt(3) + 8, 46);
    }
    c.damage(bytes);
    WriteBytes(Path(), bytes);
    TBlobFile file;
    Prepare(file, 64);
    file.SetErrorContext("Words", dir_.Path());
    file.Open();
    TBlobBuffer buffer(1, 1, ref);
    try {
      buffer.Load(file);
      ADD_FAILURE() << "loaded";
    } catch (const ELedgerEngineError& e) {
      EXPECT_EQ(e.ErrorCode(), c.code);
      EXPECT_EQ(e.TableName(), "Words");
      EXPECT_EQ(e.DatabaseName(), dir_.Path());
    }
    EXPECT_EQ(buffer.Size(), 0u);
    EXPECT_EQ(file.PinnedCount(), 0u);
  }
  // References that name no block of the file.
  WriteBytes(Path(), good);
  TBlobFile file;
  Prepare(file, 64);
  file.Open();
  for (int32_t first : {-1, 7, 1000}) EXPECT_EQ(CodeOf([&] { Load(file, {first, 5}); }), LEDGER_MEMOCORRUPT);
  file.Close();
  std::vector<uint8_t> cut = good;
  cut.resize(BlockAt(3) + 10);
  WriteBytes(Path(), cut);
  file.Open();
  EXPECT_EQ(CodeOf([&] { file.GetBlock(3); }), LEDGER_READERR);
}

TEST_F(BlobFileTest, StoringReusesTheOldChainAndFreesWhatIsLeftOver) {
  const std::size_t per = 46;
  TBlobFile file;
  Prepare(file, 64);
  file.Create();
  TBlobRef a = Store(file, Pattern(5 * per));
  ASSERT_EQ(file.BlockCount(), 5);
  TBlobRef shrunk = Store(file, Pattern(2 * per, 4), a);
  EXPECT_EQ(shrunk.firstBlock, a.firstBlock);
  EXPECT_EQ(file.BlockCount(), 5);
  EXPECT_NE(file.Header().firstFree, 0);

  // A new blob takes the three freed blocks before the file grows.
  TBlobRef b = Store(file, Pattern(4 * per, 6));
  EXPECT_EQ(file.BlockCount(), 6);
  EXPECT_EQ(file.Header().firstFree, 0);
  TBlobRef grown = Store(file, Pattern(3 * per + 1, 8), shrunk);
  EXPECT_EQ(file.BlockCount(), 8);

  TBlobRef emptied = Store(file, {}, b);
  EXPECT_EQ(emptied.firstBlock, 0);
  EXPECT_NE(file.Header().firstFree, 0);
  Save(file);
  file.Close();

  file.Open();
  EXPECT_NO_THROW(file.CheckStructure());
  EXPECT_EQ(Load(file, grown), Pattern(3 * per + 1, 8));
  EXPECT_EQ(CodeOf([&] { Load(file, shrunk); }), LEDGER_KEYORRECDELETED);
  // The blocks of the emptied blob are free: the chain holds exactly four.
  int free = 0;
  for (int32_t f = file.Header().firstFree; f != 0 && free < 100; ++free) {
    TBlock* block = file.GetBlock(f);
    f = block->next;
    file.ReleaseBlock(block);
  }
  EXPECT_EQ(free, 4);
}

TEST_F(BlobFileTest, FreeingAChainChecksItsIdentifierUnlessForced) {
  TBlobFile file;
  Prepare(file, 64);
  file.Create();
  TBlobRef ref = Store(file, Pattern(200), {}, 11);
  EXPECT_EQ(CodeOf([&] { file.FreeChain(ref.firstBlock, 12, false); }), LEDGER_MEMOCORRUPT);
  EXPECT_EQ(file.Header().firstFree, 0);
  file.FreeChain(ref.firstBlock, 12, true);
  EXPECT_NE(file.Header().firstFree, 0);
  EXPECT_EQ(CodeOf([&] { file.FreeChain(0, 12, false); }), 0);
  EXPECT_EQ(CodeOf([&] { file.FreeChain(99, 12, false); }), LEDGER_MEMOCORRUPT);
}

TEST_F(BlobFileTest, ReadAheadFetchesOnlyWhatTheBlobStillNeeds) {
  TBlobRef big, small;
  {
    TBlobFile file;
    Prepare(file);
    file.Create();
    big = Store(file, Pattern(40 * 494));
    small = Store(file, Pattern(600));
    Save(file);
    file.Close();
  }
  TBlobFile file;
  Prepare(file);
  file.Open();
  EXPECT_EQ(file.ReadAheadCount(), 32);
  EXPECT_EQ(file.CacheLimit(), 64u);
  EXPECT_EQ(Load(file, big).size(), 40u * 494u);
  // The first block alone, then 32 of the 39 still needed, then 7.
  EXPECT_EQ(file.Stats().reads, 3);
  EXPECT_EQ(file.Stats().blocksRead, 40);
  EXPECT_EQ(Load(file, small).size(), 600u);
  EXPECT_EQ(file.Stats().reads, 5);
  EXPECT_EQ(file.Stats().blocksRead, 42);
  int64_t hits = file.Stats().cacheHits;
  Load(file, big);
  EXPECT_EQ(file.Stats().reads, 5);
  EXPECT_EQ(file.Stats().cacheHits, hits + 40);
}

TEST_F(BlobFileTest, SmallCacheEvictsOldBlocksAndGrowsWhenAllArePinned) {
  TBlobRef ref;
  {
    TBlobFile file;
    Prepare(file);
    file.Create();
    ref = Store(file, Pattern(10 * 494));
    Save(file);
    file.Close();
  }
  TFakeOwner owner;
  owner.strict = true;
  owner.limits.blobCacheBytes = 4 * 512;
  TBlobFile file(&owner);
  Prepare(file);
  file.Open();
  EXPECT_EQ(file.CacheLimit(), 4u);
  EXPECT_EQ(Load(file, ref), Pattern(10 * 494));
  EXPECT_EQ(file.CacheCount(), 4u);
  std::vector<TBlock*> held;
  for (int32_t b = 1; b <= 5; ++b) held.push_back(file.GetBlock(b));
  EXPECT_EQ(file.CacheCapacity(), 36u);
  for (TBlock* block : held) file.ReleaseBlock(block);
  file.TrimCache();
  EXPECT_EQ(file.CacheCount(), 4u);
}

TEST_F(BlobFileTest, ALoadThatMeetsAChangeStartsAgain) {
  TBlobRef ref;
  {
    TBlobFile file;
    Prepare(file);
    file.Create();
    ref = Store(file, Pattern(3 * 494));
    Save(file);
    file.Close();
  }
  TFakeOwner owner;
  owner.changesToReport = 2;
  TBlobFile file(&owner);
  Prepare(file);
  file.Open();
  EXPECT_EQ(Load(file, ref), Pattern(3 * 494));
  EXPECT_EQ(owner.checks, 4);  // two refused, then the first and the rest of the chain
  EXPECT_EQ(file.PinnedCount(), 0u);
  // A table that reports a change on every check does not hold the load for ever.
  owner.changesToReport = 1000;
  file.DropCache();
  EXPECT_EQ(CodeOf([&] { Load(file, ref); }), LEDGER_LOCKTIMEOUT);
}

// Another process rewrote the file shorter while the load waited for its
// lock: the reference is stale, not damaged. (In a file that never changed,
// the same reference is damage: see the chain checks above.)
TEST_F(BlobFileTest, AReferencePastARewrittenFileIsStale) {
  TBlobRef ref;
  std::vector<uint8_t> shorter;
  {
    TBlobFile file;
    Prepare(file);
    file.Create();
    Store(file, Pattern(10), {}, 20);
    Save(file);
    shorter = ReadBytes(Path());
    Store(file, Pattern(10), {}, 21);
    ref = Store(file, Pattern(10), {}, 22);
    Save(file);
    file.Close();
  }
  ASSERT_EQ(ref.firstBlock, 3);
  PutI32(shorter.data(), 0, 99);  // a counter the reader has not seen
  TFakeOwner owner;
  owner.changesToReport = 1;
  TBlobFile file(&owner);
  owner.onCheck = [&] {
    WriteBytes(Path(), shorter);
    file.HeaderChanged();
    file.DropCache();
  };
  Prepare(file);
  file.Open();
  EXPECT_EQ(CodeOf([&] { Load(file, ref); }), LEDGER_KEYORRECDELETED);
  EXPECT_EQ(file.PinnedCount(), 0u);
  // And so it stays for a record kept from before, once the change is known.
  EXPECT_EQ(CodeOf([&] { Load(file, ref); }), LEDGER_KEYORRECDELETED);
}

TEST_F(BlobFileTest, HeaderCheckAndChangeDetection) {
  {
    TBlobFile file;
    Prepare(file);
    file.Create();
    Store(file, Pattern(100));
    Save(file);
    file.Close();
  }
  const std::vector<uint8_t> good = ReadBytes(Path());
  struct Case {
    const char* label;
    std::function<void(std::vector<uint8_t>&)> damage;
    TErrorCode code;
  };
  const Case cases[] = {
      {"intact", [](auto&) {}, 0},
      {"version", [](auto& b) { b[8] = 6; }, LEDGER_OLDVERSION},
      {"first free at the next block", [](auto& b) { PutI32(b.data(), 9, 2); }, LEDGER_HEADERCORRUPT},
      {"first free negative", [](auto& b) { PutI32(b.data(), 9, -4); }, LEDGER_HEADERCORRUPT},
      {"next block zero", [](auto& b) { PutI32(b.data(), 13, 0); }, LEDGER_HEADERCORRUPT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<uint8_t> bytes = good;
    c.damage(bytes);
    WriteBytes(Path(), bytes);
    TBlobFile file;
    Prepare(file);
    file.Open();
    EXPECT_EQ(CodeOf([&] { file.CheckStructure(); }), c.code);
  }
  WriteBytes(Path(), good);
  TBlobFile mine, theirs;
  Prepare(mine);
  Prepare(theirs);
  mine.Open();
  theirs.Open();
  EXPECT_FALSE(mine.HeaderChanged());
  Store(theirs, Pattern(900));
  Save(theirs);
  EXPECT_TRUE(mine.HeaderChanged());
  EXPECT_EQ(mine.BlockCount(), 3);
  // A header counting blocks the file does not have: no write far past its end.
  {
    std::vector<uint8_t> bytes = ReadBytes(Path());
    PutI32(bytes.data(), 13, 500);
    WriteBytes(Path(), bytes);
    TBlobFile file;
    Prepare(file);
    file.Open();
    EXPECT_EQ(CodeOf([&] { file.NewBlock(); }), LEDGER_HEADERCORRUPT);
    EXPECT_EQ(file.PinnedCount(), 0u);
  }
  theirs.Empty();
  theirs.WriteHeader(false);
  EXPECT_EQ(theirs.Size(), 512u);
  EXPECT_TRUE(mine.HeaderChanged());
  EXPECT_EQ(mine.BlockCount(), 0);
}

// The check compares the counter before it decodes anything; in an
// encrypted file the counter is scrambled with the rest of the header.
TEST_F(BlobFileTest, TheChangeCheckReadsTheCounterOfPlainAndEncryptedHeaders) {
  for (bool encrypted : {false, true}) {
    SCOPED_TRACE(encrypted ? "encrypted" : "plain");
    {
      TBlobFile file;
      Prepare(file, 512, encrypted);
      file.Create();
      Store(file, Pattern(100));
      Save(file);
      file.Close();
    }
    TBlobFile mine, theirs;
    Prepare(mine, 512, encrypted);
    Prepare(theirs, 512, encrypted);
    mine.Open();
    theirs.Open();
    EXPECT_FALSE(mine.HeaderChanged());
    Store(theirs, Pattern(900));
    Save(theirs);
    EXPECT_TRUE(mine.HeaderChanged());
    EXPECT_EQ(mine.BlockCount(), 3);
    EXPECT_FALSE(mine.HeaderChanged());
  }
}

}  // namespace
}  // namespace ledger
