#pragma once
// The data-aware picture control: shows the blob field of a data source's
// current record, recognised and decoded by the image library. Loading and
// the keyboard live in picture_view.cpp, painting and the pointer in
// picture_paint.cpp.

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "dataset/data_source.h"
#include "media/content_recognition.h"
#include "media/image_library.h"
#include "toolkit/controls.h"

namespace media {

enum TLoadResolution { lColorVga, lMonoChrome, lColor16, lColor256, lColorTrue, lAutoMatic };
enum TSaveResolution {
  sColorVga, sMonoChrome, sColor16, sColor256, sColorTrue, sJpegGray, sAutoMatic
};
enum TPCDMode { pcd_BASE16, pcd_BASE4, pcd_BASE };
enum TBWImageFlags { C_DEL, C_AND, C_OR, C_ANTIALIAS, C_ANTIALIAS256 };
// A set of TBWImageFlags, one bit per flag.
using TBWImageFlagSet = unsigned;
constexpr TBWImageFlagSet FlagOf(TBWImageFlags f) { return 1u << f; }
enum TSortDither { IL_BAYER, IL_BURKES, IL_FLOYD, IL_GRAYSCALE };
enum TFXMethod { FXNone, FXHorizontal, FXVertical, FXDiagonal, FXDiagonalSquares, FXRectangles };
enum TTiffCompression { sNONE, sCCITT, sFAXCCITT3, sFAXCCITT4, sLZW, sPACKBITS };
enum TBlitMode { sLight, sDark, sLightest };
enum TBlobUpDate {
  bUpdateAsJPG, bUpdateAsBMP, bUpdateAsGIF, bUpdateAsPCX, bUpdateAsTGA, bUpdateAsPNG, bUpdateAsTIF
};
enum TBorderStyle { bsNone, bsSingle };

// What the control shows: nothing, a bitmap, or a metafile, which this
// platform sizes from its header and draws as an empty area.
class TPicture {
 public:
  bool HasGraphic() const { return bitmap_ || metafile_; }
  bool HasBitmap() const { return bitmap_ != nullptr; }
  // No graphic, or one without pixels.
  bool Empty() const { return Width() <= 0 || Height() <= 0; }
  toolkit::TBitmap* Bitmap() const { return bitmap_.get(); }
  int Width() const;
  int Height() const;
  void AssignBitmap(std::unique_ptr<toolkit::TBitmap> bitmap);
  void AssignMetafile(int width, int height);
  void Clear();
  // After every change, clearing included.
  std::function<void()> OnChange;

 private:
  void Changed() {
    if (OnChange) OnChange();
  }
  std::unique_ptr<toolkit::TBitmap> bitmap_;
  bool metafile_ = false;
  int metafileWidth_ = 0, metafileHeight_ = 0;
};

// Replaced pictures, newest first; shared by every control of the process.
struct TUndoHistory {
  TUndoHistory();
  std::array<std::unique_ptr<toolkit::TBitmap>, 4> Slots;
  bool Available = false;
  // A copy of `picture` (an empty bitmap for none) goes in front; the oldest drops out.
  void Push(const toolkit::TBitmap* picture);
};
TUndoHistory& UndoHistory();

// The program's clipboard for pictures: one device-independent bitmap.
struct TPictureClipboard {
  TDibHandle Dib;
};
TPictureClipboard& PictureClipboard();

// The scroll bars and their corner panel as the layout leaves them; this
// platform draws them as plain bars and moves them through ScrollBarMoved.
struct TScrollBarModel {
  int Left = -1, Top = -1, Width = -1, Height = -1;
  int Min = 0, Max = 100, Position = 0, SmallChange = 5, LargeChange = 25;
  bool Visible = false, Enabled = true, TabStop = false;
};

class TDBPictureView : public toolkit::TControl {
 public:
  TDBPictureView(toolkit::TForm& owner, std::string name);
  ~TDBPictureView() override;

  // Once the properties are set: lays out the scroll bars and registers with
  // the library's annotation layer. Throws ErrorInvalid when the library
  // cannot be loaded, which stops the form.
  virtual void Loaded();

  dataset::TDataSource* DataSource() const { return link_.DataSource(); }
  void SetDataSource(dataset::TDataSource* source) { link_.SetDataSource(source); }
  const std::string& DataField() const { return link_.FieldName(); }
  void SetDataField(const std::string& name) { link_.SetFieldName(name); }
  bool ReadOnly() const { return link_.ReadOnly(); }
  void SetReadOnly(bool value) { link_.SetReadOnly(value); }
  bool AutoDisplay() const { return autoDisplay_; }
  // Switching it on loads at once.
  void SetAutoDisplay(bool value);

  bool Center() const { return center_; }
  void SetCenter(bool value);
  bool Stretch() const { return stretch_; }
  // Switching it on switches StretchRatio off.
  void SetStretch(bool value);
  bool StretchRatio() const { return stretchRatio_; }
  // Zooms to fit keeping the aspect ratio; switching it off restores the zoom
  // and origin it found. Switching it on switches Stretch off.
  void SetStretchRatio(bool value);
  bool Scrolling() const { return scrolling_; }
  void SetScrolling(bool value);
  bool ShowScrollbars() const { return showScrollbars_; }
  void SetShowScrollbars(bool value);
  int ScrollbarWidth() const { return scrollbarWidth_; }
  void SetScrollbarWidth(int value);
  toolkit::TCursor GrabHandCursor() const { return grabHandCursor_; }
  // Stores the grab hand under the new cursor slot.
  void SetGrabHandCursor(toolkit::TCursor slot);
  TBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TBorderStyle value);
  TBlitMode BlitMode() const { return blitMode_; }
  void SetBlitMode(TBlitMode value);
  int JPegSaveQuality() const { return jpegSaveQuality_; }
  // 1..100; anything else stores 25.
  void SetJPegSaveQuality(int value);
  int JPegSaveSmooth() const { return jpegSaveSmooth_; }
  // 1..100; anything else stores 5.
  void SetJPegSaveSmooth(int value);
  toolkit::TColor Color() const { return color_; }
  void SetColor(toolkit::TColor value);
  const toolkit::TFont& Font() const { return font_; }
  void SetFont(const toolkit::TFont& value);

  // The overlay text and how it is drawn. TextRotate is kept but not drawn:
  // the text renderer has no rotated output.
  const std::string& Text() const { return text_; }
  void SetText(const std::string& value);
  int TextLeft() const { return textLeft_; }
  void SetTextLeft(int value);
  int TextTop() const { return textTop_; }
  void SetTextTop(int value);
  int TextRotate() const { return textRotate_; }
  void SetTextRotate(int value);
  bool TextShadow() const { return textShadow_; }
  void SetTextShadow(bool value);
  toolkit::TColor TextShadowColor() const { return textShadowColor_; }
  void SetTextShadowColor(toolkit::TColor value);
  bool TextTransParent() const { return textTransparent_; }
  void SetTextTransParent(bool value);

  double Version() const { return version_; }

  // Properties that only hold their value.
  int ZoomBy = 10;
  TLoadResolution ImageReadRes = lAutoMatic;
  TSaveResolution ImageWriteRes = sAutoMatic;
  bool ImageDither = false;
  TPCDMode PCDMode = pcd_BASE4;
  std::int16_t TiffPage = 1;
  bool TiffAppend = false;
  TTiffCompression TifSaveCompress = sNONE;
  bool PNGInterLaced = false;
  TBlobUpDate BlobUpDate = bUpdateAsJPG;
  TBWImageFlagSet B_W_CopyFlags = FlagOf(C_DEL);
  bool ILUndo = true;
  TSortDither ReduceDither = IL_BAYER;
  toolkit::TColor RotateBackColor = toolkit::clBtnFace;
  TFXMethod FXMethod = FXNone;  // transitions are not drawn: a new picture shows at once
  int FXDelay = 25;
  int FXColRowThick = 4;
  bool EditAnnotat = false;
  bool AllowRubberBand = false;
  toolkit::TMouseButton RubberBandBtn = toolkit::TMouseButton::mbLeft;
  bool P_Begin_End_Doc = true;

  toolkit::TNotifyEvent OnPictureChanged;
  toolkit::TNotifyEvent OnFinishedLoadSave;
  toolkit::TNotifyEvent OnPaint;
  // Set cancel to stop the library's operation.
  std::function<void(std::uint16_t progress, const std::string& message, bool& cancel)> OnProgress;
  std::function<void(std::uint16_t code, const std::string& text, const char* textZ)> OnIlibError;
  // Where the picture was just drawn, in client coordinates.
  std::function<void(int x, int y, int xx, int yy)> OnPaintArea;
  // Annotation and rubber-band events: kept for handlers that set them; the
  // annotation layer of this platform and the grab-only pointer never raise them.
  toolkit::TNotifyEvent OnAnnoDone;
  std::function<void(toolkit::TMouseButton button, toolkit::TShiftState shift, int x, int y,
                     int xx, int yy)>
      OnRubberband;
  std::function<void(long object, bool selecting)> OnAnnoClick;
  std::function<void(void* handle, const std::string& customName, int x, int y, int xx, int yy)>
      OnCustomAnnotationDraw, OnCustomAnnotationHardDraw;
  std::function<void(int passCode, bool& canDraw, const std::string& annoName)>
      OnBeforeAnnotationDraw;
  std::function<void(const std::string& annoName)> OnAfterAnnotationDraw;

  // Reads, recognises and shows the field's blob unless a picture is loaded
  // since the last data change.
  void LoadBlobContent();
  bool PictureLoaded() const { return pictureLoaded_; }
  const TContentInfo& ContentInfo() const { return info_; }
  // What the last recognition made of the blob: "PNG", "WAV", ... or "-1".
  const std::string& ContentKind() const { return kind_; }
  TPicture& Picture() { return picture_; }
  const TPicture& Picture() const { return picture_; }
  dataset::TFieldDataLink& DataLink() { return link_; }

  // Colour depth asked of the decoder, by ImageReadRes.
  int RequestedDepth() const;
  // The depth pictures are decoded to for the screen.
  static int DisplayDepth();

  // Without an OnIlibError handler throws ErrorInvalid with the library's
  // last error text; with one, hands the error to it.
  void ReportLibraryError();
  // False when the OnProgress handler asked to cancel.
  bool ReportProgress(int percent);
  // The library's progress callback; `control` is the view or null.
  static int ProgressCallback(std::uint16_t percent, void* control);

  void CopyToClipboard();
  // Copies, then empties the picture if the field can be edited.
  void CutToClipboard();
  // Takes the clipboard's picture if the field can be edited.
  void PasteFromClipboard();

  // Painting state.
  double ZoomFactor() const { return zoom_; }
  toolkit::TPoint ScrollOrigin() const { return origin_; }
  toolkit::TPoint CenterOffset() const { return centerOffset_; }
  bool GrabScrolling() const { return grab_.active; }
  const TScrollBarModel& HorzScrollBar() const { return horz_; }
  const TScrollBarModel& VertScrollBar() const { return vert_; }
  const TScrollBarModel& CornerPanel() const { return corner_; }
  // The user moved a bar to `position`.
  void ScrollBarMoved(bool horizontal, int position);

  // The area inside the border and what the last paint drew there.
  int ClientWidth() const;
  int ClientHeight() const;
  const toolkit::TBitmap& ClientImage() const { return client_; }

  void Paint(toolkit::TCanvas& target) override;
  void SetBounds(int left, int top, int width, int height) override;
  void MouseDown(toolkit::TMouseButton button, toolkit::TShiftState shift, int x, int y) override;
  void MouseMove(toolkit::TShiftState shift, int x, int y) override;
  void MouseUp(toolkit::TMouseButton button, toolkit::TShiftState shift, int x, int y) override;
  void DblClick() override;
  void KeyDown(toolkit::TKey& key, toolkit::TShiftState shift) override;
  void FocusChanged() override { Invalidate(); }

 protected:
  // The data link reports another record, field or activity.
  virtual void DataChange();
  // The middle of a load, for a blob that is not null.
  virtual void LoadContent(const dataset::TField& field);
  // Runs before a paste replaces the picture.
  virtual void BeforePaste() {}
  // An empty (not null) blob.
  virtual void EmptyBlob();

  static std::vector<std::uint8_t> BlobBytes(const dataset::TField& field);
  // Fills ContentInfo and answers the content kind ("-1" when unknown or failed).
  std::string RecognizeContent(std::span<const std::uint8_t> bytes);
  // Shows the kinds both controls show: banners, metafiles, raster pictures.
  void ShowContent(const std::string& kind, std::span<const std::uint8_t> bytes, int depth);
  static bool IsRasterKind(const std::string& kind);
  void ClearContent(bool clear);
  void PushUndo();
  void ComputeRatioZoom();
  void SetContentKind(std::string kind) { kind_ = std::move(kind); }
  // Counts data changes. Reading a blob that another process rewrote has
  // the dataset show the record anew, a data change of its own that loads
  // the record as it now is; the load that was reading is out of date then,
  // down to the null flag it went by.
  std::uint64_t DataChanges() const { return dataChanges_; }

 private:
  void PictureChanged();
  void UpdateData();
  void DecodeRaster(const std::string& kind, std::span<const std::uint8_t> bytes, int depth);
  bool LinkCanEdit();
  void RethrowPending();
  int SaveDepth(TBlobUpDate format) const;
  void InstallGrabHand(toolkit::TCursor slot);

  // Painting (picture_paint.cpp).
  int Border() const { return borderStyle_ == bsSingle ? 1 : 0; }
  void PaintClient(toolkit::TCanvas& c);
  void PaintSimple(toolkit::TCanvas& c);
  void PaintScrolling(toolkit::TCanvas& c);
  void DrawCaption(toolkit::TCanvas& c);
  void DrawOverlay(toolkit::TCanvas& c);
  void DrawFocusFrame(toolkit::TCanvas& c);
  void PaintScrollBars(toolkit::TCanvas& c);
  void LayoutScrollBars();
  toolkit::TStretchMode StretchMode() const;
  bool ZoomedLargerThanControl() const;

  dataset::TFieldDataLink link_;
  TPicture picture_;
  TContentInfo info_;
  std::string kind_ = "-1";
  std::uint64_t dataChanges_ = 0;
  bool pictureLoaded_ = false;
  bool loaded_ = false;
  bool annotationRegistered_ = false;
  std::exception_ptr pendingException_;  // thrown by a handler inside a library call

  bool autoDisplay_ = true;
  bool center_ = true;
  bool stretch_ = false;
  bool stretchRatio_ = false;
  bool scrolling_ = true;
  bool showScrollbars_ = false;
  int scrollbarWidth_ = 12;
  toolkit::TCursor grabHandCursor_ = 5;
  TBorderStyle borderStyle_ = bsSingle;
  TBlitMode blitMode_ = sLight;
  int jpegSaveQuality_ = 25;
  int jpegSaveSmooth_ = 0;
  toolkit::TColor color_ = toolkit::clWindow;
  toolkit::TFont font_;
  std::string text_;
  int textLeft_ = 0, textTop_ = 0, textRotate_ = 0;
  bool textShadow_ = false;
  toolkit::TColor textShadowColor_ = toolkit::clBlack;
  bool textTransparent_ = true;
  double version_;

  double zoom_ = 1.0, savedZoom_ = 1.0;
  toolkit::TPoint origin_, savedOrigin_, centerOffset_;
  struct {
    bool active = false;
    toolkit::TPoint last;
    toolkit::TCursor controlCursor = toolkit::crDefault;
    toolkit::TCursor screenCursor = toolkit::crDefault;
  } grab_;
  TScrollBarModel horz_, vert_, corner_;
  toolkit::TColor brushColor_ = toolkit::clWhite;  // the canvas brush a new control has
  toolkit::TBitmap client_;
};

}  // namespace media
