#include "toolkit/graphics.h"

#include <SDL.h>
#include <SDL_image.h>
#include <SDL_ttf.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <stdexcept>
#include <tuple>

#include "toolkit/font_faces.h"

namespace toolkit {
namespace {

constexpr Uint32 kFormat = SDL_PIXELFORMAT_XRGB8888;

SDL_Surface* NewSurface(int w, int h) {
  SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, std::max(w, 0), std::max(h, 0), 32, kFormat);
  if (!s) throw std::runtime_error(std::string("cannot create a bitmap: ") + SDL_GetError());
  return s;
}

Uint32 MapColor(SDL_Surface* s, TColor c) { return SDL_MapRGB(s->format, c.r, c.g, c.b); }

struct FontCache {
  std::map<std::tuple<std::string, bool, int>, TFontFace> faces;
  std::map<std::tuple<std::string, int, bool, int>, TTF_Font*> fonts;

  const TFontFace& Face(const TFont& f) {
    auto key = std::make_tuple(f.Name, f.Bold, static_cast<int>(f.Pitch));
    auto it = faces.find(key);
    if (it == faces.end()) it = faces.emplace(key, ResolveFace(f.Name, f.Bold, f.Pitch)).first;
    return it->second;
  }

  TTF_Font* Open(const TFont& f) {
    const TFontFace& face = Face(f);
    int height = std::max(1, f.Height);
    auto key = std::make_tuple(face.file.string(), height, f.Bold && !face.bold, face.index);
    auto it = fonts.find(key);
    if (it != fonts.end()) return it->second;
    if (!TTF_WasInit() && TTF_Init() != 0)
      throw std::runtime_error(std::string("cannot start the text renderer: ") + TTF_GetError());
    TTF_Font* font = TTF_OpenFontIndex(face.file.c_str(), height, face.index);
    if (!font)
      throw std::runtime_error("cannot open font " + face.file.string() + ": " + TTF_GetError());
    if (std::get<2>(key)) TTF_SetFontStyle(font, TTF_STYLE_BOLD);
    fonts.emplace(key, font);
    return font;
  }

  void Clear() {
    for (auto& [key, font] : fonts) TTF_CloseFont(font);
    fonts.clear();
  }
};

// Never destroyed, for the same reason as the cursor table.
FontCache& Cache() {
  static auto* cache = new FontCache;
  return *cache;
}

}  // namespace

TTF_Font* TFont::Handle() const { return Cache().Open(*this); }

std::filesystem::path ResolveFontFile(const TFont& font) { return Cache().Face(font).file; }

void ClearFontCache() { Cache().Clear(); }

// ---- TCanvas ----

void TCanvas::FillRect(const TRect& r) {
  if (!surface_ || r.Width() <= 0 || r.Height() <= 0) return;
  const Uint32 pixel = MapColor(surface_, Brush.Color);
  if (surface_->format->BytesPerPixel != 4 || SDL_MUSTLOCK(surface_)) {
    const SDL_Rect rect{r.Left, r.Top, r.Width(), r.Height()};
    SDL_FillRect(surface_, &rect, pixel);
  } else {
    // A loop the compiler widens; SDL's own fill stores a pixel at a time in
    // a browser, where the whole window is filled at every repaint.
    const int left = std::max(r.Left, 0), right = std::min(r.Right, surface_->w);
    for (int y = std::max(r.Top, 0); y < std::min(r.Bottom, surface_->h) && left < right; ++y) {
      auto* row = reinterpret_cast<Uint32*>(static_cast<Uint8*>(surface_->pixels) +
                                            static_cast<std::ptrdiff_t>(y) * surface_->pitch);
      std::fill(row + left, row + right, pixel);
    }
  }
  Changed();
}

void TCanvas::FrameRect(const TRect& r) {
  if (!surface_ || r.Width() <= 0 || r.Height() <= 0) return;
  const Uint32 pixel = MapColor(surface_, Brush.Color);
  const SDL_Rect edges[] = {{r.Left, r.Top, r.Width(), 1},
                            {r.Left, r.Bottom - 1, r.Width(), 1},
                            {r.Left, r.Top, 1, r.Height()},
                            {r.Right - 1, r.Top, 1, r.Height()}};
  for (const SDL_Rect& e : edges) SDL_FillRect(surface_, &e, pixel);
  Changed();
}

int TCanvas::TextWidth(const std::string& text) const { return TextExtent(text).X; }

int TCanvas::TextHeight(const std::string& text) const { return TextExtent(text).Y; }

TPoint TCanvas::TextExtent(const std::string& text) const {
  TTF_Font* font = Font.Handle();
  int w = 0;
  if (!text.empty()) TTF_SizeUTF8(font, text.c_str(), &w, nullptr);
  return {w, TTF_FontHeight(font)};
}

void TCanvas::TextOut(int x, int y, const std::string& text) {
  if (!surface_) return;
  TPoint extent = TextExtent(text);
  if (Brush.Style == TBrushStyle::bsSolid) {
    SDL_Rect back{x, y, extent.X, extent.Y};
    SDL_FillRect(surface_, &back, MapColor(surface_, Brush.Color));
  }
  if (!text.empty()) {
    SDL_Color fg{Font.Color.r, Font.Color.g, Font.Color.b, 255};
    SDL_Surface* glyphs = TTF_RenderUTF8_Blended(Font.Handle(), text.c_str(), fg);
    if (!glyphs) throw std::runtime_error(std::string("cannot draw text: ") + TTF_GetError());
    SDL_SetSurfaceBlendMode(glyphs, SDL_BLENDMODE_BLEND);
    // Clip to the measured extent so drawing and measuring never disagree.
    SDL_Rect src{0, 0, std::min(glyphs->w, extent.X), std::min(glyphs->h, extent.Y)};
    SDL_Rect dst{x, y, src.w, src.h};
    SDL_BlitSurface(glyphs, &src, surface_, &dst);
    SDL_FreeSurface(glyphs);
  }
  Changed();
}

void TCanvas::LineTo(int x, int y) {
  if (surface_) {
    Uint32 pixel = MapColor(surface_, Pen.Color);
    int x0 = penPos_.X, y0 = penPos_.Y;
    int dx = std::abs(x - x0), dy = -std::abs(y - y0);
    int sx = x0 < x ? 1 : -1, sy = y0 < y ? 1 : -1;
    int err = dx + dy;
    while (!(x0 == x && y0 == y)) {
      if (x0 >= 0 && y0 >= 0 && x0 < surface_->w && y0 < surface_->h)
        static_cast<Uint32*>(surface_->pixels)[y0 * (surface_->pitch / 4) + x0] = pixel;
      int e2 = 2 * err;
      if (e2 >= dy) { err += dy; x0 += sx; }
      if (e2 <= dx) { err += dx; y0 += sy; }
    }
    Changed();
  }
  penPos_ = {x, y};
}

void TCanvas::Draw(int x, int y, const TBitmap& source) {
  if (!surface_ || source.Empty()) return;
  SDL_Rect dst{x, y, source.Width(), source.Height()};
  SDL_BlitSurface(source.Surface(), nullptr, surface_, &dst);
  Changed();
}

void TCanvas::CopyRect(const TRect& dest, const TCanvas& source, const TRect& sourceRect) {
  if (!surface_ || !source.surface_) return;
  SDL_Rect src{sourceRect.Left, sourceRect.Top, sourceRect.Width(), sourceRect.Height()};
  SDL_Rect dst{dest.Left, dest.Top, dest.Width(), dest.Height()};
  SDL_BlitSurface(source.surface_, &src, surface_, &dst);
  Changed();
}

void TCanvas::StretchCopy(const TRect& dest, const TBitmap& source, const TRect& sourceRect,
                          TStretchMode mode) {
  SDL_Surface* from = source.Surface();
  const int dw = dest.Width(), dh = dest.Height();
  const int sw = sourceRect.Width(), sh = sourceRect.Height();
  if (!surface_ || !from || dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
  if (from->format->BytesPerPixel != 4 || surface_->format->BytesPerPixel != 4) return;
  if (dw == sw && dh == sh) {
    CopyRect(dest, source.Canvas(), sourceRect);
    return;
  }
  const bool sameFormat = from->format->format == surface_->format->format;
  // The source span [first, last) that target offset i of n covers; at least
  // one pixel, so enlarging repeats pixels.
  auto span = [](int i, int n, int start, int length) {
    const int first = start + static_cast<int>(std::int64_t{i} * length / n);
    int last = start + static_cast<int>(std::int64_t{i + 1} * length / n);
    if (last <= first) last = first + 1;
    return std::pair{first, last};
  };
  const auto* in = static_cast<const Uint8*>(from->pixels);
  auto* out = static_cast<Uint8*>(surface_->pixels);
  for (int j = 0; j < dh; ++j) {
    const int ty = dest.Top + j;
    if (ty < 0 || ty >= surface_->h) continue;
    auto [y0, y1] = span(j, dh, sourceRect.Top, sh);
    if (mode == TStretchMode::smColorOnColor) y1 = y0 + 1;
    y0 = std::max(y0, 0);
    y1 = std::min(y1, from->h);
    if (y0 >= y1) continue;
    auto* row = reinterpret_cast<Uint32*>(out + static_cast<std::ptrdiff_t>(ty) * surface_->pitch);
    for (int i = 0; i < dw; ++i) {
      const int tx = dest.Left + i;
      if (tx < 0 || tx >= surface_->w) continue;
      auto [x0, x1] = span(i, dw, sourceRect.Left, sw);
      if (mode == TStretchMode::smColorOnColor) x1 = x0 + 1;
      x0 = std::max(x0, 0);
      x1 = std::min(x1, from->w);
      if (x0 >= x1) continue;
      Uint32 merged = mode == TStretchMode::smBlackOnWhite ? 0xFFFFFFFFu : 0u;
      for (int y = y0; y < y1; ++y) {
        const auto* src = reinterpret_cast<const Uint32*>(in + static_cast<std::ptrdiff_t>(y) * from->pitch);
        for (int x = x0; x < x1; ++x) {
          if (mode == TStretchMode::smBlackOnWhite)
            merged &= src[x];
          else
            merged |= src[x];
        }
      }
      if (!sameFormat) {
        Uint8 r, g, b;
        SDL_GetRGB(merged, from->format, &r, &g, &b);
        merged = SDL_MapRGB(surface_->format, r, g, b);
      }
      row[tx] = merged;
    }
  }
  Changed();
}

TColor TCanvas::Pixel(int x, int y) const {
  if (!surface_ || x < 0 || y < 0 || x >= surface_->w || y >= surface_->h) return clBlack;
  Uint32 p = static_cast<const Uint32*>(surface_->pixels)[y * (surface_->pitch / 4) + x];
  TColor c;
  SDL_GetRGB(p, surface_->format, &c.r, &c.g, &c.b);
  return c;
}

void TCanvas::SetPixel(int x, int y, TColor c) {
  if (!surface_ || x < 0 || y < 0 || x >= surface_->w || y >= surface_->h) return;
  static_cast<Uint32*>(surface_->pixels)[y * (surface_->pitch / 4) + x] = MapColor(surface_, c);
  Changed();
}

// ---- TBitmap ----

TBitmap::TBitmap() { Adopt(NewSurface(0, 0)); }

TBitmap::TBitmap(int width, int height, TColor fill) { SetSize(width, height, fill); }

TBitmap::~TBitmap() { SDL_FreeSurface(surface_); }

int TBitmap::Width() const { return surface_ ? surface_->w : 0; }
int TBitmap::Height() const { return surface_ ? surface_->h : 0; }

void TBitmap::Adopt(SDL_Surface* s) {
  SDL_FreeSurface(surface_);
  surface_ = s;
  // Plain copies: a bitmap never blends into what it is drawn on.
  SDL_SetSurfaceBlendMode(surface_, SDL_BLENDMODE_NONE);
  canvas_.SetSurface(surface_);
}

void TBitmap::SetSize(int width, int height, TColor fill) {
  Adopt(NewSurface(width, height));
  SDL_FillRect(surface_, nullptr, MapColor(surface_, fill));
}

void TBitmap::Assign(const TBitmap& source) {
  if (&source == this) return;
  SDL_Surface* copy = NewSurface(source.Width(), source.Height());
  if (!source.Empty()) SDL_BlitSurface(source.surface_, nullptr, copy, nullptr);
  Adopt(copy);
}

void TBitmap::LoadFromFile(const std::filesystem::path& path, int width, int height,
                           TColor background) {
  SDL_RWops* rw = SDL_RWFromFile(path.c_str(), "rb");
  if (!rw) throw std::runtime_error("cannot open picture file \"" + path.string() + "\"");
  SDL_Surface* loaded = nullptr;
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
  if (ext == ".svg")
    loaded = IMG_LoadSizedSVG_RW(rw, width, height);
  else
    loaded = IMG_Load_RW(rw, 0);
  SDL_RWclose(rw);
  if (!loaded)
    throw std::runtime_error("cannot read picture file \"" + path.string() + "\": " +
                             IMG_GetError());
  SDL_Surface* target = NewSurface(loaded->w, loaded->h);
  SDL_FillRect(target, nullptr, MapColor(target, background));
  SDL_SetSurfaceBlendMode(loaded, SDL_BLENDMODE_BLEND);
  SDL_BlitSurface(loaded, nullptr, target, nullptr);
  SDL_FreeSurface(loaded);
  Adopt(target);
}

void TBitmap::SaveToPng(const std::filesystem::path& path) const {
  if (IMG_SavePNG(surface_, path.c_str()) != 0)
    throw std::runtime_error("cannot save \"" + path.string() + "\": " + IMG_GetError());
}

}  // namespace toolkit
