#pragma once
#include <SDL.h>

#include <cstdint>
#include <memory>
#include <string>

#include "canvas/cairo_surface.h"
#include "platform/window.h"

namespace plasma {

class RealEventLoop;

struct MonitorPlacement {
  int x, y, width, height;
};

// Where the window of screen `screenIndex` goes: the bounds of that SDL display when it exists
// (monitors of different sizes included); otherwise one primary-width step to the right per index.
MonitorPlacement placeForScreen(int screenIndex, int displayCount, const MonitorPlacement* displays,
                                int primaryWidth, int primaryHeight);

// The display window on a real window system: borderless, not in the taskbar, no pointer, over one
// monitor. Its retained image is an RGB24 surface of the client area in real pixels; a refresh
// uploads only what changed since the last one, and an expose shows the whole image again.
class SdlWindow final : public Window {
 public:
  SdlWindow(const std::string& title, int screenIndex);
  ~SdlWindow() override;

  int clientWidth() const override { return image_->pixelWidth(); }
  int clientHeight() const override { return image_->pixelHeight(); }
  void setRetained(bool) override {}
  void copyFrom(const Surface& source, int sx, int sy, int width, int height, int dx,
                int dy) override;
  void refresh() override;
  cairo_surface_t* image() const override { return image_->image(); }
  void pagePresented(const std::string& pageName) override;
  void raise() override;

  void setFrameDir(std::string dir) { frameDir_ = std::move(dir); }
  // Reads the window system's events; false when the window was closed.
  bool pumpEvents();
  // The descriptor of the window system's connection, or -1 when it offers none.
  int connectionFd() const;
  SDL_Window* sdl() const { return window_; }

 private:
  void upload(int x, int y, int w, int h);
  SDL_Window* window_ = nullptr;
  std::unique_ptr<CairoSurface> image_;
  int dirtyX0_ = 0, dirtyY0_ = 0, dirtyX1_ = 0, dirtyY1_ = 0;  // empty when x0 >= x1
  std::int64_t lastRefreshUs_ = 0;
  std::string frameDir_;
  int frameNumber_ = 0;
};

// The start-up message box (error icon, OK only); false when no window system could show it.
bool showErrorBox(const std::string& title, const std::string& message);

}  // namespace plasma
