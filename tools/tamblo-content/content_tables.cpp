#include "tools/tamblo-content/content_tables.h"

namespace tamblo::content_tool {
namespace {

using ledger::FieldDef;

// Where a picture or sound came from; longer names are cut, they are only notes.
constexpr std::uint8_t kSourceSize = 60;

std::string Cut(const std::string& text, std::size_t size) { return text.substr(0, size); }

}  // namespace

ledger::TTableDefinition TableDefinition(TTableKind kind) {
  using namespace ledger;
  TTableDefinition def;
  // The records keep the order of the lists, so a problem found in a table
  // is reported in the order the teacher wrote the words.
  def.order = TRecordOrder::Input;
  auto& fields = def.data.fields;
  if (kind == TTableKind::SndFx) {
    def.data.description = "Sound effects by name";
    fields = {FieldDef("Name", ftString, 10), FieldDef("SoundFile", ftBlob, 0, fstBinary),
              FieldDef("Source", ftString, kSourceSize)};
    def.primary = TIndexDefinition{.fields = {"Name"}};
    return def;
  }
  const auto word = static_cast<std::uint8_t>(kMaxWordLength);
  fields = {FieldDef("Word", ftString, word)};
  switch (kind) {
    case TTableKind::Blend:
      def.data.description = "Words with consonant blends";
      break;
    case TTableKind::SVowel:
      def.data.description = "Words with a short vowel";
      break;
    case TTableKind::LVowel:
      def.data.description = "Words with a long vowel";
      break;
    default:
      def.data.description = "Words for consonant practice";
      break;
  }
  if (kind == TTableKind::SVowel || kind == TTableKind::LVowel) {
    fields.push_back(FieldDef("Blank", ftString, word));
    fields.push_back(FieldDef("Letter", ftString, 1));
  }
  if (kind == TTableKind::Conson) fields.push_back(FieldDef("Contruction", ftBoolean));
  fields.push_back(FieldDef("Graphic", ftBlob, 0, fstGraphic));
  fields.push_back(FieldDef("Sound", ftBlob, 0, fstBinary));
  fields.push_back(FieldDef("PictureSource", ftString, kSourceSize));
  fields.push_back(FieldDef("SoundSource", ftString, kSourceSize));
  def.primary = TIndexDefinition{.fields = {"Word"}};
  return def;
}

void WriteWordTable(const std::filesystem::path& dir, TTableKind kind, const std::vector<TWordRow>& rows) {
  ledger::TTableBuilder builder(dir.string(), TableName(kind), TableDefinition(kind),
                                ledger::TBuildTarget::NewFiles, ledger::PosixFileSystem());
  for (const TWordRow& row : rows) {
    std::vector<ledger::TFieldValue> values = {Cut(row.record.word, kMaxWordLength)};
    if (kind == TTableKind::SVowel || kind == TTableKind::LVowel) {
      values.push_back(Cut(row.record.blank, kMaxWordLength));
      values.push_back(Cut(row.record.letter, 1));
    }
    if (kind == TTableKind::Conson) values.push_back(row.record.usable);
    values.push_back(row.graphic);
    values.push_back(row.sound);
    values.push_back(Cut(row.pictureSource, kSourceSize));
    values.push_back(Cut(row.soundSource, kSourceSize));
    builder.Append(values);
  }
  builder.Finish();
}

void WriteEffectTable(const std::filesystem::path& dir, const std::vector<TEffectRow>& rows) {
  ledger::TTableBuilder builder(dir.string(), TableName(TTableKind::SndFx),
                                TableDefinition(TTableKind::SndFx), ledger::TBuildTarget::NewFiles,
                                ledger::PosixFileSystem());
  for (const TEffectRow& row : rows) {
    std::vector<ledger::TFieldValue> values = {row.key, row.sound, Cut(row.source, kSourceSize)};
    builder.Append(values);
  }
  builder.Finish();
}

}  // namespace tamblo::content_tool
