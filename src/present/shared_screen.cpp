#include "present/shared_screen.h"

#include <algorithm>

namespace plasma {
namespace {

class PageOutput final : public Output {
 public:
  explicit PageOutput(std::shared_ptr<SharedScreen> s) : s_(std::move(s)) {}
  cairo_surface_t* image() override { return s_->surface->image(); }
  PixelSize size() const override { return s_->surface->size(); }
  bool present(const PixelRect& r) override { return s_->surface->present(r); }
  bool onScreen() const override { return s_->pageShown && s_->surface->onScreen(); }
  OutputEvents takeEvents() override { return s_->surface->takeEvents(); }
  std::string place() override { return s_->surface->place(); }
  void show() override {
    s_->pageShown = true;
    s_->surface->show();
  }
  void raise() override { s_->surface->raise(); }
  std::string describe() const override { return s_->surface->describe(); }
  bool movesPixels() const override { return s_->surface->movesPixels(); }
  bool presentScroll(const PixelRect& a, int rows, cairo_surface_t* from, int x, int y) override {
    return s_->surface->presentScroll(a, rows, from, x, y);
  }
  void willOverwrite(const PixelRect& r) override { s_->surface->willOverwrite(r); }

 private:
  std::shared_ptr<SharedScreen> s_;
};

class BoxOutput final : public Output {
 public:
  BoxOutput(std::shared_ptr<SharedScreen> s, PixelSize size)
      : s_(std::move(s)), image_(cairo_image_surface_create(CAIRO_FORMAT_RGB24, size.width, size.height)) {}
  ~BoxOutput() override { cairo_surface_destroy(image_); }
  cairo_surface_t* image() override { return image_; }
  PixelSize size() const override {
    return {cairo_image_surface_get_width(image_), cairo_image_surface_get_height(image_)};
  }

  bool present(const PixelRect& r) override {
    if (s_->pageShown) return true;
    Output& screen = *s_->surface;
    const PixelSize whole = screen.size();
    const PixelSize box = size();
    const int x0 = (whole.width - box.width) / 2, y0 = (whole.height - box.height) / 2;
    cairo_surface_t* to = screen.image();
    cairo_t* cr = cairo_create(to);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    PixelRect changed{r.left + x0, r.top + y0, r.right + x0, r.bottom + y0};
    if (!drawn_ || whole.width != drawnOn_.width || whole.height != drawnOn_.height) {
      // First on this surface: black around the box.
      cairo_set_source_rgb(cr, 0, 0, 0);
      cairo_paint(cr);
      changed = {0, 0, whole.width, whole.height};
      drawn_ = true;
      drawnOn_ = whole;
    }
    cairo_surface_flush(image_);
    cairo_set_source_surface(cr, image_, x0, y0);
    cairo_rectangle(cr, changed.left, changed.top, changed.width(), changed.height());
    cairo_clip(cr);
    cairo_rectangle(cr, x0, y0, box.width, box.height);
    cairo_fill(cr);
    cairo_destroy(cr);
    cairo_surface_mark_dirty(to);
    return screen.present(changed);
  }

  bool onScreen() const override { return s_->surface->onScreen(); }

  OutputEvents takeEvents() override {
    if (s_->pageShown) return {};
    OutputEvents e = s_->surface->takeEvents();
    if (e.resized) {
      // The surface came back black at a new size: the box is drawn again whole.
      e.resized = false;
      e.exposed = true;
      drawn_ = false;
    }
    if (e.click) {
      const PixelSize whole = s_->surface->size();
      const PixelSize box = size();
      e.click->x -= (whole.width - box.width) / 2;
      e.click->y -= (whole.height - box.height) / 2;
    }
    return e;
  }

  std::string place() override { return s_->surface->place(); }
  void show() override {}
  void raise() override { s_->surface->raise(); }
  std::string describe() const override { return s_->surface->describe(); }

 private:
  std::shared_ptr<SharedScreen> s_;
  cairo_surface_t* image_;
  bool drawn_ = false;
  PixelSize drawnOn_{0, 0};
};

}  // namespace

std::unique_ptr<Output> pageOnSharedScreen(std::shared_ptr<SharedScreen> screen) {
  return std::make_unique<PageOutput>(std::move(screen));
}

std::unique_ptr<Output> boxOnSharedScreen(std::shared_ptr<SharedScreen> screen, PixelSize size) {
  return std::make_unique<BoxOutput>(std::move(screen), size);
}

}  // namespace plasma
