#include "toolkit/application.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "toolkit/form.h"

#ifdef __EMSCRIPTEN__
#include <emscripten.h>

// The page's own box when it offers one (a browser's alert would freeze the
// tab), and whether it is still up.
EM_JS(void, tamblo_show_message, (const char* caption, const char* text), {
  const page = Module.tamblo;
  if (page && typeof page.showMessage === "function")
    page.showMessage(UTF8ToString(caption), UTF8ToString(text));
  else
    alert(UTF8ToString(caption) + "\n\n" + UTF8ToString(text));
});

EM_JS(int, tamblo_message_showing, (), {
  const page = Module.tamblo;
  return page && typeof page.messageShowing === "function" && page.messageShowing() ? 1 : 0;
});
#endif

namespace toolkit {
namespace {

#ifdef __EMSCRIPTEN__
void ShowErrorBox(Application& app, const std::string& caption, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  tamblo_show_message(caption.c_str(), text.c_str());
  app.BeginModal([] { return tamblo_message_showing() != 0; });
}
#else
// The system's box returns once it is closed, so the loop waits as it should.
void ShowErrorBox(Application&, const std::string& caption, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption.c_str(), text.c_str(), nullptr);
}
#endif

TShiftState ShiftFrom(Uint16 mod, Uint32 buttons) {
  TShiftState s = 0;
  if (mod & KMOD_SHIFT) s |= ssShift;
  if (mod & KMOD_ALT) s |= ssAlt;
  if (mod & KMOD_CTRL) s |= ssCtrl;
  if (buttons & SDL_BUTTON_LMASK) s |= ssLeft;
  if (buttons & SDL_BUTTON_RMASK) s |= ssRight;
  if (buttons & SDL_BUTTON_MMASK) s |= ssMiddle;
  return s;
}

// SDL's key symbols as the platform's virtual keys; 0 for keys nothing uses.
TKey KeyFrom(SDL_Keycode sym) {
  if (sym >= SDLK_a && sym <= SDLK_z) return static_cast<TKey>('A' + (sym - SDLK_a));
  if (sym >= SDLK_0 && sym <= SDLK_9) return static_cast<TKey>('0' + (sym - SDLK_0));
  switch (sym) {
    case SDLK_BACKSPACE: return VK_BACK;
    case SDLK_TAB: return VK_TAB;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return VK_RETURN;
    case SDLK_ESCAPE: return VK_ESCAPE;
    case SDLK_SPACE: return VK_SPACE;
    case SDLK_PAGEUP: return VK_PRIOR;
    case SDLK_PAGEDOWN: return VK_NEXT;
    case SDLK_END: return VK_END;
    case SDLK_HOME: return VK_HOME;
    case SDLK_LEFT: return VK_LEFT;
    case SDLK_UP: return VK_UP;
    case SDLK_RIGHT: return VK_RIGHT;
    case SDLK_DOWN: return VK_DOWN;
    case SDLK_INSERT: return VK_INSERT;
    case SDLK_DELETE: return VK_DELETE;
    case SDLK_F11: return VK_F11;
    default: return 0;
  }
}

TMouseButton ButtonFrom(Uint8 b) {
  if (b == SDL_BUTTON_RIGHT) return TMouseButton::mbRight;
  if (b == SDL_BUTTON_MIDDLE) return TMouseButton::mbMiddle;
  return TMouseButton::mbLeft;
}

}  // namespace

std::string ErrorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

Application::Application()
    : reporter_([this](const std::string& caption, const std::string& text) { ShowErrorBox(*this, caption, text); }) {}

Application::~Application() {
  // Released last-created first: the main window before the data module it uses.
  while (!owned_.empty()) owned_.pop_back();
}

TForm* Application::AsForm(TComponent* c) { return dynamic_cast<TForm*>(c); }

void Application::Adopt(std::unique_ptr<TComponent> c, TForm* form) {
  if (form && !mainForm_) mainForm_ = form;
  owned_.push_back(std::move(c));
}

void Application::SetIcon(const std::filesystem::path& picture) {
  auto icon = std::make_unique<TBitmap>();
  icon->LoadFromFile(picture, 0, 0, clWhite);
  icon_ = std::move(icon);
}

void Application::AddWindow(TForm& form) { windows_[form.WindowId()] = &form; }

void Application::RemoveForm(TForm& form) {
  if (form.WindowId()) windows_.erase(form.WindowId());
  if (mainForm_ == &form) mainForm_ = nullptr;
}

void Application::HandleException(std::exception_ptr e) {
  std::string message;
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    message = ex.what();
  } catch (...) {
    message = "An unexpected error occurred";
  }
  reporter_(Title, ErrorBoxText(message));
}

void Application::Dispatch(const void* raw) {
  const SDL_Event& ev = *static_cast<const SDL_Event*>(raw);
  auto formOf = [this](Uint32 id) -> TForm* {
    auto it = windows_.find(id);
    return it == windows_.end() ? nullptr : it->second;
  };
  switch (ev.type) {
    case SDL_QUIT:
      if (mainForm_) mainForm_->Close(); else Terminate();
      break;
    case SDL_WINDOWEVENT:
      if (TForm* f = formOf(ev.window.windowID)) {
        if (ev.window.event == SDL_WINDOWEVENT_CLOSE) f->Close();
        if (ev.window.event == SDL_WINDOWEVENT_EXPOSED ||
            ev.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)
          f->Invalidate();
      }
      break;
    case SDL_MOUSEMOTION:
      if (TForm* f = formOf(ev.motion.windowID)) {
        const TPoint p = f->ClientFromWindow(ev.motion.x, ev.motion.y);
        f->MouseMove(p.X, p.Y, ShiftFrom(SDL_GetModState(), ev.motion.state));
      }
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      if (TForm* f = formOf(ev.button.windowID)) {
        TShiftState shift = ShiftFrom(SDL_GetModState(), SDL_GetMouseState(nullptr, nullptr));
        if (ev.type == SDL_MOUSEBUTTONDOWN && ev.button.clicks >= 2) shift |= ssDouble;
        const TPoint p = f->ClientFromWindow(ev.button.x, ev.button.y);
        if (ev.type == SDL_MOUSEBUTTONDOWN)
          f->MouseDown(ButtonFrom(ev.button.button), p.X, p.Y, shift);
        else
          f->MouseUp(ButtonFrom(ev.button.button), p.X, p.Y, shift);
      }
      break;
    case SDL_KEYDOWN:
      if (TForm* f = formOf(ev.key.windowID)) {
        if (TKey key = KeyFrom(ev.key.keysym.sym))
          f->KeyDown(key, ShiftFrom(ev.key.keysym.mod, 0) | (ev.key.repeat ? TShiftState{ssRepeat} : 0));
      }
      break;
    default:
      break;
  }
}

void Application::RepaintDirty() {
  for (auto& [id, form] : windows_)
    if (form->NeedsPaint()) form->Update();
}

bool Application::InModal() {
  if (modal_ && !modal_()) modal_ = nullptr;
  return modal_ != nullptr;
}

void Application::ProcessMessages() {
  SDL_Event ev;
  while (!Held() && SDL_PollEvent(&ev)) Dispatch(&ev);
  if (!InModal()) TTimer::FireDue(GetTickCount(), [this](TTimer& t) {
    if (!InModal()) Guard(t.OnTimer);
  });
  for (std::size_t n = posted_.size(); n > 0 && !posted_.empty() && !Held(); --n) {
    auto f = std::move(posted_.front());
    posted_.pop_front();
    Guard(f);
  }
  RepaintDirty();
}

std::optional<std::uint32_t> Application::Step() {
  if (!started_) {
    if (!mainForm_) return std::nullopt;
    started_ = true;
    mainForm_->Show();
  }
  if (terminated_) return std::nullopt;
  ProcessMessages();
  if (terminated_) return std::nullopt;
  // Behind a box nothing runs until it closes, which only polling can tell.
  if (InModal()) return kLongestSleep;
  if (!posted_.empty()) return 0;
  return std::min(TTimer::MillisecondsToNext(GetTickCount()), kLongestSleep);
}

void Application::Run() {
  while (const std::optional<std::uint32_t> wait = Step())
    if (*wait > 0) SDL_WaitEventTimeout(nullptr, static_cast<int>(*wait));
}

}  // namespace toolkit
