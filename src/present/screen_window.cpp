#include "present/screen_window.h"

#include <algorithm>
#include <cstring>
#include <utility>

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

cairo_surface_t* ScreenWindow::image() const {
  catchUp();
  return output_->image();
}

void ScreenWindow::catchUp() const {
  if (!behind_.source) return;
  const Behind b = std::exchange(behind_, Behind{});
  cairo_surface_t* to = output_->image();
  cairo_t* cr = cairo_create(to);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, b.source, scrolled_.left - b.sx, scrolled_.top - b.sy);
  cairo_rectangle(cr, scrolled_.left, scrolled_.top, scrolled_.width(), scrolled_.height());
  cairo_fill(cr);
  cairo_destroy(cr);
  cairo_surface_destroy(b.source);
}

void ScreenWindow::copyFrom(const Surface& source, int sx, int sy, int width, int height, int dx, int dy) {
  if (width <= 0 || height <= 0) return;
  const PixelRect covered{std::max(0, dx), std::max(0, dy), std::min(clientWidth(), dx + width),
                          std::min(clientHeight(), dy + height)};
  // A copy over the whole of a scrolled area needs nothing of what the area showed.
  if (behind_.source && covered.left <= scrolled_.left && covered.top <= scrolled_.top &&
      covered.right >= scrolled_.right && covered.bottom >= scrolled_.bottom) {
    cairo_surface_destroy(std::exchange(behind_, Behind{}).source);
  }
  catchUp();
  scrolled_ = {};
  // The source first: a canvas that stands in with the window's own image hands out the window's
  // image, which must then be up to date everywhere, the copied part included.
  cairo_surface_t* from = source.image();
  if (covered.right > covered.left && covered.bottom > covered.top) output_->willOverwrite(covered);
  cairo_surface_t* to = output_->image();
  // The pixels are already here.
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

void ScreenWindow::scrollCopy(const Surface& source, int sx, int sy, int width, int height, int dx, int dy,
                              int advanced) {
  const PixelRect area{dx, dy, dx + width, dy + height};
  const bool inside = dx >= 0 && dy >= 0 && dx + width <= clientWidth() && dy + height <= clientHeight();
  const bool same = area.left == scrolled_.left && area.top == scrolled_.top && area.right == scrolled_.right &&
                    area.bottom == scrolled_.bottom;
  if (!output_->movesPixels() || !same || !inside || advanced <= 0 || advanced >= height ||
      dirty_.right > dirty_.left) {
    copyFrom(source, sx, sy, width, height, dx, dy);
    scrolled_ = inside ? area : PixelRect{};
    return;
  }
  // The area still shows the strip where the last step left it: the server moves it up and is
  // sent the rows that come into view; the image follows when it is next needed.
  cairo_surface_t* from = source.image();
  cairo_surface_flush(from);
  if (behind_.source) cairo_surface_destroy(behind_.source);
  behind_ = {cairo_surface_reference(from), sx, sy};
  if (output_->presentScroll(area, advanced, from, sx, sy + height - advanced)) {
    shown(true);
    return;
  }
  // The server could not move it: the step goes to the screen as a copy.
  catchUp();
  addDirty(area.left, area.top, area.right, area.bottom);
  refresh();
}

void ScreenWindow::refresh() {
  if (dirty_.right <= dirty_.left) return;
  const PixelRect r = dirty_;
  dirty_ = {};
  shown(output_->present(r));
}

void ScreenWindow::shown(bool ok) {
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

ScreenWindow::~ScreenWindow() {
  if (behind_.source) cairo_surface_destroy(behind_.source);
}

bool ScreenWindow::pumpEvents() {
  const OutputEvents e = output_->takeEvents();
  // What goes to the screen again comes from the image: it must be up to date.
  if (e.resized && behind_.source) cairo_surface_destroy(std::exchange(behind_, Behind{}).source);
  if (e.exposed) catchUp();
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
  catchUp();
  const std::string moved = output_->place();
  if (moved.empty()) return;
  logLine(LogPriority::Notice, "monitors changed: " + moved);
  pumpEvents();
}

}  // namespace plasma
