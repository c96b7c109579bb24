#include "game/wrdcnst_form.h"

#include "game/wrdcnst_layout.h"

namespace game {

using namespace toolkit;

TfWrdCnst::TfWrdCnst(Application& app, const std::filesystem::path& assetDir)
    : TForm(app, "fWrdCnst") {
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
}

void TfWrdCnst::imgExitClick() { Close(); }

}  // namespace game
