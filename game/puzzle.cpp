// Setting up one puzzle: which word, which letters are cut out of it, and
// which blocks the crane offers.

#include <stdexcept>

#include "content/data_module.h"
#include "content/puzzle_gaps.h"
#include "game/wrdcnst_form.h"
#include "game/wrdcnst_layout.h"
#include "media/media_view.h"
#include "media/picture_view.h"

namespace game {

using namespace toolkit;

namespace {

constexpr std::string_view kVowelPool = "aeiouyaeiouybcdgpk";
constexpr std::string_view kConsonantPool = "bcdfghjklmnpqrstvxz";

struct TKind {
  const char* gapMark;
  int gapLen, blockCount, blockSpacing, drawLimit;
};
// Indexed by mode; entry 0 is unused.
constexpr TKind kKinds[] = {
    {},
    {"__", 2, 4, 52, 40},
    {"_", 1, 6, 36, 20},
    {"_", 1, 6, 36, 20},
    {"_", 1, 6, 36, 40},
};

bool Contains(const std::string& text, std::string_view piece) {
  return text.find(piece) != std::string::npos;
}

}  // namespace

ledger::TLedgerTable& TfWrdCnst::ModeTable() const {
  content::TDataModule1& dm = DataModule1;
  switch (FMode) {
    case kBlendMode: return dm.dbBlend;
    case kShortVowelMode: return dm.dbSVowel;
    case kLongVowelMode: return dm.dbLVowel;
    default: return dm.dbConson;
  }
}

dataset::TDataSource& TfWrdCnst::ModeSource() const {
  content::TDataModule1& dm = DataModule1;
  switch (FMode) {
    case kBlendMode: return dm.dsBlend;
    case kShortVowelMode: return dm.dsSVowel;
    case kLongVowelMode: return dm.dsLVowel;
    default: return dm.dsConson;
  }
}

void TfWrdCnst::NewPuzzle() {
  FPlacing = false;
  FRejecting = false;
  imgNext->SetVisible(false);
  FWordY = 216 - 64 * FLevel;
  const TKind& kind = kKinds[FMode];
  FGapLen = kind.gapLen;
  FBlockCount = kind.blockCount;
  FBlockSpacing = kind.blockSpacing;
  FGapMark = kind.gapMark;
  DBPictureView1->SetDataSource(&ModeSource());
  DBMediaView3->SetDataSource(&ModeSource());

  imgBack->Canvas().Font = SceneFont(kWordPoints);

  for (int i = 1; i <= kBlockSlots; ++i) {
    FBlockY[i] = 180;
    FBlockX[i] = 272 + (i - 1) * FBlockSpacing;
    FBlockText[i] = FMode == kBlendMode ? "==" : "=";
    FBlockColor[i] = clBlack;
  }

  try {
    Reseed();
    switch (FMode) {
      case kBlendMode: SetUpBlend(); break;
      case kShortVowelMode:
      case kLongVowelMode: SetUpVowel(ModeTable()); break;
      default: SetUpConsonant(); break;
    }
  } catch (...) {
    NoPuzzle();
    throw;
  }

  if (trace_.On()) {
    std::string blocks = "[";
    for (int i = 1; i <= FBlockCount; ++i) {
      // Window coordinates and the hit test's own size, as the pointer sees them.
      const TPoint size = BlockExtent(i);
      if (i > 1) blocks += ", ";
      blocks += "{\"text\": " + TTrace::Quote(FBlockText[i]) +
                ", \"x\": " + std::to_string(imgBack->Left() + FBlockX[i]) +
                ", \"y\": " + std::to_string(imgBack->Top() + FBlockY[i]) +
                ", \"w\": " + std::to_string(size.X) + ", \"h\": " + std::to_string(size.Y) +
                ", \"right\": " + (GapFor(FBlockText[i]) > 0 ? "true" : "false") +
                "}";
    }
    // Where the shown word is drawn, so a picture of the scene can be
    // compared apart from its text, whose rasterisation varies by platform.
    TCanvas measure;
    measure.Font = SceneFont(kWordPoints);
    const TPoint shownSize = measure.TextExtent(FShownWord);
    const std::string shownBox = "{\"x\": " + std::to_string(imgBack->Left() + FWordX) +
                                 ", \"y\": " + std::to_string(imgBack->Top() + FWordY) +
                                 ", \"w\": " + std::to_string(shownSize.X) +
                                 ", \"h\": " + std::to_string(shownSize.Y) + "}";
    trace_.Write("puzzle", {{"kind", std::to_string(FMode)},
                            {"word", TTrace::Quote(FWord)},
                            {"shown", TTrace::Quote(FShownWord)},
                            {"shown_box", shownBox},
                            {"blocks", blocks + "]"}});
  }

  StopEffects();
  SpeakWord();
}

void TfWrdCnst::NoPuzzle() {
  // The slots were reset for a puzzle that never came: offer nothing, stop the
  // timer and put up the Next sign, so the player can try another building or
  // leave by EXIT.
  FBlockCount = 0;
  FWord.clear();
  FShownWord.clear();
  FPlacing = FRejecting = FBuilding = false;
  Timer1->SetEnabled(false);
  imgNext->SetVisible(true);
  ComposeScene();
  ShowScene();
}

int TfWrdCnst::ChooseRecord(ledger::TLedgerTable& table) {
  // One mark per record position: a longer table offers its first 200 words,
  // and an empty one has nothing to offer.
  const int n = std::min(table.RecordCount(), kUsedMarks);
  if (n <= 0) throw std::runtime_error("The table " + table.TableName() + " holds no words");
  const int limit = kKinds[FMode].drawLimit;
  int draws = 0;
  int pos = 0;
  for (;;) {
    pos = Draw(n);
    ++draws;
    if (FMode == kConsonantMode) table.SetRecNo(pos + 1);
    if (draws <= limit && FUsed[pos]) continue;
    if (FMode == kConsonantMode && !table.FieldByName("Contruction").AsBoolean()) {
      // Content without a usable word would keep this loop going for ever.
      if (draws > limit + 100 * n)
        throw std::runtime_error("The table " + table.TableName() + " holds no usable words");
      continue;
    }
    break;
  }
  FUsed[pos] = true;
  table.SetRecNo(pos + 1);
  FWord = table.FieldByName("Word").AsString();
  return pos;
}

void TfWrdCnst::CentreWord() {
  FWordX = 136 - imgBack->Canvas().TextWidth(FShownWord) / 2;
}

void TfWrdCnst::SetUpBlend() {
  ChooseRecord(ModeTable());
  const auto& blends = Find<TListBox>("LstBlend").Items;
  const auto offer = [&](const content::TGap& gap) {
    int slot;
    do slot = Draw(4) + 1;
    while (FBlockText[slot] != "==");
    FBlockText[slot] = gap.piece;
  };
  FShownWord = content::CutBlendGaps(FWord, static_cast<std::size_t>(FBlockCount), offer).shown;
  CentreWord();
  for (int i = 1; i <= FBlockCount; ++i) {
    if (FBlockText[i] != "==") continue;
    std::string wrong;
    do wrong = blends[static_cast<std::size_t>(Draw(static_cast<int>(blends.size())))];
    while (Contains(FWord, wrong));
    FBlockText[i] = wrong;
  }
}

void TfWrdCnst::SetUpVowel(ledger::TLedgerTable& table) {
  ChooseRecord(table);
  FShownWord = table.FieldByName("Blank").AsString();
  CentreWord();
  const std::string letter = table.FieldByName("Letter").AsString();
  FBlockText[Draw(6) + 1] = letter;
  for (int i = 1; i <= kBlockSlots; ++i) {
    if (FBlockText[i] != "=") continue;
    std::string wrong;
    do wrong = std::string(1, kVowelPool[static_cast<std::size_t>(Draw(18))]);
    while (wrong == letter);
    FBlockText[i] = wrong;
  }
}

void TfWrdCnst::SetUpConsonant() {
  ChooseRecord(ModeTable());
  const auto offer = [&](const content::TGap& gap) {
    int slot;
    do slot = Draw(6) + 1;
    while (FBlockText[slot] != "=");
    FBlockText[slot] = gap.piece;
  };
  FShownWord = content::CutConsonantGaps(FWord, [&] { return Draw(100) < 50; }, offer).shown;
  CentreWord();
  for (int i = 1; i <= kBlockSlots; ++i) {
    if (FBlockText[i] != "=") continue;
    std::string wrong;
    do wrong = std::string(1, kConsonantPool[static_cast<std::size_t>(Draw(19))]);
    while (Contains(FWord, wrong));
    FBlockText[i] = wrong;
  }
}

}  // namespace game
