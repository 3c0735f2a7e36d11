#include "startup/splash.h"

#include "platform/image_loader.h"
#include "plasma/artwork.h"
#include "startup/command_line.h"

namespace plasma {
namespace {

constexpr int kWidth = 417;
constexpr int kHeight = 326;

void drawArtwork(cairo_t* cr, const char* name, double x, double y) {
  const artwork::Blob blob = artwork::find(name);
  if (blob.empty()) return;
  auto picture = decodePicture(blob.data, blob.size, name);
  cairo_set_source_surface(cr, picture->cairo(), x, y);
  cairo_paint(cr);
}

void label(cairo_t* cr, const char* text, double x, double y, double points) {
  // The splash labels use the plain Arial face (Liberation Sans where Arial is not installed).
  cairo_select_font_face(cr, "Arial", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(cr, points * 96.0 / 72.0);
  cairo_font_extents_t fe;
  cairo_font_extents(cr, &fe);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_move_to(cr, x, y + fe.ascent);
  cairo_show_text(cr, text);
}

}  // namespace

std::unique_ptr<CairoSurface> paintSplash() {
  auto s = std::make_unique<CairoSurface>(kWidth, kHeight);
  s->setBackColour(colours::kWhite);
  cairo_t* cr = cairo_create(s->image());
  drawArtwork(cr, "splash-side.bmp", 0, 0);
  drawArtwork(cr, "splash-picture.bmp", 260, 176);
  label(cr, kApplicationTitle, 176, 60, 14.25);
  label(cr, "Version 5.0", 304, 88, 12);
  // Four 5-pixel edge lines, centred on the given coordinates.
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_set_line_width(cr, 5);
  const double lines[4][4] = {{0, 0, 416, 0}, {0, 4, 0, 232}, {8, 324, 424, 324}, {416, 0, 416, 320}};
  for (const auto& l : lines) {
    cairo_move_to(cr, l[0], l[1]);
    cairo_line_to(cr, l[2], l[3]);
  }
  cairo_stroke(cr);
  cairo_destroy(cr);
  return s;
}

SplashWindow::SplashWindow(DisplayServer& server, int screenIndex) : picture_(paintSplash()) {
  output_ = server.openBox(screenIndex, {kWidth, kHeight}, BoxRole::Splash, "Form1");
  repaint();
}

void SplashWindow::paint() {
  cairo_surface_t* to = output_->image();
  cairo_t* cr = cairo_create(to);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, picture_->image(), 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_mark_dirty(to);
  // A failed present is tried again at the next wake.
  needsPaint_ = !output_->present({0, 0, kWidth, kHeight});
  ++presents_;
}

void SplashWindow::repaint() {
  const OutputEvents e = output_->takeEvents();
  if (e.exposed || e.resized) needsPaint_ = true;
  if (needsPaint_) paint();
}

}  // namespace plasma
