#pragma once
// A top-level window: its controls in stacking order, its events, and the back
// buffer they are composed into before each copy to the screen.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/component.h"
#include "toolkit/controls.h"
#include "toolkit/layout.h"
#include "toolkit/presentation.h"
#include "toolkit/timer.h"

struct SDL_Window;

namespace toolkit {

class Application;

class TForm : public TComponent {
 public:
  TForm(Application& app, std::string name);
  ~TForm() override;

  Application& App() const { return app_; }
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  int ClientWidth() const { return back_.Width(); }
  int ClientHeight() const { return back_.Height(); }
  void SetClientSize(int width, int height);
  TColor Color = clBtnFace;
  TFont Font;

  TNotifyEvent OnCreate;
  TNotifyEvent OnActivate;  // once, the first time the window is shown
  // Sees every key before the active control; clearing the key keeps it from it.
  TKeyEvent OnKeyDown;

  // Creates the layout's components in its order; pictures come from `assetDir`.
  void CreateComponents(TLayout layout, const std::filesystem::path& assetDir);
  template <class T>
  T& Add(std::string name) {
    auto c = std::make_unique<T>(*this, std::move(name));
    T& ref = *c;
    controls_.push_back(std::move(c));
    Invalidate();
    return ref;
  }
  // Makes the control a layout reserved a place for: at that place in the
  // stacking order, with the layout's bounds, visibility and cursor.
  template <class T>
  T& Supply(const std::string& name) {
    const TComponentLayout& place = ReservedPlace(name);
    auto c = std::make_unique<T>(*this, name);
    T& ref = *c;
    InsertReserved(name, std::move(c));
    ref.SetBounds(place.left, place.top, place.width, place.height);
    ref.SetVisible(place.visible);
    ref.SetCursor(place.cursor);
    return ref;
  }
  TControl* FindControl(const std::string& name) const;
  TTimer* FindTimer(const std::string& name) const;
  // The named control as T; throws std::logic_error when it is missing or of
  // another kind, which is a fault in a layout table.
  template <class T>
  T& Find(const std::string& name) const {
    T* c = dynamic_cast<T*>(FindControl(name));
    if (!c) MissingComponent(name);
    return *c;
  }
  TTimer& Timer(const std::string& name) const;
  const std::vector<std::unique_ptr<TControl>>& Controls() const { return controls_; }

  bool Visible() const { return visible_; }
  void Show();
  void Hide();
  // Paints at once, without waiting for the message loop.
  void Update();
  // The main form's Close ends the program; any other form's only hides it.
  void Close();

  void Invalidate() { dirty_ = true; }
  bool NeedsPaint() const { return dirty_ && visible_; }
  // What the window shows (the composed back buffer).
  const TBitmap& Screen() const { return back_; }

  // The window is the client area magnified by a whole number: the
  // application's WindowScale, or the largest that fits the display's usable
  // area. Known once the window exists.
  int WindowScale() const { return scale_; }
  // Full screen shows the client area at the largest whole scale the screen
  // allows, centred on the form's colour. May be set before the window exists.
  bool Fullscreen() const { return fullscreen_; }
  void SetFullscreen(bool on);
  // How the last paint placed the client area in the window.
  const TPresentation& Presentation() const { return presentation_; }
  // The client point under a pointer position in the window.
  TPoint ClientFromWindow(int x, int y) const { return presentation_.ToClient(x, y); }
  unsigned PaintCount() const { return paintCount_; }

  // Pointer input in client coordinates, as the message loop delivers it. A
  // press with ssDouble completes a double click: the control's DblClick runs
  // before its MouseDown, and its release is no click of its own.
  void MouseMove(int x, int y, TShiftState shift);
  void MouseDown(TMouseButton button, int x, int y, TShiftState shift);
  void MouseUp(TMouseButton button, int x, int y, TShiftState shift);
  void CursorChanged(TControl& control);

  // The control with the focus, or null. Changing it tells both controls.
  TControl* ActiveControl() const { return active_; }
  void SetActiveControl(TControl* control);
  // A key pressed while the window has the focus goes to the active control.
  void KeyDown(TKey key, TShiftState shift);

  unsigned WindowId() const;
  void DoCreate() override;

 private:
  [[noreturn]] void MissingComponent(const std::string& name) const;
  const TComponentLayout& ReservedPlace(const std::string& name) const;
  void InsertReserved(const std::string& name, std::unique_ptr<TControl> control);
  TControl* ControlAt(int x, int y) const;
  void EnsureWindow();
  void PaintNow();

  Application& app_;
  SDL_Window* window_ = nullptr;
  std::string caption_;
  TBitmap back_;
  std::vector<std::unique_ptr<TControl>> controls_;
  std::vector<std::unique_ptr<TTimer>> timers_;
  struct TReserved {
    TComponentLayout layout;
    std::size_t index;  // where in controls_ the control goes
  };
  std::vector<TReserved> reserved_;
  TControl* hot_ = nullptr;       // control under the pointer
  TControl* captured_ = nullptr;  // control that saw the button go down
  bool doublePress_ = false;      // the captured press completed a double click
  TControl* active_ = nullptr;
  bool visible_ = false;
  bool activated_ = false;
  bool dirty_ = true;
  int scale_ = 1;
  bool fullscreen_ = false;
  TPresentation presentation_;
  unsigned paintCount_ = 0;
};

}  // namespace toolkit
