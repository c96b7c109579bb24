#include "media/picture_view.h"

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <utility>

#include "dataset/ascii_text.h"
#include "dataset/database_error.h"
#include "dataset/field.h"
#include "media/packed_dib.h"
#include "toolkit/cursors.h"
#include "toolkit/form.h"
#include "toolkit/platform.h"

namespace media {
namespace {

using toolkit::TBitmap;

double ParseVersion() {
  // Read as the original did, through the locale's decimal separator.
  const std::string text = std::string("5") + std::localeconv()->decimal_point + "1";
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  return end && *end == 0 ? value : 50.0;
}

// A closed hand seen from above, 16 x 16: 'X' outline, 'o' fill.
constexpr const char* kGrabHand[16] = {
    "                ", "                ", "                ", "    XX XX XX    ",
    "   XooXooXooXX  ", "   XooXooXooXoX ", "  XXooooooooXoX ", " XooXoooooooooX ",
    " XoooooooooooooX", "  XooooooooooooX", "   XoooooooooooX", "   XooooooooooX ",
    "    XoooooooooX ", "     XooooooooX ", "     XooooooooX ", "                ",
};

}  // namespace

// ---- TPicture ----

int TPicture::Width() const {
  if (bitmap_) return bitmap_->Width();
  return metafile_ ? metafileWidth_ : 0;
}

int TPicture::Height() const {
  if (bitmap_) return bitmap_->Height();
  return metafile_ ? metafileHeight_ : 0;
}

void TPicture::AssignBitmap(std::unique_ptr<TBitmap> bitmap) {
  bitmap_ = std::move(bitmap);
  metafile_ = false;
  Changed();
}

void TPicture::AssignMetafile(int width, int height) {
  bitmap_.reset();
  metafile_ = true;
  metafileWidth_ = std::max(width, 0);
  metafileHeight_ = std::max(height, 0);
  Changed();
}

void TPicture::Clear() {
  bitmap_.reset();
  metafile_ = false;
  Changed();
}

// ---- process-wide state ----

TUndoHistory::TUndoHistory() {
  for (auto& slot : Slots) slot = std::make_unique<TBitmap>();
}

void TUndoHistory::Push(const TBitmap* picture) {
  std::rotate(Slots.rbegin(), Slots.rbegin() + 1, Slots.rend());
  if (picture)
    Slots[0]->Assign(*picture);
  else
    Slots[0]->SetSize(0, 0);
  Available = true;
}

TUndoHistory& UndoHistory() {
  static TUndoHistory history;
  return history;
}

TPictureClipboard& PictureClipboard() {
  static TPictureClipboard clipboard;
  return clipboard;
}

// ---- TDBPictureView ----

TDBPictureView::TDBPictureView(toolkit::TForm& owner, std::string name)
    : TControl(owner, std::move(name)), version_(ParseVersion()) {
  bounds_ = toolkit::Bounds(0, 0, 105, 105);
  TabStop = true;
  picture_.OnChange = [this] { PictureChanged(); };
  link_.OnDataChange = [this] { DataChange(); };
  link_.OnUpdateData = [this] { UpdateData(); };
  InstallGrabHand(grabHandCursor_);
}

TDBPictureView::~TDBPictureView() {
  link_.OnDataChange = nullptr;
  link_.OnUpdateData = nullptr;
  picture_.OnChange = nullptr;
  if (grab_.active) toolkit::SetScreenCursor(grab_.screenCursor);
  if (annotationRegistered_) DestroyAnnotation(static_cast<TDBPictureView*>(this));
}

void TDBPictureView::Loaded() {
  loaded_ = true;
  horz_ = vert_ = corner_ = TScrollBarModel{};
  LayoutScrollBars();
  // The settings file the layer reads sits beside the program.
  const std::string settings = (toolkit::ProgramFilePath().parent_path() / "pic_anno.ini").string();
  InitAnnotation(static_cast<TDBPictureView*>(this), settings);
  annotationRegistered_ = true;
}

void TDBPictureView::InstallGrabHand(toolkit::TCursor slot) {
  std::array<unsigned, 16 * 16> argb{};
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const char c = kGrabHand[y][x];
      argb[static_cast<std::size_t>(y * 16 + x)] = c == 'X' ? 0xFF000000u : c == 'o' ? 0xFFFFFFFFu : 0u;
    }
  toolkit::SetCustomCursor(slot, argb.data(), 16, 16, 8, 8);
}

// ---- setters with side effects (the layout ones are in picture_paint.cpp) ----

void TDBPictureView::SetAutoDisplay(bool value) {
  if (value == autoDisplay_) return;
  autoDisplay_ = value;
  if (value) LoadBlobContent();
}

void TDBPictureView::SetGrabHandCursor(toolkit::TCursor slot) {
  grabHandCursor_ = slot;
  InstallGrabHand(slot);
}

void TDBPictureView::SetBorderStyle(TBorderStyle value) {
  borderStyle_ = value;
  Invalidate();
}

void TDBPictureView::SetJPegSaveQuality(int value) {
  jpegSaveQuality_ = value >= 1 && value <= 100 ? value : 25;
}

void TDBPictureView::SetJPegSaveSmooth(int value) {
  jpegSaveSmooth_ = value >= 1 && value <= 100 ? value : 5;
}

void TDBPictureView::SetColor(toolkit::TColor value) {
  color_ = value;
  Invalidate();
}

void TDBPictureView::SetFont(const toolkit::TFont& value) {
  font_ = value;
  Invalidate();
}

// ---- loading ----

void TDBPictureView::DataChange() {
  ++dataChanges_;
  info_.Clear();
  // Banners are never drawn on this platform, so there is no banner mode to leave.
  pictureLoaded_ = false;
  if (autoDisplay_) LoadBlobContent();
}

void TDBPictureView::LoadBlobContent() {
  zoom_ = savedZoom_ = 1.0;
  origin_ = savedOrigin_ = {};
  const dataset::TField* field = link_.Field();
  if (!pictureLoaded_ && field && field->IsBlob()) {
    if (field->IsNull()) {
      ClearContent(true);
      return;
    }
    LoadContent(*field);
    if (stretchRatio_) ComputeRatioZoom();
    Invalidate();
  }
  if (OnFinishedLoadSave) OnFinishedLoadSave();
}

void TDBPictureView::LoadContent(const dataset::TField& field) {
  ReportProgress(0);
  const int depth = RequestedDepth();
  const std::uint64_t changes = DataChanges();
  const std::vector<std::uint8_t> bytes = BlobBytes(field);
  // The record was shown anew meanwhile, and loaded as it now is.
  if (DataChanges() != changes) return;
  kind_ = RecognizeContent(bytes);
  ShowContent(kind_, bytes, depth);
}

std::vector<std::uint8_t> TDBPictureView::BlobBytes(const dataset::TField& field) {
  const auto* blob = dynamic_cast<const dataset::TBlobField*>(&field);
  return blob ? blob->AsBytes() : std::vector<std::uint8_t>{};
}

void TDBPictureView::EmptyBlob() {
  LastLibraryError().Text = "Error allocation Temporary blob memory";
  ReportLibraryError();
}

std::string TDBPictureView::RecognizeContent(std::span<const std::uint8_t> bytes) {
  const dataset::TField* field = link_.Field();
  if (field && field->IsBlob() && field->IsNull()) return kind_;
  info_.FormatName = "Empty";
  info_.FormatClass = "-1";
  info_.Width = info_.Height = -1;
  info_.Bits = info_.Extra1 = info_.Extra2 = -1;
  info_.ByteSize = -1;
  if (bytes.empty()) {
    EmptyBlob();
    return "-1";
  }
  const TRecognition result = RecognizeBytes(bytes, TiffPage, info_);
  if (result.Failed) {
    ReportLibraryError();
    return "-1";
  }
  return result.Kind;
}

bool TDBPictureView::IsRasterKind(const std::string& kind) {
  for (const char* k : {"PNG", "TIF", "GIF", "PCX", "TGA", "EPS", "BMP", "PCD", "DXF", "JPG"})
    if (kind == k) return true;
  return false;
}

void TDBPictureView::ShowContent(const std::string& kind, std::span<const std::uint8_t> bytes,
                                 int depth) {
  if (kind == "SCM" || kind == "CMS") {
    // Banner descriptions are not drawn here: the area is left empty.
    ClearContent(true);
  } else if (kind == "WMF") {
    picture_.AssignMetafile(info_.Width, info_.Height);
  } else if (IsRasterKind(kind)) {
    DecodeRaster(kind, bytes, depth);
  }
  // "RTF", media kinds and unknown content leave the picture as it is.
}

void TDBPictureView::DecodeRaster(const std::string& kind, std::span<const std::uint8_t> bytes,
                                  int depth) {
  // Pictures of few colours are decoded to black and white; the probe's -1
  // (unknown) counts as few.
  if (info_.Bits < (kind == "GIF" ? 3 : 4)) depth = 1;
  if (kind == "TIF" && info_.TiffPages >= 1 && TiffPage > info_.TiffPages) TiffPage = info_.TiffPages;
  TReadOptions options;
  options.Depth = depth;
  options.Dither = ImageDither;
  options.TiffPage = TiffPage;
  options.PcdMode = PCDMode;
  options.Control = static_cast<TDBPictureView*>(this);
  options.Progress = &ProgressCallback;
  auto bitmap = std::make_unique<TBitmap>();
  bool decoded = false;
  {
    toolkit::TScreenCursorScope wait(toolkit::crHourGlass);
    pendingException_ = nullptr;
    const TDibHandle dib = ReadPicture(kind, kind == "BMP" ? SkipGraphicHeader(bytes) : bytes, options);
    decoded = dib && DibToBitmap(dib.get(), depth, ImageDither, &ProgressCallback, options.Control, *bitmap);
  }
  RethrowPending();
  if (decoded) {
    if (ILUndo) PushUndo();
    picture_.AssignBitmap(std::move(bitmap));
    return;
  }
  // The old picture stays on show unless a handler takes the error.
  ReportLibraryError();
  picture_.Clear();
}

void TDBPictureView::RethrowPending() {
  if (std::exception_ptr e = std::exchange(pendingException_, nullptr)) std::rethrow_exception(e);
}

void TDBPictureView::ClearContent(bool clear) {
  if (!clear) return;
  picture_.Clear();
  Invalidate();
}

void TDBPictureView::PushUndo() { UndoHistory().Push(picture_.Bitmap()); }

void TDBPictureView::PictureChanged() {
  link_.SetModified();
  pictureLoaded_ = true;
  if (OnPictureChanged) OnPictureChanged();
  Invalidate();
}

int TDBPictureView::DisplayDepth() {
  // Every surface the toolkit paints on holds 32-bit pixels, so pictures are
  // asked for in true colour whatever the screen reports.
  return 24;
}

int TDBPictureView::RequestedDepth() const {
  switch (ImageReadRes) {
    case lColorVga: return 0;
    case lMonoChrome: return 1;
    case lColor16: return 4;
    case lColor256: return 8;
    case lColorTrue: return 24;
    case lAutoMatic: break;
  }
  return DisplayDepth();
}

void TDBPictureView::ReportLibraryError() {
  const TLibraryError error = LastLibraryError();
  if (!OnIlibError) throw ErrorInvalid(error.Text);
  OnIlibError(error.Code, error.Text, error.Text.c_str());
}

bool TDBPictureView::ReportProgress(int percent) {
  if (!OnProgress) return true;
  bool cancel = false;
  OnProgress(static_cast<std::uint16_t>(percent), dataset::AsciiLower(CurrentOperationText()), cancel);
  return !cancel;
}

int TDBPictureView::ProgressCallback(std::uint16_t percent, void* control) {
  auto* view = static_cast<TDBPictureView*>(control);
  if (!view) return 1;
  // Nothing may unwind through the library: a throwing handler cancels, and
  // its exception goes on once the library call has returned.
  try {
    return view->ReportProgress(percent) ? 1 : 0;
  } catch (...) {
    view->pendingException_ = std::current_exception();
    return 0;
  }
}

// ---- keyboard and clipboard ----

void TDBPictureView::KeyDown(toolkit::TKey& key, toolkit::TShiftState shift) {
  TControl::KeyDown(key, shift);
  const bool ctrl = shift & toolkit::ssCtrl;
  const bool shifted = shift & toolkit::ssShift;
  switch (key) {
    case toolkit::VK_RETURN: LoadBlobContent(); break;
    case toolkit::VK_ESCAPE: link_.Reset(); break;
    case 'C': if (ctrl) CopyToClipboard(); break;
    case 'X': if (ctrl) CutToClipboard(); break;
    case 'V': if (ctrl) PasteFromClipboard(); break;
    case toolkit::VK_INSERT:
      if (ctrl)
        CopyToClipboard();
      else if (shifted)
        PasteFromClipboard();
      break;
    case toolkit::VK_DELETE: if (shifted) CutToClipboard(); break;
    default: break;
  }
}

bool TDBPictureView::LinkCanEdit() {
  if (!link_.CanModify()) return false;
  // A dataset that offers no editing at all refuses as a read-only one does.
  try {
    return link_.Edit();
  } catch (const dataset::EDatabaseError&) {
    return false;
  }
}

void TDBPictureView::CopyToClipboard() {
  if (!picture_.HasBitmap() || picture_.Empty()) return;
  PictureClipboard().Dib = BitmapToDib(picture_.Bitmap());
}

void TDBPictureView::CutToClipboard() {
  CopyToClipboard();
  if (LinkCanEdit()) picture_.Clear();
}

void TDBPictureView::PasteFromClipboard() {
  const TDibHandle& dib = PictureClipboard().Dib;
  if (!dib || !LinkCanEdit()) return;
  BeforePaste();
  if (ILUndo) PushUndo();
  auto bitmap = std::make_unique<TBitmap>();
  pendingException_ = nullptr;
  const bool converted = DibToBitmap(dib.get(), RequestedDepth(), false, &ProgressCallback,
                                     static_cast<TDBPictureView*>(this), *bitmap);
  RethrowPending();
  if (converted) picture_.AssignBitmap(std::move(bitmap));
  if (stretchRatio_) ComputeRatioZoom();
}

// ---- saving back ----

int TDBPictureView::SaveDepth(TBlobUpDate format) const {
  const int display = DisplayDepth();
  switch (format) {
    case bUpdateAsJPG:
      return ImageWriteRes == sJpegGray || ImageWriteRes == sMonoChrome ? 1 : 24;
    case bUpdateAsTGA: {
      const int d = ImageWriteRes == sColorTrue ? 24 : ImageWriteRes == sAutoMatic ? display : 8;
      return std::max(d, 8);
    }
    case bUpdateAsGIF: {
      int d = 8;
      if (ImageWriteRes == sColor16) d = 4;
      if (ImageWriteRes == sMonoChrome) d = 1;
      if (ImageWriteRes == sColorVga) d = 0;
      if (ImageWriteRes == sAutoMatic) d = display;
      return std::min(d, 8);
    }
    default:
      switch (ImageWriteRes) {
        case sColorTrue: return 24;
        case sColor256: return 8;
        case sColor16: return 4;
        case sMonoChrome: return 1;
        case sColorVga: return 0;
        case sAutoMatic: return display;
        case sJpegGray: return 8;
      }
  }
  return display;
}

static_assert(static_cast<int>(TWriteFormat::Jpeg) == bUpdateAsJPG &&
              static_cast<int>(TWriteFormat::Gif) == bUpdateAsGIF &&
              static_cast<int>(TWriteFormat::Tga) == bUpdateAsTGA &&
              static_cast<int>(TWriteFormat::Tiff) == bUpdateAsTIF);

void TDBPictureView::UpdateData() {
  dataset::TField* field = link_.Field();
  if (!field || !field->IsBlob()) return;
  ReportProgress(0);
  if (info_.FormatName == "RTF") return;
  if (!picture_.HasBitmap() || picture_.Empty()) {
    field->Clear();
  } else {
    const TDibHandle dib = BitmapToDib(picture_.Bitmap());
    TPackedDib packed;
    packed.OwnsMemory = false;
    packed.AttachDib(dib.get());
    const std::size_t image = packed.TotalSize() - static_cast<std::uint32_t>(packed.HeaderSize());
    const auto capacity = image + static_cast<std::size_t>(std::llround(static_cast<double>(image) / 5));
    TWriteOptions options;
    options.Depth = SaveDepth(BlobUpDate);
    options.JpegQuality = jpegSaveQuality_;
    options.JpegSmooth = jpegSaveSmooth_;
    options.PngInterlaced = PNGInterLaced;
    options.TiffCompression = TifSaveCompress;
    options.TiffAppend = TiffAppend;
    options.Control = static_cast<TDBPictureView*>(this);
    options.Progress = &ProgressCallback;
    std::vector<std::uint8_t> existing;
    if (BlobUpDate == bUpdateAsTIF && !field->IsNull()) {
      existing = BlobBytes(*field);
      TContentInfo scratch;
      if (existing.empty() || RecognizeBytes(existing, 1, scratch).Kind != "TIF") existing.clear();
      options.TiffExisting = existing;
    }
    pendingException_ = nullptr;
    // BlobUpDate lists the formats in the order TWriteFormat does.
    const std::optional<std::vector<std::uint8_t>> encoded =
        WritePicture(static_cast<TWriteFormat>(BlobUpDate), *dib, capacity, options);
    RethrowPending();
    if (encoded)
      field->SetValue(*encoded);
    else
      ReportLibraryError();
  }
  if (!field->IsNull()) kind_ = RecognizeContent(BlobBytes(*field));
  if (OnFinishedLoadSave) OnFinishedLoadSave();
}

}  // namespace media
