#pragma once
// Tables for the component tests, made by the table builder in a scratch
// folder that goes away with the test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dataset/database_error.h"
#include "engine/build/table_builder.h"
#include "tests/engine/table_files_util.h"

namespace ledger::testing {

// The message of the framework error the action raises; empty when none.
template <class F>
std::string DatabaseMessage(F&& action) {
  try {
    action();
  } catch (const dataset::EDatabaseError& e) {
    return e.what();
  }
  return {};
}

struct TWordRow {
  std::string word;
  bool usable = true;
  std::vector<uint8_t> sound;
};

// Word (string 20, primary key), Contruction (Boolean), Sound (blob), RecID.
inline void MakeWordTable(const std::string& dir, const std::string& name,
                          const std::vector<TWordRow>& rows, bool withPrimary = true,
                          TBuildTarget target = TBuildTarget::NewFiles) {
  TTableDefinition def;
  def.data.fields = {FieldDef("Word", ftString, 20), FieldDef("Contruction", ftBoolean),
                     FieldDef("Sound", ftBlob, 0, fstBinary), FieldDef("RecID", ftInteger, 0, fstAutoInc)};
  if (withPrimary) {
    TIndexDefinition primary;
    primary.fields = {"Word"};
    def.primary = primary;
  }
  TTableBuilder builder(dir, name, def, target, PosixFileSystem());
  for (const TWordRow& row : rows) {
    TFieldValue sound;
    if (!row.sound.empty()) sound = row.sound;
    std::vector<TFieldValue> values = {row.word, row.usable, sound, std::monostate{}};
    builder.Append(values);
  }
  builder.Finish();
}

inline std::vector<TWordRow> Words(std::initializer_list<const char*> words) {
  std::vector<TWordRow> rows;
  for (const char* w : words) rows.push_back({w, true, std::vector<uint8_t>(w, w + std::char_traits<char>::length(w))});
  return rows;
}

}  // namespace ledger::testing
