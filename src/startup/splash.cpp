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

SplashWindow::SplashWindow(PresentPath path) : picture_(paintSplash()) {
  window_ = SDL_CreateWindow("Form1", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, kWidth, kHeight,
                             SDL_WINDOW_BORDERLESS | SDL_WINDOW_SKIP_TASKBAR | SDL_WINDOW_SHOWN);
  if (!window_) return;
  windowId_ = SDL_GetWindowID(window_);
  SDL_AddEventWatch(&SplashWindow::watchEvents, this);
  presenter_ = Presenter::make(window_, path, kWidth, kHeight, nullptr);
  cursor_ = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_WAIT);
  if (cursor_) SDL_SetCursor(cursor_);
  repaint();
}

SplashWindow::~SplashWindow() {
  if (window_) SDL_DelEventWatch(&SplashWindow::watchEvents, this);
  presenter_.reset();
  if (window_) SDL_DestroyWindow(window_);
  if (cursor_) SDL_FreeCursor(cursor_);
}

// Runs inside SDL as each event is queued, so the events stay in the queue for the display window.
int SplashWindow::watchEvents(void* self, SDL_Event* event) {
  auto* splash = static_cast<SplashWindow*>(self);
  if (event->type != SDL_WINDOWEVENT || event->window.windowID != splash->windowId_) return 1;
  switch (event->window.event) {
    case SDL_WINDOWEVENT_SHOWN:
    case SDL_WINDOWEVENT_EXPOSED:
    case SDL_WINDOWEVENT_SIZE_CHANGED:
    case SDL_WINDOWEVENT_RESTORED: splash->needsPaint_ = true; break;
    default: break;
  }
  return 1;
}

void SplashWindow::repaint() {
  if (!window_) return;
  SDL_PumpEvents();
  if (!presenter_ || !needsPaint_) return;
  // A failed present is tried again at the next wake.
  cairo_surface_flush(picture_->image());
  const SDL_Rect all{0, 0, kWidth, kHeight};
  needsPaint_ = !presenter_->show(cairo_image_surface_get_data(picture_->image()),
                                  cairo_image_surface_get_stride(picture_->image()), &all, 1);
  ++presents_;
}

}  // namespace plasma
