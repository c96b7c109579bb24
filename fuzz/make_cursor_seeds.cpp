// Writes the starting corpus of fuzz_cursor: sound tables made by the table
// builder, each with a script that walks them every way the cursor can.
//   make_cursor_seeds <folder>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/build/table_builder.h"
#include "testing/cursor_harness.h"

namespace {

using namespace ledger;


constexpr uint8_t Step(fuzzing::TCursorStep step, int arg) { return static_cast<uint8_t>(step | (arg << 3)); }

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

struct TSeed {
  const char* name;
  int records;
  bool primary;
  bool encrypted;
  uint16_t blockSize;
  double fill;
  uint8_t flags;
  std::vector<uint8_t> script;
};

// Words with two blobs, a secondary index on a non-unique field and one on
// two fields; every seventh record deleted.
std::vector<uint8_t> MakeInput(const TSeed& seed, const std::filesystem::path& dir) {
  TTableDefinition def;
  def.data.fields = {FieldDef("Word", ftString, 12),          FieldDef("Count", ftInteger),
                     FieldDef("Used", ftBoolean),             FieldDef("Picture", ftBlob, 0, fstGraphic),
                     FieldDef("Sound", ftBlob, 0, fstBinary), FieldDef("ID", ftInteger, 0, fstAutoInc)};
  def.data.encrypted = seed.encrypted;
  def.data.password = seed.encrypted ? fuzzing::kCursorPassword : "";
  def.data.blockSize = seed.blockSize;
  def.fillFactor = seed.fill;
  if (seed.primary) {
    TIndexDefinition primary;
    primary.fields = {"Word"};
    def.primary = primary;
  }
  TIndexDefinition byCount;
  byCount.name = "ByCount";
  byCount.fields = {"Count"};
  byCount.unique = false;
  TIndexDefinition byUsed;
  byUsed.name = "ByUsedWord";
  byUsed.fields = {"Used", "Word"};
  byUsed.descendingFields = {"Word"};
  def.secondary = {byCount, byUsed};
  {
    TTableBuilder builder(dir.string(), "Fuzz", def, TBuildTarget::NewFiles, PosixFileSystem());
    for (int i = 1; i <= seed.records; ++i) {
      std::vector<uint8_t> picture(static_cast<std::size_t>(i * 53 % 700), static_cast<uint8_t>(i));
      std::vector<uint8_t> sound(static_cast<std::size_t>(i * 11), static_cast<uint8_t>(i * 3));
      TFieldValue p, s;
      if (!picture.empty()) p = picture;
      if (!sound.empty()) s = sound;
      builder.Append(std::vector<TFieldValue>{"w" + std::to_string(i * 7919 % 10007), int64_t{i % 9},
                                              i % 2 == 0, p, s, std::monostate{}});
    }
    for (int i = 7; i <= seed.records; i += 7) builder.MarkDeleted(i);
    builder.Finish();
  }
  auto input = fuzzing::MakeCursorInput(seed.flags, seed.script, ReadFile(dir / "Fuzz.DAT"),
                                        ReadFile(dir / "Fuzz.IDX"), ReadFile(dir / "Fuzz.BLB"));
  for (const char* ext : {".DAT", ".IDX", ".BLB"}) std::filesystem::remove(dir / (std::string("Fuzz") + ext));
  return input;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  using fuzzing::kStepBlobs, fuzzing::kStepBookmark, fuzzing::kStepCount, fuzzing::kStepFindKey,
      fuzzing::kStepFirst, fuzzing::kStepIndex, fuzzing::kStepLast, fuzzing::kStepPosition;
  const std::vector<uint8_t> walk = {Step(kStepFirst, 5),    Step(kStepBlobs, 0),    Step(kStepPosition, 7),
                                     Step(kStepFindKey, 0),  Step(kStepBookmark, 3), Step(kStepIndex, 1),
                                     Step(kStepLast, 3),     Step(kStepCount, 0)};
  const std::vector<uint8_t> keys = {Step(kStepIndex, 2),    Step(kStepPosition, 20), Step(kStepFindKey, 1),
                                     Step(kStepBlobs, 0),    Step(kStepFirst, 31),    Step(kStepPosition, 31),
                                     Step(kStepLast, 31),    Step(kStepBookmark, 9)};
  const TSeed seeds[] = {
      {"seed-words", 30, true, false, 0, 1.0, 0, walk},
      {"seed-deep", 150, true, false, 64, 0.05, fuzzing::kCursorSmallCaches | fuzzing::kCursorStrict, keys},
      {"seed-encrypted", 25, true, true, 0, 1.0, 0, keys},
      {"seed-no-primary", 40, false, false, 128, 1.0, fuzzing::kCursorPhysical, walk},
      {"seed-empty", 0, true, false, 0, 1.0, 0, walk},
  };
  char pattern[] = "/tmp/cursor-seeds-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  for (const TSeed& s : seeds) {
    std::vector<uint8_t> input = MakeInput(s, pattern);
    std::ofstream out(std::string(argv[1]) + "/" + s.name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(input.data()), static_cast<std::streamsize>(input.size()));
  }
  std::filesystem::remove_all(pattern);
  return 0;
}
