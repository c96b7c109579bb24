#pragma once
// The five content tables, small, made in a scratch folder beside a stand-in
// program file, so the game finds them as it finds the real ones.
#include <stdlib.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "engine/build/table_builder.h"

namespace tamblo::testing {

class TContentDir {
 public:
  // Every table except those named in `missing`.
  explicit TContentDir(const std::set<std::string>& missing = {}) {
    char pattern[] = "/tmp/tamblo-content-XXXXXX";
    if (mkdtemp(pattern)) path_ = pattern;
    for (const char* table : {"Blend", "SVowel", "LVowel", "Conson"})
      if (!missing.count(table)) MakeWordTable(table);
    if (!missing.count("SndFx")) MakeEffects();
  }
  ~TContentDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TContentDir(const TContentDir&) = delete;
  TContentDir& operator=(const TContentDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The program file the game would be started as.
  std::filesystem::path ProgramFile() const { return path_ / "tamblo"; }

 private:
  static std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

  // Each word's picture and sound hold "<table>:<word>", so a test can tell
  // whose record a control was given.
  void MakeWordTable(const std::string& name) {
    using namespace ledger;
    TTableDefinition def;
    def.data.fields = {FieldDef("Word", ftString, 20),    FieldDef("Blank", ftString, 20),
                       FieldDef("Letter", ftString, 1),   FieldDef("Contruction", ftBoolean),
                       FieldDef("Graphic", ftBlob, 0, fstGraphic), FieldDef("Sound", ftBlob, 0, fstBinary)};
    def.primary = TIndexDefinition{.fields = {"Word"}};
    TTableBuilder builder(path_.string(), name, def);
    for (const char* word : {"cat", "hat", "sled"}) {
      const std::string tag = name + ":" + word;
      std::vector<TFieldValue> row = {std::string(word), std::string("_at"), std::string("a"), true,
                                      Bytes(tag), Bytes(tag)};
      builder.Append(row);
    }
    builder.Finish();
  }

  void MakeEffects() {
    using namespace ledger;
    TTableDefinition def;
    def.data.fields = {FieldDef("Name", ftString, 10), FieldDef("SoundFile", ftBlob, 0, fstBinary)};
    def.primary = TIndexDefinition{.fields = {"Name"}};
    TTableBuilder builder(path_.string(), "SndFx", def);
    for (const char* cue : {"clack", "click", "constr", "craneh", "cranev", "konk"}) {
      std::vector<TFieldValue> row = {std::string(cue), Bytes(std::string("RIFF ") + cue)};
      builder.Append(row);
    }
    builder.Finish();
  }

  std::filesystem::path path_;
};

}  // namespace tamblo::testing
