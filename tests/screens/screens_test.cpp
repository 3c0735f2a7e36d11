// The real program in real display servers, each started by the test: Xvfb with a window manager,
// an XFCE session with its panels, one X screen split into two monitors, the Xorg dummy driver with
// two outputs switched off and on, the Wayland compositors sway (with its bar), weston (desktop
// and kiosk shells, no keyboard or mouse) and cage (natively and through Xwayland), and no display
// server at all at first. What the server shows is compared with the display's own screenshot, and
// every run ends with SIGTERM and status 0. Label `screens`: ctest -L screens -j1. A server that is
// not installed skips its test.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>

#include "e2e/e2e_support.h"
#include "screens/x_pointer.h"

namespace plasma::e2e {
namespace {

// Board background, and a point of a type 3 page that shows it (right of the texts, below the title).
constexpr std::uint32_t kBoardBackground = 0x4c90cc;
constexpr double kBackgroundX = 0.95, kBackgroundY = 0.12;

double timeMargin() {
  const char* v = std::getenv("PLASMA_PERF_MARGIN");
  const double m = v ? std::atof(v) : 1.0;
  return m >= 1.0 ? m : 1.0;
}

fs::path display() { return binDir() / "plasma-display"; }

// The program's full path (children are started with execve), or the name when it is not found.
std::string tool(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const std::size_t end = std::min(dirs.find(':', start), dirs.size());
    const fs::path candidate = fs::path(dirs.substr(start, end - start)) / name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
    start = end + 1;
  }
  return name;
}

std::string onDisplay(const std::string& name, const std::string& command, int* rc = nullptr) {
  return capture("DISPLAY=" + name + " " + command + " 2>&1", rc);
}

// An X server of the test's own: Xvfb or Xorg. -noreset keeps what xrandr set after its client left.
class XServer {
 public:
  XServer(const fs::path& logPrefix, const std::string& name, std::vector<std::string> argv) : name_(name) {
    argv[0] = tool(argv[0]);
    argv.insert(argv.begin() + 1, name);
    for (const char* a : {"-noreset", "-nolisten", "tcp"}) argv.push_back(a);
    server_ = std::make_unique<Child>(argv, cleanEnvironment(), logPrefix);
    up_ = eventually([&] {
      int rc = 1;
      onDisplay(name_, "xdpyinfo >/dev/null", &rc);
      return rc == 0 || !server_->running();
    }, milliseconds(15000), milliseconds(100)) && server_->running();
  }
  bool up() const { return up_; }
  const std::string& name() const { return name_; }
  std::string log() const { return server_->err(); }

 private:
  std::string name_;
  std::unique_ptr<Child> server_;
  bool up_ = false;
};

// The program under test, with its own service-manager socket and status file.
class Shown {
 public:
  // `runtime` is its XDG_RUNTIME_DIR; `wrap` runs it under another user (a compositor's).
  Shown(const TempFolder& tmp, const Sim& sim, Environment env, int screen, const std::string& instance,
        const fs::path& runtime = {}, const std::vector<std::string>& wrap = {},
        std::vector<std::string> args = {})
      : manager_(tmp.path / ("notify-" + instance)),
        status_((runtime.empty() ? tmp.path : runtime) / "plasma-display" / ("status-" + instance + ".json")),
        screenshot_(status_.parent_path() / ("screenshot-" + instance + ".png")) {
    env["XDG_RUNTIME_DIR"] = (runtime.empty() ? tmp.path : runtime).string();
    env["PLASMA_INSTANCE"] = instance;
    env["NOTIFY_SOCKET"] = manager_.path();
    if (args.empty()) args = {"3", std::to_string(screen), sim.url};
    std::vector<std::string> argv = wrap;
    argv.push_back(display().string());
    argv.insert(argv.end(), args.begin(), args.end());
    child_ = std::make_unique<Child>(argv, env, tmp.path / instance);
  }
  // The display's own screenshot (SIGUSR1), taken afresh.
  cairo_surface_t* screenshot() {
    fs::remove(screenshot_);
    child_->signal(SIGUSR1);
    if (!eventually([&] { return fs::exists(screenshot_); }, milliseconds(5000))) return nullptr;
    return loadPng(screenshot_);
  }
  // SIGTERM: the exit status, which must come within a second.
  std::optional<int> stop() {
    child_->signal(SIGTERM);
    return child_->wait(milliseconds(static_cast<int>(1000 * timeMargin())));
  }
  bool ready() {
    for (const std::string& m : manager_.drain()) ready_ = ready_ || m.find("READY=1") != std::string::npos;
    return ready_;
  }
  bool waitReady(milliseconds limit) {
    return eventually([&] { return ready() || !child_->running(); }, limit) && ready();
  }
  std::string page() const { return jsonField(readText(status_), "page").value_or(""); }
  Child& child() { return *child_; }

 private:
  FakeServiceManager manager_;
  fs::path status_;
  fs::path screenshot_;
  std::unique_ptr<Child> child_;
  bool ready_ = false;
};

// How many pixels of a screen's picture differ from the display's own screenshot; -1 when the
// sizes differ. `at` gives the screen's 0xRRGGBB pixel at (x, y).
long differingPixels(cairo_surface_t* own, int width, int height, const std::function<std::uint32_t(int, int)>& at) {
  if (!own || cairo_image_surface_get_width(own) != width || cairo_image_surface_get_height(own) != height) return -1;
  cairo_surface_flush(own);
  const unsigned char* data = cairo_image_surface_get_data(own);
  const int stride = cairo_image_surface_get_stride(own);
  long n = 0;
  for (int y = 0; y < height; ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
    for (int x = 0; x < width; ++x) n += (row[x] & 0xffffff) != at(x, y);
  }
  return n;
}

// A document that keeps one page still for 20 s (type 3: one train, three stops, a fixed clock).
std::vector<std::string> stillDocuments() { return {"--documents", (sourceDir() / "tests/fixtures/documents").string()}; }

struct Geometry {
  int x = -1, y = -1, width = -1, height = -1;
};

std::string windowId(const std::string& xdisplay) {
  std::string id = onDisplay(xdisplay, "xdotool search --name '^Plasma Sample$' | head -n 1");
  while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) id.pop_back();
  return id.find_first_not_of("0123456789") == std::string::npos ? id : "";
}

Geometry windowGeometry(const std::string& xdisplay) {
  const std::string id = windowId(xdisplay);
  if (id.empty()) return {};
  const std::string g = onDisplay(xdisplay, "xdotool getwindowgeometry " + id);
  std::smatch m;
  Geometry r;
  if (std::regex_search(g, m, std::regex(R"(Position: (-?\d+),(-?\d+))"))) r.x = std::stoi(m[1]), r.y = std::stoi(m[2]);
  if (std::regex_search(g, m, std::regex(R"(Geometry: (\d+)x(\d+))"))) r.width = std::stoi(m[1]), r.height = std::stoi(m[2]);
  return r;
}

bool covers(const Geometry& g, int x, int y, int w, int h) { return g.x == x && g.y == y && g.width == w && g.height == h; }

std::string mappedGraphicsLibraries(pid_t pid) {
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  std::string line, found;
  while (std::getline(maps, line)) {
    for (const char* lib : {"libGL.so", "libGLX", "libEGL", "libGLES", "swrast", "llvmpipe", "libgallium"}) {
      if (line.find(lib) != std::string::npos && found.find(lib) == std::string::npos) found += std::string(lib) + " ";
    }
  }
  return found;
}

TEST(Screens, XvfbWithAWindowManagerShowsABorderlessWindowOverTheMonitorOnTheSoftwareFramebuffer) {
  if (!fs::exists("/usr/bin/Xvfb") || !fs::exists("/usr/bin/openbox")) GTEST_SKIP() << "SKIPPED: needs xvfb and openbox";
  TempFolder tmp;
  XServer x(tmp.path / "xvfb", ":151", {"Xvfb", "-screen", "0", "1280x720x24"});
  ASSERT_TRUE(x.up()) << x.log();
  Environment wmEnv = cleanEnvironment();
  wmEnv["DISPLAY"] = x.name();
  wmEnv["HOME"] = tmp.path.string();
  Child wm({tool("openbox"), "--sm-disable"}, wmEnv, tmp.path / "openbox");
  ASSERT_TRUE(eventually([&] { return onDisplay(x.name(), "xprop -root _NET_SUPPORTING_WM_CHECK").find("window id") != std::string::npos; },
                         milliseconds(10000)))
      << wm.err();
  Sim sim(tmp.path / "sim", 0);
  Environment env = cleanEnvironment();
  env["DISPLAY"] = x.name();
  Shown shown(tmp, sim, env, 0, "wm");
  ASSERT_TRUE(shown.waitReady(milliseconds(20000))) << shown.child().err();
  EXPECT_EQ(shown.page(), "type3");

  EXPECT_NE(shown.child().err().find("showing on x11, window 1280x720 px at 0,0, shared memory, full screen through "
                                     "the window manager"),
            std::string::npos)
      << shown.child().err();
  EXPECT_EQ(mappedGraphicsLibraries(shown.child().pid()), "") << "no GL library belongs in an X11 display";
  ASSERT_TRUE(eventually([&] { return covers(windowGeometry(x.name()), 0, 0, 1280, 720); }, milliseconds(5000)))
      << onDisplay(x.name(), "xdotool search --name '^Plasma Sample$' getwindowgeometry");
  const std::string id = windowId(x.name());
  const std::string frame = onDisplay(x.name(), "xprop -id " + id + " _NET_FRAME_EXTENTS");
  EXPECT_NE(frame.find("= 0, 0, 0, 0"), std::string::npos) << "openbox drew a frame: " << frame;
  const auto invisible = pointerInvisibleAt(x.name(), 640, 360);
  ASSERT_TRUE(invisible.has_value());
  EXPECT_TRUE(*invisible) << "the pointer shows over the display";
  EXPECT_EQ(shown.stop(), 0);
}

// The X root window as xwd takes it, the whole screen.
std::optional<XImage> rootShot(const XServer& x, const fs::path& file) {
  onDisplay(x.name(), "xwd -root -silent > " + file.string());
  std::string why;
  return readXwd(file, &why);
}

TEST(Screens, AnXfceSessionWithItsPanelsShowsThePageOverTheWholeMonitor) {
  for (const char* tool : {"/usr/bin/Xvfb", "/usr/bin/xfwm4", "/usr/bin/xfce4-panel", "/usr/bin/dbus-launch"}) {
    if (!fs::exists(tool)) GTEST_SKIP() << "SKIPPED: needs " << tool;
  }
  TempFolder tmp;
  XServer x(tmp.path / "xvfb", ":156", {"Xvfb", "-screen", "0", "1920x1080x24"});
  ASSERT_TRUE(x.up()) << x.log();
  const fs::path home = tmp.path / "home";
  fs::create_directories(home);
  Environment session = cleanEnvironment();
  session["DISPLAY"] = x.name();
  session["HOME"] = home.string();
  session["XDG_CONFIG_HOME"] = (home / ".config").string();
  // The desktop as XFCE starts it, its two default panels (menu and clock at the top, launchers at
  // the bottom) on top of every window that does not ask for more.
  Child xfce({tool("dbus-launch"), "--exit-with-session", tool("sh"), "-c", "xfwm4 --compositor=off & exec xfce4-panel"},
             session, tmp.path / "xfce");
  ASSERT_TRUE(eventually([&] { return onDisplay(x.name(), "xdotool search --class xfce4-panel").size() > 0; },
                         milliseconds(15000)))
      << xfce.err();
  const std::optional<XImage> desktop = rootShot(x, tmp.path / "desktop.xwd");
  ASSERT_TRUE(desktop);

  Sim sim(tmp.path / "sim", 0, stillDocuments());
  Environment env = cleanEnvironment();
  env["DISPLAY"] = x.name();
  Shown shown(tmp, sim, env, 0, "xfce");
  ASSERT_TRUE(shown.waitReady(milliseconds(20000))) << shown.child().err();
  ::usleep(300000);  // the panels would have come back over the page by now
  const std::optional<XImage> screen = rootShot(x, tmp.path / "page.xwd");
  cairo_surface_t* own = shown.screenshot();
  ASSERT_TRUE(screen && own) << shown.child().err();
  EXPECT_EQ(differingPixels(own, screen->width, screen->height, [&](int px, int py) { return screen->at(px, py); }), 0)
      << "the monitor is not the page (the panels, or the window pushed down)";
  // The panel's own pixels were there before: the page covers them, it is not the same picture.
  EXPECT_NE(differingPixels(own, desktop->width, desktop->height, [&](int px, int py) { return desktop->at(px, py); }), 0);
  cairo_surface_destroy(own);
  EXPECT_EQ(shown.stop(), 0);
}

TEST(Screens, WrongArgumentsShowTheMessageBoxUntilItIsDismissed) {
  if (!fs::exists("/usr/bin/Xvfb") || !fs::exists("/usr/bin/xdotool")) GTEST_SKIP() << "SKIPPED: needs xvfb and xdotool";
  TempFolder tmp;
  XServer x(tmp.path / "xvfb", ":157", {"Xvfb", "-screen", "0", "1280x720x24"});
  ASSERT_TRUE(x.up()) << x.log();
  Sim sim(tmp.path / "sim", 0);
  Environment env = cleanEnvironment();
  env["DISPLAY"] = x.name();
  Shown shown(tmp, sim, env, 0, "box", {}, {}, {"3"});
  const auto boxId = [&] {
    std::string id = onDisplay(x.name(), "xdotool search --name '^Vantrel Plasma Display$' | head -n 1");
    while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) id.pop_back();
    return id;
  };
  // After the splash's two seconds.
  ASSERT_TRUE(eventually([&] { return !boxId().empty(); }, milliseconds(10000))) << shown.child().err();
  EXPECT_NE(shown.child().err().find("The expected arguments have not been received!"), std::string::npos);
  ::usleep(1000000);
  EXPECT_TRUE(shown.child().running()) << "the box went without being dismissed";
  onDisplay(x.name(), "xdotool key --window " + boxId() + " Return");
  EXPECT_EQ(shown.child().wait(milliseconds(3000)), 2) << shown.child().err();
}

// Two pictures of the screen a fifth of a second apart that are the same and differ from `before`:
// the strip has stopped at the bottom of its run.
template <typename Shot>
std::optional<Shot> atRestAfterScrolling(const std::function<std::optional<Shot>()>& shoot,
                                         const std::function<long(const Shot&)>& differsFromPage) {
  std::optional<Shot> last;
  eventually([&] {
    auto now = shoot();
    const bool still = now && last && differsFromPage(*now) > 0 && [&] {
      for (int y = 0; y < now->height; ++y) {
        for (int x = 0; x < now->width; ++x) {
          if (now->at(x, y) != last->at(x, y)) return false;
        }
      }
      return true;
    }();
    last = std::move(now);
    return still;
  }, milliseconds(15000), milliseconds(200));
  return last;
}

TEST(Screens, AScrolledStripOnX11IsWhatTheDisplayHoldsWhenTheServerMovedThePixels) {
  if (!fs::exists("/usr/bin/Xvfb")) GTEST_SKIP() << "SKIPPED: needs xvfb";
  TempFolder tmp;
  XServer x(tmp.path / "xvfb", ":158", {"Xvfb", "-screen", "0", "1920x1080x24"});
  ASSERT_TRUE(x.up()) << x.log();
  Sim sim(tmp.path / "sim", 0, {"--documents", (sourceDir() / "tests/fixtures/long-lists/12").string()});
  Environment env = cleanEnvironment();
  env["DISPLAY"] = x.name();
  Shown shown(tmp, sim, env, 0, "scroll", {}, {}, {"1", "0", sim.url});
  ASSERT_TRUE(shown.waitReady(milliseconds(20000))) << shown.child().err();
  cairo_surface_t* top = shown.screenshot();
  ASSERT_TRUE(top);
  int shots = 0;
  const auto shoot = [&] { return rootShot(x, tmp.path / ("shot" + std::to_string(shots++) + ".xwd")); };
  const auto differsFromTop = [&](const XImage& i) {
    return differingPixels(top, i.width, i.height, [&](int px, int py) { return i.at(px, py); });
  };
  const std::optional<XImage> rest = atRestAfterScrolling<XImage>(shoot, differsFromTop);
  ASSERT_TRUE(rest) << shown.child().err();
  ASSERT_GT(differsFromTop(*rest), 0) << "the strip never moved";
  // The image the display brings up to date when asked equals what the server moved.
  cairo_surface_t* own = shown.screenshot();
  EXPECT_EQ(differingPixels(own, rest->width, rest->height, [&](int px, int py) { return rest->at(px, py); }), 0);
  cairo_surface_destroy(own);
  cairo_surface_destroy(top);
  EXPECT_EQ(shown.stop(), 0);
}

TEST(Screens, OneXScreenSplitIntoTwoMonitorsPutsScreenOneOnTheRightHalf) {
  if (!fs::exists("/usr/bin/Xvfb") || !fs::exists("/usr/bin/xrandr")) GTEST_SKIP() << "SKIPPED: needs xvfb and xrandr";
  TempFolder tmp;
  XServer x(tmp.path / "xvfb", ":152", {"Xvfb", "-screen", "0", "3840x1080x24"});
  ASSERT_TRUE(x.up()) << x.log();
  onDisplay(x.name(), "xrandr --setmonitor left 1920/508x1080/286+0+0 screen");
  onDisplay(x.name(), "xrandr --setmonitor right 1920/508x1080/286+1920+0 none");
  ASSERT_NE(onDisplay(x.name(), "xrandr --listmonitors").find("Monitors: 2"), std::string::npos);
  Sim sim(tmp.path / "sim", 0);
  Environment env = cleanEnvironment();
  env["DISPLAY"] = x.name();
  Shown shown(tmp, sim, env, 1, "split");
  ASSERT_TRUE(shown.waitReady(milliseconds(20000))) << shown.child().err();
  const Geometry g = windowGeometry(x.name());
  EXPECT_TRUE(covers(g, 1920, 0, 1920, 1080)) << g.x << "," << g.y << " " << g.width << "x" << g.height;
  EXPECT_EQ(shown.stop(), 0);
}

TEST(Screens, AnOutputSwitchedOffAndOnAgainGetsTheWindowBack) {
  if (!fs::exists("/usr/lib/xorg/modules/drivers/dummy_drv.so") || !fs::exists("/usr/bin/xrandr")) {
    GTEST_SKIP() << "SKIPPED: needs xserver-xorg-video-dummy and x11-xserver-utils";
  }
  if (::geteuid() != 0) GTEST_SKIP() << "SKIPPED: Xorg with a configuration file of the test's own needs root";
  TempFolder tmp;
  {
    std::ofstream conf(tmp.path / "xorg.conf");
    conf << "Section \"Device\"\n Identifier \"d\"\n Driver \"dummy\"\n VideoRam 64000\nEndSection\n"
            "Section \"Monitor\"\n Identifier \"m\"\n HorizSync 5.0-1000.0\n VertRefresh 5.0-200.0\n"
            " Modeline \"1280x720\" 74.25 1280 1390 1430 1650 720 725 730 750 +hsync +vsync\nEndSection\n"
            "Section \"Screen\"\n Identifier \"s\"\n Device \"d\"\n Monitor \"m\"\n DefaultDepth 24\n"
            " SubSection \"Display\"\n  Depth 24\n  Virtual 2560 720\n EndSubSection\nEndSection\n";
  }
  XServer x(tmp.path / "xorg", ":153",
            {"Xorg", "-config", (tmp.path / "xorg.conf").string(), "-configdir", (tmp.path / "none").string(),
             "-logfile", (tmp.path / "xorg.log").string()});
  ASSERT_TRUE(x.up()) << x.log();
  onDisplay(x.name(), "xrandr --output DUMMY0 --mode 1280x720 --pos 0x0 --primary");
  onDisplay(x.name(), "xrandr --addmode DUMMY1 1280x720");
  const std::string on = "xrandr --output DUMMY1 --mode 1280x720 --pos 1280x0";
  onDisplay(x.name(), on);
  ASSERT_NE(onDisplay(x.name(), "xrandr --listmonitors").find("Monitors: 2"), std::string::npos)
      << onDisplay(x.name(), "xrandr");
  Sim sim(tmp.path / "sim", 0);
  Environment env = cleanEnvironment();
  env["DISPLAY"] = x.name();
  Shown shown(tmp, sim, env, 1, "dummy");
  ASSERT_TRUE(shown.waitReady(milliseconds(20000))) << shown.child().err();
  EXPECT_TRUE(covers(windowGeometry(x.name()), 1280, 0, 1280, 720));

  // Off: the page is on no monitor, and the status says so.
  onDisplay(x.name(), "xrandr --output DUMMY1 --off");
  EXPECT_TRUE(eventually([&] { return shown.page() == "none"; }, milliseconds(8000))) << shown.child().err();
  // On again: placed over the monitor, the page shown and named again, one line for each change.
  onDisplay(x.name(), on);
  EXPECT_TRUE(eventually([&] { return shown.page() == "type3"; }, milliseconds(8000))) << shown.child().err();
  EXPECT_TRUE(covers(windowGeometry(x.name()), 1280, 0, 1280, 720));
  const std::string log = shown.child().err();
  EXPECT_NE(log.find("monitors changed: screen 1 has no monitor"), std::string::npos) << log;
  EXPECT_NE(log.find("monitors changed: screen 1 is the monitor 1280x720 at 1280,0"), std::string::npos) << log;
  EXPECT_EQ(shown.stop(), 0);
}

TEST(Screens, WithoutADisplayItSaysSoAndOpensItsWindowWhenOneAppears) {
  if (!fs::exists("/usr/bin/Xvfb")) GTEST_SKIP() << "SKIPPED: needs xvfb";
  TempFolder tmp;
  Sim sim(tmp.path / "sim", 0);
  Environment env = cleanEnvironment();
  env["DISPLAY"] = ":154";  // no server there yet
  Shown shown(tmp, sim, env, 0, "late");
  ASSERT_TRUE(eventually([&] { return shown.child().err().find("no display to show on") != std::string::npos; },
                         milliseconds(5000)))
      << shown.child().err();
  ::usleep(1000000);
  EXPECT_TRUE(shown.child().running());
  EXPECT_FALSE(shown.ready()) << "READY without a display";
  EXPECT_TRUE(shown.page().empty() || shown.page() == "none") << shown.page();

  XServer x(tmp.path / "xvfb", ":154", {"Xvfb", "-screen", "0", "1280x720x24"});
  ASSERT_TRUE(x.up()) << x.log();
  ASSERT_TRUE(shown.waitReady(milliseconds(20000))) << shown.child().err();
  EXPECT_EQ(shown.page(), "type3");
  EXPECT_TRUE(covers(windowGeometry(x.name()), 0, 0, 1280, 720));
  EXPECT_NE(shown.child().err().find("a display is there after"), std::string::npos) << shown.child().err();
  EXPECT_EQ(shown.stop(), 0);
}

// ---- Wayland compositors on their headless backends, as an unprivileged user ----

// Runs a command as "nobody" (compositors refuse root), or as is when the test is not root.
std::vector<std::string> unprivileged(std::vector<std::string> argv) {
  argv[0] = tool(argv[0]);
  if (::geteuid() != 0) return argv;
  argv.insert(argv.begin(), {tool("setpriv"), "--reuid=nobody", "--regid=nogroup", "--clear-groups"});
  return argv;
}

struct Ppm {
  int width = 0, height = 0;
  std::string rgb;
  std::uint32_t at(int x, int y) const {
    const auto* p = reinterpret_cast<const unsigned char*>(rgb.data()) + (static_cast<std::size_t>(y) * width + x) * 3;
    return std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
  }
};

std::optional<Ppm> readPpm(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  Ppm p;
  int max = 0;
  if (!(in >> magic >> p.width >> p.height >> max) || magic != "P6" || max != 255) return std::nullopt;
  in.get();
  p.rgb.resize(static_cast<std::size_t>(p.width) * p.height * 3);
  if (!in.read(p.rgb.data(), static_cast<std::streamsize>(p.rgb.size()))) return std::nullopt;
  return p;
}

// A picture of the compositor's output: width, height and its pixels.
struct OutputShot {
  int width = 0, height = 0;
  std::function<std::uint32_t(int, int)> at;
  std::shared_ptr<void> keep;
};

// A compositor on its headless backend (pixman renderer: no GPU), started as a session would start
// it: as an unprivileged user, in a runtime folder of its own, with no keyboard or mouse.
class Compositor {
 public:
  enum class Kind { Sway, WestonDesktop, WestonKiosk, Cage };

  Compositor(const TempFolder& tmp, Kind kind, const std::vector<std::string>& cageClient = {})
      : kind_(kind), run_(tmp.path / "run"), tmp_(tmp.path) {
    fs::create_directories(run_);
    ::chmod(tmp.path.c_str(), 0755);
    ::chmod(run_.c_str(), 0700);
    if (::geteuid() == 0 && std::system(("chown nobody " + run_.string()).c_str()) != 0) ADD_FAILURE() << "chown";
    std::vector<std::string> argv = {tool("env"), "-i", "PATH=/usr/bin:/bin", "HOME=" + tmp.path.string(),
                                     "XDG_RUNTIME_DIR=" + run_.string(), "WLR_BACKENDS=headless",
                                     "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman", "PLASMA_INSTANCE=cage"};
    switch (kind) {
      case Kind::Sway: {
        std::ofstream conf(tmp.path / "sway.conf");
        // sway's bar, as a desktop has it, over the top of the output.
        conf << "output HEADLESS-1 mode 1920x1080\nbar {\n  position top\n  status_command echo plasma\n}\n";
        conf.close();
        ::chmod((tmp.path / "sway.conf").c_str(), 0644);
        for (const std::string& a : {tool("sway"), std::string("-c"), (tmp.path / "sway.conf").string()}) argv.push_back(a);
        break;
      }
      case Kind::WestonDesktop:
      case Kind::WestonKiosk:
        // --debug lets weston-screenshooter take the output's picture.
        for (const std::string& a : {tool("weston"), std::string("--debug"), std::string("--use-pixman"),
                                     std::string("--backend=headless-backend.so"), std::string("--width=1920"),
                                     std::string("--height=1080"), std::string("--socket=wayland-1"),
                                     std::string(kind == Kind::WestonKiosk ? "--shell=kiosk-shell.so"
                                                                           : "--shell=desktop-shell.so")}) {
          argv.push_back(a);
        }
        break;
      case Kind::Cage:
        // The output turned upside down (-r twice) makes cage compose every frame itself. Upright,
        // cage (0.1.4 on wlroots 0.15) hands a window that fills the output to it as it is, and a
        // screenshot is then composed from cage's last composed frame, without the frames handed
        // over since.
        for (const std::string& a : {tool("cage"), std::string("-d"), std::string("-r"), std::string("-r"), std::string("--")}) {
          argv.push_back(a);
        }
        argv.insert(argv.end(), cageClient.begin(), cageClient.end());
        break;
    }
    child_ = std::make_unique<Child>(unprivileged(argv), cleanEnvironment(), tmp.path / "compositor");
    if (kind != Kind::Cage) {
      up_ = eventually([&] { return fs::exists(run_ / "wayland-1") || !child_->running(); }, milliseconds(10000)) &&
            child_->running();
    }
  }

  bool up() const { return up_; }
  Child& child() { return *child_; }
  const fs::path& run() const { return run_; }
  // The display's command line prefix: the compositor's user and session.
  std::vector<std::string> client() const {
    return unprivileged({"env", "XDG_RUNTIME_DIR=" + run_.string(), "WAYLAND_DISPLAY=wayland-1"});
  }

  // The output's picture as the compositor composes it, or nothing while it cannot give one.
  std::optional<OutputShot> shot() {
    const std::string env = "env -i XDG_RUNTIME_DIR=" + run_.string() + " WAYLAND_DISPLAY=" +
                            (kind_ == Kind::Cage ? "wayland-0" : "wayland-1");
    const std::string as = ::geteuid() == 0 ? "setpriv --reuid=nobody --regid=nogroup --clear-groups " : "";
    if (kind_ == Kind::Sway || kind_ == Kind::Cage) {
      int rc = 1;
      capture("timeout 5 " + as + env + " grim -t ppm " + (run_ / "output.ppm").string() + " 2>/dev/null", &rc);
      auto image = rc == 0 ? readPpm(run_ / "output.ppm") : std::nullopt;
      if (!image) return std::nullopt;
      auto keep = std::make_shared<Ppm>(std::move(*image));
      return OutputShot{keep->width, keep->height, [keep](int x, int y) { return keep->at(x, y); }, keep};
    }
    // weston-screenshooter writes wayland-screenshot-DATE.png into its working folder.
    int rc = 1;
    capture("cd " + run_.string() + " && rm -f wayland-screenshot*.png && timeout 5 " + as + env +
                " weston-screenshooter >/dev/null 2>&1 && mv wayland-screenshot*.png " + (tmp_ / "output.png").string(),
            &rc);
    cairo_surface_t* png = rc == 0 ? loadPng(tmp_ / "output.png") : nullptr;
    if (!png) return std::nullopt;
    std::shared_ptr<void> keep(png, [](void* p) { cairo_surface_destroy(static_cast<cairo_surface_t*>(p)); });
    const int stride = cairo_image_surface_get_stride(png);
    const unsigned char* data = cairo_image_surface_get_data(png);
    return OutputShot{cairo_image_surface_get_width(png), cairo_image_surface_get_height(png),
                      [data, stride](int x, int y) {
                        return reinterpret_cast<const std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride)[x] &
                               0xffffff;
                      },
                      keep};
  }

 private:
  Kind kind_;
  fs::path run_, tmp_;
  std::unique_ptr<Child> child_;
  bool up_ = true;
};

bool displayRunnableByNobody() {
  int rc = 0;
  capture("setpriv --reuid=nobody --regid=nogroup --clear-groups test -x " + display().string(), &rc);
  return ::geteuid() != 0 || rc == 0;
}

// The display under a desktop Wayland compositor, with no keyboard or mouse: the page within a
// second of the splash, the compositor's picture of the output equal to the page, status 0 on
// SIGTERM.
void showsThePageOnTheWholeOutput(Compositor::Kind kind, const char* compositor) {
  if (!fs::exists(std::string("/usr/bin/") + compositor)) GTEST_SKIP() << "SKIPPED: needs " << compositor;
  if (!displayRunnableByNobody()) GTEST_SKIP() << "SKIPPED: " << display() << " cannot be run by nobody";
  TempFolder tmp;
  Compositor wayland(tmp, kind);
  ASSERT_TRUE(wayland.up()) << wayland.child().err();
  Sim sim(tmp.path / "sim", 0, stillDocuments());
  Shown shown(tmp, sim, cleanEnvironment(), 0, "wl", wayland.run(), wayland.client());
  ::chmod((tmp.path / "notify-wl").c_str(), 0777);
  std::optional<Clock::time_point> splashEnded;
  ASSERT_TRUE(eventually([&] {
    if (!splashEnded && shown.child().err().find("showing on wayland") != std::string::npos) splashEnded = Clock::now();
    return shown.ready() || !shown.child().running();
  }, milliseconds(20000), milliseconds(10)) && shown.ready())
      << shown.child().err() << wayland.child().err();
  ASSERT_TRUE(splashEnded) << shown.child().err();
  const double afterSplash = std::chrono::duration<double>(Clock::now() - *splashEnded).count();
  EXPECT_LE(afterSplash, 1.0 * timeMargin()) << "the page reached the output " << afterSplash << " s after the splash";
  EXPECT_EQ(shown.page(), "type3");
  EXPECT_EQ(mappedGraphicsLibraries(shown.child().pid()), "") << "no GL library belongs in the Wayland path";

  cairo_surface_t* own = shown.screenshot();
  std::optional<OutputShot> output;
  ASSERT_TRUE(eventually([&] { return (output = wayland.shot()).has_value(); }, milliseconds(5000)));
  EXPECT_EQ(differingPixels(own, output->width, output->height, output->at), 0)
      << "the output is not the page: a bar, a title bar, a border or a scaled page";
  cairo_surface_destroy(own);
  EXPECT_EQ(shown.stop(), 0) << shown.child().err();
}

TEST(Screens, SwayWithItsBarShowsThePageOverTheWholeOutput) {
  showsThePageOnTheWholeOutput(Compositor::Kind::Sway, "sway");
}

TEST(Screens, WestonWithoutKeyboardOrMouseShowsThePageOverTheWholeOutput) {
  showsThePageOnTheWholeOutput(Compositor::Kind::WestonDesktop, "weston");
}

// weston 10's kiosk-shell shows a client's surface only once it gives a seat's focus to it, so on
// a screen without keyboard or mouse it shows nothing at all. The display must neither crash nor
// claim a page is on the monitor.
TEST(Screens, WestonKioskWithoutKeyboardOrMouseShowsNothingAndTheDisplaySaysSo) {
  if (!fs::exists("/usr/bin/weston")) GTEST_SKIP() << "SKIPPED: needs weston";
  if (!displayRunnableByNobody()) GTEST_SKIP() << "SKIPPED: " << display() << " cannot be run by nobody";
  TempFolder tmp;
  Compositor wayland(tmp, Compositor::Kind::WestonKiosk);
  ASSERT_TRUE(wayland.up()) << wayland.child().err();
  Sim sim(tmp.path / "sim", 0, stillDocuments());
  Shown shown(tmp, sim, cleanEnvironment(), 0, "kiosk", wayland.run(), wayland.client());
  ::chmod((tmp.path / "notify-kiosk").c_str(), 0777);
  ASSERT_TRUE(eventually([&] { return shown.child().err().find("has not drawn the display") != std::string::npos; },
                         milliseconds(15000)))
      << shown.child().err();
  EXPECT_TRUE(shown.child().running());
  EXPECT_FALSE(shown.ready()) << "READY for a page the compositor never drew";
  EXPECT_TRUE(eventually([&] { return shown.page() == "none"; }, milliseconds(7000))) << shown.page();
  EXPECT_EQ(shown.stop(), 0) << shown.child().err();
}

TEST(Screens, AScrolledStripUnderSwayIsThePageTheDisplayHolds) {
  if (!fs::exists("/usr/bin/sway")) GTEST_SKIP() << "SKIPPED: needs sway";
  if (!displayRunnableByNobody()) GTEST_SKIP() << "SKIPPED: " << display() << " cannot be run by nobody";
  TempFolder tmp;
  Compositor wayland(tmp, Compositor::Kind::Sway);
  ASSERT_TRUE(wayland.up()) << wayland.child().err();
  Sim sim(tmp.path / "sim", 0, {"--documents", (sourceDir() / "tests/fixtures/long-lists/12").string()});
  Shown shown(tmp, sim, cleanEnvironment(), 0, "wl", wayland.run(), wayland.client(), {"1", "0", sim.url});
  ::chmod((tmp.path / "notify-wl").c_str(), 0777);
  ASSERT_TRUE(shown.waitReady(milliseconds(20000))) << shown.child().err();
  cairo_surface_t* top = shown.screenshot();
  ASSERT_TRUE(top);
  const auto differsFromTop = [&](const OutputShot& i) { return differingPixels(top, i.width, i.height, i.at); };
  const std::optional<OutputShot> rest =
      atRestAfterScrolling<OutputShot>([&] { return wayland.shot(); }, differsFromTop);
  ASSERT_TRUE(rest) << shown.child().err();
  ASSERT_GT(differsFromTop(*rest), 0) << "the strip never moved";
  cairo_surface_t* own = shown.screenshot();
  EXPECT_EQ(differingPixels(own, rest->width, rest->height, rest->at), 0);
  cairo_surface_destroy(own);
  cairo_surface_destroy(top);
  EXPECT_EQ(shown.stop(), 0);
}

// cage runs the display as its one client: the first page within 3 s of cage's start and within a
// second of the splash, and the next page as promptly.
void cageShowsTheFirstPageWithinThreeSeconds(const std::string& server) {
  if (!fs::exists("/usr/bin/cage") || !fs::exists("/usr/bin/grim")) GTEST_SKIP() << "SKIPPED: needs cage and grim";
  if (server == "x11" && !fs::exists("/usr/bin/Xwayland")) GTEST_SKIP() << "SKIPPED: needs xwayland";
  if (!displayRunnableByNobody()) GTEST_SKIP() << "SKIPPED: " << display() << " cannot be run by nobody";
  TempFolder tmp;
  // Short pages, so a page change is seen too.
  Sim sim(tmp.path / "sim", 0, {"--page-seconds", "3"});
  const auto start = Clock::now();
  Compositor cage(tmp, Compositor::Kind::Cage,
                  {tool("env"), "PLASMA_DISPLAY_SERVER=" + server, display().string(), "3", "0", sim.url});
  const fs::path status = cage.run() / "plasma-display" / "status-cage.json";
  const auto page = [&] { return jsonField(readText(status), "page").value_or(""); };
  const auto since = [](Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); };
  const auto colour = [&](double fx, double fy) -> std::optional<std::uint32_t> {
    const auto s = cage.shot();
    if (!s) return std::nullopt;
    return s->at(static_cast<int>(fx * s->width), static_cast<int>(fy * s->height));
  };

  // The first page on the output, seen by the screenshot: within 3 s of the start, and within 1 s
  // of the splash ending (the window shown, which the display logs).
  std::optional<Clock::time_point> splashEnded;
  std::optional<std::uint32_t> seen;
  const bool shown = eventually([&] {
    if (!splashEnded && cage.child().err().find("showing on") != std::string::npos) splashEnded = Clock::now();
    seen = colour(kBackgroundX, kBackgroundY);
    return seen == kBoardBackground || !cage.child().running();
  }, milliseconds(static_cast<int>(6000 * timeMargin())), milliseconds(20)) && cage.child().running();
  const double firstPage = since(start);
  ASSERT_TRUE(shown) << "the output shows " << std::hex << seen.value_or(0) << std::dec
                     << " where the page has its background; status page \"" << page() << "\"\n" << cage.child().err();
  ASSERT_TRUE(splashEnded) << cage.child().err();
  EXPECT_LE(firstPage, 3.0 * timeMargin()) << "first page on the output " << firstPage << " s after cage started (the "
                                           << "splash ended after " << std::chrono::duration<double>(*splashEnded - start).count()
                                           << " s)";
  EXPECT_LE(since(*splashEnded), 1.0 * timeMargin() + 0.2) << "first page on the output long after the splash ended";
  EXPECT_NE(cage.child().err().find("showing on " + server), std::string::npos) << cage.child().err();

  // The next page (the board: its first row crosses the middle of the output, where the own page
  // shows its background) reaches the output as promptly.
  ASSERT_TRUE(eventually([&] { return page() == "board"; }, milliseconds(static_cast<int>(8000 * timeMargin()))))
      << "status page \"" << page() << "\"\n" << cage.child().err();
  const auto boardNamed = Clock::now();
  EXPECT_TRUE(eventually([&] {
    seen = colour(0.5, 0.4);
    return seen && seen != kBoardBackground;
  }, milliseconds(static_cast<int>(1000 * timeMargin())), milliseconds(50)))
      << "the board was named " << since(boardNamed) << " s ago, the output still shows " << std::hex
      << seen.value_or(0) << " in the middle";
  // cage ends with its client: the display's stop is cage's.
  const std::optional<int> pid = [&]() -> std::optional<int> {
    const std::string p = capture("pgrep -f '^" + display().string() + " 3 0'");
    return p.empty() ? std::nullopt : std::optional<int>(std::atoi(p.c_str()));
  }();
  ASSERT_TRUE(pid) << "the display is not running under cage";
  ::kill(*pid, SIGTERM);
  EXPECT_EQ(cage.child().wait(milliseconds(static_cast<int>(2000 * timeMargin()))), 0) << cage.child().err();
}

TEST(Screens, CageOnWaylandShowsTheFirstPageWithinThreeSeconds) { cageShowsTheFirstPageWithinThreeSeconds("wayland"); }

TEST(Screens, CageThroughXwaylandShowsTheFirstPageWithinThreeSeconds) { cageShowsTheFirstPageWithinThreeSeconds("x11"); }

}  // namespace
}  // namespace plasma::e2e
