#include "tools/tamblo-content/build.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "tools/tamblo-content/check.h"
#include "tools/tamblo-content/commands.h"
#include "tools/tamblo-content/content_tables.h"
#include "tools/tamblo-content/effects.h"
#include "tools/tamblo-content/pictures.h"
#include "tools/tamblo-content/speech.h"
#include "tools/tamblo-content/word_lists.h"

namespace tamblo::content_tool {
namespace {

namespace fs = std::filesystem;

// Progress steps a spoken word counts for, against one for a picture.
constexpr std::size_t kSpeechWeight = 5;

std::vector<std::uint8_t> ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

// A folder inside the output folder, so the finished files can be renamed
// into place; removed with whatever is left in it.
class TStaging {
 public:
  explicit TStaging(const fs::path& outDir) {
    std::string pattern = (outDir / ".tamblo-content-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
      throw std::runtime_error("cannot make a folder in " + outDir.string() + ": " + std::strerror(errno));
    path_ = pattern;
  }
  ~TStaging() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  TStaging(const TStaging&) = delete;
  TStaging& operator=(const TStaging&) = delete;
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

class TProgress {
 public:
  TProgress(std::ostream& err, bool bar) : err_(err), bar_(bar) {}
  void SetTotal(std::size_t total) { total_ = std::max<std::size_t>(1, total); }
  void Step(const char* stage, std::size_t weight = 1) {
    done_ += weight;
    if (!bar_) return;
    // Redrawn only when the bar visibly moves.
    const int width = 30;
    const int filled = static_cast<int>(done_ * width / total_);
    const int percent = static_cast<int>(done_ * 100 / total_);
    if (percent == lastPercent_ && stage == lastStage_) return;
    lastPercent_ = percent;
    lastStage_ = stage;
    err_ << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
         << std::string(static_cast<std::size_t>(width - filled), '.') << "] " << percent << "% " << stage
         << "\x1b[K" << std::flush;
  }
  // A finished table: a line of its own, or the bar carries on.
  void Table(const std::string& line) {
    if (bar_) return;
    err_ << line << "\n" << std::flush;
  }
  void Finish() {
    if (bar_) err_ << "\r\x1b[K" << std::flush;
  }

 private:
  std::ostream& err_;
  bool bar_;
  std::size_t total_ = 1, done_ = 0;
  int lastPercent_ = -1;
  const char* lastStage_ = nullptr;
};

struct TTableWork {
  TWordList list;
  std::vector<TWordRow> rows;
  std::vector<TEffectRow> effects;
};

class TBuilder {
 public:
  TBuilder(const TBuildRequest& request, std::ostream& err)
      : request_(request), err_(err), progress_(err, request.progressBar) {}

  int Run(std::ostream& out) {
    const auto started = std::chrono::steady_clock::now();
    if (!ReadLists()) return Failed();
    std::size_t units = 0;
    // A picture and a sound for each word, one step for each effect and table;
    // speaking a word takes the time of several pictures.
    for (const TTableWork& t : work_)
      units += (1 + kSpeechWeight) * t.list.words.size() + t.list.effects.size() + 1;
    progress_.SetTotal(units);
    Pictures();
    OwnSounds();
    Effects();
    if (!problems_.empty()) return Failed();
    Speak();
    if (!problems_.empty()) return Failed();
    TStaging staging(request_.outDir);
    std::vector<TTableKind> kinds;
    for (TTableWork& t : work_) {
      if (t.list.kind == TTableKind::SndFx)
        WriteEffectTable(staging.Path(), t.effects);
      else
        WriteWordTable(staging.Path(), t.list.kind, t.rows);
      kinds.push_back(t.list.kind);
      progress_.Step("writing tables");
      const std::size_t n = t.list.kind == TTableKind::SndFx ? t.effects.size() : t.rows.size();
      progress_.Table(std::string(TableName(t.list.kind)) + ": " + std::to_string(n) +
                      (t.list.kind == TTableKind::SndFx ? " effects" : " words"));
    }
    const TPhonics phonics =
        request_.wordsFile && !request_.strict ? TPhonics::Warnings : TPhonics::Problems;
    const TCheckResult check = CheckTables(staging.Path(), kinds, phonics);
    problems_ = check.problems;
    if (!problems_.empty()) return Failed();
    MoveIntoPlace(staging.Path(), kinds);
    progress_.Finish();
    for (const std::string& warning : check.warnings) err_ << "warning: " << warning << "\n";
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    char took[32];
    std::snprintf(took, sizeof took, "%.1f", seconds);
    out << "built " << check.summary << " in " << request_.outDir.string() << " (" << took << " s)\n";
    return kExitOk;
  }

 private:
  int Failed() {
    progress_.Finish();
    for (const std::string& p : problems_) err_ << p << "\n";
    err_ << "tamblo-content: nothing was replaced in " << request_.outDir.string() << "\n";
    return kExitFailed;
  }

  void Problem(const TTableWork& t, const std::string& word, const std::string& text) {
    problems_.push_back(std::string(TableName(t.list.kind)) + ": " + (word.empty() ? "" : word + ": ") +
                        text);
  }

  bool ReadLists() {
    if (request_.wordsFile) {
      work_.push_back({ReadWordList(*request_.wordsFile, request_.table), {}, {}});
    } else {
      for (const TTableInfo& info : kTables)
        work_.push_back(
            {ReadWordList(*request_.dataDir / (std::string(info.name) + ".txt"), info.kind), {}, {}});
    }
    for (TTableWork& t : work_) {
      for (const std::string& p : t.list.problems) Problem(t, "", p);
      t.rows.resize(t.list.words.size());
      for (std::size_t i = 0; i < t.rows.size(); ++i) t.rows[i].record = t.list.words[i].record;
    }
    return problems_.empty();
  }

  void Pictures() {
    std::map<std::u32string, std::vector<std::uint8_t>> drawn;
    for (TTableWork& t : work_) {
      for (std::size_t i = 0; i < t.list.words.size(); ++i) {
        const TWordEntry& e = t.list.words[i];
        TWordRow& row = t.rows[i];
        if (!e.picture.emoji.empty()) {
          row.pictureSource = CodePointNames(e.picture.emoji);
          auto found = drawn.find(e.picture.emoji);
          if (found == drawn.end()) {
            if (!font_) font_ = std::make_unique<TEmojiFont>();
            if (!font_->Provides(e.picture.emoji)) {
              Problem(t, e.record.word, "the emoji " + row.pictureSource + " is not in " + font_->File());
            } else {
              found = drawn.emplace(e.picture.emoji, EncodePng(font_->Render(e.picture.emoji))).first;
            }
          }
          if (found != drawn.end()) row.graphic = found->second;
        } else {
          row.pictureSource = e.picture.file.filename().string();
          std::string why;
          const TRgbPicture picture = FitPicture(ReadBytes(e.picture.file), why);
          if (picture.rgb.empty())
            Problem(t, e.record.word, "picture " + e.picture.file.string() + ": " + why);
          else
            row.graphic = EncodePng(picture);
        }
        progress_.Step("drawing pictures");
      }
    }
  }

  void OwnSounds() {
    for (TTableWork& t : work_) {
      for (std::size_t i = 0; i < t.list.words.size(); ++i) {
        const TWordEntry& e = t.list.words[i];
        if (!e.sound) continue;
        t.rows[i].soundSource = e.sound->filename().string();
        std::string why;
        const std::optional<TSound> sound = ReadWaveFile(*e.sound, why);
        progress_.Step("reading recordings", kSpeechWeight);
        if (!sound) {
          Problem(t, e.record.word, "sound " + e.sound->string() + ": " + why);
          continue;
        }
        const TSound levelled = LevelWord(*sound);
        if (levelled.samples.empty())
          Problem(t, e.record.word, "sound " + e.sound->string() + ": silent");
        else
          t.rows[i].sound = WriteWave16(levelled);
      }
    }
  }

  void Effects() {
    for (TTableWork& t : work_) {
      for (const TEffectEntry& e : t.list.effects) {
        TEffectRow row;
        row.key = e.key;
        TSound sound;
        if (e.sound) {
          row.source = e.sound->filename().string();
          std::string why;
          std::optional<TSound> read = ReadWaveFile(*e.sound, why);
          if (!read) {
            Problem(t, e.key, "sound " + e.sound->string() + ": " + why);
            continue;
          }
          sound = Resample(*read, kTableRate);
        } else {
          row.source = e.recipe;
          sound = SynthesizeEffect(e.recipe);
        }
        // Effects are levelled like the words, so neither drowns the other.
        Normalize(sound, kTargetLoudness, kPeakCeiling);
        FadeEnds(sound, 0.003, 0.02);
        row.sound = WriteWave16(sound);
        t.effects.push_back(std::move(row));
        progress_.Step("making effects");
      }
    }
  }

  void Speak() {
    // A word in several tables is spoken once.
    std::vector<std::string> words;
    std::set<std::string> seen;
    for (const TTableWork& t : work_)
      for (const TWordEntry& e : t.list.words)
        if (!e.sound && seen.insert(e.record.word).second) words.push_back(e.record.word);
    // Words shared between tables count once in the bar: step the extra ones now.
    std::size_t spoken = 0;
    for (const TTableWork& t : work_)
      for (const TWordEntry& e : t.list.words) spoken += e.sound ? 0 : 1;
    for (std::size_t i = words.size(); i < spoken; ++i) progress_.Step("speaking words", kSpeechWeight);
    const int jobs = request_.jobs > 0 ? request_.jobs
                                       : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    const std::vector<TSpokenWord> said =
        SpeakWords(words, jobs, [this] { progress_.Step("speaking words", kSpeechWeight); });
    std::map<std::string, const TSpokenWord*> byWord;
    for (std::size_t i = 0; i < words.size(); ++i) byWord[words[i]] = &said[i];
    const std::string voice = VoiceDescription();
    for (TTableWork& t : work_) {
      for (std::size_t i = 0; i < t.list.words.size(); ++i) {
        if (t.list.words[i].sound) continue;
        const TSpokenWord& w = *byWord[t.rows[i].record.word];
        if (!w.error.empty()) {
          Problem(t, t.rows[i].record.word, "cannot be spoken: " + w.error);
          continue;
        }
        t.rows[i].sound = WriteWave16(w.sound);
        t.rows[i].soundSource = voice;
      }
    }
  }

  // Table by table, each file renamed over the old; a file the new table no
  // longer has goes.
  void MoveIntoPlace(const fs::path& staging, const std::vector<TTableKind>& kinds) {
    for (TTableKind kind : kinds) {
      for (const char* ext : kTableExtensions) {
        const std::string file = std::string(TableName(kind)) + ext;
        if (fs::exists(staging / file))
          fs::rename(staging / file, request_.outDir / file);
        else
          fs::remove(request_.outDir / file);
      }
    }
  }

  const TBuildRequest& request_;
  std::ostream& err_;
  TProgress progress_;
  std::vector<TTableWork> work_;
  std::vector<std::string> problems_;
  std::unique_ptr<TEmojiFont> font_;
};

}  // namespace

int Build(const TBuildRequest& request, std::ostream& out, std::ostream& err) {
  std::error_code ec;
  fs::create_directories(request.outDir, ec);
  if (!fs::is_directory(request.outDir)) {
    err << "tamblo-content: cannot make the folder " << request.outDir.string() << "\n";
    return kExitFailed;
  }
  try {
    TBuilder builder(request, err);
    return builder.Run(out);
  } catch (const std::exception& e) {
    err << "tamblo-content: " << e.what() << "\n";
    err << "tamblo-content: nothing was replaced in " << request.outDir.string() << "\n";
    return kExitFailed;
  }
}

int BuildCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                 const char* usage) {
  TBuildRequest request;
  std::optional<std::string> table, outDir;
  auto wrong = [&](const std::string& why) {
    err << "tamblo-content: " << why << "\n" << usage;
    return kExitUsage;
  };
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--strict") {
      request.strict = true;
      continue;
    }
    const bool takesValue =
        a == "--data" || a == "--words" || a == "--table" || a == "--out" || a == "--jobs";
    if (!takesValue) return wrong("unknown option " + a);
    if (i + 1 == args.size()) return wrong(a + " needs a value");
    const std::string& value = args[++i];
    if (a == "--data") request.dataDir = value;
    if (a == "--words") request.wordsFile = value;
    if (a == "--table") table = value;
    if (a == "--out") outDir = value;
    if (a == "--jobs") {
      request.jobs = std::atoi(value.c_str());
      if (request.jobs < 1) return wrong("--jobs needs a number from 1");
    }
  }
  if (!outDir) return wrong("build needs --out DIR");
  if (request.dataDir.has_value() == request.wordsFile.has_value())
    return wrong("build needs either --data DIR or --words FILE");
  if (request.wordsFile) {
    const std::optional<TTableKind> kind = table ? TableKindByName(*table) : std::nullopt;
    if (!kind || !IsWordTable(*kind)) return wrong("--words needs --table Blend, SVowel, LVowel or Conson");
    request.table = *kind;
  } else if (table) {
    return wrong("--table goes with --words");
  } else if (request.strict) {
    return wrong("--strict goes with --words");
  }
  request.outDir = *outDir;
  request.progressBar = &err == &std::cerr && isatty(STDERR_FILENO);
  return Build(request, out, err);
}

}  // namespace tamblo::content_tool
