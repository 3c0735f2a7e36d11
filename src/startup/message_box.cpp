#include "startup/message_box.h"

#include <algorithm>
#include <cmath>

#include "platform/event_loop.h"

namespace plasma {
namespace {

constexpr int kTitleBar = 26;
constexpr int kPadding = 18;
constexpr int kIcon = 32;
constexpr int kButtonWidth = 88, kButtonHeight = 28;
constexpr double kTextPoints = 11;

void text(cairo_t* cr, const std::string& s, double x, double baseline, double points, double r, double g, double b) {
  cairo_select_font_face(cr, "Arial", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, points * 96.0 / 72.0);
  cairo_set_source_rgb(cr, r, g, b);
  cairo_move_to(cr, x, baseline);
  cairo_show_text(cr, s.c_str());
}

double textWidth(const std::string& s, double points) {
  cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
  cairo_t* cr = cairo_create(scratch);
  cairo_select_font_face(cr, "Arial", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, points * 96.0 / 72.0);
  cairo_text_extents_t e;
  cairo_text_extents(cr, s.c_str(), &e);
  cairo_destroy(cr);
  cairo_surface_destroy(scratch);
  return e.x_advance;
}

}  // namespace

MessageBoxPicture paintMessageBox(const std::string& title, const std::string& message) {
  const int textWidthPx = static_cast<int>(std::ceil(textWidth(message, kTextPoints)));
  const int width = std::max(320, kPadding * 3 + kIcon + textWidthPx);
  const int height = kTitleBar + kPadding * 3 + kIcon + kButtonHeight;
  auto s = std::make_unique<CairoSurface>(width, height);
  s->setBackColour(Colour{240, 240, 240});
  cairo_t* cr = cairo_create(s->image());
  // Title bar.
  cairo_set_source_rgb(cr, 0.0, 0.2, 0.5);
  cairo_rectangle(cr, 0, 0, width, kTitleBar);
  cairo_fill(cr);
  text(cr, title, 8, 18, 10, 1, 1, 1);
  // The error icon: a red disc with a white cross.
  const double cx = kPadding + kIcon / 2.0, cy = kTitleBar + kPadding + kIcon / 2.0;
  cairo_set_source_rgb(cr, 0.8, 0.1, 0.1);
  cairo_arc(cr, cx, cy, kIcon / 2.0, 0, 2 * M_PI);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_set_line_width(cr, 3.5);
  cairo_move_to(cr, cx - 7, cy - 7);
  cairo_line_to(cr, cx + 7, cy + 7);
  cairo_move_to(cr, cx + 7, cy - 7);
  cairo_line_to(cr, cx - 7, cy + 7);
  cairo_stroke(cr);
  text(cr, message, kPadding * 2 + kIcon, cy + 5, kTextPoints, 0, 0, 0);
  // OK, in the middle at the bottom.
  const PixelRect ok{(width - kButtonWidth) / 2, height - kPadding - kButtonHeight, (width + kButtonWidth) / 2,
                     height - kPadding};
  cairo_set_source_rgb(cr, 0.88, 0.88, 0.88);
  cairo_rectangle(cr, ok.left, ok.top, ok.width(), ok.height());
  cairo_fill_preserve(cr);
  cairo_set_source_rgb(cr, 0.2, 0.4, 0.8);
  cairo_set_line_width(cr, 2);
  cairo_stroke(cr);
  text(cr, "OK", ok.left + (ok.width() - textWidth("OK", kTextPoints)) / 2, ok.top + 19, kTextPoints, 0, 0, 0);
  // A frame, so the box stands out on black as on a desktop.
  cairo_set_source_rgb(cr, 0.4, 0.4, 0.4);
  cairo_set_line_width(cr, 1);
  cairo_rectangle(cr, 0.5, 0.5, width - 1, height - 1);
  cairo_stroke(cr);
  cairo_destroy(cr);
  cairo_surface_mark_dirty(s->image());
  return {std::move(s), ok};
}

void showMessageBox(DisplayServer& server, RealEventLoop& loop, int screenIndex, const std::string& title,
                    const std::string& message, int timeoutMs) {
  const MessageBoxPicture box = paintMessageBox(title, message);
  const PixelSize size{box.picture->pixelWidth(), box.picture->pixelHeight()};
  std::unique_ptr<Output> output = server.openBox(screenIndex, size, BoxRole::MessageBox, title);
  const auto paint = [&] {
    cairo_t* cr = cairo_create(output->image());
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, box.picture->image(), 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_mark_dirty(output->image());
    output->present({0, 0, size.width, size.height});
  };
  paint();
  loop.onWake([&] {
    server.flush();
    const OutputEvents e = output->takeEvents();
    const bool onOk = e.click && e.click->x >= box.ok.left && e.click->x < box.ok.right && e.click->y >= box.ok.top &&
                      e.click->y < box.ok.bottom;
    if (e.key || e.closed || onOk) {
      loop.quit();
      return;
    }
    if (e.exposed || e.resized) paint();
  });
  loop.runUntilUs(loop.nowUs() + std::int64_t{timeoutMs} * 1000);
  loop.onWake(nullptr);
}

}  // namespace plasma
