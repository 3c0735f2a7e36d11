#include "present/screen_window.h"

#include <algorithm>

#include "present/headless_window.h"
#include "support/log.h"

namespace plasma {

ScreenWindow::ScreenWindow(std::unique_ptr<Output> output) : output_(std::move(output)) {}

int ScreenWindow::clientWidth() const { return output_->size().width; }
int ScreenWindow::clientHeight() const { return output_->size().height; }

void ScreenWindow::addDirty(int x0, int y0, int x1, int y1) {
  x0 = std::max(0, x0), y0 = std::max(0, y0);
  x1 = std::min(clientWidth(), x1), y1 = std::min(clientHeight(), y1);
  if (x0 >= x1 || y0 >= y1) return;
  if (dirty_.right <= dirty_.left) {
    dirty_ = {x0, y0, x1, y1};
    return;
  }
  dirty_ = {std::min(dirty_.left, x0), std::min(dirty_.top, y0), std::max(dirty_.right, x1),
            std::max(dirty_.bottom, y1)};
}

void ScreenWindow::copyFrom(const Surface& source, int sx, int sy, int width, int height, int dx, int dy) {
  if (width <= 0 || height <= 0) return;
  cairo_surface_t* to = output_->image();
  cairo_surface_t* from = source.image();
  // A canvas that stands in with the window's own image: the pixels are already here.
  if (from == to && sx == dx && sy == dy) return;
  cairo_surface_flush(from);
  cairo_t* cr = cairo_create(to);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, from, dx - sx, dy - sy);
  cairo_rectangle(cr, dx, dy, width, height);
  cairo_fill(cr);
  cairo_destroy(cr);
  cairo_surface_mark_dirty_rectangle(to, dx, dy, width, height);
  addDirty(dx, dy, dx + width, dy + height);
}

void ScreenWindow::refresh() {
  if (dirty_.right <= dirty_.left) return;
  const PixelRect r = dirty_;
  dirty_ = {};
  const bool ok = output_->present(r);
  if (!ok && !showFailing_) logLine("the display window cannot be shown on the monitor");
  if (ok && showFailing_) logLine(LogPriority::Notice, "the display window is shown again");
  showFailing_ = !ok;
}

void ScreenWindow::presentAll() {
  dirty_ = {};
  addDirty(0, 0, clientWidth(), clientHeight());
  refresh();
}

void ScreenWindow::pagePresented(const std::string&) {
  if (!frameDir_.empty()) writeFrame(image(), frameDir_, frameNumber_++);
}

bool ScreenWindow::pumpEvents() {
  const OutputEvents e = output_->takeEvents();
  if (e.resized) {
    dirty_ = {};
    // The page painted again at the new size presents itself.
    if (onResized) onResized();
    else presentAll();
  } else if (e.exposed) {
    presentAll();
  }
  return !e.closed;
}

void ScreenWindow::place() {
  const std::string moved = output_->place();
  if (moved.empty()) return;
  logLine(LogPriority::Notice, "monitors changed: " + moved);
  pumpEvents();
}

}  // namespace plasma
