// The display window over a double-buffered screen (Wayland, the console), where the server keeps
// reading the buffer it was given: every present must show the whole page, whatever the canvas
// hands over.
#include <gtest/gtest.h>

#include "canvas/cairo_surface.h"
#include "present/buffer_ring.h"
#include "present/screen_window.h"
#include "test_support/rig.h"

namespace plasma {
namespace {

// An output whose server holds the buffer last presented until the next present, as a pixman
// compositor does; it keeps a copy of every frame it was given.
class HeldBuffers final : public Output {
 public:
  HeldBuffers(int w, int h)
      : w_(w), h_(h),
        ring_([](const std::function<bool()>&, int) {},
              [this] {
                BufferRing::Buffer b;
                b.image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w_, h_);
                made_.push_back(b.image);
                b.handle = made_.size();
                return b;
              }) {}
  ~HeldBuffers() override {
    for (cairo_surface_t* s : made_) cairo_surface_destroy(s);
    if (shown_) cairo_surface_destroy(shown_);
  }
  cairo_surface_t* image() override { return ring_.drawTarget().image; }
  PixelSize size() const override { return {w_, h_}; }
  bool present(const PixelRect& r) override {
    if (previous_) ring_.released(previous_);
    BufferRing::Buffer& b = ring_.presented(r);
    previous_ = b.handle;
    // What the screen shows now: the whole buffer.
    if (shown_) cairo_surface_destroy(shown_);
    shown_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w_, h_);
    cairo_t* cr = cairo_create(shown_);
    cairo_set_source_surface(cr, b.image, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    return true;
  }
  void willOverwrite(const PixelRect& r) override { ring_.willOverwrite(r); }
  // A server that offers to move pixels and then cannot (its request refused).
  bool movesPixels() const override { return refusesScroll_; }
  bool presentScroll(const PixelRect&, int, cairo_surface_t*, int, int) override { return false; }
  void refuseScrolls() { refusesScroll_ = true; }
  bool onScreen() const override { return true; }
  OutputEvents takeEvents() override { return {}; }
  std::string place() override { return ""; }
  void show() override {}
  void raise() override {}
  std::string describe() const override { return "held buffers"; }
  cairo_surface_t* shown() const { return shown_; }

 private:
  int w_, h_;
  std::vector<cairo_surface_t*> made_;
  BufferRing ring_;
  std::uintptr_t previous_ = 0;
  cairo_surface_t* shown_ = nullptr;
  bool refusesScroll_ = false;
};

TEST(DoubleBufferedWindow, APictureThatStandsInForTheCanvasIsShownWholeAgainAndAgain) {
  auto held = std::make_unique<HeldBuffers>(64, 32);
  HeldBuffers& out = *held;
  ScreenWindow window(std::move(held));
  CairoSurface canvas(64, 32);
  // A board page first, so the next buffer is behind by a whole page.
  canvas.setBackColour(colours::kBoardBackground);
  presentCanvas(canvas, window, 0, 1);
  canvas.setBackColour(colours::kBlack);
  canvas.setPicture(test::redPicture(64, 32));
  presentCanvas(canvas, window, 0, 1);
  ASSERT_TRUE(canvas.pictureShownOn(window));
  // The same picture again (a load's redraw, an error page over it): the canvas hands over the
  // window's own image, and the buffer shown next must hold the picture, not the board.
  for (int i = 0; i < 3; ++i) {
    presentCanvas(canvas, window, 0, 1);
    EXPECT_EQ(test::pixel(out.shown(), 2, 2), (Colour{255, 0, 0})) << "present " << i;
    EXPECT_EQ(test::pixel(out.shown(), 60, 30), (Colour{0, 0, 255})) << "present " << i;
  }
}

TEST(DoubleBufferedWindow, AScrollStepTheServerCannotMoveReachesTheScreenAsACopy) {
  auto held = std::make_unique<HeldBuffers>(16, 16);
  HeldBuffers& out = *held;
  out.refuseScrolls();
  ScreenWindow window(std::move(held));
  // A strip whose every row has its own colour, scrolled a row at a time through rows 4 to 11.
  CairoSurface strip(8, 24);
  for (int y = 0; y < 24; ++y) {
    strip.setForeColour(Colour{static_cast<std::uint8_t>(y * 10), 0, 0});
    strip.filledBox(0, y, 7, y);
  }
  for (int step = 0; step < 3; ++step) {
    window.scrollCopy(strip, 0, step, 8, 8, 4, 4, step == 0 ? 0 : 1);
    window.refresh();
    for (int y = 4; y < 12; ++y) {
      EXPECT_EQ(test::pixel(out.shown(), 5, y).r, (y - 4 + step) * 10) << "step " << step << ", row " << y;
    }
  }
}

}  // namespace
}  // namespace plasma
