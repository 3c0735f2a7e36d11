#pragma once
#include <memory>

#include "canvas/cairo_surface.h"
#include "present/display_server.h"

namespace plasma {

// Paints the splash picture (417 x 326): white, the side picture and the train picture, the
// application title and version, and the four 5-pixel edge lines.
std::unique_ptr<CairoSurface> paintSplash();

// frmSplash: a borderless box centred on the screen's monitor, not in the taskbar, with the
// hourglass pointer where the server has one. It is painted at once on creation and has no
// behaviour of its own.
class SplashWindow {
 public:
  SplashWindow(DisplayServer& server, int screenIndex);
  // Paints the picture again only when the server asks for it (shown again, exposed, resized).
  // Called at every wake of the start-up wait: painting on each call would feed itself on
  // Wayland, where every present brings the compositor's answers that wake the wait again.
  void repaint();
  // How many times the picture went to the server.
  int presents() const { return presents_; }

 private:
  void paint();
  std::unique_ptr<Output> output_;
  std::unique_ptr<CairoSurface> picture_;
  bool needsPaint_ = true;
  int presents_ = 0;
};

}  // namespace plasma
