#pragma once
// The controls a form holds, painted in stacking order onto the form's back buffer.

#include <functional>
#include <string>
#include <vector>

#include "toolkit/cursors.h"
#include "toolkit/graphics.h"

namespace toolkit {

class TForm;

// ssDouble marks the press that completes a double click; ssRepeat a key
// press the system repeats because the key is held down.
enum TShiftFlag : unsigned {
  ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32, ssDouble = 64,
  ssRepeat = 128
};
using TShiftState = unsigned;
enum class TMouseButton { mbLeft, mbRight, mbMiddle };

// Key codes are the platform's virtual keys: letters and digits are their
// upper-case characters, the rest are named here.
using TKey = unsigned short;
inline constexpr TKey VK_BACK = 0x08, VK_TAB = 0x09, VK_RETURN = 0x0D, VK_ESCAPE = 0x1B,
                      VK_SPACE = 0x20, VK_PRIOR = 0x21, VK_NEXT = 0x22, VK_END = 0x23,
                      VK_HOME = 0x24, VK_LEFT = 0x25, VK_UP = 0x26, VK_RIGHT = 0x27,
                      VK_DOWN = 0x28, VK_INSERT = 0x2D, VK_DELETE = 0x2E,
                      VK_F11 = 0x7A;

using TNotifyEvent = std::function<void()>;
using TMouseMoveEvent = std::function<void(TShiftState shift, int x, int y)>;
using TMouseEvent = std::function<void(TMouseButton button, TShiftState shift, int x, int y)>;
// A handler may set key to 0 to keep the control from acting on it.
using TKeyEvent = std::function<void(TKey& key, TShiftState shift)>;

class TControl {
 public:
  TControl(TForm& owner, std::string name);
  virtual ~TControl() = default;
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  const std::string& Name() const { return name_; }
  TForm& Owner() const { return owner_; }

  int Left() const { return bounds_.Left; }
  int Top() const { return bounds_.Top; }
  int Width() const { return bounds_.Width(); }
  int Height() const { return bounds_.Height(); }
  const TRect& BoundsRect() const { return bounds_; }
  virtual void SetBounds(int left, int top, int width, int height);

  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  TCursor Cursor() const { return cursor_; }
  void SetCursor(TCursor c);

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TMouseMoveEvent OnMouseMove;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TKeyEvent OnKeyDown;

  // Focus: the form's active control receives the keys.
  bool TabStop = false;
  virtual bool CanFocus() const { return visible_; }
  bool Focused() const;
  void SetFocus();
  // The form tells the control it gained or lost the focus.
  virtual void FocusChanged() {}

  // What the form calls, in control coordinates; each raises its event.
  // Controls that act on input themselves override these.
  virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
  virtual void MouseMove(TShiftState shift, int x, int y);
  virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
  virtual void Click();
  virtual void DblClick();
  virtual void KeyDown(TKey& key, TShiftState shift);

  // Paints onto the form's back buffer at the control's position.
  virtual void Paint(TCanvas& target) = 0;
  // Whether the pointer at form coordinates x, y lands on this control.
  virtual bool HitTest(int x, int y) const { return visible_ && bounds_.Contains(x, y); }
  void Invalidate();

 protected:
  TRect bounds_;

 private:
  TForm& owner_;
  std::string name_;
  bool visible_ = true;
  TCursor cursor_ = crDefault;
};

// A picture: a bitmap with its own canvas, drawn opaquely.
class TImage : public TControl {
 public:
  TImage(TForm& owner, std::string name);
  TBitmap& Picture() { return picture_; }
  TCanvas& Canvas() { return picture_.Canvas(); }
  void Paint(TCanvas& target) override;

 private:
  TBitmap picture_;
};

class TLabel : public TControl {
 public:
  TLabel(TForm& owner, std::string name);
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  TFont& Font() { return font_; }
  void SetFont(const TFont& f);
  bool AutoSize = true;
  bool Transparent = false;
  TColor Color = clWhite;
  // With AutoSize, the label takes the extent of its caption in its font.
  void AdjustSize();
  void Paint(TCanvas& target) override;

 private:
  std::string caption_;
  TFont font_;
};

class TPanel : public TControl {
 public:
  using TControl::TControl;
  TColor Color = clBtnFace;
  void Paint(TCanvas& target) override;
};

class TListBox : public TControl {
 public:
  using TControl::TControl;
  std::vector<std::string> Items;
  TFont Font;
  void Paint(TCanvas& target) override;
};

}  // namespace toolkit
