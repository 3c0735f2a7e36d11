#pragma once
#include <functional>
#include <memory>
#include <string>

#include "present/display_server.h"
#include "present/window.h"

namespace plasma {

// The display window on a real display server: borderless, no pointer, covering one monitor.
// Copies go into the output's retained image; a refresh shows the rectangle that changed since
// the last one, as one frame of the server's.
class ScreenWindow final : public Window {
 public:
  explicit ScreenWindow(std::unique_ptr<Output> output);
  ~ScreenWindow() override;
  ScreenWindow(const ScreenWindow&) = delete;
  ScreenWindow& operator=(const ScreenWindow&) = delete;

  int clientWidth() const override;
  int clientHeight() const override;
  void setRetained(bool) override {}
  void copyFrom(const Surface& source, int sx, int sy, int width, int height, int dx, int dy) override;
  void scrollCopy(const Surface& source, int sx, int sy, int width, int height, int dx, int dy,
                  int advanced) override;
  void refresh() override;
  cairo_surface_t* image() const override;
  void pagePresented(const std::string& pageName) override;
  void raise() override { output_->raise(); }
  bool onScreen() const override { return output_->onScreen(); }

  void show() { output_->show(); }
  void setFrameDir(std::string dir) { frameDir_ = std::move(dir); }
  // Handles what the server reported; false when the window was closed.
  bool pumpEvents();
  // Places the window again over its monitor (the monitors changed); one log line when the
  // placement changed.
  void place();
  // Called when the image took a new size: it is black and wants the page painted again.
  std::function<void()> onResized;
  std::string describe() const { return output_->describe(); }

 private:
  void addDirty(int x0, int y0, int x1, int y1);
  // One line when frames stop reaching the monitor, one when they reach it again.
  void shown(bool ok);
  void presentAll();
  std::unique_ptr<Output> output_;
  PixelRect dirty_{};  // empty when right <= left
  // Brings the image up to date with a scroll the server did alone.
  void catchUp() const;
  PixelRect scrolled_{};  // the area of the last scroll copy, while nothing else has drawn on it
  // A scroll the server made alone: the image's area is to show `source` at (sx, sy), and the
  // screen already does. Kept until someone reads or draws on the image, so a scrolling strip
  // costs the rows that come into view and nothing more.
  struct Behind {
    cairo_surface_t* source = nullptr;  // a reference of our own, so it outlives a resized strip
    int sx = 0, sy = 0;
  };
  mutable Behind behind_;
  bool showFailing_ = false;
  std::string frameDir_;
  int frameNumber_ = 0;
};

}  // namespace plasma
