// The splash through the start-up wait: the wait wakes for every answer of the display server, and
// each wake must not send the whole picture again.
#include <gtest/gtest.h>

#include "startup/splash.h"

namespace plasma {
namespace {

// An output that counts its presents and hands out the events the test gives it.
class CountingOutput final : public Output {
 public:
  explicit CountingOutput(PixelSize size) : image_(cairo_image_surface_create(CAIRO_FORMAT_RGB24, size.width, size.height)) {}
  ~CountingOutput() override { cairo_surface_destroy(image_); }
  cairo_surface_t* image() override { return image_; }
  PixelSize size() const override { return {cairo_image_surface_get_width(image_), cairo_image_surface_get_height(image_)}; }
  bool present(const PixelRect&) override {
    ++presents;
    return true;
  }
  bool onScreen() const override { return true; }
  OutputEvents takeEvents() override { return std::exchange(pending, OutputEvents{}); }
  std::string place() override { return ""; }
  void show() override {}
  void raise() override {}
  std::string describe() const override { return "test"; }
  int presents = 0;
  OutputEvents pending;

 private:
  cairo_surface_t* image_;
};

class OneBoxServer final : public DisplayServer {
 public:
  const char* name() const override { return "test"; }
  std::vector<int> fds() const override { return {}; }
  bool dispatch() override { return true; }
  void flush() override {}
  bool takeMonitorsChanged() override { return false; }
  std::unique_ptr<Output> openScreen(int, const std::string&) override { return nullptr; }
  std::unique_ptr<Output> openBox(int, PixelSize size, BoxRole, const std::string&) override {
    auto o = std::make_unique<CountingOutput>(size);
    box = o.get();
    return o;
  }
  CountingOutput* box = nullptr;
};

TEST(Splash, PaintsAgainOnlyWhenTheServerAsksForIt) {
  OneBoxServer server;
  SplashWindow splash(server, 0);
  ASSERT_NE(server.box, nullptr);
  EXPECT_EQ(server.box->size().width, 417);
  EXPECT_EQ(server.box->presents, 1) << "painted at once on creation";
  // The white of the picture is in the box's image.
  cairo_surface_flush(server.box->image());
  const auto* row = reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(server.box->image()) +
                                                           150 * cairo_image_surface_get_stride(server.box->image()));
  EXPECT_EQ(row[300] & 0xffffff, 0xffffffu);

  for (int i = 0; i < 20; ++i) splash.repaint();
  EXPECT_EQ(server.box->presents, 1) << "wakes with nothing to show sent the picture again";

  server.box->pending.exposed = true;
  splash.repaint();
  splash.repaint();
  EXPECT_EQ(server.box->presents, 2) << "one expose, one paint";

  // The server gave the box another size (a compositor made the surface fill the output).
  server.box->pending.resized = true;
  splash.repaint();
  EXPECT_EQ(server.box->presents, 3);
}

}  // namespace
}  // namespace plasma
