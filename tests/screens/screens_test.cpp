// The real program in real display servers, each started by the test: Xvfb with a window manager,
// one X screen split into two monitors, the Xorg dummy driver with two outputs switched off and on,
// the cage kiosk compositor (Wayland and Xwayland), and no display server at all at first.
// Label `screens`: ctest -L screens -j1. A server that is not installed skips its test.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
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
  Shown(const TempFolder& tmp, const Sim& sim, Environment env, int screen, const std::string& instance)
      : manager_(tmp.path / ("notify-" + instance)),
        status_(tmp.path / "plasma-display" / ("status-" + instance + ".json")) {
    env["XDG_RUNTIME_DIR"] = tmp.path.string();
    env["PLASMA_INSTANCE"] = instance;
    env["NOTIFY_SOCKET"] = manager_.path();
    child_ = std::make_unique<Child>(
        std::vector<std::string>{display().string(), "3", std::to_string(screen), sim.url}, env,
        tmp.path / instance);
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
  std::unique_ptr<Child> child_;
  bool ready_ = false;
};

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

  EXPECT_NE(shown.child().err().find("video driver x11, path window-surface, renderer software framebuffer, window 1280x720 px"),
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
}

// ---- cage, the kiosk compositor, on its headless backend ----

// Runs a command as "nobody" (cage refuses root), or as is when the test is not root.
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

// The colour of the output at a point given in fractions of its size, or nullopt while grim
// cannot take a screenshot (the compositor is still starting).
std::optional<std::uint32_t> outputColourAt(const fs::path& run, const fs::path& logPrefix, double fx, double fy) {
  Child grim(unprivileged({tool("env"), "-i", "XDG_RUNTIME_DIR=" + run.string(), "WAYLAND_DISPLAY=wayland-0",
                           tool("grim"), "-t", "ppm", (run / "output.ppm").string()}),
             cleanEnvironment(), logPrefix);
  if (grim.wait(milliseconds(5000)) != 0) return std::nullopt;
  const std::optional<Ppm> image = readPpm(run / "output.ppm");
  if (!image) return std::nullopt;
  return image->at(static_cast<int>(fx * image->width), static_cast<int>(fy * image->height));
}

void cageShowsTheFirstPageWithinThreeSeconds(const std::string& sdlDriver) {
  if (!fs::exists("/usr/bin/cage") || !fs::exists("/usr/bin/grim")) GTEST_SKIP() << "SKIPPED: needs cage and grim";
  if (sdlDriver == "x11" && !fs::exists("/usr/bin/Xwayland")) GTEST_SKIP() << "SKIPPED: needs xwayland";
  TempFolder tmp;
  // Short pages, so a page change is seen too.
  Sim sim(tmp.path / "sim", 0, {"--page-seconds", "3"});
  // A private runtime folder the compositor and the display own.
  const fs::path run = tmp.path / "run";
  fs::create_directories(run);
  ::chmod(tmp.path.c_str(), 0755);
  ::chmod(run.c_str(), 0700);
  if (::geteuid() == 0 && std::system(("chown nobody " + run.string()).c_str()) != 0) FAIL() << "chown";
  int rc = 0;
  capture("setpriv --reuid=nobody --regid=nogroup --clear-groups test -x " + display().string(), &rc);
  if (::geteuid() == 0 && rc != 0) GTEST_SKIP() << "SKIPPED: " << display() << " cannot be run by nobody (a private build folder)";

  // The compositor and the display get only what a kiosk session would give them.
  const std::vector<std::string> session = {
      tool("env"), "-i", "PATH=/usr/bin:/bin", "HOME=" + tmp.path.string(), "XDG_RUNTIME_DIR=" + run.string(),
      "WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman", "SDL_VIDEODRIVER=" + sdlDriver,
      "PLASMA_INSTANCE=cage"};
  std::vector<std::string> argv = session;
  // The output turned upside down (-r twice) makes cage compose every frame itself. Upright, cage
  // (0.1.4 on wlroots 0.15) hands a window that fills the output to it as it is, and a screenshot
  // is then composed from cage's last composed frame without the damage of the frames handed over
  // since: grim shows the splash, or black, until the window happens to change while a screenshot
  // is taken (seconds to minutes), whatever the display sent.
  for (const std::string& a : {tool("cage"), std::string("-d"), std::string("-r"), std::string("-r"),
                               std::string("--"), display().string(), std::string("3"), std::string("0"), sim.url}) {
    argv.push_back(a);
  }
  const auto start = Clock::now();
  Child cage(unprivileged(argv), cleanEnvironment(), tmp.path / "cage");
  const fs::path status = run / "plasma-display" / "status-cage.json";
  const auto page = [&] { return jsonField(readText(status), "page").value_or(""); };
  const auto since = [](Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); };
  const auto colour = [&](double fx, double fy) { return outputColourAt(run, tmp.path / "grim", fx, fy); };

  // The first page on the output, seen by the screenshot: within 3 s of the start, and within 1 s
  // of the splash ending (the window shown, which the display logs).
  std::optional<Clock::time_point> splashEnded;
  std::optional<std::uint32_t> seen;
  const bool shown = eventually([&] {
    if (!splashEnded && cage.err().find("showing on") != std::string::npos) splashEnded = Clock::now();
    seen = colour(kBackgroundX, kBackgroundY);
    return seen == kBoardBackground || !cage.running();
  }, milliseconds(static_cast<int>(6000 * timeMargin())), milliseconds(20)) && cage.running();
  const double firstPage = since(start);
  ASSERT_TRUE(shown) << "the output shows " << std::hex << seen.value_or(0) << std::dec
                     << " where the page has its background; status page \"" << page() << "\"\n" << cage.err();
  ASSERT_TRUE(splashEnded) << cage.err();
  EXPECT_LE(firstPage, 3.0 * timeMargin()) << "first page on the output " << firstPage << " s after cage started (the "
                                           << "splash ended after " << std::chrono::duration<double>(*splashEnded - start).count()
                                           << " s)";
  EXPECT_LE(since(*splashEnded), 1.0 * timeMargin() + 0.2) << "first page on the output long after the splash ended";
  EXPECT_NE(cage.err().find("video driver " + sdlDriver + ", path " +
                            (sdlDriver == "x11" ? "window-surface" : "streaming-texture")),
            std::string::npos)
      << cage.err();

  // The next page (the board: its first row crosses the middle of the output, where the own page
  // shows its background) reaches the output as promptly.
  ASSERT_TRUE(eventually([&] { return page() == "board"; }, milliseconds(static_cast<int>(8000 * timeMargin()))))
      << "status page \"" << page() << "\"\n" << cage.err();
  const auto boardNamed = Clock::now();
  EXPECT_TRUE(eventually([&] {
    seen = colour(0.5, 0.4);
    return seen && seen != kBoardBackground;
  }, milliseconds(static_cast<int>(1000 * timeMargin())), milliseconds(50)))
      << "the board was named " << since(boardNamed) << " s ago, the output still shows " << std::hex
      << seen.value_or(0) << " in the middle";
}

TEST(Screens, CageOnTheWaylandDriverShowsTheFirstPageWithinThreeSeconds) {
  cageShowsTheFirstPageWithinThreeSeconds("wayland");
}

TEST(Screens, CageThroughXwaylandShowsTheFirstPageWithinThreeSeconds) {
  cageShowsTheFirstPageWithinThreeSeconds("x11");
}

}  // namespace
}  // namespace plasma::e2e
