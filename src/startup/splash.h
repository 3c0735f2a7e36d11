#pragma once
#include <SDL.h>

#include <memory>

#include "canvas/cairo_surface.h"
#include "platform/presenter.h"

namespace plasma {

// Paints the splash picture (417 x 326): white, the side picture and the train picture, the
// application title and version, and the four 5-pixel edge lines.
std::unique_ptr<CairoSurface> paintSplash();

// frmSplash: a borderless window, centred, not in the taskbar, with the hourglass pointer. It is
// painted at once on creation, on the process's presentation path, and has no behaviour of its own.
class SplashWindow {
 public:
  explicit SplashWindow(PresentPath path);
  ~SplashWindow();
  SplashWindow(const SplashWindow&) = delete;
  SplashWindow& operator=(const SplashWindow&) = delete;
  void repaint();
  SDL_Window* sdl() const { return window_; }

 private:
  SDL_Window* window_ = nullptr;
  SDL_Cursor* cursor_ = nullptr;
  std::unique_ptr<Presenter> presenter_;
  std::unique_ptr<CairoSurface> picture_;
};

}  // namespace plasma
