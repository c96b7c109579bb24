#pragma once
// The controls a form holds, painted in stacking order onto the form's back buffer.

#include <functional>
#include <string>
#include <vector>

#include "toolkit/cursors.h"
#include "toolkit/graphics.h"

namespace toolkit {

class TForm;

enum TShiftFlag : unsigned { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32 };
using TShiftState = unsigned;
enum class TMouseButton { mbLeft, mbRight, mbMiddle };

using TNotifyEvent = std::function<void()>;
using TMouseMoveEvent = std::function<void(TShiftState shift, int x, int y)>;
using TMouseEvent = std::function<void(TMouseButton button, TShiftState shift, int x, int y)>;

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
  TMouseMoveEvent OnMouseMove;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;

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
