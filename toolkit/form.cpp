#include "toolkit/form.h"

#include <SDL.h>

#include <stdexcept>

#include "toolkit/application.h"

namespace toolkit {

TForm::TForm(Application& app, std::string name) : TComponent(std::move(name)), app_(app) {}

TForm::~TForm() {
  app_.RemoveForm(*this);
  active_ = hot_ = captured_ = nullptr;
  controls_.clear();
  timers_.clear();
  if (window_) SDL_DestroyWindow(window_);
}

unsigned TForm::WindowId() const { return window_ ? SDL_GetWindowID(window_) : 0; }

void TForm::SetCaption(const std::string& caption) {
  caption_ = caption;
  if (window_) SDL_SetWindowTitle(window_, caption_.c_str());
}

void TForm::SetClientSize(int width, int height) {
  back_.SetSize(width, height, Color);
  if (window_) SDL_SetWindowSize(window_, width * scale_, height * scale_);
  Invalidate();
}

void TForm::SetFullscreen(bool on) {
  if (on == fullscreen_) return;
  fullscreen_ = on;
  if (!window_) return;
  // The desktop's own mode: no mode switch, and the margins keep the picture's shape.
  if (SDL_SetWindowFullscreen(window_, on ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0) != 0)
    fullscreen_ = !on;
  else if (!on)
    SDL_SetWindowSize(window_, ClientWidth() * scale_, ClientHeight() * scale_);
  Invalidate();
}

// The window is made when first shown, at its final size, so the system centres
// it correctly (a later resize of a hidden window is not always re-centred).
void TForm::EnsureWindow() {
  if (window_) return;
  scale_ = app_.WindowScale;
  if (scale_ <= 0) {
    SDL_Rect usable{0, 0, 0, 0};
    if (SDL_GetDisplayUsableBounds(0, &usable) != 0) usable = {0, 0, 0, 0};
    scale_ = FitScale(ClientWidth(), ClientHeight(), usable.w, usable.h);
  }
  Uint32 flags = SDL_WINDOW_HIDDEN;
  if (fullscreen_) flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
  window_ = SDL_CreateWindow(caption_.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                             std::max(ClientWidth(), 1) * scale_, std::max(ClientHeight(), 1) * scale_,
                             flags);
  if (!window_) throw std::runtime_error(std::string("cannot create a window: ") + SDL_GetError());
  if (const TBitmap* icon = app_.Icon()) SDL_SetWindowIcon(window_, icon->Surface());
  app_.AddWindow(*this);
}

void TForm::CreateComponents(TLayout layout, const std::filesystem::path& assetDir) {
  for (const TComponentLayout& c : layout) {
    TControl* control = nullptr;
    switch (c.kind) {
      case TControlKind::Image: {
        auto& image = Add<TImage>(c.name);
        if (c.picture)
          image.Picture().LoadFromFile(assetDir / c.picture, c.width, c.height, c.color);
        else
          image.Picture().SetSize(c.width, c.height, c.color);
        control = &image;
        break;
      }
      case TControlKind::Label: {
        auto& label = Add<TLabel>(c.name);
        label.AutoSize = c.autoSize;
        label.Transparent = c.transparent;
        label.Color = c.color;
        label.SetBounds(c.left, c.top, c.width, c.height);
        label.SetFont(c.font);
        label.SetCaption(c.caption);
        control = &label;
        break;
      }
      case TControlKind::Panel: {
        auto& panel = Add<TPanel>(c.name);
        panel.Color = c.color;
        control = &panel;
        break;
      }
      case TControlKind::ListBox: {
        auto& list = Add<TListBox>(c.name);
        list.Font = Font;
        list.Items.assign(c.items.begin(), c.items.end());
        control = &list;
        break;
      }
      case TControlKind::Timer: {
        auto timer = std::make_unique<TTimer>(c.name);
        timer->SetInterval(c.interval);
        timers_.push_back(std::move(timer));
        break;
      }
      case TControlKind::Reserved:
        reserved_.push_back({c, controls_.size()});
        break;
    }
    if (!control) continue;
    if (c.kind != TControlKind::Label) control->SetBounds(c.left, c.top, c.width, c.height);
    control->SetVisible(c.visible);
    control->SetCursor(c.cursor);
  }
}

TControl* TForm::FindControl(const std::string& name) const {
  for (const auto& c : controls_)
    if (c->Name() == name) return c.get();
  return nullptr;
}

TTimer* TForm::FindTimer(const std::string& name) const {
  for (const auto& t : timers_)
    if (t->Name() == name) return t.get();
  return nullptr;
}

TTimer& TForm::Timer(const std::string& name) const {
  TTimer* t = FindTimer(name);
  if (!t) MissingComponent(name);
  return *t;
}

const TComponentLayout& TForm::ReservedPlace(const std::string& name) const {
  for (const TReserved& r : reserved_)
    if (name == r.layout.name) return r.layout;
  MissingComponent(name);
}

void TForm::InsertReserved(const std::string& name, std::unique_ptr<TControl> control) {
  std::size_t self = 0;
  while (reserved_[self].layout.name != name) ++self;
  const std::size_t at = reserved_[self].index;
  controls_.insert(controls_.begin() + static_cast<std::ptrdiff_t>(at), std::move(control));
  // Places behind this one in the layout move up with it, whatever order the
  // controls are supplied in.
  for (std::size_t i = 0; i < reserved_.size(); ++i)
    if (i != self && (reserved_[i].index > at || (reserved_[i].index == at && i > self)))
      ++reserved_[i].index;
  Invalidate();
}

void TForm::MissingComponent(const std::string& name) const {
  throw std::logic_error("form " + Name() + " has no component " + name + " of that kind");
}

void TForm::DoCreate() {
  if (OnCreate) app_.Guard(OnCreate);
}

void TForm::Show() {
  if (!visible_) {
    EnsureWindow();
    visible_ = true;
    SDL_ShowWindow(window_);
    PaintNow();
  }
  if (!activated_) {
    activated_ = true;
    if (OnActivate) app_.Guard(OnActivate);
  }
}

void TForm::Hide() {
  if (!visible_) return;
  visible_ = false;
  SDL_HideWindow(window_);
}

void TForm::Update() {
  if (visible_) PaintNow();
}

void TForm::Close() {
  if (app_.MainForm() == this) app_.Terminate();
  Hide();
}

void TForm::PaintNow() {
  TCanvas& canvas = back_.Canvas();
  canvas.Brush = {Color, TBrushStyle::bsSolid};
  canvas.FillRect(Bounds(0, 0, back_.Width(), back_.Height()));
  for (const auto& c : controls_)
    if (c->Visible()) c->Paint(canvas);
  // Some video drivers have no window surface (or lose it on resize); the back
  // buffer stays the truth either way.
  if (SDL_Surface* surface = SDL_GetWindowSurface(window_)) {
    presentation_ = TPresentation::Fit(back_.Width(), back_.Height(), surface->w, surface->h);
    Present(back_.Surface(), surface, presentation_, Color);
    SDL_UpdateWindowSurface(window_);
  }
  dirty_ = false;
  ++paintCount_;
}

TControl* TForm::ControlAt(int x, int y) const {
  for (auto it = controls_.rbegin(); it != controls_.rend(); ++it)
    if ((*it)->HitTest(x, y)) return it->get();
  return nullptr;
}

void TForm::CursorChanged(TControl& control) {
  if (&control == hot_) ApplyCursor(control.Cursor());
}

void TForm::MouseMove(int x, int y, TShiftState shift) {
  TControl* target = captured_ ? captured_ : ControlAt(x, y);
  hot_ = ControlAt(x, y);
  ApplyCursor(hot_ ? hot_->Cursor() : crDefault);
  if (target) app_.Guard([&] { target->MouseMove(shift, x - target->Left(), y - target->Top()); });
  // The handler may have changed the cursor of the control under the pointer.
  if (hot_) ApplyCursor(hot_->Cursor());
}

void TForm::MouseDown(TMouseButton button, int x, int y, TShiftState shift) {
  TControl* target = ControlAt(x, y);
  captured_ = target;
  doublePress_ = button == TMouseButton::mbLeft && (shift & ssDouble);
  if (!target) return;
  app_.Guard([&] {
    if (doublePress_) target->DblClick();
    target->MouseDown(button, shift, x - target->Left(), y - target->Top());
  });
}

void TForm::MouseUp(TMouseButton button, int x, int y, TShiftState shift) {
  TControl* target = captured_ ? captured_ : ControlAt(x, y);
  bool pressedHere = captured_ != nullptr && !doublePress_;
  captured_ = nullptr;
  doublePress_ = false;
  if (!target) return;
  int lx = x - target->Left(), ly = y - target->Top();
  // A left click is a press and release on the same control; the click comes
  // first, and a failing click skips the release handler, as one message would.
  bool click = pressedHere && button == TMouseButton::mbLeft && target->BoundsRect().Contains(x, y);
  app_.Guard([&] {
    if (click) target->Click();
    target->MouseUp(button, shift, lx, ly);
  });
}

void TForm::SetActiveControl(TControl* control) {
  if (control == active_) return;
  TControl* previous = active_;
  active_ = control;
  if (previous) previous->FocusChanged();
  if (active_) active_->FocusChanged();
  Invalidate();
}

void TForm::KeyDown(TKey key, TShiftState shift) {
  if (OnKeyDown) app_.Guard([&] { OnKeyDown(key, shift); });
  if (!key || !active_ || !active_->Visible()) return;
  TControl* target = active_;
  app_.Guard([&] { target->KeyDown(key, shift); });
}

}  // namespace toolkit
