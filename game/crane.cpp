// The crane acting out a choice: the wrong-block, right-block and building
// sequences on the 100 ms timer, with a sound cue for every movement.

#include <cstdlib>

#include "content/data_module.h"
#include "game/wrdcnst_form.h"
#include "media/image_library.h"
#include "media/media_player.h"
#include "toolkit/application.h"

namespace game {

using namespace toolkit;

namespace {

constexpr int kStep = 8;
constexpr int kPause = 5;
constexpr int kHookHeight = 21;
constexpr int kHalfHookWidth = 4;
constexpr int kHalfHookHeight = 10;

}  // namespace

int TfWrdCnst::GapFor(const std::string& text) const {
  const auto len = static_cast<std::size_t>(FGapLen);
  for (std::size_t p = 0; p < FWord.size(); ++p) {
    if (FWord.compare(p, len, text) == 0 && FShownWord.compare(p, len, FGapMark) == 0)
      return static_cast<int>(p) + 1;
  }
  return 0;
}

template <class F>
void TfWrdCnst::Sound(F&& call) {
  try {
    call();
  } catch (const media::EMCIDeviceError&) {
    SoundFailed(std::current_exception());
  } catch (const media::ErrorInvalid&) {
    SoundFailed(std::current_exception());
  }
}

void TfWrdCnst::SoundFailed(std::exception_ptr failure) {
  // A child is better served by a crane that goes on silently than by a
  // message at every movement: the first failure is told (message box and
  // stderr, as every reported error), the rest ignored.
  if (soundFailureShown_) return;
  soundFailureShown_ = true;
  App().HandleException(failure);
}

void TfWrdCnst::StopEffects() {
  Sound([&] { DBMediaPlayer1->Stop(); });
}

void TfWrdCnst::SpeakWord() {
  Sound([&] { DBMediaPlayer3->Play(); });
}

void TfWrdCnst::Cue(const char* key) {
  trace_.Write("cue", {{"key", TTrace::Quote(key)}, {"tick", std::to_string(ticks_)}});
  // The key search moves the effects table, and its media control loads the
  // effect. An effects table that cannot be read is a sound failure like any
  // other: told once, and the crane goes on silently rather than stopping
  // half way, block in the air.
  try {
    DataModule1.dbSndFx.FindKey({std::string(key)});
  } catch (const std::exception&) {
    SoundFailed(std::current_exception());
    return;
  }
  Sound([&] { DBMediaPlayer1->Play(); });
}

void TfWrdCnst::BlockChosen(int index) {
  FBlockColor[index] = kBlockBlue;
  const int p = GapFor(FBlockText[index]);
  if (p > 0) {
    int target = FWordX;
    if (p > 1) {
      lblText->SetCaption(FShownWord.substr(0, static_cast<std::size_t>(p - 1)));
      target = FWordX + lblText->Width() + imgWork->Canvas().TextWidth(FGapMark) / 2;
    }
    FSelected = index;
    FGapPos = p;
    FTargetX = target;
    FPhase = 1;
    Cue("craneh");
    FPlacing = true;
  } else {
    FSelected = index;
    FPhase = 1;
    Cue("craneh");
    FRejecting = true;
  }
  Timer1->SetEnabled(true);
}

void TfWrdCnst::Timer1Timer() {
  ++ticks_;
  try {
    const int aim =
        FBlockX[FSelected] + imgWork->Canvas().TextWidth(FBlockText[FSelected]) / 2 - kHalfHookWidth;
    if (FRejecting) RunRejecting(aim);
    if (FPlacing) RunPlacing();
    if (FBuilding) RunBuilding();
  } catch (...) {
    // A step that failed has not moved on, so the next tick would fail again,
    // with a message every 100 ms: the sequence ends here and is told once.
    Timer1->SetEnabled(false);
    FPlacing = FRejecting = FBuilding = false;
    ComposeScene();
    ShowScene();
    throw;
  }
  ComposeScene();
  ShowScene();
}

bool TfWrdCnst::HookTravelsTo(int x) {
  FHookX += x >= FHookX ? kStep : -kStep;
  return std::abs(FHookX - x) < kStep;
}

bool TfWrdCnst::HookLowersOnto(int block) {
  if (FBlockY[block] - kHalfHookHeight > FHookY) FHookY += kStep;
  return FHookY >= FBlockY[block] - kHalfHookHeight;
}

void TfWrdCnst::EndStep(const char* cue) {
  StopEffects();
  Cue(cue);
  ++FPhase;
}

void TfWrdCnst::RunRejecting(int aim) {
  const int s = FSelected;
  if (FPhase == 1 && HookTravelsTo(aim)) {
    FHookX = FBlockX[s] + kStep;
    EndStep("cranev");
  }
  if (FPhase == 2 && HookLowersOnto(s)) {
    FHookY = FBlockY[s] - kHookHeight;  // resting on top of the block
    EndStep("konk");
    FTicks = kPause;
  }
  if (FPhase == 3) {
    FBlockColor[s] = kBlockRed;
    --FTicks;
    if (FTicks <= 1) {
      trace_.Write("wrong", {{"text", TTrace::Quote(FBlockText[s])}});
      EndStep("cranev");
    }
  }
  if (FPhase == 4) {
    FHookY -= kStep;
    if (FHookY <= kStep) {
      FHookY = 0;
      StopEffects();
      FRejecting = false;
    }
  }
}

void TfWrdCnst::RunPlacing() {
  const int s = FSelected;
  if (FPhase == 1 && HookTravelsTo(FBlockX[s] + kHalfHookWidth)) {
    FHookX = FBlockX[s] + kHalfHookWidth;
    EndStep("cranev");
  }
  if (FPhase == 2 && HookLowersOnto(s)) {
    FHookY = FBlockY[s] - kHalfHookHeight;  // overlapping the block's top, to grip it
    EndStep("clack");
    FTicks = kPause;
  }
  if (FPhase == 3) {
    FBlockColor[s] = kBlockGreen;
    --FTicks;
    if (FTicks <= 1) {
      EndStep("cranev");
    }
  }
  if (FPhase == 4) {
    FHookY -= kStep;
    FBlockY[s] -= kStep;
    if (FHookY <= kStep) {
      FHookY = 0;
      EndStep("craneh");
    }
  }
  if (FPhase == 5) {
    if (FTargetX < FHookX) {
      FHookX -= kStep;
      FBlockX[s] -= kStep;
    } else {
      FHookX = FTargetX;
      EndStep("cranev");
    }
  }
  if (FPhase == 6) {
    FHookY += kStep;
    FBlockY[s] += kStep;
    if (FHookY + kHookHeight >= FWordY) {
      FHookY = FWordY - kHookHeight;
      EndStep("click");
      FTicks = kPause;
    }
  }
  if (FPhase == 7) {
    if (FTicks == kPause) {
      const auto at = static_cast<std::size_t>(FGapPos - 1);
      FShownWord.erase(at, static_cast<std::size_t>(FGapLen));
      FBlockX[s] = kPlacedX;
      FShownWord.insert(at, FBlockText[s]);
      trace_.Write("placed", {{"text", TTrace::Quote(FBlockText[s])}, {"shown", TTrace::Quote(FShownWord)}});
    }
    --FTicks;
    if (FTicks <= 1) {
      EndStep("cranev");
    }
  }
  if (FPhase == 8) {
    FHookY -= kStep;
    if (FHookY <= kStep) {
      FHookY = 0;
      StopEffects();
      FPhase = 9;
    }
  }
  if (FPhase == 9) {
    FPlacing = false;
    if (FShownWord == FWord) {
      StopEffects();
      FBuilding = true;
      FPhase = 1;
    }
  }
}

void TfWrdCnst::RunBuilding() {
  if (FPhase == 1) {
    StopEffects();
    Cue("constr");
    ++FLevel;
    trace_.Write("floor", {{"level", std::to_string(FLevel)}});
    FFacadeCount = 1;
    FGirderCount = 0;
    FTicks = kPause;
    FPhase = 2;
  }
  if (FPhase == 2) {
    if (FTicks <= 1) {
      ++FFacadeCount;
      FTicks = kPause;
      if (FFacadeCount >= 4) {
        FGirderCount = 1;
        FPhase = 3;
      }
    }
    --FTicks;
  }
  // The girders' step runs in the tick the facades finish, counting that
  // tick a second time: the first girder stands three ticks, the others four.
  if (FPhase == 3) {
    if (FTicks <= 1) {
      ++FGirderCount;
      FTicks = kPause;
      if (FGirderCount >= 4) {
        StopEffects();
        FPhase = 4;
      }
    }
    --FTicks;
  }
  if (FPhase == 4) {
    FBuilding = false;
    if (FLevel >= 4)
      imgNext->SetVisible(true);
    else
      NewPuzzle();
    Timer1->SetEnabled(false);
  }
}

}  // namespace game
