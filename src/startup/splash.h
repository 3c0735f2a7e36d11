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
  // Reads the window system's events and paints the picture again only when they ask for it
  // (shown, exposed, resized). Called at every wake of the start-up wait: painting on each call
  // would feed itself on Wayland, where every present brings the compositor's answers that wake
  // the wait again (hundreds of full-window presents a second, starving the compositor).
  void repaint();
  SDL_Window* sdl() const { return window_; }
  // How many times the picture went to the window system.
  int presents() const { return presents_; }

 private:
  static int watchEvents(void* self, SDL_Event* event);
  SDL_Window* window_ = nullptr;
  Uint32 windowId_ = 0;
  SDL_Cursor* cursor_ = nullptr;
  std::unique_ptr<Presenter> presenter_;
  std::unique_ptr<CairoSurface> picture_;
  bool needsPaint_ = true;
  int presents_ = 0;
};

}  // namespace plasma
