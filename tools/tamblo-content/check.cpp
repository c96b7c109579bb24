#include "tools/tamblo-content/check.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>

#include "dataset/field.h"
#include "engine/components/ledger_table.h"
#include "media/image_library.h"
#include "tools/tamblo-content/audio.h"
#include "tools/tamblo-content/commands.h"
#include "tools/tamblo-content/pictures.h"

namespace tamblo::content_tool {
namespace {

namespace fs = std::filesystem;

// A spoken word shorter than this has lost part of itself; longer, it is
// more than one word or carries a long silence.
constexpr double kShortestWord = 0.15, kLongestWord = 4.0;
constexpr double kShortestEffect = 0.05, kLongestEffect = 8.0;
// Quieter than this at its loudest, a sound is as good as missing.
constexpr double kSilentPeakDb = -40.0;

std::string Seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", s);
  return text;
}

class TTableCheck {
 public:
  TTableCheck(const fs::path& dir, TTableKind kind) : kind_(kind), name_(TableName(kind)) {
    table_.SetDatabaseName(dir.string());
    table_.SetTableName(name_);
  }

  void Run() {
    try {
      table_.Open();
    } catch (const std::exception& e) {
      Problem("", std::string("cannot be opened: ") + e.what());
      return;
    }
    try {
      if (kind_ == TTableKind::SndFx)
        Effects();
      else
        Words();
    } catch (const media::ErrorInvalid&) {
      throw;  // no image library: nothing further can be decoded
    } catch (const std::exception& e) {
      Problem("", std::string("cannot be read: ") + e.what());
    }
    table_.Close();
  }

  const std::vector<std::string>& Problems() const { return problems_; }
  std::string Summary() const {
    const std::size_t n = problems_.size();
    return std::string(name_) + " " + std::to_string(records_) +
           (records_ == 1 ? " record, " : " records, ") + std::to_string(n) +
           (n == 1 ? " problem" : " problems");
  }

 private:
  void Problem(const std::string& word, const std::string& text) {
    problems_.push_back(std::string(name_) + ": " + (word.empty() ? "" : word + ": ") + text);
  }

  // A field the game reads, of the kind it reads it as; null when missing.
  dataset::TField* Field(const char* name, bool blob, dataset::TFieldType type = dataset::ftUnknown) {
    dataset::TField* field = table_.FindField(name);
    if (!field) {
      Problem("", std::string("has no field \"") + name + "\"");
    } else if (blob ? !field->IsBlob()
                    : (field->DataType() != type &&
                       !(type == dataset::ftString && field->DataType() == dataset::ftFixedChar))) {
      Problem("", std::string("field \"") + name + "\" is not a " +
                      (blob                         ? "blob"
                       : type == dataset::ftBoolean ? "Boolean"
                                                    : "string"));
      field = nullptr;
    }
    return field;
  }

  static std::vector<std::uint8_t> Blob(dataset::TField* field) {
    return field ? static_cast<dataset::TBlobField*>(field)->AsBytes() : std::vector<std::uint8_t>{};
  }

  void Words() {
    const bool vowels = kind_ == TTableKind::SVowel || kind_ == TTableKind::LVowel;
    dataset::TField* word = Field("Word", false, dataset::ftString);
    dataset::TField* blank = vowels ? Field("Blank", false, dataset::ftString) : nullptr;
    dataset::TField* letter = vowels ? Field("Letter", false, dataset::ftString) : nullptr;
    dataset::TField* usable =
        kind_ == TTableKind::Conson ? Field("Contruction", false, dataset::ftBoolean) : nullptr;
    dataset::TField* graphic = Field("Graphic", true);
    dataset::TField* sound = Field("Sound", true);
    if (!word || (vowels && (!blank || !letter)) || (kind_ == TTableKind::Conson && !usable)) return;
    records_ = table_.RecordCount();
    std::vector<TWordRecord> records;
    std::map<std::string, int> seen;
    // By record position, as the game reaches its words.
    for (int position = 1; position <= records_; ++position) {
      table_.SetRecNo(position);
      TWordRecord r;
      r.word = word->AsString();
      if (vowels) {
        r.blank = blank->AsString();
        r.letter = letter->AsString();
      }
      if (usable) r.usable = usable->AsBoolean();
      const std::string shown = r.word.empty() ? "(empty word)" : r.word;
      for (const std::string& p : RecordProblems(kind_, r)) Problem(shown, p);
      if (++seen[r.word] == 2) Problem(shown, "appears more than once");
      if (graphic) {
        TDecodedSize size;
        const std::string why = DecodeProblem(Blob(graphic), size);
        if (!why.empty()) Problem(shown, "picture: " + why);
      }
      if (sound) {
        const std::string why = WaveProblem(Blob(sound), false);
        if (!why.empty()) Problem(shown, "spoken word: " + why);
      }
      records.push_back(std::move(r));
    }
    for (const std::string& p : TableProblems(kind_, records)) Problem("", p);
  }

  void Effects() {
    dataset::TField* soundFile = Field("SoundFile", true);
    records_ = table_.RecordCount();
    for (std::string_view key : kEffectKeys) {
      const std::string k(key);
      // The game's cue: a key search on the primary index with the name alone.
      if (!table_.FindKey({k})) {
        Problem(k, "not found by a key search");
        continue;
      }
      if (!soundFile) continue;
      const std::string why = WaveProblem(Blob(soundFile), true);
      if (!why.empty()) Problem(k, "sound: " + why);
    }
  }

  TTableKind kind_;
  const char* name_;
  ledger::TLedgerTable table_;
  int records_ = 0;
  std::vector<std::string> problems_;
};

}  // namespace

std::string WaveProblem(std::span<const std::uint8_t> bytes, bool effect) {
  if (bytes.empty()) return "missing";
  std::string why;
  TWaveFormat format;
  const std::optional<TSound> sound = ReadWave(bytes, why, &format);
  if (!sound) return "not a valid WAV file: " + why;
  if (format.formatTag != 1 || format.bits != 16 || format.channels != 1 || format.rate < kTableRate)
    return "not 16-bit mono PCM at " + std::to_string(kTableRate) + " Hz or more (" +
           std::to_string(format.bits) + "-bit, " + std::to_string(format.channels) + " channels, " +
           std::to_string(format.rate) + " Hz)";
  const double shortest = effect ? kShortestEffect : kShortestWord;
  const double longest = effect ? kLongestEffect : kLongestWord;
  if (sound->Seconds() < shortest || sound->Seconds() > longest)
    return "lasts " + Seconds(sound->Seconds()) + ", outside " + Seconds(shortest) + " to " +
           Seconds(longest);
  if (PeakLevel(*sound) < kSilentPeakDb) return "is silent";
  return {};
}

TCheckResult CheckTables(const fs::path& dir, const std::vector<TTableKind>& tables) {
  TCheckResult result;
  for (const TTableInfo& info : kTables) {
    if (std::find(tables.begin(), tables.end(), info.kind) == tables.end()) continue;
    TTableCheck check(dir, info.kind);
    check.Run();
    result.problems.insert(result.problems.end(), check.Problems().begin(), check.Problems().end());
    result.summary += (result.summary.empty() ? "" : "; ") + check.Summary();
  }
  return result;
}

int Check(const fs::path& dir, const std::vector<TTableKind>& tables, std::ostream& out, std::ostream& err) {
  TCheckResult result;
  try {
    result = CheckTables(dir, tables);
  } catch (const media::ErrorInvalid& e) {
    err << "tamblo-content: " << e.what() << "\n";
    return kExitFailed;
  }
  for (const std::string& problem : result.problems) out << problem << "\n";
  out << "checked " << result.summary << "\n";
  out.flush();
  return result.problems.empty() ? kExitOk : kExitFailed;
}

int CheckCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                 const char* usage) {
  std::optional<fs::path> dir;
  std::vector<TTableKind> tables;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--table" && i + 1 < args.size()) {
      const std::optional<TTableKind> kind = TableKindByName(args[++i]);
      if (!kind) {
        err << "tamblo-content: no table " << args[i] << " (Blend, SndFx, Conson, LVowel or SVowel)\n"
            << usage;
        return kExitUsage;
      }
      tables.push_back(*kind);
    } else if (!args[i].starts_with("--") && !dir) {
      dir = args[i];
    } else {
      err << "tamblo-content: unexpected " << args[i] << "\n" << usage;
      return kExitUsage;
    }
  }
  if (!dir) {
    err << "tamblo-content: check needs a folder\n" << usage;
    return kExitUsage;
  }
  if (tables.empty())
    for (const TTableInfo& info : kTables) tables.push_back(info.kind);
  return Check(*dir, tables, out, err);
}

}  // namespace tamblo::content_tool
