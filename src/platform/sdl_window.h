#pragma once
#include <SDL.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "canvas/cairo_surface.h"
#include "platform/monitors.h"
#include "platform/presenter.h"
#include "platform/window.h"

namespace plasma {

// The display window on a real window system: borderless, not in the taskbar, no pointer, over one
// monitor. Its retained image is an RGB24 surface of the client area in real pixels; a refresh
// shows only what changed since the last one, on the process's presentation path, and an expose
// shows the whole image again.
class SdlWindow final : public Window {
 public:
  enum class Visibility { Shown, Hidden };
  // A hidden window is made ready (placed, its framebuffer allocated) and shown by showWindow().
  SdlWindow(const std::string& title, int screenIndex, PresentPath path, Monitors& monitors,
            Visibility visibility = Visibility::Shown);
  ~SdlWindow() override;

  int clientWidth() const override { return width_; }
  int clientHeight() const override { return height_; }
  void setRetained(bool) override {}
  void copyFrom(const Surface& source, int sx, int sy, int width, int height, int dx,
                int dy) override;
  void refresh() override;
  cairo_surface_t* image() const override { return image_; }
  void pagePresented(const std::string& pageName) override;
  void raise() override;
  bool onScreen() const override;

  void showWindow();
  void setFrameDir(std::string dir) { frameDir_ = std::move(dir); }
  // Reads the window system's events; false when the window was closed.
  bool pumpEvents();
  // Places the window again over its monitor (after monitors were added, removed or changed) and
  // shows its image there; one log line when the placement changed.
  void place();
  // Called after place() gave the window a new size: the image is black at that size and wants
  // the page painted again.
  std::function<void()> onResized;
  // "video driver x11, path window-surface, renderer software framebuffer, window 1920x1080 px"
  std::string describePath() const;
  SDL_Window* sdl() const { return window_; }

 private:
  // (Re)makes the retained image at the window's pixel size; on the window-surface path it is the
  // window framebuffer itself, so pages are copied once, straight into what the server shows.
  void makeImage();
  void dropImage();
  // After the window system resized the window: the image follows; true when its size changed.
  bool followWindowSize();
  void showAll();
  void show(int x, int y, int w, int h);
  SDL_Window* window_ = nullptr;
  Monitors& monitors_;
  int screenIndex_;
  ScreenPlacement placement_;
  bool visible_ = false;    // on a monitor
  bool exposed_ = false;    // the window system has shown it
  bool lastShowOk_ = false;  // the last refresh reached the window system
  bool showFailing_ = false;
  std::unique_ptr<Presenter> presenter_;
  cairo_surface_t* image_ = nullptr;
  cairo_t* cr_ = nullptr;
  SDL_Surface* framebuffer_ = nullptr;  // the window surface image_ wraps, if it does
  int width_ = 0, height_ = 0;
  int dirtyX0_ = 0, dirtyY0_ = 0, dirtyX1_ = 0, dirtyY1_ = 0;  // empty when x0 >= x1
  std::int64_t lastRefreshUs_ = 0;
  std::string frameDir_;
  int frameNumber_ = 0;
};

// The descriptor of the window system's connection (X11, Wayland) that a window of this process
// uses, or -1 when it offers none (KMS/DRM).
int windowConnectionFd(SDL_Window* window);

// The start-up message box (error icon, OK only); false when no window system could show it.
bool showErrorBox(const std::string& title, const std::string& message);

}  // namespace plasma
