// The choices made before the first window: which presentation path a display server gets, which
// drivers count as no display at all, and where the window of a screen goes among the monitors.
#include <gtest/gtest.h>

#include "platform/monitors.h"
#include "platform/presenter.h"

namespace plasma {
namespace {

TEST(PresentPathChoice, EachDisplayServerGetsItsOwnPathAndTheOperatorCanForceOne) {
  // X11 has SDL's software framebuffer; Wayland and KMS/DRM have none and go through a renderer.
  EXPECT_EQ(choosePresentPath("x11", ""), PresentPath::WindowSurface);
  EXPECT_EQ(choosePresentPath("wayland", ""), PresentPath::StreamingTexture);
  EXPECT_EQ(choosePresentPath("kmsdrm", ""), PresentPath::StreamingTexture);
  // A driver nobody planned for gets the renderer, which every SDL driver offers.
  EXPECT_EQ(choosePresentPath("vivante", ""), PresentPath::StreamingTexture);

  EXPECT_EQ(choosePresentPath("x11", "streaming-texture"), PresentPath::StreamingTexture);
  EXPECT_EQ(choosePresentPath("kmsdrm", "window-surface"), PresentPath::WindowSurface);
  EXPECT_EQ(choosePresentPath("x11", "texture"), PresentPath::StreamingTexture);
  // A value that names no path is ignored rather than guessed at.
  EXPECT_EQ(choosePresentPath("x11", "opengl"), PresentPath::WindowSurface);
  EXPECT_EQ(choosePresentPath("wayland", "Surface"), PresentPath::StreamingTexture);

  for (PresentPath p : {PresentPath::WindowSurface, PresentPath::StreamingTexture}) {
    EXPECT_EQ(parsePresentPath(presentPathName(p)), p);
  }
}

TEST(PresentPathChoice, OnlyDriversThatShowSomethingCountAsADisplay) {
  EXPECT_TRUE(invisibleVideoDriver("offscreen"));
  EXPECT_TRUE(invisibleVideoDriver("dummy"));
  EXPECT_FALSE(invisibleVideoDriver("x11"));
  EXPECT_FALSE(invisibleVideoDriver("wayland"));
  EXPECT_FALSE(invisibleVideoDriver("kmsdrm"));
}

TEST(ScreenPlacement, AScreenIsTheMonitorAtItsPositionNotAtItsPlaceInTheList) {
  // Listed primary first, then in output order: the monitor on the left comes last.
  const MonitorLayout layout{{{1920, 0, 1920, 1080}, {3840, 0, 1280, 1024}, {0, 0, 1920, 1080}}, 0};
  const ScreenPlacement s0 = placeForScreen(0, layout);
  EXPECT_EQ(s0.bounds, (MonitorPlacement{1920, 0, 1920, 1080}));
  EXPECT_TRUE(s0.onMonitor);
  // 1 and -1 count from the primary's left edge in primary widths.
  EXPECT_EQ(placeForScreen(1, layout).bounds, (MonitorPlacement{3840, 0, 1280, 1024}));
  EXPECT_EQ(placeForScreen(-1, layout).bounds, (MonitorPlacement{0, 0, 1920, 1080}));
  // Nothing at 2 x 1920 right of the primary (the 1280-wide monitor ends before it).
  const ScreenPlacement s2 = placeForScreen(2, layout);
  EXPECT_FALSE(s2.onMonitor);
  EXPECT_EQ(s2.bounds, (MonitorPlacement{1920 + 2 * 1920, 0, 1920, 1080}));
  EXPECT_FALSE(visibleOn(s2.bounds, layout));
}

TEST(ScreenPlacement, OneScreenSplitIntoTwoMonitorsGivesTwoScreens) {
  // `xrandr --setmonitor` halves of one 3840x1080 X screen, the primary marked on the right one.
  MonitorLayout split{{{0, 0, 1920, 1080}, {1920, 0, 1920, 1080}}, 0};
  EXPECT_EQ(placeForScreen(1, split).bounds, (MonitorPlacement{1920, 0, 1920, 1080}));
  split.primary = 1;
  EXPECT_EQ(placeForScreen(0, split).bounds, (MonitorPlacement{1920, 0, 1920, 1080}));
  EXPECT_EQ(placeForScreen(-1, split).bounds, (MonitorPlacement{0, 0, 1920, 1080}));
}

TEST(ScreenPlacement, MonitorsGoneOrOutOfRangeNeverGiveAnUnusableWindow) {
  // No monitor known at all: a 1920x1080 primary at the origin is assumed.
  EXPECT_EQ(placeForScreen(1, MonitorLayout{}).bounds, (MonitorPlacement{1920, 0, 1920, 1080}));
  // A primary index past the list (a monitor just removed) falls back to the last one.
  const MonitorLayout stale{{{0, 0, 1280, 720}}, 3};
  EXPECT_EQ(placeForScreen(0, stale).bounds, (MonitorPlacement{0, 0, 1280, 720}));
  // Screen numbers at the ends of the 16-bit range stay within what a window position holds.
  const ScreenPlacement far = placeForScreen(32767, stale);
  EXPECT_FALSE(far.onMonitor);
  EXPECT_EQ(far.bounds.x, 32767 * 1280);
  EXPECT_EQ(placeForScreen(-32768, stale).bounds.x, -32768 * 1280);
  // A window that only overlaps a monitor's edge is still seen on it.
  EXPECT_TRUE(visibleOn({1200, 0, 1920, 1080}, stale));
  EXPECT_FALSE(visibleOn({1280, 0, 1920, 1080}, stale));
}

}  // namespace
}  // namespace plasma
