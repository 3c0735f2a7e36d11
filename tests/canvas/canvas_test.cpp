#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>

#include "canvas/cairo_surface.h"
#include "canvas/fonts.h"
#include "canvas/recording_surface.h"
#include "canvas/window_image.h"
#include "present/headless_window.h"
#include "test_support/rig.h"

namespace plasma {
namespace {

using test::pixel;

TEST(CanvasText, MalformedUtf8IsDrawnWithReplacementsRatherThanRefusedByCairo) {
  // Cairo refuses a whole string with any sequence that is not valid UTF-8 and leaves its context
  // in an error state; the canvas shows U+FFFD for each bad byte instead.
  CairoSurface s(400, 60);
  s.setFontSize(12);
  for (const char* text : {"A\xC0\x80" "B", "A\xED\xA0\x80" "B", "A\xF4\x90\x80\x80" "B", "A\xE0\x80\x80" "B"}) {
    SCOPED_TRACE(text);
    EXPECT_NO_THROW(s.moveTo(0, 0); s.print(text));
    EXPECT_GT(s.textWidth(text), s.textWidth("AB"));
  }
}

TEST(Wipe, StripPositionsRoundHalvesToEven) {
  EXPECT_EQ(wipePositions(1080, 4), (std::vector<int>{-810, -540, -270}));
  EXPECT_EQ(wipePositions(1000, 3), (std::vector<int>{-667, -333}));
  EXPECT_TRUE(wipePositions(1080, 1).empty());
  EXPECT_TRUE(wipePositions(1080, 0).empty());   // no division by zero
  EXPECT_TRUE(wipePositions(1080, -3).empty());
}

TEST(Wipe, PresentCopiesEachStripThenTheWholePageWithARefreshEach) {
  CairoSurface canvas(1920, 1080);
  HeadlessWindow window(1920, 1080);
  presentCanvas(canvas, window, 1, 4);
  ASSERT_EQ(window.copies().size(), 4u);
  EXPECT_EQ(window.copies()[0].dy, -810);
  EXPECT_EQ(window.copies()[1].dy, -540);
  EXPECT_EQ(window.copies()[2].dy, -270);
  EXPECT_EQ(window.copies()[3].dy, 0);
  EXPECT_EQ(window.refreshCount(), 4);
  EXPECT_FALSE(window.retained());

  window.resetLog();
  presentCanvas(canvas, window, 0, 4);  // wipe off: one copy, one refresh
  EXPECT_EQ(window.copies().size(), 1u);
  EXPECT_EQ(window.refreshCount(), 1);

  window.resetLog();
  presentCanvas(canvas, window, 1, 0);  // no strips at all: a plain copy
  EXPECT_EQ(window.copies().size(), 1u);
  EXPECT_EQ(window.refreshCount(), 1);
}

TEST(Wipe, TheNewPageSlidesDownOverTheOld) {
  CairoSurface canvas(100, 100);
  canvas.setBackColour(colours::kBoardBackground);
  canvas.setForeColour(colours::kWhite);
  canvas.filledBox(0, 75, 99, 99);  // the page's lowest strip is white
  HeadlessWindow window(100, 100);
  struct Probe : WindowImage {
    HeadlessWindow& w;
    std::vector<Colour> topAfterRefresh, bottomAfterRefresh;
    explicit Probe(HeadlessWindow& hw) : w(hw) {}
    int clientWidth() const override { return w.clientWidth(); }
    int clientHeight() const override { return w.clientHeight(); }
    void setRetained(bool on) override { w.setRetained(on); }
    void copyFrom(const Surface& s, int a, int b, int c, int e, int f, int g) override {
      w.copyFrom(s, a, b, c, e, f, g);
    }
    void refresh() override {
      topAfterRefresh.push_back(pixel(w.image(), 50, 10));
      bottomAfterRefresh.push_back(pixel(w.image(), 50, 90));
    }
    cairo_surface_t* image() const override { return w.image(); }
  } probe(window);
  presentCanvas(canvas, probe, 1, 4);
  ASSERT_EQ(probe.topAfterRefresh.size(), 4u);
  EXPECT_EQ(probe.topAfterRefresh[0], colours::kWhite);  // lowest strip first, at the top
  EXPECT_EQ(probe.bottomAfterRefresh[0], colours::kBlack);  // the old page below
  EXPECT_EQ(probe.topAfterRefresh[3], colours::kBoardBackground);
  EXPECT_EQ(probe.bottomAfterRefresh[3], colours::kWhite);
}

TEST(Surface, BoardColoursAndClearAreExact) {
  CairoSurface s(400, 300);
  s.setBackColour(colours::kBoardBackground);
  for (auto [x, y] : {std::pair{0, 0}, {399, 299}, {200, 150}}) {
    EXPECT_EQ(pixel(s.image(), x, y), (Colour{76, 144, 204}));
  }
  s.setForeColour(colours::kWhite);
  s.moveTo(10, 10);
  s.setFontSize(42);
  s.print("Platform");
  s.setBackColour(colours::kBlack);
  for (auto [x, y] : {std::pair{0, 0}, {30, 30}, {399, 299}}) {
    EXPECT_EQ(pixel(s.image(), x, y), colours::kBlack);
  }
  EXPECT_EQ(s.currentX(), 0);
  EXPECT_EQ(s.currentY(), 0);
}

TEST(Surface, TextMetricsAreTheFacesWholePixelMetrics) {
  CairoSurface s(200, 200);
  s.setFontSize(42);  // 56 px em
  cairo_t* cr = cairo_create(s.image());
  cairo_set_font_face(cr, standingFace(false).face);
  cairo_set_font_options(cr, standingFontOptions());
  cairo_set_font_size(cr, 56);
  cairo_font_extents_t fe;
  cairo_font_extents(cr, &fe);
  cairo_destroy(cr);
  EXPECT_DOUBLE_EQ(s.textHeight("Anything"), fe.ascent + fe.descent);
  EXPECT_DOUBLE_EQ(s.textHeight(""), s.textHeight("Xg"));  // whatever the text
  EXPECT_EQ(fe.ascent, 53);
  EXPECT_EQ(fe.descent, 12);
  const double w1 = s.textWidth("1");
  const double w3 = s.textWidth("123");
  EXPECT_GT(w1, 0);
  EXPECT_GT(w3, w1);
  EXPECT_EQ(w1, std::round(w1));
  EXPECT_EQ(s.textWidth(""), 0);
}

TEST(Surface, PrintPutsTheTopLeftAtThePositionAndAdvancesALine) {
  CairoSurface s(400, 200);
  s.setBackColour(colours::kBlack);
  s.setForeColour(colours::kWhite);
  s.setFontSize(42);
  s.moveTo(100, 50);
  const double h = s.textHeight("H");
  s.print("HHHH");
  EXPECT_EQ(s.currentY(), 50 + h);
  EXPECT_EQ(s.currentX(), 0);
  // Nothing above or left of the cell; white inside the H's stem.
  for (int x = 0; x < 400; x += 7) EXPECT_EQ(pixel(s.image(), x, 49), colours::kBlack);
  for (int y = 0; y < 200; y += 7) EXPECT_EQ(pixel(s.image(), 99, y), colours::kBlack);
  int white = 0;
  for (int y = 50; y < 50 + h; ++y) {
    for (int x = 100; x < 100 + s.textWidth("HHHH"); ++x) white += pixel(s.image(), x, y) == colours::kWhite;
  }
  EXPECT_GT(white, 500);
}

TEST(Surface, BoxesCoverBothCornersAndFillOnlyWhenSolid) {
  CairoSurface s(100, 100);
  s.setBackColour(colours::kBoardBackground);
  s.setForeColour(colours::kWhite);
  s.filledBox(10, 10, 20, 20);
  EXPECT_EQ(pixel(s.image(), 10, 10), colours::kWhite);
  EXPECT_EQ(pixel(s.image(), 20, 20), colours::kWhite);
  EXPECT_EQ(pixel(s.image(), 21, 21), colours::kBoardBackground);
  s.setFillStyle(FillStyle::Transparent);
  s.box(30, 30, 60, 60);
  EXPECT_EQ(pixel(s.image(), 30, 45), colours::kWhite);
  EXPECT_EQ(pixel(s.image(), 45, 45), colours::kBoardBackground);
  s.setFillStyle(FillStyle::Solid);
  s.setFillColour(colours::kAccentGreen);
  s.box(70, 70, 90, 90);
  EXPECT_EQ(pixel(s.image(), 80, 80), colours::kAccentGreen);
  EXPECT_EQ(pixel(s.image(), 70, 80), colours::kWhite);
  s.setForeColour(colours::kAccentBlue);
  s.setFillColour(colours::kAccentBlue);
  s.circle(50, 15, 10);
  EXPECT_EQ(pixel(s.image(), 50, 15), colours::kAccentBlue);
}

TEST(Surface, HostileSizesAndCoordinatesAreRunTimeErrors) {
  CairoSurface s(10, 10);
  EXPECT_THROW(s.resize(40000, 10), RuntimeError);
  EXPECT_THROW(s.resize(20000, 20000), RuntimeError);
  EXPECT_THROW(s.moveTo(std::nan(""), 0), RuntimeError);
  EXPECT_THROW(s.filledBox(0, 0, 1e12, 5), RuntimeError);
  s.setFontSize(18);
  s.print("\xff\xfe broken UTF-8 is drawn, not dropped");
  EXPECT_GT(s.textWidth("\xc3"), 0);
}

TEST(Surface, RecorderLogsResolvedGeometryAndState) {
  CairoSurface s(200, 100);
  RecordingSurface r(s);
  r.setForeColour(colours::kWhite);
  r.setFontSize(26);
  r.setUnderline(true);
  r.moveTo(12.5, 7.25);
  r.print("Minutes");
  r.box(1, 2, 3, 4);
  ASSERT_EQ(r.ops().size(), 2u);
  const DrawOp& p = r.printed("Minutes");
  EXPECT_EQ(p.x, 12.5);
  EXPECT_EQ(p.y, 7.25);
  EXPECT_EQ(p.fontSize, 26);
  EXPECT_TRUE(p.underline);
  EXPECT_EQ(p.fore, colours::kWhite);
  EXPECT_EQ(r.ops(DrawOp::Kind::Box)[0].x2, 3);
}

// ---- a slideshow picture held once: by the picture, then by the window ----

constexpr Colour kRed{255, 0, 0};
constexpr Colour kBlue{0, 0, 255};

using test::redPicture;

// A window image of its own, as the display's window keeps one.
struct ImageWindow final : WindowImage {
  ImageWindow(int w, int h) : image_(w, h) {}
  int clientWidth() const override { return image_.pixelWidth(); }
  int clientHeight() const override { return image_.pixelHeight(); }
  void setRetained(bool) override {}
  void copyFrom(const Surface& source, int sx, int sy, int width, int height, int dx, int dy) override {
    image_.copyFrom(source, sx, sy, width, height, dx, dy);
  }
  void refresh() override {}
  cairo_surface_t* image() const override { return image_.image(); }
  CairoSurface image_;
};

TEST(SlideshowPicture, StandsInForTheCanvasUntilDrawnOverAndComesBackWithAClear) {
  CairoSurface c(64, 32);
  c.setBackColour(colours::kBlack);
  c.setPicture(redPicture(64, 32));
  EXPECT_EQ(pixel(c.image(), 1, 1), kRed);
  EXPECT_EQ(pixel(c.image(), 62, 30), kBlue);
  c.setForeColour(colours::kWhite);
  c.filledBox(10, 10, 20, 20);  // drawn over the picture, not over given-back memory
  EXPECT_EQ(pixel(c.image(), 15, 15), colours::kWhite);
  EXPECT_EQ(pixel(c.image(), 1, 1), kRed);
  EXPECT_EQ(pixel(c.image(), 62, 30), kBlue);
  c.clear();
  EXPECT_EQ(pixel(c.image(), 15, 15), kRed);
  c.removePicture();
  c.clear();
  EXPECT_EQ(pixel(c.image(), 1, 1), colours::kBlack);
}

TEST(SlideshowPicture, OnceOnTheWindowItIsReadFromThereAndSurvivesDrawingAndClears) {
  for (const int pictureWidth : {64, 16}) {  // a picture the size of the canvas, and a smaller one
    SCOPED_TRACE(pictureWidth);
    CairoSurface c(64, 32);
    ImageWindow w(64, 32);
    c.setBackColour(colours::kBlack);
    c.setPicture(redPicture(pictureWidth, pictureWidth == 64 ? 32 : 8));
    presentCanvas(c, w, 0, 1);
    ASSERT_TRUE(c.pictureShownOn(w));
    EXPECT_EQ(c.image(), w.image());
    EXPECT_TRUE(c.hasPicture());
    presentCanvas(c, w, 0, 1);  // an error page over the picture: the same pixels
    c.clear();
    EXPECT_EQ(pixel(w.image(), 1, 1), kRed);
    EXPECT_EQ(pixel(c.image(), 1, 1), kRed);
    c.setForeColour(colours::kWhite);
    c.filledBox(40, 20, 50, 30);
    EXPECT_EQ(pixel(c.image(), 45, 25), colours::kWhite);
    EXPECT_EQ(pixel(c.image(), 1, 1), kRed);
    // The next page replaces the window's pixels; the canvas's own picture stays its background.
    c.setForeColour(colours::kWhite);
    w.image_.setBackColour(colours::kWhite);
    w.image_.filledBox(0, 0, 63, 31);
    c.clear();
    EXPECT_EQ(pixel(c.image(), 1, 1), kRed);
    EXPECT_EQ(pixel(c.image(), 45, 25), pictureWidth == 64 ? kRed : colours::kBlack);
    EXPECT_TRUE(c.hasPicture());
  }
  // A smaller picture taken back from the window after the back colour changed (the error page
  // is black): the picture, on the new colour.
  {
    CairoSurface c(64, 32);
    ImageWindow w(64, 32);
    c.setBackColour(colours::kWhite);
    c.setPicture(redPicture(16, 8));
    presentCanvas(c, w, 0, 1);
    ASSERT_TRUE(c.pictureShownOn(w));
    c.setBackColour(colours::kBlack);
    EXPECT_EQ(pixel(c.image(), 1, 1), kRed);
    EXPECT_EQ(pixel(c.image(), 45, 25), colours::kBlack);
    EXPECT_TRUE(c.hasPicture());
  }
  // Not when anything else is on the canvas, nor for a window of another size.
  CairoSurface c(64, 32);
  ImageWindow w(64, 32), wide(80, 32);
  c.setPicture(redPicture(64, 32));
  EXPECT_FALSE(c.pictureShownOn(wide));
  c.filledBox(1, 1, 2, 2);
  EXPECT_FALSE(c.pictureShownOn(w));
}

long residentKb() {
  long pages = 0, resident = 0;
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return -1;
  const int n = std::fscanf(f, "%ld %ld", &pages, &resident);
  std::fclose(f);
  return n == 2 ? resident * (::sysconf(_SC_PAGESIZE) / 1024) : -1;
}

TEST(SlideshowPicture, AScreenOfPictureCostsTheScreenOnceNotTwice) {
  CairoSurface c(3840, 2160);  // 33 MB, erased at once
  auto picture = redPicture(3840, 2160);
  const long withBoth = residentKb();
  c.setPicture(picture);
  const long withPicture = residentKb();
  EXPECT_GT(withBoth - withPicture, 25 * 1024) << withBoth << " KiB before, " << withPicture << " KiB after";
  c.filledBox(0, 0, 1, 1);  // drawing takes the memory back
  EXPECT_GT(residentKb() - withPicture, 25 * 1024);
}

TEST(DrawingStateGuard, PutsBackTheSavedPartsOnlyAlsoWhenTheStepThrows) {
  CairoSurface s(40, 30);
  s.setForeColour(colours::kWhite);
  s.setFillColour(colours::kYellow);
  s.setFontSize(32);
  const auto changeAll = [&] {
    s.setForeColour(colours::kAccentBlue);
    s.setFillColour(colours::kAccentGreen);
    s.setFillStyle(FillStyle::Solid);
    s.setFontSize(80);
    s.setItalic(true);
    s.setUnderline(true);
  };
  {
    const DrawingStateGuard all(s);
    changeAll();
  }
  EXPECT_EQ(s.foreColour(), colours::kWhite);
  EXPECT_EQ(s.fillColour(), colours::kYellow);
  EXPECT_EQ(s.fillStyle(), FillStyle::Transparent);
  EXPECT_EQ(s.fontSize(), 32);
  EXPECT_FALSE(s.italic());
  EXPECT_FALSE(s.underline());

  try {
    const DrawingStateGuard some(s, DrawingState::ForeColour | DrawingState::Underline);
    changeAll();
    throw RuntimeError(ErrorKind::Overflow, "mid-step");
  } catch (const RuntimeError&) {
  }
  EXPECT_EQ(s.foreColour(), colours::kWhite);
  EXPECT_FALSE(s.underline());
  // The parts not named stay as the step left them.
  EXPECT_EQ(s.fillColour(), colours::kAccentGreen);
  EXPECT_EQ(s.fillStyle(), FillStyle::Solid);
  EXPECT_EQ(s.fontSize(), 80);
  EXPECT_TRUE(s.italic());
}

}  // namespace
}  // namespace plasma
