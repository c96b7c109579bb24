#include "game/wrdcnst_form.h"

#include "app/strip_trailing_backslash.h"
#include "content/data_module.h"
#include "game/wrdcnst_layout.h"
#include "toolkit/platform.h"
#include "toolkit/random.h"

namespace game {

using namespace toolkit;

TfWrdCnst::TfWrdCnst(Application& app, const std::filesystem::path& assetDir,
                     content::TDataModule1& dataModule, std::filesystem::path programFile)
    : TForm(app, "fWrdCnst"), DataModule1(dataModule), programFile_(std::move(programFile)) {
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
  Timer1 = &Timer("Timer1");
  imgExit->OnClick = [this] { imgExitClick(); };
  OnCreate = [this] { FormCreate(); };
}

void TfWrdCnst::FormCreate() {
  // From the program file, not the current directory, so a start from
  // elsewhere still finds the tables.
  const std::filesystem::path program = programFile_.empty() ? ProgramFilePath() : programFile_;
  std::string dir = program.parent_path().string();
  if (dir.empty() || dir.back() != '/') dir += '/';
  FDataDir = app::StripTrailingBackslash(dir);

  content::TDataModule1& dm = DataModule1;
  for (ledger::TLedgerTable* table : {&dm.dbSndFx, &dm.dbBlend, &dm.dbConson, &dm.dbLVowel, &dm.dbSVowel})
    table->Close();
  for (ledger::TLedgerTable* table : {&dm.dbBlend, &dm.dbSndFx, &dm.dbConson, &dm.dbLVowel, &dm.dbSVowel})
    table->SetDatabaseName(FDataDir);
  // A table that fails to open stops here: the error is reported and the
  // tables after it stay closed.
  for (ledger::TLedgerTable* table : {&dm.dbBlend, &dm.dbSndFx, &dm.dbConson, &dm.dbLVowel, &dm.dbSVowel})
    table->Open();
  Randomize();
}

void TfWrdCnst::imgExitClick() { Close(); }

}  // namespace game
