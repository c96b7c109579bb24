#pragma once
// The five content tables, small, made in a scratch folder beside a stand-in
// program file, so the game finds them as it finds the real ones.
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/build/table_builder.h"
#include "tests/media/picture_fixtures.h"

namespace tamblo::testing {

// One record of a word table.
struct TWordRecord {
  std::string word;
  std::string blank = "_at";
  std::string letter = "a";
  bool usable = true;  // "Contruction"
};
using TWordLists = std::map<std::string, std::vector<TWordRecord>>;

class TContentDir {
 public:
  // Every table except those named in `missing`, each holding cat, hat, sled.
  explicit TContentDir(const std::set<std::string>& missing = {}) {
    MakeAll(missing, {});
  }
  // The word tables hold the given records; a table not named holds the default three.
  explicit TContentDir(const TWordLists& words) { MakeAll({}, words); }
  ~TContentDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TContentDir(const TContentDir&) = delete;
  TContentDir& operator=(const TContentDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The program file the game would be started as.
  std::filesystem::path ProgramFile() const { return path_ / "tamblo"; }
  // Each effect's sound lasts as many milliseconds as its name has letters, times 20.
  static std::vector<uint8_t> EffectSound(const std::string& cue) {
    return fixtures::Wav(20 * static_cast<int>(cue.size()));
  }

 public:
  // A picture and a sound a control can load, told apart by size: each
  // table's words get pictures and sounds of their own dimensions.
  static std::vector<uint8_t> Picture(const std::string& table, int word) {
    return fixtures::Png(fixtures::Quadrants(20 + 4 * word, 10 + static_cast<int>(table.size())));
  }
  static std::vector<uint8_t> Sound(const std::string& table, int word) {
    return fixtures::Wav(50 + 10 * word + static_cast<int>(table.size()));
  }

 private:
  void MakeAll(const std::set<std::string>& missing, const TWordLists& words) {
    char pattern[] = "/tmp/tamblo-content-XXXXXX";
    if (mkdtemp(pattern)) path_ = pattern;
    for (const char* table : {"Blend", "SVowel", "LVowel", "Conson"}) {
      if (missing.count(table)) continue;
      auto it = words.find(table);
      MakeWordTable(table, it != words.end() ? it->second
                                             : std::vector<TWordRecord>{{"cat"}, {"hat"}, {"sled"}});
    }
    if (!missing.count("SndFx")) MakeEffects();
  }

  void MakeWordTable(const std::string& name, const std::vector<TWordRecord>& records) {
    using namespace ledger;
    TTableDefinition def;
    def.data.fields = {FieldDef("Word", ftString, 20),    FieldDef("Blank", ftString, 20),
                       FieldDef("Letter", ftString, 1),   FieldDef("Contruction", ftBoolean),
                       FieldDef("Graphic", ftBlob, 0, fstGraphic), FieldDef("Sound", ftBlob, 0, fstBinary)};
    def.primary = TIndexDefinition{.fields = {"Word"}};
    TTableBuilder builder(path_.string(), name, def, TBuildTarget::NewFiles, PosixFileSystem());
    int i = 0;
    for (const TWordRecord& r : records) {
      std::vector<TFieldValue> row = {r.word, r.blank, r.letter, r.usable, Picture(name, i),
                                      Sound(name, i)};
      builder.Append(row);
      ++i;
    }
    builder.Finish();
  }

  void MakeEffects() {
    using namespace ledger;
    TTableDefinition def;
    def.data.fields = {FieldDef("Name", ftString, 10), FieldDef("SoundFile", ftBlob, 0, fstBinary)};
    def.primary = TIndexDefinition{.fields = {"Name"}};
    TTableBuilder builder(path_.string(), "SndFx", def, TBuildTarget::NewFiles, PosixFileSystem());
    for (const char* cue : {"clack", "click", "constr", "craneh", "cranev", "konk"}) {
      std::vector<TFieldValue> row = {std::string(cue), EffectSound(cue)};
      builder.Append(row);
    }
    builder.Finish();
  }

  std::filesystem::path path_;
};

}  // namespace tamblo::testing
