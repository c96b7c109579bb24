#include "toolkit/controls.h"

#include "toolkit/form.h"

namespace toolkit {

TControl::TControl(TForm& owner, std::string name) : owner_(owner), name_(std::move(name)) {}

void TControl::SetBounds(int left, int top, int width, int height) {
  bounds_ = Bounds(left, top, width, height);
  Invalidate();
}

void TControl::SetVisible(bool v) {
  if (visible_ == v) return;
  visible_ = v;
  Invalidate();
}

void TControl::SetCursor(TCursor c) {
  cursor_ = c;
  owner_.CursorChanged(*this);
}

void TControl::Invalidate() { owner_.Invalidate(); }

bool TControl::Focused() const { return owner_.ActiveControl() == this; }

void TControl::SetFocus() { owner_.SetActiveControl(this); }

void TControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseDown) OnMouseDown(button, shift, x, y);
}

void TControl::MouseMove(TShiftState shift, int x, int y) {
  if (OnMouseMove) OnMouseMove(shift, x, y);
}

void TControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseUp) OnMouseUp(button, shift, x, y);
}

void TControl::Click() {
  if (OnClick) OnClick();
}

void TControl::DblClick() {
  if (OnDblClick) OnDblClick();
}

void TControl::KeyDown(TKey& key, TShiftState shift) {
  if (OnKeyDown) OnKeyDown(key, shift);
}

TImage::TImage(TForm& owner, std::string name) : TControl(owner, std::move(name)) {
  picture_.Canvas().OnChange = [this] { Invalidate(); };
}

void TImage::Paint(TCanvas& target) {
  if (picture_.Empty()) return;
  // A picture shows as much of its bitmap as its bounds allow.
  TRect src = Bounds(0, 0, std::min(Width(), picture_.Width()), std::min(Height(), picture_.Height()));
  target.CopyRect(Bounds(Left(), Top(), src.Width(), src.Height()), picture_.Canvas(), src);
}

TLabel::TLabel(TForm& owner, std::string name) : TControl(owner, std::move(name)) {}

void TLabel::SetCaption(const std::string& caption) {
  caption_ = caption;
  AdjustSize();
  Invalidate();
}

void TLabel::SetFont(const TFont& f) {
  font_ = f;
  AdjustSize();
  Invalidate();
}

void TLabel::AdjustSize() {
  if (!AutoSize) return;
  TCanvas measure;
  measure.Font = font_;
  TPoint extent = measure.TextExtent(caption_);
  bounds_.Right = bounds_.Left + extent.X;
  bounds_.Bottom = bounds_.Top + extent.Y;
}

void TLabel::Paint(TCanvas& target) {
  if (!Transparent) {
    target.Brush = {Color, TBrushStyle::bsSolid};
    target.FillRect(bounds_);
  }
  target.Font = font_;
  target.Brush.Style = TBrushStyle::bsClear;
  target.TextOut(Left(), Top(), caption_);
}

void TPanel::Paint(TCanvas& target) {
  target.Brush = {Color, TBrushStyle::bsSolid};
  target.FillRect(bounds_);
}

void TListBox::Paint(TCanvas& target) {
  target.Brush = {clWindow, TBrushStyle::bsSolid};
  target.FillRect(bounds_);
  target.Pen.Color = clGray;
  target.MoveTo(Left(), bounds_.Bottom - 1);
  target.LineTo(Left(), Top());
  target.LineTo(bounds_.Right - 1, Top());
  target.Font = Font;
  target.Brush.Style = TBrushStyle::bsClear;
  int lineHeight = target.TextHeight("Ag");
  int y = Top() + 2;
  for (const std::string& item : Items) {
    if (y >= bounds_.Bottom) break;
    target.TextOut(Left() + 2, y, item);
    y += lineHeight;
  }
}

}  // namespace toolkit
