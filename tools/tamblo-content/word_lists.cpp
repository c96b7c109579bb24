#include "tools/tamblo-content/word_lists.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "dataset/ascii_text.h"
#include "tools/tamblo-content/effects.h"

namespace tamblo::content_tool {
namespace {

namespace fs = std::filesystem;

// The "Name" field of "SndFx".
constexpr std::size_t kMaxKeyLength = 10;

bool IsSelector(char32_t c) { return c == 0xFE0E || c == 0xFE0F; }

// Decodes UTF-8; answers false for malformed text.
bool DecodeUtf8(const std::string& text, std::u32string& out) {
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    int extra = lead < 0x80 ? 0 : (lead >> 5) == 6 ? 1 : (lead >> 4) == 14 ? 2 : (lead >> 3) == 30 ? 3 : -1;
    if (extra < 0 || i + static_cast<std::size_t>(extra) >= text.size()) return false;
    char32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      if ((next >> 6) != 2) return false;
      c = (c << 6) | (next & 0x3F);
    }
    out.push_back(c);
    i += static_cast<std::size_t>(extra) + 1;
  }
  return true;
}

bool IsWaveName(const std::string& text) {
  if (text.size() < 4) return false;
  return dataset::AsciiLower(text.substr(text.size() - 4)) == ".wav";
}

std::string ColumnsFor(TTableKind kind) {
  switch (kind) {
    case TTableKind::Blend:
      return "word, picture and an optional sound";
    case TTableKind::SVowel:
    case TTableKind::LVowel:
      return "word, picture, blank, letter and an optional sound";
    case TTableKind::Conson:
      return "word, picture, yes or no and an optional sound";
    case TTableKind::SndFx:
      return "key and a recipe or a sound";
  }
  return "";
}

class TListReader {
 public:
  TListReader(TWordList& list, fs::path dir) : list_(list), dir_(std::move(dir)) {}

  void Line(int number, const std::vector<std::string>& columns) {
    number_ = number;
    if (list_.kind == TTableKind::SndFx) {
      Effect(columns);
      return;
    }
    const std::size_t fixed = list_.kind == TTableKind::Blend ? 2 : list_.kind == TTableKind::Conson ? 3 : 4;
    if (columns.size() != fixed && columns.size() != fixed + 1) {
      Problem("expected " + ColumnsFor(list_.kind) + ", found " + std::to_string(columns.size()) +
              " columns");
      return;
    }
    TWordEntry entry;
    entry.line = number;
    entry.record.word = columns[0];
    if (!Picture(columns[1], entry.picture)) return;
    if (list_.kind == TTableKind::SVowel || list_.kind == TTableKind::LVowel) {
      entry.record.blank = columns[2];
      entry.record.letter = columns[3];
    } else if (list_.kind == TTableKind::Conson) {
      const std::string& flag = columns[2];
      if (flag == "yes" || flag == "true") {
        entry.record.usable = true;
      } else if (flag == "no" || flag == "false") {
        entry.record.usable = false;
      } else {
        Problem("\"" + flag + "\" should be yes or no");
        return;
      }
    }
    if (columns.size() == fixed + 1) {
      const fs::path sound = dir_ / columns[fixed];
      if (!IsWaveName(columns[fixed])) {
        Problem("the sound \"" + columns[fixed] + "\" should be a .wav file");
        return;
      }
      if (!Exists(sound)) return;
      entry.sound = sound;
    }
    list_.words.push_back(std::move(entry));
  }

 private:
  void Problem(const std::string& text) {
    list_.problems.push_back("line " + std::to_string(number_) + ": " + text);
  }

  bool Exists(const fs::path& file) {
    std::error_code ec;
    if (fs::is_regular_file(file, ec)) return true;
    Problem("no file " + file.string());
    return false;
  }

  bool Picture(const std::string& text, TPictureSource& picture) {
    picture.text = text;
    picture.emoji = EmojiCodePoints(text);
    if (!picture.emoji.empty()) return true;
    if (std::any_of(text.begin(), text.end(), [](unsigned char c) { return c >= 0x80; }) ||
        text.starts_with("U+") || text.starts_with("u+")) {
      Problem("\"" + text + "\" is not an emoji");
      return false;
    }
    picture.file = dir_ / text;
    return Exists(picture.file);
  }

  void Effect(const std::vector<std::string>& columns) {
    if (columns.size() != 2) {
      Problem("expected " + ColumnsFor(TTableKind::SndFx) + ", found " + std::to_string(columns.size()) +
              " columns");
      return;
    }
    TEffectEntry entry;
    entry.line = number_;
    entry.key = columns[0];
    if (entry.key.empty() || entry.key.size() > kMaxKeyLength) {
      Problem("the key \"" + entry.key + "\" should have 1 to " + std::to_string(kMaxKeyLength) +
              " characters");
      return;
    }
    if (IsWaveName(columns[1])) {
      if (!Exists(dir_ / columns[1])) return;
      entry.sound = dir_ / columns[1];
    } else if (IsRecipe(columns[1])) {
      entry.recipe = columns[1];
    } else {
      Problem("\"" + columns[1] + "\" is neither a recipe (" + RecipeNames() + ") nor a .wav file");
      return;
    }
    list_.effects.push_back(std::move(entry));
  }

  TWordList& list_;
  fs::path dir_;
  int number_ = 0;
};

void ContentProblems(TWordList& list) {
  if (list.kind == TTableKind::SndFx) {
    std::map<std::string, int> seen;
    for (const TEffectEntry& e : list.effects)
      if (!seen.emplace(e.key, e.line).second)
        list.problems.push_back(e.key + ": appears twice (lines " + std::to_string(seen[e.key]) + " and " +
                                std::to_string(e.line) + ")");
    for (std::string_view key : kEffectKeys)
      if (!seen.count(std::string(key))) list.problems.push_back("no effect \"" + std::string(key) + "\"");
    return;
  }
  std::map<std::string, int> seen;
  std::vector<TWordRecord> records;
  for (const TWordEntry& e : list.words) {
    for (const std::string& problem : RecordProblems(list.kind, e.record))
      list.problems.push_back(e.record.word + ": " + problem);
    if (!seen.emplace(e.record.word, e.line).second)
      list.problems.push_back(e.record.word + ": appears twice (lines " +
                              std::to_string(seen[e.record.word]) + " and " + std::to_string(e.line) + ")");
    records.push_back(e.record);
  }
  for (const std::string& problem : TableProblems(list.kind, records)) list.problems.push_back(problem);
}

}  // namespace

std::u32string EmojiCodePoints(const std::string& text) {
  std::u32string points;
  if (text.starts_with("U+") || text.starts_with("u+")) {
    // "U+1F3F3+FE0F": code points joined by "+", each hex.
    std::stringstream in(text.substr(2));
    std::string part;
    while (std::getline(in, part, '+')) {
      if (part.starts_with("U") || part.starts_with("u")) part.erase(0, 1);
      if (part.empty() || part.size() > 6 ||
          !std::all_of(part.begin(), part.end(), [](unsigned char c) { return std::isxdigit(c); }))
        return {};
      points.push_back(static_cast<char32_t>(std::stoul(part, nullptr, 16)));
    }
  } else if (!DecodeUtf8(text, points) ||
             std::any_of(points.begin(), points.end(), [](char32_t c) { return c < 0x80; })) {
    // Letters mixed in mean a file name, not an emoji.
    return {};
  }
  std::erase_if(points, IsSelector);
  return points;
}

std::string CodePointNames(const std::u32string& codePoints) {
  std::string out;
  for (char32_t c : codePoints) {
    char name[16];
    std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(c));
    out += (out.empty() ? "" : " ") + std::string(name);
  }
  return out;
}

TWordList ParseWordList(const std::string& text, TTableKind kind, const fs::path& dir) {
  TWordList list;
  list.kind = kind;
  TListReader reader(list, dir);
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (number == 1 && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream fields(line);
    std::vector<std::string> columns;
    for (std::string column; fields >> column;) columns.push_back(column);
    if (columns.empty() || columns[0].starts_with("#")) continue;
    reader.Line(number, columns);
  }
  ContentProblems(list);
  return list;
}

TWordList ReadWordList(const fs::path& file, TTableKind kind) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    TWordList list;
    list.kind = kind;
    list.file = file;
    list.problems.push_back("cannot read " + file.string());
    return list;
  }
  std::stringstream text;
  text << in.rdbuf();
  TWordList list = ParseWordList(text.str(), kind, file.parent_path());
  list.file = file;
  return list;
}

}  // namespace tamblo::content_tool
