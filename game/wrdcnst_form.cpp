#include "game/wrdcnst_form.h"

#include <algorithm>

#include "content/data_module.h"
#include "content/table_arrival.h"
#include "game/wrdcnst_layout.h"
#include "media/media_player.h"
#include "media/media_view.h"
#include "media/picture_view.h"
#include "toolkit/platform.h"
#include "toolkit/random.h"
#include "toolkit/strip_trailing_backslash.h"
#include "toolkit/timer.h"

namespace game {

using namespace toolkit;

namespace {

// Settings the spoken-word and effect controls share: invisible, silent until
// the game plays them, each with a wave name of its own.
void SetUpMediaView(media::TDBMediaView& view, media::TDBMediaPlayer& player,
                    const char* tempWav, const char* field, dataset::TDataSource& source) {
  view.SetBorderStyle(media::bsNone);
  view.SetJPegSaveSmooth(5);
  view.AutoPlayMultiMedia = false;
  view.AutoRePlayMultiMedia = false;
  view.AutoHideMediaPlayer = false;
  view.TempWAV = tempWav;
  view.SetMediaPlayer(&player);
  view.SetDataField(field);
  view.SetDataSource(&source);
  view.Loaded();
}

}  // namespace

TfWrdCnst::TfWrdCnst(Application& app, const std::filesystem::path& assetDir,
                     content::TDataModule1& dataModule, std::filesystem::path programFile)
    : TForm(app, "fWrdCnst"),
      DataModule1(dataModule),
      Draw(toolkit::Random),
      Reseed(toolkit::Randomize),
      Now(toolkit::GetTickCount),
      TableArrival(&content::HostTableArrival()),
      programFile_(std::move(programFile)) {
  SetCaption("Tamblo");
  Color = clAqua;
  Font.Name = "MS Sans Serif";
  Font.Height = 11;
  SetClientSize(kWrdCnstWidth, kWrdCnstHeight);
  CreateComponents(WrdCnstLayout(), assetDir);
  imgBack = &Find<TImage>("imgBack");
  imgWork = &Find<TImage>("imgWork");
  imgExit = &Find<TImage>("imgExit");
  imgNext = &Find<TImage>("imgNext");
  imgHook = &Find<TImage>("imgHook");
  Girder1 = &Find<TImage>("Girder1");
  imgSoundOff = &Find<TImage>("imgSoundOff");
  build = {&Find<TImage>("build1"), &Find<TImage>("build2"), &Find<TImage>("build3")};
  lblText = &Find<TLabel>("lblText");
  Timer1 = &Timer("Timer1");

  DBPictureView1 = &Supply<media::TDBPictureView>("DBPictureView1");
  DBMediaView3 = &Supply<media::TDBMediaView>("DBMediaView3");
  DBMediaPlayer3 = &Supply<media::TDBMediaPlayer>("DBMediaPlayer3");
  DBMediaView1 = &Supply<media::TDBMediaView>("DBMediaView1");
  DBMediaPlayer1 = &Supply<media::TDBMediaPlayer>("DBMediaPlayer1");

  DBPictureView1->SetGrabHandCursor(5);
  DBPictureView1->SetScrolling(true);
  DBPictureView1->SetShowScrollbars(false);
  DBPictureView1->SetScrollbarWidth(12);
  DBPictureView1->SetJPegSaveSmooth(5);
  DBPictureView1->SetDataField("Graphic");
  DBPictureView1->SetDataSource(&DataModule1.dsBlend);
  DBPictureView1->OnClick = [this] { DBPictureView1Click(); };
  DBPictureView1->Loaded();
  SetUpMediaView(*DBMediaView3, *DBMediaPlayer3, "twcns2.wav", "Sound", DataModule1.dsBlend);
  SetUpMediaView(*DBMediaView1, *DBMediaPlayer1, "twcns1.wav", "SoundFile", DataModule1.dsSndFx);

  imgExit->OnClick = [this] { imgExitClick(); };
  imgNext->OnClick = [this] { imgNextClick(); };
  imgSoundOff->OnClick = [this] { SwitchSound(); };
  imgBack->OnMouseMove = [this](TShiftState shift, int x, int y) { imgBackMouseMove(shift, x, y); };
  imgBack->OnMouseUp = [this](TMouseButton button, TShiftState shift, int x, int y) {
    imgBackMouseUp(button, shift, x, y);
  };
  Timer1->OnTimer = [this] { Timer1Timer(); };
  arrivalTimer_.SetInterval(100);
  arrivalTimer_.OnTimer = [this] { ArrivalTimerTimer(); };
  OnKeyDown = [this](TKey& key, TShiftState shift) { FormKeyDown(key, shift); };
  OnCreate = [this] { FormCreate(); };
  OnActivate = [this] { FormActivate(); };
}

TfWrdCnst::~TfWrdCnst() {
  // Each player goes before its media control, so the temporary files it
  // holds open are closed when the control deletes them.
  if (DBMediaPlayer1) DBMediaPlayer1->Close();
  if (DBMediaPlayer3) DBMediaPlayer3->Close();
}

void TfWrdCnst::FormCreate() {
  // From the program file, not the current directory, so a start from
  // elsewhere still finds the tables.
  const std::filesystem::path program = programFile_.empty() ? ProgramFilePath() : programFile_;
  std::string dir = program.parent_path().string();
  if (dir.empty() || dir.back() != '/') dir += '/';
  FDataDir = StripTrailingBackslash(dir);

  content::TDataModule1& dm = DataModule1;
  for (ledger::TLedgerTable* table : {&dm.dbSndFx, &dm.dbBlend, &dm.dbConson, &dm.dbLVowel, &dm.dbSVowel})
    table->Close();
  for (ledger::TLedgerTable* table : {&dm.dbBlend, &dm.dbSndFx, &dm.dbConson, &dm.dbLVowel, &dm.dbSVowel})
    table->SetDatabaseName(FDataDir);
  // A table that fails to open stops here: the error is reported and the
  // tables after it stay closed. One whose files are still on their way
  // opens when its first building begins.
  unopened_.clear();
  for (ledger::TLedgerTable* table : {&dm.dbBlend, &dm.dbSndFx, &dm.dbConson, &dm.dbLVowel, &dm.dbSVowel}) {
    if (TableArrival->Arrived(table->TableName()))
      table->Open();
    else
      unopened_.push_back(table);
  }
  Reseed();
}

void TfWrdCnst::FormActivate() {
  FMode = Draw(4) + 1;
  Timer1->SetEnabled(false);
  FLevel = 1;
  FGirderCount = 4;
  FHookX = 240;
  FHookY = 20;
  trace_.Write("building", {{"kind", std::to_string(FMode)}});
  StartBuilding();
}

void TfWrdCnst::imgNextClick() {
  if (AwaitingTable()) return;
  FMode = Draw(4) + 1;
  FLevel = 1;
  FGirderCount = 4;
  trace_.Write("next", {});
  trace_.Write("building", {{"kind", std::to_string(FMode)}});
  StartBuilding();
}

void TfWrdCnst::StartBuilding() {
  ledger::TLedgerTable& table = ModeTable();
  const auto unopened = std::find(unopened_.begin(), unopened_.end(), &table);
  if (unopened != unopened_.end()) {
    if (!TableArrival->Arrived(table.TableName())) {
      TableArrival->Request(table.TableName());
      imgNext->SetVisible(false);
      arrivalTimer_.SetEnabled(true);
      return;
    }
    unopened_.erase(unopened);
    try {
      table.Open();
    } catch (...) {
      NoPuzzle();
      throw;
    }
  }
  NewPuzzle();
  ComposeScene();
  ShowScene();
}

void TfWrdCnst::ArrivalTimerTimer() {
  if (!TableArrival->Arrived(ModeTable().TableName())) return;
  arrivalTimer_.SetEnabled(false);
  StartBuilding();
}

void TfWrdCnst::imgExitClick() { Close(); }

void TfWrdCnst::DBPictureView1Click() { SpeakWord(); }

}  // namespace game
