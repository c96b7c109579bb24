#include "game/wrdcnst_layout.h"

#include <array>

#include "content/puzzle_gaps.h"

namespace game {
namespace {

using namespace toolkit;
using K = TControlKind;

// Only measures text; fixed pitch is asked for, but the named face wins.
const TFont kMeasureFont{.Name = "Times New Roman", .Height = 48, .Bold = true, .Color = clBlack,
                         .Pitch = TFontPitch::fpFixed};

const std::array kLayout{
    TComponentLayout{.name = "build1", .kind = K::Image, .left = 8, .top = 384, .width = 64,
                     .height = 64, .visible = false, .picture = "facade1.svg"},
    TComponentLayout{.name = "Girder1", .kind = K::Image, .left = 8, .top = 384, .width = 64,
                     .height = 64, .visible = false, .picture = "girder.svg"},
    TComponentLayout{.name = "craneB", .kind = K::Image, .left = 485, .top = 174, .width = 25,
                     .height = 271, .picture = "crane_tower.svg"},
    TComponentLayout{.name = "craneT", .kind = K::Image, .left = 8, .top = 104, .width = 621,
                     .height = 70, .picture = "crane_jib.svg"},
    TComponentLayout{.name = "fenceL", .kind = K::Image, .left = -8, .top = 411, .width = 640,
                     .height = 45, .picture = "fence.svg"},
    TComponentLayout{.name = "imgHook", .kind = K::Image, .left = 376, .top = 4, .width = 8,
                     .height = 21, .visible = false, .picture = "hook.svg"},
    TComponentLayout{.name = "imgExit", .kind = K::Image, .left = 528, .top = 352, .width = 96,
                     .height = 48, .picture = "exit_sign.svg", .cursor = crHandPoint},
    TComponentLayout{.name = "lblText", .kind = K::Label, .left = 368, .top = 48, .width = 130,
                     .height = 55, .visible = false, .caption = "lbltext",
                     .font = kMeasureFont, .autoSize = true, .transparent = true},
    TComponentLayout{.name = "imgNext", .kind = K::Image, .left = 528, .top = 296, .width = 81,
                     .height = 41, .visible = false, .picture = "next_sign.svg",
                     .cursor = crHandPoint},
    TComponentLayout{.name = "imgBack", .kind = K::Image, .left = 0, .top = 164, .width = 481,
                     .height = 246},
    TComponentLayout{.name = "imgWork", .kind = K::Image, .left = 560, .top = 271,
                     .width = 481, .height = 248, .visible = false},
    TComponentLayout{.name = "build2", .kind = K::Image, .left = 8, .top = 320, .width = 64,
                     .height = 64, .visible = false, .picture = "facade2.svg"},
    TComponentLayout{.name = "build3", .kind = K::Image, .left = 8, .top = 256, .width = 64,
                     .height = 64, .visible = false, .picture = "facade3.svg"},
    // The data-aware controls arrive with the picture and sound controls.
    TComponentLayout{.name = "DBPictureView1", .kind = K::Reserved, .left = 8, .top = 0,
                     .width = 265, .height = 145, .cursor = crHandPoint},
    TComponentLayout{.name = "DBMediaView3", .kind = K::Reserved, .left = 568, .top = 16,
                     .width = 49, .height = 57, .visible = false},
    TComponentLayout{.name = "DBMediaPlayer3", .kind = K::Reserved, .left = 584, .top = 184,
                     .width = 29, .height = 30, .visible = false},
    TComponentLayout{.name = "DBMediaView1", .kind = K::Reserved, .left = 512, .top = 16,
                     .width = 49, .height = 57, .visible = false},
    TComponentLayout{.name = "DBMediaPlayer1", .kind = K::Reserved, .left = 584, .top = 208,
                     .width = 29, .height = 30, .visible = false},
    TComponentLayout{.name = "Panel1", .kind = K::Panel, .left = 560, .top = 184, .width = 65,
                     .height = 81},
    TComponentLayout{.name = "LstBlend", .kind = K::ListBox, .left = 280, .top = 8,
                     .width = 49, .height = 97, .visible = false, .items = content::kBlends},
    // Shown while sound is switched off, where nothing else ever stands; a
    // click on it switches sound back on.
    TComponentLayout{.name = "imgSoundOff", .kind = K::Image, .left = 584, .top = 8, .width = 40,
                     .height = 32, .visible = false, .picture = "sound_off.svg",
                     .cursor = crHandPoint},
    TComponentLayout{.name = "Timer1", .kind = K::Timer, .interval = 100},
};

}  // namespace

TLayout WrdCnstLayout() { return kLayout; }

}  // namespace game
