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
#include "tools/tamblo-content/phonics.h"
#include "tools/tamblo-content/pictures.h"
#include "tools/tamblo-content/word_lists.h"

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
  const std::vector<std::string>& Phonics() const { return phonics_; }
  std::string Summary(std::size_t sounds) const {
    const std::size_t n = problems_.size() + sounds;
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
    const std::vector<std::string> tableProblems = TableProblems(kind_, records);
    for (const std::string& p : tableProblems) Problem("", p);
    // A table the game cannot use as it stands is not worth hearing yet, and
    // only sound records are heard: the rules above name the rest already.
    if (!tableProblems.empty()) return;
    std::vector<TWordRecord> spelled;
    for (const TWordRecord& r : records)
      if (RecordProblems(kind_, r).empty()) spelled.push_back(r);
    phonics_ = PhonicsOfWords(kind_, spelled);
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
  std::vector<std::string> phonics_;
};

}  // namespace

std::vector<std::string> PhonicsOfWords(TTableKind kind, const std::vector<TWordRecord>& records) {
  std::vector<std::string> lines;
  if (records.empty()) return lines;
  const TPronouncingDictionary* dictionary = nullptr;
  try {
    dictionary = &InstalledDictionary();
  } catch (const std::exception& e) {
    lines.push_back(std::string(TableName(kind)) + ": the sounds were not checked: " + e.what());
    return lines;
  }
  for (const TWordRecord& r : records) {
    // A word the game never chooses needs no puzzle of its own.
    if (!r.usable) continue;
    for (std::string& line : PhonicsFailures(kind, r, Pronounce(r.word, *dictionary)))
      lines.push_back(std::move(line));
  }
  return lines;
}

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

TCheckResult CheckTables(const fs::path& dir, const std::vector<TTableKind>& tables, TPhonics phonics) {
  TCheckResult result;
  for (const TTableInfo& info : kTables) {
    if (std::find(tables.begin(), tables.end(), info.kind) == tables.end()) continue;
    TTableCheck check(dir, info.kind);
    check.Run();
    result.problems.insert(result.problems.end(), check.Problems().begin(), check.Problems().end());
    std::vector<std::string>& sounds = phonics == TPhonics::Problems ? result.problems : result.warnings;
    sounds.insert(sounds.end(), check.Phonics().begin(), check.Phonics().end());
    result.summary += (result.summary.empty() ? "" : "; ") + check.Summary(check.Phonics().size());
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
  for (const std::string& warning : result.warnings) out << "warning: " << warning << "\n";
  out << "checked " << result.summary << "\n";
  out.flush();
  return result.problems.empty() ? kExitOk : kExitFailed;
}

namespace {

// `check --words FILE --table NAME`: a teacher's list before it is built.
int CheckWordList(const fs::path& file, TTableKind kind, bool strict, std::ostream& out) {
  const TWordList list = ReadWordList(file, kind);
  std::vector<std::string> problems;
  for (const std::string& p : list.problems) problems.push_back(std::string(TableName(kind)) + ": " + p);
  std::vector<TWordRecord> records;
  for (const TWordEntry& e : list.words)
    if (RecordProblems(kind, e.record).empty()) records.push_back(e.record);
  const std::vector<std::string> sounds = PhonicsOfWords(kind, records);
  for (const std::string& p : problems) out << p << "\n";
  for (const std::string& line : sounds) out << (strict ? "" : "warning: ") << line << "\n";
  const auto count = [](std::size_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
  };
  out << "checked " << file.string() << ": " << count(list.words.size(), "word") << ", "
      << count(problems.size() + (strict ? sounds.size() : 0), "problem") << ", "
      << count(strict ? 0 : sounds.size(), "warning") << "\n";
  out.flush();
  return problems.empty() && (!strict || sounds.empty()) ? kExitOk : kExitFailed;
}

// `check --explain WORD`.
int Explain(const std::string& word, std::ostream& out, std::ostream& err) {
  std::string why = WordSpellingProblem(word);
  // The letter-to-sound match grows with the word times its sounds.
  if (why.empty() && word.size() > kMaxWordLength)
    why = "longer than " + std::to_string(kMaxWordLength) + " letters";
  if (!why.empty()) {
    err << "tamblo-content: " << word << ": " << why << "\n";
    return kExitFailed;
  }
  try {
    out << ExplainPhonics(word, Pronounce(word, InstalledDictionary()));
  } catch (const std::exception& e) {
    err << "tamblo-content: " << e.what() << "\n";
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

int CheckCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                 const char* usage) {
  std::optional<fs::path> dir, words;
  std::optional<std::string> explain;
  std::vector<TTableKind> tables;
  bool strict = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--words" && i + 1 < args.size()) {
      words = args[++i];
    } else if (args[i] == "--explain" && i + 1 < args.size()) {
      explain = args[++i];
    } else if (args[i] == "--strict") {
      strict = true;
    } else if (args[i] == "--table" && i + 1 < args.size()) {
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
  const auto wrong = [&](const char* why) {
    err << "tamblo-content: " << why << "\n" << usage;
    return kExitUsage;
  };
  if (explain) {
    if (dir || words || !tables.empty() || strict) return wrong("--explain takes one word and nothing else");
    return Explain(*explain, out, err);
  }
  if (words) {
    if (dir) return wrong("check takes a folder or --words FILE, not both");
    if (tables.size() != 1 || !IsWordTable(tables[0]))
      return wrong("--words needs --table Blend, SVowel, LVowel or Conson");
    return CheckWordList(*words, tables[0], strict, out);
  }
  if (strict) return wrong("--strict goes with --words");
  if (!dir) return wrong("check needs a folder");
  if (tables.empty())
    for (const TTableInfo& info : kTables) tables.push_back(info.kind);
  return Check(*dir, tables, out, err);
}

}  // namespace tamblo::content_tool
