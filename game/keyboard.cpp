// Play without a pointer: every key does what a click would, through the
// same handlers, so the rules stay in one place.

#include "game/wrdcnst_form.h"
#include "media/media_player.h"

namespace game {

using namespace toolkit;

void TfWrdCnst::FormKeyDown(TKey& key, TShiftState shift) {
  const TKey pressed = key;
  key = 0;  // the form's keys are its own
  // A key held down, by a child or a switch, chooses once; only the highlight
  // may run on along the blocks.
  if ((shift & ssRepeat) && pressed != VK_LEFT && pressed != VK_RIGHT) return;
  const bool ctrl = (shift & ssCtrl) != 0;
  if (ctrl && pressed == 'Q') return imgExitClick();
  if (ctrl && pressed == 'M') return SwitchSound();
  if (pressed == VK_F11) return SetFullscreen(!Fullscreen());
  if (ctrl || (shift & ssAlt)) return;
  if (Busy()) return;
  switch (pressed) {
    case VK_LEFT: return MoveHighlight(-1);
    case VK_RIGHT: return MoveHighlight(+1);
    case VK_SPACE: return SpeakWord();
    case VK_RETURN:
      if (imgNext->Visible()) return imgNextClick();
      if (const int block = HighlightedBlock()) BlockChosen(block);
      return;
    default:
      break;
  }
  // A typed letter only ever chooses: a child typing guesses must not switch
  // the sound off, so the switch is Ctrl+M and the sign.
  if (pressed >= 'A' && pressed <= 'Z') TypeLetter(static_cast<char>(pressed - 'A' + 'a'));
}

int TfWrdCnst::HighlightedBlock() const {
  if (FHighlight == 0 || Busy() || imgNext->Visible()) return 0;
  // A block placed since keeps its slot; the highlight goes on to the next one.
  for (int k = 0; k < FBlockCount; ++k) {
    const int block = (FHighlight - 1 + k) % FBlockCount + 1;
    if (Unplaced(block)) return block;
  }
  return 0;
}

void TfWrdCnst::MoveHighlight(int step) {
  if (FBlockCount <= 0) return;
  const int from = HighlightedBlock();
  if (from == 0) {
    // The first press lights the first block from the end the key points from.
    for (int k = 0; k < FBlockCount; ++k) {
      const int block = step > 0 ? 1 + k : FBlockCount - k;
      if (Unplaced(block)) {
        FHighlight = block;
        break;
      }
    }
  } else {
    int block = from;
    do block = (block - 1 + step + FBlockCount) % FBlockCount + 1;
    while (!Unplaced(block) && block != from);
    FHighlight = block;
  }
  ComposeScene();
  ShowScene();
}

int TfWrdCnst::UnplacedBlockWith(const std::string& text, bool prefix) const {
  for (int block = 1; block <= FBlockCount; ++block) {
    if (!Unplaced(block)) continue;
    const std::string& t = FBlockText[block];
    if (prefix ? t.size() > text.size() && t.compare(0, text.size(), text) == 0 : t == text)
      return block;
  }
  return 0;
}

bool TfWrdCnst::TypeLetter(char letter) {
  const std::uint32_t now = Now();
  std::string typed(1, letter);
  // Differences of tick readings, so a wrap of the counter cannot join letters.
  if (!FTyped.empty() && now - FTypedAt <= kBlendTypingMilliseconds) typed = FTyped + letter;
  FTyped.clear();
  for (;;) {
    if (const int block = UnplacedBlockWith(typed, false)) {
      BlockChosen(block);
      return true;
    }
    if (UnplacedBlockWith(typed, true)) {
      FTyped = typed;
      FTypedAt = now;
      return true;
    }
    // A first letter that led nowhere may begin something on its own.
    if (typed.size() == 1) return false;
    typed.assign(1, letter);
  }
}

void TfWrdCnst::SwitchSound() {
  media::SetSoundMuted(!media::SoundMuted());
  imgSoundOff->SetVisible(media::SoundMuted());
}

}  // namespace game
