// Writes the starting corpus of fuzz_tables: small valid tables made by the
// engine's own create code, in each of the harness's modes.
//   make_fuzz_seeds <folder>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "engine/build/table_builder.h"
#include "testing/tables_harness.h"

namespace {

using namespace ledger;


std::vector<uint8_t> ReadMemoryFile(const std::string& name) {
  TFileHandler file(name, true);
  file.Open();
  std::vector<uint8_t> bytes(file.Size());
  if (!bytes.empty()) file.ReadAt(0, bytes.data(), bytes.size());
  file.Close();
  return bytes;
}

// A words table: the fields the game reads, a few records, pictures of a few blocks.
void MakeTable(bool encrypted, uint16_t blockSize, int records, std::vector<uint8_t>& dat,
               std::vector<uint8_t>& blb) {
  TDataFileDefinition def;
  def.fields = {FieldDef("ID", ftInteger, 0, fstAutoInc), FieldDef("Word", ftString, 12),
                FieldDef("Used", ftBoolean),             FieldDef("Graphic", ftBlob, 0, fstGraphic),
                FieldDef("Sound", ftBlob, 0, fstBinary),   FieldDef("Added", ftDate),
                FieldDef("Price", ftBCD)};
  def.fields[6].scale = 2;
  def.encrypted = encrypted;
  def.password = encrypted ? "pw" : "";
  def.description = "seed";
  def.blockSize = blockSize;
  TDataFile data;
  data.SetInMemory(true);
  data.SetFileName("seed/S.DAT");
  data.Create(def);
  TBlobFile blob;
  blob.SetInMemory(true);
  blob.SetFileName("seed/S.BLB");
  blob.SetBlockSize(blockSize);
  blob.SetEncrypted(encrypted);
  blob.Create();
  for (int i = 1; i <= records; ++i) {
    TRecord* r = data.NewRecordSlot();
    data.SetField(*r, 2, std::string("word") + std::to_string(i));
    data.SetField(*r, 3, i % 2 == 0);
    for (int f : {4, 5}) {
      TBlobBuffer buffer(f, i, {}, TBlobOpenMode::ReadWrite);
      buffer.SetData(std::vector<uint8_t>(static_cast<std::size_t>(i * 37 * (f - 3)), static_cast<uint8_t>(i)));
      data.SetField(*r, f, buffer.Store(blob, data.NextBlobId()));
    }
    data.SetField(*r, 6, int64_t{EncodeDate(2020, 1, i)});
    TBcd price;
    BcdFromText(std::to_string(i) + ".25", price);
    data.SetField(*r, 7, price);
    data.ReleaseRecord(r);
  }
  if (records > 2) {
    TRecord* second = data.GetRecord(2);
    data.FreeRecordSlot(second);
    data.ReleaseRecord(second);
  }
  data.FlushRecords();
  data.WriteHeader(false);
  blob.FlushBlocks();
  blob.WriteHeader(false);
  data.Close();
  blob.Close();
  dat = ReadMemoryFile("seed/S.DAT");
  blb = ReadMemoryFile("seed/S.BLB");
  fuzzing::DropMemoryFile("seed/S.DAT");
  fuzzing::DropMemoryFile("seed/S.BLB");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  struct Seed {
    const char* name;
    bool encrypted;
    uint16_t blockSize;
    int records;
    uint8_t flags;
  };
  const Seed seeds[] = {
      {"seed-plain", false, 0, 5, fuzzing::kFullCheck | fuzzing::kReadAhead},
      {"seed-encrypted", true, 0, 3, fuzzing::kFullCheck},
      {"seed-small-blocks", false, 64, 6, fuzzing::kSmallCaches | fuzzing::kBackward | fuzzing::kReadAhead},
      {"seed-write", false, 64, 4, fuzzing::kWrite | fuzzing::kSmallCaches},
      {"seed-empty", false, 0, 0, fuzzing::kFullCheck},
  };
  for (const Seed& s : seeds) {
    std::vector<uint8_t> dat, blb;
    MakeTable(s.encrypted, s.blockSize, s.records, dat, blb);
    std::vector<uint8_t> input = fuzzing::MakeInput(s.flags, dat, blb);
    std::ofstream out(std::string(argv[1]) + "/" + s.name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(input.data()), static_cast<std::streamsize>(input.size()));
  }
  return 0;
}
