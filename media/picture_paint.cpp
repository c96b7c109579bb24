// TDBPictureView: painting, the layout setters, the scroll bars and the pointer.
#include <algorithm>

#include "dataset/field.h"
#include "media/picture_view.h"
#include "toolkit/application.h"
#include "toolkit/cursors.h"
#include "toolkit/form.h"

namespace media {
namespace {

using toolkit::Bounds;
using toolkit::TBrushStyle;
using toolkit::TCanvas;
using toolkit::TColor;
using toolkit::TRect;

// The layout's arithmetic drops fractions towards zero.
int Trunc(double v) { return static_cast<int>(v); }

void Fill(TCanvas& c, const TRect& r, TColor color) {
  c.Brush = {color, TBrushStyle::bsSolid};
  c.FillRect(r);
}

// Fills `area` except where `hole` lies, as one region.
void FillAround(TCanvas& c, const TRect& area, const TRect& hole, TColor color) {
  const TRect in{std::max(area.Left, hole.Left), std::max(area.Top, hole.Top),
                 std::min(area.Right, hole.Right), std::min(area.Bottom, hole.Bottom)};
  if (in.Width() <= 0 || in.Height() <= 0) {
    Fill(c, area, color);
    return;
  }
  Fill(c, {area.Left, area.Top, area.Right, in.Top}, color);
  Fill(c, {area.Left, in.Bottom, area.Right, area.Bottom}, color);
  Fill(c, {area.Left, in.Top, in.Left, in.Bottom}, color);
  Fill(c, {in.Right, in.Top, area.Right, in.Bottom}, color);
}

// Cut to at most `limit` bytes without splitting a character.
std::string CutText(const std::string& text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

}  // namespace

int TDBPictureView::ClientWidth() const { return std::max(Width() - 2 * Border(), 0); }
int TDBPictureView::ClientHeight() const { return std::max(Height() - 2 * Border(), 0); }

toolkit::TStretchMode TDBPictureView::StretchMode() const {
  if (info_.Bits >= 2) return toolkit::TStretchMode::smColorOnColor;
  switch (blitMode_) {
    case sDark: return toolkit::TStretchMode::smBlackOnWhite;
    case sLightest: return toolkit::TStretchMode::smWhiteOnBlack;
    case sLight: break;
  }
  return toolkit::TStretchMode::smColorOnColor;
}

bool TDBPictureView::ZoomedLargerThanControl() const {
  const toolkit::TBitmap* bitmap = picture_.Bitmap();
  if (!bitmap) return false;
  return Trunc(bitmap->Width() * zoom_) > Width() || Trunc(bitmap->Height() * zoom_) > Height();
}

// ---- painting ----

void TDBPictureView::Paint(toolkit::TCanvas& target) {
  const int cw = ClientWidth(), ch = ClientHeight();
  if (client_.Width() != cw || client_.Height() != ch) client_.SetSize(cw, ch, color_);
  // A failing handler or annotation layer must not stop the rest of the form painting.
  try {
    PaintClient(client_.Canvas());
  } catch (...) {
    Owner().App().HandleException(std::current_exception());
  }
  if (Border()) {
    target.Brush = {toolkit::clWindowFrame, TBrushStyle::bsSolid};
    target.FrameRect(bounds_);
  }
  target.Draw(Left() + Border(), Top() + Border(), client_);
}

void TDBPictureView::PaintClient(TCanvas& c) {
  if (info_.FormatName == "ICO" || info_.FormatName == "WMF") {
    PaintSimple(c);
    return;
  }
  const TRect client = Bounds(0, 0, ClientWidth(), ClientHeight());
  c.Brush = {brushColor_, TBrushStyle::bsSolid};
  const toolkit::TBitmap* bitmap = picture_.Bitmap();
  if (!pictureLoaded_) {
    Fill(c, client, color_);
    DrawCaption(c);
  } else if (stretch_) {
    if (bitmap && !bitmap->Empty()) {
      c.StretchCopy(client, *bitmap, Bounds(0, 0, bitmap->Width(), bitmap->Height()), StretchMode());
      if (OnPaintArea) OnPaintArea(0, 0, bitmap->Width(), bitmap->Height());
      LayoutScrollBars();
    } else {
      Fill(c, client, color_);
    }
  } else if (!stretchRatio_ && !scrolling_) {
    const int w = bitmap ? bitmap->Width() : 0, h = bitmap ? bitmap->Height() : 0;
    const int x = center_ ? (client.Width() - w) / 2 : 0;
    const int y = center_ ? (client.Height() - h) / 2 : 0;
    if (bitmap) c.Draw(x, y, *bitmap);
    FillAround(c, client, Bounds(x, y, w, h), color_);
  } else {
    PaintScrolling(c);
  }
  if (!text_.empty()) DrawOverlay(c);
  DrawFocusFrame(c);
  if (OnPaint) OnPaint();
}

// Metafiles (and icons) take the plain path: no zoom, no scrolling.
void TDBPictureView::PaintSimple(TCanvas& c) {
  const TRect client = Bounds(0, 0, ClientWidth(), ClientHeight());
  TRect shown{};
  auto drawGraphic = [&](const TRect& r) {
    if (const toolkit::TBitmap* bitmap = picture_.Bitmap())
      c.StretchCopy(r, *bitmap, Bounds(0, 0, bitmap->Width(), bitmap->Height()), StretchMode());
    else
      Fill(c, r, color_);  // a metafile shows as an empty area here
  };
  if (!pictureLoaded_) {
    Fill(c, client, color_);
    DrawCaption(c);
  } else if (stretch_ && picture_.HasGraphic()) {
    if (picture_.Empty()) {
      Fill(c, client, color_);
    } else {
      shown = client;
      drawGraphic(shown);
    }
  } else {
    const int w = picture_.Width(), h = picture_.Height();
    shown = Bounds(0, 0, w, h);
    if (center_) shown = Bounds((client.Width() - w) / 2, (client.Height() - h) / 2, w, h);
    if (!picture_.Empty()) drawGraphic(shown);
    FillAround(c, client, shown, color_);
  }
  DrawFocusFrame(c);
  if (!text_.empty()) DrawOverlay(c);
  if (OnPaintArea) OnPaintArea(shown.Left, shown.Top, shown.Right, shown.Bottom);
  if (OnPaint) OnPaint();
}

void TDBPictureView::PaintScrolling(TCanvas& c) {
  // Sizes are the control's outer ones, border included, as the layout always took them.
  const int W = Width(), H = Height();
  const toolkit::TBitmap* bitmap = picture_.Bitmap();
  const int w = bitmap ? bitmap->Width() : 0, h = bitmap ? bitmap->Height() : 0;
  const double z = zoom_;
  const int zw = Trunc(w * z), zh = Trunc(h * z);
  int s = showScrollbars_ ? scrollbarWidth_ : 0;
  const bool wide = W < zw, tall = H < zh;
  centerOffset_ = {};
  TRect src, dst;
  if (!wide && !tall) {
    s = 0;
    src = Bounds(0, 0, w, h);
    dst = Bounds(0, 0, zw, zh);
    if (center_) centerOffset_ = {(W - zw) / 2, (H - zh) / 2};
  } else if (wide && tall) {
    src = Bounds(origin_.X, origin_.Y, Trunc((W - s) / z), Trunc((H - s) / z));
    dst = Bounds(0, 0, W - s, H - s);
  } else if (wide) {
    src = Bounds(origin_.X, origin_.Y, Trunc((W - s) / z), h);
    dst = Bounds(0, 0, W - s, zh);
    if (center_) centerOffset_.Y = (H - zh) / 2;
  } else {
    src = Bounds(origin_.X, origin_.Y, w, Trunc((H - s) / z));
    dst = Bounds(0, 0, zw, H - s);
    if (center_) centerOffset_.X = (W - zw) / 2;
  }
  dst = Bounds(dst.Left + centerOffset_.X, dst.Top + centerOffset_.Y, dst.Width(), dst.Height());
  FillAround(c, Bounds(0, 0, W - s, H - s), dst, color_);
  if (bitmap) c.StretchCopy(dst, *bitmap, src, StretchMode());
  LayoutScrollBars();
  if (annotationRegistered_)
    DrawAnnotation(static_cast<TDBPictureView*>(this), z, origin_.X, origin_.Y, centerOffset_.X,
                   centerOffset_.Y, s);
  PaintScrollBars(c);
  if (OnPaintArea) OnPaintArea(dst.Left, dst.Top, dst.Width(), dst.Height());
}

void TDBPictureView::DrawCaption(TCanvas& c) {
  const dataset::TField* field = link_.Field();
  const std::string caption = CutText("(" + (field ? field->DisplayLabel() : Name()) + ")", 63);
  c.Font = font_;
  c.Brush = {color_, TBrushStyle::bsSolid};
  const toolkit::TPoint extent = c.TextExtent(caption);
  c.TextOut((ClientWidth() - extent.X) / 2, (ClientHeight() - extent.Y) / 2, caption);
}

void TDBPictureView::DrawOverlay(TCanvas& c) {
  c.Font = font_;
  c.Brush = {color_, textTransparent_ ? TBrushStyle::bsClear : TBrushStyle::bsSolid};
  if (textShadow_) {
    c.Font.Color = textShadowColor_;
    c.TextOut(textLeft_ + 2, textTop_ + 2, text_);
    c.Font.Color = font_.Color;
  }
  c.TextOut(textLeft_, textTop_, text_);
}

void TDBPictureView::DrawFocusFrame(TCanvas& c) {
  if (!Focused()) return;
  c.Brush = {toolkit::clWindowFrame, TBrushStyle::bsSolid};
  c.FrameRect(Bounds(0, 0, ClientWidth(), ClientHeight()));
}

void TDBPictureView::PaintScrollBars(TCanvas& c) {
  for (const TScrollBarModel* bar : {&horz_, &vert_}) {
    if (!bar->Visible) continue;
    const TRect r = Bounds(bar->Left, bar->Top, bar->Width, bar->Height);
    Fill(c, r, toolkit::clBtnFace);
    // The thumb: a square sliding along the bar by position over range.
    const bool across = bar == &horz_;
    const int track = (across ? r.Width() : r.Height()) - scrollbarWidth_;
    const int range = std::max(bar->Max - bar->Min, 1);
    const int at = track > 0 ? track * (bar->Position - bar->Min) / range : 0;
    Fill(c, across ? Bounds(r.Left + at, r.Top, scrollbarWidth_, r.Height())
                   : Bounds(r.Left, r.Top + at, r.Width(), scrollbarWidth_),
         toolkit::clGray);
  }
  if (corner_.Visible)
    Fill(c, Bounds(corner_.Left, corner_.Top, corner_.Width, corner_.Height), toolkit::clBtnFace);
}

// ---- scroll bars ----

void TDBPictureView::LayoutScrollBars() {
  const toolkit::TBitmap* bitmap = picture_.Bitmap();
  const bool show = bitmap && !stretch_ && !stretchRatio_ && ZoomedLargerThanControl() &&
                    scrolling_ && showScrollbars_;
  if (!show) {
    for (TScrollBarModel* bar : {&horz_, &vert_, &corner_}) {
      bar->Left = bar->Top = bar->Width = bar->Height = -1;
      bar->Visible = bar->TabStop = false;
    }
    return;
  }
  const int W = Width(), H = Height(), s = scrollbarWidth_;
  const double z = zoom_;
  vert_.Left = W - s, vert_.Top = 1, vert_.Width = s, vert_.Height = H - s - 1;
  horz_.Left = 1, horz_.Top = H - s, horz_.Width = W - s - 1, horz_.Height = s;
  corner_.Left = W - s, corner_.Top = H - s, corner_.Width = corner_.Height = s;
  horz_.Max = std::max(0, Trunc(bitmap->Width() * z - W + s));
  horz_.Position = horz_.Max == 0 ? 0 : std::min(Trunc(origin_.X * z), horz_.Max);
  vert_.Max = std::max(0, Trunc(bitmap->Height() * z - H + s));
  vert_.Position = vert_.Max == 0 ? 0 : std::min(Trunc(origin_.Y * z), vert_.Max);
  for (TScrollBarModel* bar : {&horz_, &vert_, &corner_}) {
    bar->Visible = true;
    bar->TabStop = bar != &corner_ && TabStop;
  }
}

void TDBPictureView::ScrollBarMoved(bool horizontal, int position) {
  TScrollBarModel& bar = horizontal ? horz_ : vert_;
  bar.Position = std::clamp(position, bar.Min, std::max(bar.Min, bar.Max));
  (horizontal ? origin_.X : origin_.Y) = Trunc(bar.Position / zoom_);
  Invalidate();
}

// ---- layout setters ----

void TDBPictureView::SetCenter(bool value) {
  center_ = value;
  Invalidate();
}

void TDBPictureView::SetStretch(bool value) {
  stretch_ = value;
  if (value) SetStretchRatio(false);
  Invalidate();
}

void TDBPictureView::SetStretchRatio(bool value) {
  if (value == stretchRatio_) return;
  stretchRatio_ = value;
  const toolkit::TBitmap* bitmap = picture_.Bitmap();
  if (value && bitmap && !bitmap->Empty()) {
    savedZoom_ = zoom_;
    savedOrigin_ = origin_;
    origin_ = {};
    ComputeRatioZoom();
  } else {
    zoom_ = savedZoom_;
    origin_ = savedOrigin_;
  }
  if (value) stretch_ = false;
  Invalidate();
}

void TDBPictureView::ComputeRatioZoom() {
  const toolkit::TBitmap* bitmap = picture_.Bitmap();
  if (!bitmap || bitmap->Empty()) return;
  zoom_ = std::min(static_cast<double>(Height()) / bitmap->Height(),
                   static_cast<double>(Width()) / bitmap->Width());
}

void TDBPictureView::SetScrolling(bool value) {
  if (value == scrolling_) return;
  scrolling_ = value;
  horz_.Enabled = vert_.Enabled = corner_.Enabled = value;
  LayoutScrollBars();
  PictureChanged();
}

void TDBPictureView::SetShowScrollbars(bool value) {
  if (value == showScrollbars_) return;
  const toolkit::TBitmap* bitmap = picture_.Bitmap();
  if (!value && bitmap) {
    // Pull the origin back so no empty strip shows where the bars were.
    const double z = zoom_;
    const int W = Width(), H = Height(), w = bitmap->Width(), h = bitmap->Height();
    if (Trunc(w * z) > W) {
      const int d = Trunc(W - (w - origin_.X) * z);
      if (d > 0) origin_.X = Trunc(origin_.X - d / z) - 1;
    }
    if (Trunc(h * z) > H) {
      const int d = Trunc(H - (h - origin_.Y) * z);
      if (d > 0) origin_.Y = Trunc(origin_.Y - d / z) - 1;
    }
  }
  showScrollbars_ = value;
  LayoutScrollBars();
  PictureChanged();
}

void TDBPictureView::SetScrollbarWidth(int value) {
  scrollbarWidth_ = value;
  Invalidate();
}

void TDBPictureView::SetBlitMode(TBlitMode value) {
  blitMode_ = value;
  Invalidate();
}

void TDBPictureView::SetText(const std::string& value) {
  text_ = value;
  Invalidate();
}

void TDBPictureView::SetTextLeft(int value) {
  textLeft_ = value;
  Invalidate();
}

void TDBPictureView::SetTextTop(int value) {
  textTop_ = value;
  Invalidate();
}

void TDBPictureView::SetTextRotate(int value) {
  textRotate_ = value;
  Invalidate();
}

void TDBPictureView::SetTextShadow(bool value) {
  textShadow_ = value;
  Invalidate();
}

void TDBPictureView::SetTextShadowColor(toolkit::TColor value) {
  textShadowColor_ = value;
  Invalidate();
}

void TDBPictureView::SetTextTransParent(bool value) {
  textTransparent_ = value;
  Invalidate();
}

void TDBPictureView::SetBounds(int left, int top, int width, int height) {
  TControl::SetBounds(left, top, width, height);
  if (!loaded_) return;
  LayoutScrollBars();
  if (stretchRatio_) ComputeRatioZoom();
}

// ---- pointer ----

void TDBPictureView::MouseDown(toolkit::TMouseButton button, toolkit::TShiftState shift, int x,
                               int y) {
  if (button == toolkit::TMouseButton::mbLeft) {
    if (TabStop && CanFocus()) SetFocus();
    if (!EditAnnotat && !AllowRubberBand) {
      grab_.last = {x, y};
      if (!grab_.active && !stretch_ && ZoomedLargerThanControl()) {
        grab_.active = true;
        grab_.controlCursor = Cursor();
        grab_.screenCursor = toolkit::ScreenCursor();
        SetCursor(grabHandCursor_);
        toolkit::SetScreenCursor(grabHandCursor_);
      }
    }
  }
  TControl::MouseDown(button, shift, x, y);
}

void TDBPictureView::MouseMove(toolkit::TShiftState shift, int x, int y) {
  if (grab_.active) {
    const toolkit::TBitmap* bitmap = picture_.Bitmap();
    if (bitmap) {
      const double z = zoom_;
      const int W = Width(), H = Height();
      const int s = scrolling_ && !stretch_ && !stretchRatio_ && ZoomedLargerThanControl() &&
                            showScrollbars_
                        ? scrollbarWidth_
                        : 0;
      // Picture pixels to move for a pointer movement; any movement moves at least one.
      auto step = [z](int last, int now) {
        int d = Trunc((last - now) / z);
        if (d == 0 && last != now) d = last > now ? 1 : -1;
        return d;
      };
      auto place = [&](int origin, int size, int control) {
        const int zoomed = Trunc(size * z);
        if (origin < 0 || control > zoomed) return 0;
        const int farthest = size - Trunc((control - s) / z);
        return std::min(origin, farthest);
      };
      origin_.X = place(origin_.X + step(grab_.last.X, x), bitmap->Width(), W);
      origin_.Y = place(origin_.Y + step(grab_.last.Y, y), bitmap->Height(), H);
    }
    grab_.last = {x, y};
    Invalidate();
    Owner().Update();
  }
  TControl::MouseMove(shift, x, y);
}

void TDBPictureView::MouseUp(toolkit::TMouseButton button, toolkit::TShiftState shift, int x, int y) {
  if (button == toolkit::TMouseButton::mbLeft && grab_.active) {
    grab_.active = false;
    SetCursor(grab_.controlCursor);
    toolkit::SetScreenCursor(grab_.screenCursor);
  }
  TControl::MouseUp(button, shift, x, y);
}

void TDBPictureView::DblClick() {
  LoadBlobContent();
  TControl::DblClick();
}

}  // namespace media
