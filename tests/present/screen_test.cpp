// The choices made before the first window: which display server the session names, and which
// monitor shows a screen on each of them.
#include <gtest/gtest.h>

#include "present/monitors.h"
#include "present/display_server.h"

#include <map>

namespace plasma {
namespace {

TEST(ServerChoice, TheSessionNamesTheServerAndTheOperatorCanForceOne) {
  using Env = std::map<std::string, std::string>;
  using K = ServerKind;
  const struct {
    Env env;
    std::vector<K> want;
    bool problem;
  } cases[] = {
      // A desktop that offers both is shown on natively, with X11 (Xwayland) behind it.
      {{{"WAYLAND_DISPLAY", "wayland-1"}, {"DISPLAY", ":0"}}, {K::Wayland, K::X11}, false},
      {{{"DISPLAY", ":0"}}, {K::X11}, false},
      {{{"WAYLAND_DISPLAY", "wayland-0"}}, {K::Wayland}, false},
      // Neither: the bare console.
      {{}, {K::Kms}, false},
      {{{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}, {K::Kms}, false},
      // The operator's choice wins alone, and so does the older configuration's SDL driver.
      {{{"PLASMA_DISPLAY_SERVER", "x11"}, {"WAYLAND_DISPLAY", "wayland-0"}}, {K::X11}, false},
      {{{"PLASMA_DISPLAY_SERVER", "kms"}, {"DISPLAY", ":0"}}, {K::Kms}, false},
      {{{"SDL_VIDEODRIVER", "kmsdrm"}}, {K::Kms}, false},
      {{{"SDL_VIDEODRIVER", "x11"}, {"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}}, {K::X11}, false},
      {{{"PLASMA_DISPLAY_SERVER", "wayland"}, {"SDL_VIDEODRIVER", "x11"}}, {K::Wayland}, false},
      // A name of no server (SDL's invisible drivers among them) is said and ignored.
      {{{"SDL_VIDEODRIVER", "dummy"}, {"DISPLAY", ":0"}}, {K::X11}, true},
      {{{"PLASMA_DISPLAY_SERVER", "directfb"}}, {K::Kms}, true},
  };
  for (const auto& c : cases) {
    std::string problem;
    EXPECT_EQ(serverCandidates(c.env, &problem), c.want) << ::testing::PrintToString(c.env);
    EXPECT_EQ(!problem.empty(), c.problem) << problem;
  }
}

TEST(ConsoleScreens, ScreenNIsTheNthConnectorWithAMonitorInTheCardsOrder) {
  const std::vector<ConnectorState> card = {
      {31, "HDMI-A-1", false, false},  // nothing plugged in
      {33, "DP-1", true, true},
      {35, "DP-2", true, false},       // connected, but the monitor gave no mode (off, no EDID)
      {37, "HDMI-A-2", true, true},
  };
  const struct {
    int screen;
    std::optional<std::size_t> want;
  } cases[] = {{0, 1}, {1, 3}, {2, std::nullopt}, {-1, std::nullopt}, {32767, std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(connectorForScreen(c.screen, card), c.want) << "screen " << c.screen;
  EXPECT_EQ(connectorForScreen(0, {}), std::nullopt);
}

TEST(ConsoleScreens, AMonitorGetsTheModeNamedOnTheKernelCommandLineElseItsOwnPreferredOne) {
  using M = ModeOffer;
  // As the kernel lists them: preferred first, then the largest.
  const std::vector<M> edid = {{1920, 1080, 60, true, false}, {3840, 2160, 30, false, false}, {1280, 720, 60, false, false}};
  EXPECT_EQ(modeForMonitor(edid), 0u);
  // video=HDMI-A-1:1280x720 marks that mode (or adds it) for the connector.
  std::vector<M> named = edid;
  named[2].commandLine = true;
  EXPECT_EQ(modeForMonitor(named), 2u);
  // A monitor forced on without an EDID offers no preferred mode: the first, unless one is named.
  const std::vector<M> bare = {{5120, 2160, 60, false, false}, {1920, 1080, 60, false, false}};
  EXPECT_EQ(modeForMonitor(bare), 0u);
  EXPECT_EQ(modeForMonitor({{5120, 2160, 60, false, false}, {1920, 1080, 60, false, true}}), 1u);
  EXPECT_EQ(modeForMonitor({}), std::nullopt);
}

TEST(ConsoleScreens, TheModeTheMonitorRunsIsKeptOnlyWhenTheMonitorOffersIt) {
  const std::vector<ModeOffer> monitor = {
      {1920, 1080, 60, true, false}, {1280, 800, 60, false, true}, {1280, 800, 75, false, false}};
  // The console's mode (or the display's own, from before the monitor was switched off) wins even
  // over the command line: changing it would only make the monitor flicker.
  EXPECT_EQ(modeForMonitor(monitor, ModeOffer{1280, 800, 75}), 2u);
  EXPECT_EQ(modeForMonitor(monitor, ModeOffer{1920, 1080, 60}), 0u);
  // Another monitor plugged in where one ran 2560x1440 does not offer it: chosen afresh.
  EXPECT_EQ(modeForMonitor(monitor, ModeOffer{2560, 1440, 60}), 1u);
  EXPECT_EQ(modeForMonitor({}, ModeOffer{1920, 1080, 60}), std::nullopt);
}

TEST(WaylandScreens, OutputsCountFromTheOneAtTheOriginWhateverTheirOrder) {
  // Listed as the compositor announced them: the right-hand output first.
  MonitorLayout layout{{{1920, 0, 1280, 1024}, {0, 0, 1920, 1080}}, 0};
  layout.primary = primaryByPosition(layout.monitors);
  EXPECT_EQ(layout.primary, 1);
  EXPECT_EQ(placeForScreen(0, layout).monitor, 1);
  EXPECT_EQ(placeForScreen(1, layout).monitor, 0);
  EXPECT_FALSE(placeForScreen(2, layout).onMonitor);
  // No output at the origin (the compositor laid them out elsewhere): the first one listed.
  EXPECT_EQ(primaryByPosition({{100, 0, 800, 600}, {900, 0, 800, 600}}), 0);
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
