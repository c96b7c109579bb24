#include "content/puzzle_gaps.h"

#include <algorithm>

namespace content {

TGapCut CutBlendGaps(std::string_view word, std::size_t blocks, const TGapMade& made) {
  TGapCut cut{std::string(word), {}};
  for (std::size_t p = 0; p < cut.shown.size(); ++p) {
    // Read from the shown word, so a gap's marks never start a blend.
    const std::string piece = cut.shown.substr(p, 2);
    for (std::string_view blend : kBlends) {
      if (piece != blend) continue;
      if (std::any_of(cut.gaps.begin(), cut.gaps.end(), [&](const TGap& g) { return g.piece == piece; }))
        continue;
      // More blends than blocks: the rest stay in the word.
      if (cut.gaps.size() >= blocks) continue;
      cut.shown.replace(p, 2, "__");
      cut.gaps.push_back({p, piece});
      if (made) made(cut.gaps.back());
    }
  }
  return cut;
}

TGapCut CutConsonantGaps(std::string_view word, const std::function<bool()>& cutAnother, const TGapMade& made) {
  TGapCut cut{std::string(word), {}};
  std::string taken;
  for (std::size_t p = 0; p < cut.shown.size(); ++p) {
    const char ch = cut.shown[p];
    if (kPuzzleVowels.find(ch) != std::string_view::npos || cut.gaps.size() >= kConsonantGapLimit ||
        taken.find(ch) != std::string::npos)
      continue;
    if (!cut.gaps.empty() && !cutAnother() && word.size() >= 5) continue;
    cut.shown[p] = '_';
    taken += ch;
    cut.gaps.push_back({p, std::string(1, ch)});
    if (made) made(cut.gaps.back());
  }
  return cut;
}

std::vector<TGapCut> AllConsonantCuts(std::string_view word) {
  // Replays the cut with every string of answers; each answer that cuts
  // brings the limit nearer, so the paths stay few.
  std::vector<TGapCut> cuts;
  std::vector<std::vector<bool>> pending{{}};
  while (!pending.empty()) {
    const std::vector<bool> answers = pending.back();
    pending.pop_back();
    std::size_t asked = 0;
    bool ranOut = false;
    TGapCut cut = CutConsonantGaps(word, [&] {
      if (asked < answers.size()) return static_cast<bool>(answers[asked++]);
      ranOut = true;
      ++asked;
      return false;
    });
    if (ranOut) {
      // Asked past the script: try the other answer at the first new question.
      std::vector<bool> yes(answers), no(answers);
      yes.push_back(true);
      no.push_back(false);
      pending.push_back(yes);
      pending.push_back(no);
      continue;
    }
    if (std::none_of(cuts.begin(), cuts.end(), [&](const TGapCut& c) { return c.shown == cut.shown; }))
      cuts.push_back(std::move(cut));
  }
  return cuts;
}

}  // namespace content
