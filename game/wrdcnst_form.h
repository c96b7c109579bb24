#pragma once
// The game's window and the program's main window: the state of the building
// under construction, the puzzle on show and the crane acting out each choice.

#include <array>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "game/trace.h"
#include "toolkit/form.h"

namespace content {
class TDataModule1;
class TTableArrival;
}
namespace dataset {
class TDataSource;
}
namespace ledger {
class TLedgerTable;
}
namespace media {
class TDBPictureView;
class TDBMediaView;
class TDBMediaPlayer;
}

namespace game {

// Puzzle kinds, one per building.
inline constexpr int kBlendMode = 1;
inline constexpr int kShortVowelMode = 2;
inline constexpr int kLongVowelMode = 3;
inline constexpr int kConsonantMode = 4;

inline constexpr int kBlockSlots = 6;
inline constexpr int kUsedMarks = 200;
// A placed block is moved out of the scene.
inline constexpr int kPlacedX = -200;

// Text sizes in points, all "Times New Roman": the word, and the letter blocks
// (which the pointer's hit test measures in too).
inline constexpr int kWordPoints = 36;
inline constexpr int kBlockPoints = 28;
toolkit::TFont SceneFont(int points);

inline constexpr toolkit::TColor kBlockBlue{0, 0, 255};
inline constexpr toolkit::TColor kBlockRed{255, 0, 0};
inline constexpr toolkit::TColor kBlockGreen{0, 128, 0};
// The keyboard's highlight around a block: warm, and unlike any block colour.
inline constexpr toolkit::TColor kHighlightColor{255, 140, 0};
// A blend's second letter belongs to its first when typed within this time.
inline constexpr std::uint32_t kBlendTypingMilliseconds = 1500;

class TfWrdCnst : public toolkit::TForm {
 public:
  // programFile: where the content tables are looked for, beside it; the
  // running program unless a test says otherwise.
  TfWrdCnst(toolkit::Application& app, const std::filesystem::path& assetDir,
            content::TDataModule1& dataModule, std::filesystem::path programFile = {});
  ~TfWrdCnst() override;

  // Points every table at the program's directory and opens them.
  void FormCreate();
  // The first activation starts the first building.
  void FormActivate();
  void imgNextClick();
  void imgExitClick();
  void DBPictureView1Click();
  void NewPuzzle();

  void ComposeScene();
  void ShowScene();
  void imgBackMouseMove(toolkit::TShiftState shift, int x, int y);
  void imgBackMouseUp(toolkit::TMouseButton button, toolkit::TShiftState shift, int x, int y);
  // The shown, unplaced block (1 to FBlockCount) under scene point x, y, or 0;
  // a point outside the scene is on none. Both pointer handlers use it.
  int BlockAt(int x, int y) const;
  // A block's text rectangle size, in the blocks' font.
  toolkit::TPoint BlockExtent(int block) const;

  void BlockChosen(int index);
  void Timer1Timer();
  // While a building waits: starts it once its table's files are here.
  void ArrivalTimerTimer();
  // A sound cue: the effect found by key in the effects table, then played.
  void Cue(const char* key);

  // Play without a pointer: a highlight over the blocks moved with Left and
  // Right and chosen with Enter, a block chosen by typing its letters, Space
  // for the word again, Ctrl+M to switch sound off and on, F11 for full screen,
  // Ctrl+Q as EXIT. Escape does nothing, so a child cannot end the game by it.
  void FormKeyDown(toolkit::TKey& key, toolkit::TShiftState shift);
  // The block the highlight is on (1 to 6), or 0 while none is shown: before
  // the first Left or Right, during a sequence, with the Next sign up.
  int HighlightedBlock() const;
  void MoveHighlight(int step);
  // A typed letter ('a' to 'z'); true when it chose a block or began a blend.
  bool TypeLetter(char letter);
  void SwitchSound();

  content::TDataModule1& DataModule1;

  // Components of the layout the game works with; owned by the form.
  toolkit::TImage* imgBack = nullptr;
  toolkit::TImage* imgWork = nullptr;
  toolkit::TImage* imgExit = nullptr;
  toolkit::TImage* imgNext = nullptr;
  toolkit::TImage* imgHook = nullptr;
  toolkit::TImage* Girder1 = nullptr;
  toolkit::TImage* imgSoundOff = nullptr;
  std::array<toolkit::TImage*, 3> build{};  // build1, build2, build3
  toolkit::TLabel* lblText = nullptr;
  toolkit::TTimer* Timer1 = nullptr;
  media::TDBPictureView* DBPictureView1 = nullptr;
  media::TDBMediaView* DBMediaView1 = nullptr;
  media::TDBMediaView* DBMediaView3 = nullptr;
  media::TDBMediaPlayer* DBMediaPlayer1 = nullptr;
  media::TDBMediaPlayer* DBMediaPlayer3 = nullptr;

  // The state of the game; slots and marks are numbered as the rules number
  // them (blocks 1 to 6, marks 0 to 199).
  int FMode = 0;
  int FLevel = 0;
  std::string FWord;
  std::string FShownWord;
  std::string FGapMark;
  int FGapLen = 0;
  int FWordX = 0, FWordY = 0;
  int FBlockCount = 0;
  int FBlockSpacing = 0;
  std::array<std::string, kBlockSlots + 1> FBlockText{};
  std::array<int, kBlockSlots + 1> FBlockX{}, FBlockY{};
  std::array<toolkit::TColor, kBlockSlots + 1> FBlockColor{};
  std::array<bool, kUsedMarks> FUsed{};
  bool FPlacing = false, FRejecting = false, FBuilding = false;
  int FPhase = 0;
  int FSelected = 0;
  int FGapPos = 0;
  int FTargetX = 0;
  int FTicks = 0;
  int FHookX = 0, FHookY = 0;
  int FFacadeCount = 0, FGirderCount = 0;
  std::string FDataDir;
  int FHighlight = 0;  // the slot last highlighted; 0 until a key moves it
  std::string FTyped;  // the first letter of a blend being typed
  std::uint32_t FTypedAt = 0;

  // The random draws, replaceable so tests can script every one: Draw(n)
  // answers 0 to n - 1; Reseed runs at the re-seeding points.
  std::function<int(int)> Draw;
  std::function<void()> Reseed;
  // Milliseconds, for the time between a blend's letters; replaceable too.
  std::function<std::uint32_t()> Now;
  // Whether a table's files are here yet; the platform's unless a test says.
  content::TTableArrival* TableArrival;

  // True while a building waits for its table's files (browser only).
  bool AwaitingTable() const { return arrivalTimer_.Enabled(); }

  // The tick count the trace stamps cues with; counts timer ticks.
  unsigned TickNumber() const { return ticks_; }

 private:
  bool Busy() const { return FPlacing || FRejecting || FBuilding; }
  bool Unplaced(int block) const { return block >= 1 && block <= FBlockCount && FBlockX[block] > 0; }
  // The first unplaced block whose text is `text` (or, with `prefix`, begins with it), or 0.
  int UnplacedBlockWith(const std::string& text, bool prefix) const;
  ledger::TLedgerTable& ModeTable() const;
  dataset::TDataSource& ModeSource() const;
  int ChooseRecord(ledger::TLedgerTable& table);
  void SetUpBlend();
  void SetUpVowel(ledger::TLedgerTable& table);
  void SetUpConsonant();
  void CentreWord();
  // What a failed NewPuzzle leaves: no blocks, no timer, the Next sign up.
  void NoPuzzle();
  // The first puzzle of the building FMode names, once its table is open;
  // until its files arrive, the scene stays as it is and the Next sign down.
  void StartBuilding();
  // The first open gap (1-based) the text fills, or 0.
  int GapFor(const std::string& text) const;

  // One tick of the hook travelling sideways towards x; true once it is there.
  bool HookTravelsTo(int x);
  // One tick of the hook going down to the block; true once it reaches it.
  bool HookLowersOnto(int block);
  // A step ends: the effect stops, the next cue plays, the next step follows.
  void EndStep(const char* cue);
  void RunRejecting(int aim);
  void RunPlacing();
  void RunBuilding();
  void StopEffects();
  void SpeakWord();
  // Runs a player call; a sound that cannot play is told once, then ignored.
  template <class F>
  void Sound(F&& call);
  void SoundFailed(std::exception_ptr failure);

  std::filesystem::path programFile_;
  // Tables whose files had not arrived when the others opened.
  std::vector<ledger::TLedgerTable*> unopened_;
  // Looks for the awaited table's files while a building waits for them.
  toolkit::TTimer arrivalTimer_{"arrivalTimer"};
  TTrace trace_;
  unsigned ticks_ = 0;
  bool soundFailureShown_ = false;
};

}  // namespace game
