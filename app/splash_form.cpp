#include "app/splash_form.h"

#include <array>

namespace app {
namespace {

using namespace toolkit;

const TFont kNameFont{.Name = "Comic Sans MS", .Height = 64, .Bold = true, .Color = clMaroon};
const TFont kNoticeFont{.Name = "MS Sans Serif", .Height = 13, .Bold = true, .Color = clWindowText};

const std::array kLayout{
    TComponentLayout{.name = "Label1", .kind = TControlKind::Label, .left = 8, .top = 56,
                     .width = 170, .height = 90, .color = clWhite, .caption = "Tam",
                     .font = kNameFont, .autoSize = true},
    TComponentLayout{.name = "Label2", .kind = TControlKind::Label, .left = 64, .top = 152,
                     .width = 177, .height = 90, .color = clWhite, .caption = "blo",
                     .font = kNameFont, .autoSize = true},
    TComponentLayout{.name = "Label4", .kind = TControlKind::Label, .left = 112, .top = 296,
                     .width = 256, .height = 16, .color = clWhite,
                     .caption = "(c) 2026 The Tamblo developers", .font = kNoticeFont,
                     .autoSize = true},
    TComponentLayout{.name = "Image1", .kind = TControlKind::Image, .left = 224, .top = 8,
                     .width = 240, .height = 180, .picture = "splash_crane.svg",
                     .color = clWhite},
};

}  // namespace

TfSplash::TfSplash(Application& app, const std::filesystem::path& assetDir)
    : TForm(app, "fSplash") {
  SetCaption("Tamblo");
  Color = clWhite;
  Font.Name = "MS Sans Serif";
  Font.Height = 11;
  SetClientSize(472, 336);
  CreateComponents(kLayout, assetDir);
}

}  // namespace app
