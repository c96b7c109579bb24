#include "toolkit/platform.h"

#include <SDL.h>
#include <SDL_image.h>
#include <SDL_ttf.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "toolkit/cursors.h"
#include "toolkit/graphics.h"

namespace toolkit {

#ifndef __EMSCRIPTEN__
namespace {

bool Named(const char* variable) {
  const char* v = std::getenv(variable);
  return v && *v;
}

}  // namespace
#endif

TDisplaySession::TDisplaySession() {
#ifdef __EMSCRIPTEN__
  // The page's canvas is the display.
  if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_TIMER) != 0)
    throw std::runtime_error(std::string("cannot open a display: ") + SDL_GetError());
#else
  // Without a named display the video system would quietly fall back to an
  // invisible off-screen driver; a child would see nothing, so say so instead.
  const bool driverChosen = Named("SDL_VIDEODRIVER");
  if (!driverChosen && !Named("DISPLAY") && !Named("WAYLAND_DISPLAY"))
    throw std::runtime_error("cannot open a display: neither DISPLAY nor WAYLAND_DISPLAY is set");
  if (!driverChosen) {
    std::string drivers = Named("DISPLAY") ? "x11" : "";
    if (Named("WAYLAND_DISPLAY")) drivers += drivers.empty() ? "wayland" : ",wayland";
    SDL_SetHint(SDL_HINT_VIDEODRIVER, drivers.c_str());
  }
  if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_TIMER) != 0)
    throw std::runtime_error(std::string("cannot open a display: ") + SDL_GetError());
  const std::string driver = SDL_GetCurrentVideoDriver() ? SDL_GetCurrentVideoDriver() : "";
  if (!driverChosen && (driver == "offscreen" || driver == "dummy")) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_TIMER);
    throw std::runtime_error("cannot open a display: the display named in the environment is not reachable");
  }
  // Our pictures are drawn in software. X11 takes them as they are; copying
  // them through OpenGL instead would load a GL driver (often a software one,
  // with its compiler) for nothing. SDL2 has no such direct path on Wayland, so
  // there the GL copy stays. An environment setting of the hint still wins.
  if (driver == "x11") SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
#endif
  if (TTF_Init() != 0) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_TIMER);
    throw std::runtime_error(std::string("cannot start the text renderer: ") + TTF_GetError());
  }
  IMG_Init(IMG_INIT_PNG);
}

TDisplaySession::~TDisplaySession() {
  ClearFontCache();
  ReleaseCursors();
  IMG_Quit();
  TTF_Quit();
  SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_TIMER);
}

std::filesystem::path ProgramFilePath() {
#ifdef __EMSCRIPTEN__
  // The page preloads the tables, assets/ and fonts/ at the root of the
  // program's file system, so that is where the program lives.
  return "/tamblo";
#else
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) throw std::system_error(ec, "cannot find the program file");
  return std::filesystem::weakly_canonical(p, ec);
#endif
}

std::string GetCurrentDir() {
  std::error_code ec;
  auto p = std::filesystem::current_path(ec);
  if (ec) throw std::system_error(ec, "cannot read the current directory");
  return p.string();
}

void SetCurrentDir(const std::string& dir) {
  if (::chdir(dir.c_str()) != 0)
    throw std::system_error(errno, std::generic_category(), "I/O error: cannot enter " + dir);
}

}  // namespace toolkit
