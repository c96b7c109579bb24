#pragma once
// The five tables as the builder writes them: the fields the game reads,
// plus where each picture and sound came from, for whoever looks inside.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/public/builder.h"
#include "tools/tamblo-content/content_rules.h"

namespace tamblo::content_tool {

ledger::TTableDefinition TableDefinition(TTableKind kind);

struct TWordRow {
  TWordRecord record;
  std::vector<std::uint8_t> graphic;  // PNG
  std::vector<std::uint8_t> sound;    // RIFF WAVE
  std::string pictureSource;          // "U+1F438" or the picture file's name
  std::string soundSource;            // the synthesizer or the WAV file's name
};

struct TEffectRow {
  std::string key;
  std::vector<std::uint8_t> sound;
  std::string source;  // the recipe or the WAV file's name
};

// Each writes the whole table into `dir`, replacing nothing: the builder
// refuses a table that is already there.
void WriteWordTable(const std::filesystem::path& dir, TTableKind kind, const std::vector<TWordRow>& rows);
void WriteEffectTable(const std::filesystem::path& dir, const std::vector<TEffectRow>& rows);

// The files a table may have, by extension.
inline constexpr const char* kTableExtensions[] = {".DAT", ".IDX", ".BLB"};

}  // namespace tamblo::content_tool
