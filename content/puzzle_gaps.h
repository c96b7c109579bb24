#pragma once
// Which letters a puzzle cuts out of its word. The game sets its puzzles up
// with these, and the content tool judges every word by them, so what the
// tool approves is exactly what a child is shown.

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace content {

// The blend list in the game's order, which decides which blend of an
// overlapping pair becomes the gap.
inline constexpr std::array<const char*, 27> kBlends = {
    "bl", "cl", "fl", "gl", "pl", "sl", "br", "cr", "dr", "fr", "gr", "pr", "tr", "wr",
    "sk", "sm", "sn", "sp", "st", "sw", "ch", "sh", "th", "wh", "ph", "sc", "ck"};

// Letters the consonant puzzle never cuts out.
inline constexpr std::string_view kPuzzleVowels = "aeiouy";

// Blocks offered per puzzle kind: one right block per gap at most.
inline constexpr std::size_t kBlendBlocks = 4;
inline constexpr std::size_t kConsonantGapLimit = 3;

struct TGap {
  std::size_t at = 0;  // 0-based letter position in the word
  std::string piece;   // the letters cut out
};

struct TGapCut {
  std::string shown;  // the word with a mark for each gap
  std::vector<TGap> gaps;
};

using TGapMade = std::function<void(const TGap&)>;

// Each different blend of the word once, at its first place, never starting
// inside an earlier gap; at most `blocks` of them, one per block. `made` is
// called as each gap is cut.
TGapCut CutBlendGaps(std::string_view word, std::size_t blocks = kBlendBlocks, const TGapMade& made = {});

// Each different consonant once, at its first place, up to three: the first
// always; in a word of five letters or more each further one only when
// `cutAnother` says so. `cutAnother` is asked once a gap exists, for every
// further new consonant while fewer than three are cut, whatever the length
// (the game draws for it even when it does not need to).
TGapCut CutConsonantGaps(std::string_view word, const std::function<bool()>& cutAnother,
                         const TGapMade& made = {});

// Every set of gaps the consonant puzzle can cut out of `word`, by every
// answer `cutAnother` could give.
std::vector<TGapCut> AllConsonantCuts(std::string_view word);

}  // namespace content
