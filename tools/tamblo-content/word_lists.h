#pragma once
// The plain-text lists the tables are built from. One entry per line,
// columns separated by spaces or tabs, "#" starting a comment line:
//
//   Blend            word picture [sound]
//   SVowel, LVowel   word picture blank letter [sound]
//   Conson           word picture yes|no [sound]
//   SndFx            key recipe|sound
//
// A picture is an emoji, written as itself or as code points ("U+1F438"), or
// an image file; a sound is a WAV file. Files are named relative to the list.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tools/tamblo-content/content_rules.h"

namespace tamblo::content_tool {

struct TPictureSource {
  std::u32string emoji;        // code points, variation selectors dropped
  std::filesystem::path file;  // when not an emoji
  std::string text;            // as written in the list
};

struct TWordEntry {
  int line = 0;
  TWordRecord record;
  TPictureSource picture;
  std::optional<std::filesystem::path> sound;  // none: the synthesizer speaks it
};

struct TEffectEntry {
  int line = 0;
  std::string key;
  std::string recipe;  // when no sound file
  std::optional<std::filesystem::path> sound;
};

struct TWordList {
  TTableKind kind = TTableKind::Blend;
  std::filesystem::path file;
  std::vector<TWordEntry> words;
  std::vector<TEffectEntry> effects;
  // "line 12: ..." for what cannot be read, then the content rules' problems
  // as "word: problem".
  std::vector<std::string> problems;
};

// Reads and checks a list; a file that cannot be read is one problem.
TWordList ReadWordList(const std::filesystem::path& file, TTableKind kind);
// The same from text, with files named relative to `dir`.
TWordList ParseWordList(const std::string& text, TTableKind kind, const std::filesystem::path& dir);

// "U+1F438" and literal emoji alike become code points; empty when `text` is
// neither.
std::u32string EmojiCodePoints(const std::string& text);
// Names the code points as "U+1F438 U+1F43B".
std::string CodePointNames(const std::u32string& codePoints);

}  // namespace tamblo::content_tool
