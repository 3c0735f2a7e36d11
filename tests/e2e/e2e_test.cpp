// The real programs end to end: plasma-display (headless and under Xvfb) against a real
// timetable-sim over HTTP on 127.0.0.1, the service launcher and the demo script.
//
// One display runs for the whole program (FeedTimeline): it shows its pages, loses its timetable
// server, and gets it back. The timetable is fetched every 30 s, so that story takes about a
// minute; the other tests run while it unfolds, and the FeedOutage tests at the end read what was
// seen.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <regex>
#include <thread>

#include "canvas/colour.h"
#include "e2e_support.h"
#include "startup/command_line.h"
#include "test_support/rig.h"

namespace plasma::e2e {
namespace {

constexpr int kWidth = 1360, kHeight = 770;
const std::string kSize = std::to_string(kWidth) + "x" + std::to_string(kHeight);

// An interior point of the board background on the next-train pages, the boards and the message
// page alike: right of the title, inside the frame.
constexpr double kBackgroundX = 0.95, kBackgroundY = 0.12;

double secondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// Alive and not a zombie waiting for its parent.
bool processAlive(pid_t pid) {
  if (::kill(pid, 0) != 0) return false;
  const std::string stat = readText("/proc/" + std::to_string(pid) + "/stat");
  const auto close = stat.rfind(')');
  return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'Z';
}

Environment headlessEnvironment(const fs::path& runtime, const std::string& instance) {
  Environment env = cleanEnvironment();
  env["PLASMA_HEADLESS"] = kSize;
  env["PLASMA_INSTANCE"] = instance;
  env["XDG_RUNTIME_DIR"] = runtime.string();
  return env;
}

std::string display() { return (binDir() / "plasma-display").string(); }

// ---- the display that loses its timetable server and gets it back ----

struct Observation {
  double at;  // seconds since the display started
  std::string page;
  int failuresInARow;
  long loads;
  int frames;  // frames written when the status was read
};

class FeedTimeline {
 public:
  enum class Stage { Starting, Cycling, SimStopped, Failed, Recovered, Done };

  static FeedTimeline& get() {
    static FeedTimeline timeline;
    return timeline;
  }

  // Waits until the story reached a stage (or went wrong); false when it did not.
  bool reach(Stage stage, milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return stage_ >= stage || !problem_.empty(); }) &&
           stage_ >= stage;
  }
  std::vector<Observation> observations() {
    std::lock_guard lock(mutex_);
    return observations_;
  }
  // Everything the fake service manager received so far.
  std::vector<std::string> notifications() {
    std::lock_guard lock(mutex_);
    const auto got = manager_.drain();
    notifications_.insert(notifications_.end(), got.begin(), got.end());
    return notifications_;
  }
  std::string problem() {
    std::lock_guard lock(mutex_);
    return problem_.empty() ? "stage " + std::to_string(static_cast<int>(stage_)) : problem_;
  }
  Child& displayChild() { return *display_; }
  bool displayRanThroughFailure() const { return ranThroughFailure_; }
  std::string lastFailure() const { return lastFailure_; }
  const fs::path& frames() const { return frames_; }
  fs::path runtimeFolder() const { return folder_.path / "run" / "plasma-display"; }
  fs::path statusPath() const { return runtimeFolder() / "status-e2e-run.json"; }
  fs::path folder() const { return folder_.path; }
  std::string url() const { return url_; }

 private:
  FeedTimeline() : manager_(folder_.path / "notify") {
    frames_ = folder_.path / "frames";
    fs::create_directories(frames_);
    fs::create_directories(folder_.path / "run");
    sim_ = std::make_unique<Sim>(folder_.path / "sim", 0, std::vector<std::string>{"--page-seconds", "2"});
    url_ = sim_->url;
    Environment env = headlessEnvironment(folder_.path / "run", "e2e-run");
    env["PLASMA_FRAME_DIR"] = frames_.string();
    // Train lists older than 20 s are emptied, so the outage shows on the pages.
    env["PLASMA_STALE_SECONDS"] = "20";
    env["NOTIFY_SOCKET"] = manager_.path();
    env["WATCHDOG_USEC"] = "2000000";
    started_ = Clock::now();
    display_ = std::make_unique<Child>(std::vector<std::string>{display(), "3", "0", url_}, env,
                                       folder_.path / "display");
    thread_ = std::thread([this] { run(); });
  }
  ~FeedTimeline() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  void setStage(Stage s) {
    std::lock_guard lock(mutex_);
    stage_ = s;
    changed_.notify_all();
  }
  void fail(const std::string& why) {
    std::lock_guard lock(mutex_);
    problem_ = why;
    changed_.notify_all();
  }

  void run() {
    Observation last{0, "", -1, -1, 0};
    Clock::time_point cyclingSince{};
    long loadsAtFailure = 0;
    while (!stop_) {
      std::this_thread::sleep_for(milliseconds(50));
      notifications();
      if (secondsSince(started_) > 110) return fail("the story did not finish within 110 s");
      const std::string json = readText(statusPath());
      const int frames = frameCount(frames_);
      // A page is written as a frame just before the status names it: read both again when the
      // status changed in between.
      if (readText(statusPath()) != json) continue;
      const auto page = jsonField(json, "page"), failures = jsonField(json, "failuresInARow"),
                 loads = jsonField(json, "loads");
      if (!page || !failures || !loads) continue;
      const Observation now{secondsSince(started_), *page, std::stoi(*failures), std::stol(*loads), frames};
      if (now.page == last.page && now.failuresInARow == last.failuresInARow && now.loads == last.loads) continue;
      last = now;
      {
        std::lock_guard lock(mutex_);
        observations_.push_back(now);
      }
      switch (stage_) {
        case Stage::Starting:
          cyclingSince = Clock::now();
          setStage(Stage::Cycling);
          break;
        case Stage::Cycling:
          // The server goes away once the first pages have been seen.
          if (now.page == "message" || secondsSince(cyclingSince) > 15) {
            sim_->child.signal(SIGTERM);
            sim_->child.wait(milliseconds(5000));
            setStage(Stage::SimStopped);
          }
          break;
        case Stage::SimStopped:
          if (now.failuresInARow >= 1) {
            ranThroughFailure_ = display_->running();
            lastFailure_ = jsonField(json, "lastFailure").value_or("");
            loadsAtFailure = now.loads;
            setStage(Stage::Failed);
            const int port = sim_->port;
            sim_.reset();
            // The server comes back on its old address.
            eventually(
                [&] {
                  sim_ = std::make_unique<Sim>(folder_.path / "sim-again", port,
                                               std::vector<std::string>{"--page-seconds", "2"});
                  return !sim_->url.empty();
                },
                milliseconds(10000), milliseconds(500));
            if (sim_->url.empty()) return fail("timetable-sim could not listen on port " + std::to_string(port) + " again");
          }
          break;
        case Stage::Failed:
          if (now.failuresInARow == 0 && now.loads > loadsAtFailure) setStage(Stage::Recovered);
          break;
        case Stage::Recovered:
        case Stage::Done:
          break;
      }
      if (stage_ == Stage::Recovered && (now.page == "type3" || now.page == "board")) {
        setStage(Stage::Done);
        return;
      }
    }
  }

  TempFolder folder_;
  FakeServiceManager manager_;
  fs::path frames_;
  std::unique_ptr<Sim> sim_;
  std::string url_;
  std::unique_ptr<Child> display_;
  Clock::time_point started_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  Stage stage_ = Stage::Starting;
  std::string problem_;
  std::vector<Observation> observations_;
  std::vector<std::string> notifications_;
  bool ranThroughFailure_ = false;
  std::string lastFailure_;
};

using Stage = FeedTimeline::Stage;

Colour pngPixel(const fs::path& png, double fx, double fy) {
  cairo_surface_t* s = loadPng(png);
  if (!s) return Colour{1, 2, 3};
  const Colour c = test::pixel(s, static_cast<int>(fx * cairo_image_surface_get_width(s)),
                               static_cast<int>(fy * cairo_image_surface_get_height(s)));
  cairo_surface_destroy(s);
  return c;
}

std::string describe(const std::vector<Observation>& obs) {
  std::string s;
  for (const auto& o : obs) {
    s += std::to_string(o.at).substr(0, 5) + " s: " + o.page + ", " + std::to_string(o.failuresInARow) +
         " failed in a row, " + std::to_string(o.loads) + " loads, " + std::to_string(o.frames) + " frames\n";
  }
  return s;
}

// The pages in the order they were first seen, without repeats in a row.
std::vector<std::string> pageSequence(const std::vector<Observation>& obs) {
  std::vector<std::string> pages;
  for (const auto& o : obs) {
    if (pages.empty() || pages.back() != o.page) pages.push_back(o.page);
  }
  return pages;
}

TEST(RunningDisplay, ShowsItsOwnPageThenTheBoardThenAMessage) {
  FeedTimeline& t = FeedTimeline::get();
  ASSERT_TRUE(t.reach(Stage::SimStopped, milliseconds(30000))) << t.problem() << "\n" << t.displayChild().err();
  const std::vector<Observation> obs = t.observations();
  ASSERT_FALSE(obs.empty());
  // The first page follows the 2 s splash wait and the first load.
  EXPECT_GE(obs.front().at, 2.0);
  EXPECT_EQ(obs.front().page, "type3");
  EXPECT_EQ(obs.front().frames, 1) << "the own page is the first page presented";
  EXPECT_EQ(pngPixel(framePath(t.frames(), 0), kBackgroundX, kBackgroundY), colours::kBoardBackground);
  const std::vector<std::string> pages = pageSequence(obs);
  ASSERT_GE(pages.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(pages.begin(), pages.begin() + 3),
            (std::vector<std::string>{"type3", "board", "message"}));
  for (const auto& o : obs) {
    if (o.page == "board" || o.page == "message") {
      EXPECT_EQ(pngPixel(framePath(t.frames(), o.frames - 1), kBackgroundX, kBackgroundY),
                colours::kBoardBackground)
          << o.page << " in frame " << o.frames - 1;
    }
  }
}

TEST(RunningDisplay, TellsTheServiceManagerItIsReadyAndAlive) {
  FeedTimeline& t = FeedTimeline::get();
  ASSERT_TRUE(t.reach(Stage::Cycling, milliseconds(15000))) << t.problem();
  // WATCHDOG_USEC=2 s: a ping every second.
  ASSERT_TRUE(eventually(
      [&] {
        const auto notes = t.notifications();
        return std::count(notes.begin(), notes.end(), "WATCHDOG=1") >= 3;
      },
      milliseconds(6000)));
  const std::vector<std::string> notes = t.notifications();
  ASSERT_FALSE(notes.empty());
  EXPECT_EQ(notes.front().rfind("READY=1\nSTATUS=type 3 on screen 0: type3; last good load ", 0), 0u)
      << notes.front();
}

TEST(RunningDisplay, ASecondStartEndsAtOnceAndLeavesTheFirstRunning) {
  FeedTimeline& t = FeedTimeline::get();
  ASSERT_TRUE(t.reach(Stage::Cycling, milliseconds(15000))) << t.problem();
  // Repeated, because the running instance may close the connection before the request arrives.
  for (int i = 0; i < 20; ++i) {
    const auto start = Clock::now();
    Child second({display(), "5", "0", t.url()}, headlessEnvironment(t.folder() / "run", "e2e-run"),
                 t.folder() / "second");
    ASSERT_EQ(second.wait(milliseconds(5000)), 0) << "start " << i << ": " << second.err();
    EXPECT_LT(secondsSince(start), 1.5) << "no splash wait, no first load";
    EXPECT_EQ(second.err(), "") << "start " << i;
  }
  EXPECT_TRUE(t.displayChild().running());
  EXPECT_EQ(jsonField(readText(t.statusPath()), "displayType"), "3");
}

TEST(RunningDisplay, WritesTheWindowImageOnSigusr1) {
  FeedTimeline& t = FeedTimeline::get();
  ASSERT_TRUE(t.reach(Stage::Cycling, milliseconds(15000))) << t.problem();
  const fs::path shot = t.runtimeFolder() / "screenshot-e2e-run.png";
  t.displayChild().signal(SIGUSR1);
  ASSERT_TRUE(eventually([&] { return fs::exists(shot); }, milliseconds(3000)));
  cairo_surface_t* png = loadPng(shot);
  ASSERT_NE(png, nullptr);
  EXPECT_EQ(cairo_image_surface_get_width(png), kWidth);
  EXPECT_EQ(cairo_image_surface_get_height(png), kHeight);
  cairo_surface_destroy(png);
  const Colour c = pngPixel(shot, kBackgroundX, kBackgroundY);
  EXPECT_TRUE(c == colours::kBoardBackground || c == colours::kBlack) << c;
  EXPECT_FALSE(fs::exists(shot.string() + ".tmp"));
}

// ---- start-up ----

TEST(StartUp, WrongArgumentsAreReportedAfterTheSplashWait) {
  TempFolder tmp;
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> expected;  // in stderr
  } cases[] = {
      {{}, {kArgumentsMessage}},
      {{"3"}, {kArgumentsMessage}},
      {{"3", "0", "http://127.0.0.1:9", "extra"}, {kArgumentsMessage}},
      {{"x", "0"}, {"display type (argument 1)", "\"x\""}},
      {{"3", "one"}, {"screen index (argument 2)", "\"one\""}},
  };
  std::vector<std::unique_ptr<Child>> children;
  const auto start = Clock::now();
  int n = 0;
  for (const Case& c : cases) {
    std::vector<std::string> argv = {display()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const std::string name = "args" + std::to_string(n++);
    children.push_back(std::make_unique<Child>(argv, headlessEnvironment(tmp.path, name), tmp.path / name));
  }
  for (std::size_t i = 0; i < children.size(); ++i) {
    const auto status = children[i]->wait(milliseconds(8000));
    ASSERT_TRUE(status.has_value()) << "case " << i << " still runs";
    EXPECT_NE(*status, 0) << "case " << i;
    for (const std::string& text : cases[i].expected) {
      EXPECT_NE(children[i]->err().find(text), std::string::npos) << "case " << i << ": " << children[i]->err();
    }
  }
  EXPECT_GE(secondsSince(start), 2.0) << "the check comes after the splash wait";
}

TEST(StartUp, ALockLeftByAKilledInstanceDoesNotBlockTheNextStart) {
  TempFolder tmp;
  const auto env = headlessEnvironment(tmp.path, "lock");
  const fs::path status = tmp.path / "plasma-display" / "status-lock.json";
  const std::vector<std::string> argv = {display(), "3", "0", "http://127.0.0.1:9"};
  const auto statusOf = [&](const Child& c) {
    return jsonField(readText(status), "pid") == std::to_string(c.pid());
  };

  auto first = std::make_unique<Child>(argv, env, tmp.path / "first");
  ASSERT_TRUE(eventually([&] { return statusOf(*first); }, milliseconds(10000))) << first->err();
  first->signal(SIGKILL);
  ASSERT_EQ(first->wait(milliseconds(3000)), 128 + SIGKILL);
  ASSERT_TRUE(fs::exists(tmp.path / "plasma-display" / "lock.lock"));

  Child next(argv, env, tmp.path / "next");
  ASSERT_TRUE(eventually([&] { return statusOf(next); }, milliseconds(10000))) << next.err();
  EXPECT_TRUE(next.running());

  Child third(argv, env, tmp.path / "third");
  EXPECT_EQ(third.wait(milliseconds(1500)), 0) << "a second start ends at once";
  EXPECT_TRUE(next.running());
  next.signal(SIGTERM);
  EXPECT_EQ(next.wait(milliseconds(5000)), 0);
}

TEST(StartUp, TheServiceLauncherSplitsTheInstanceName) {
  TempFolder tmp;
  const std::string launcher = (binDir() / "plasma-display-launch").string();
  Environment env = headlessEnvironment(tmp.path, "");
  env["PLASMA_BASE_URL"] = "http://127.0.0.1:9";
  Child good({launcher, "3-1"}, env, tmp.path / "good");
  Child bad({launcher, "3"}, env, tmp.path / "bad");
  EXPECT_EQ(bad.wait(milliseconds(3000)), 2);
  EXPECT_NE(bad.err().find("instance \"3\" is not TYPE-SCREEN"), std::string::npos) << bad.err();

  const fs::path status = tmp.path / "plasma-display" / "status-3-1.json";
  ASSERT_TRUE(eventually([&] { return fs::exists(status); }, milliseconds(10000))) << good.err();
  const std::string json = readText(status);
  EXPECT_EQ(jsonField(json, "instance"), "3-1");
  EXPECT_EQ(jsonField(json, "displayType"), "3");
  EXPECT_EQ(jsonField(json, "screen"), "1");
  EXPECT_EQ(jsonField(json, "serverBaseUrl"), "http://127.0.0.1:9");
  EXPECT_EQ(jsonField(json, "pid"), std::to_string(good.pid())) << "the launcher execs the display";
  good.signal(SIGTERM);
  EXPECT_EQ(good.wait(milliseconds(5000)), 0);
}

// ---- a real X window ----

class XServer {
 public:
  XServer(const fs::path& logPrefix, int width, int height) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    server_ = std::make_unique<Child>(
        std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                                 std::to_string(width) + "x" + std::to_string(height) + "x24", "-nolisten",
                                 "tcp", "-noreset"},
        cleanEnvironment(), logPrefix, fds[1]);
    ::close(fds[1]);
    std::string number;
    eventually(
        [&] {
          pollfd p{fds[0], POLLIN, 0};
          if (::poll(&p, 1, 0) == 1) {
            char buf[16];
            const ssize_t n = ::read(fds[0], buf, sizeof buf);
            if (n > 0) number.append(buf, static_cast<std::size_t>(n));
          }
          return number.find('\n') != std::string::npos || !server_->running();
        },
        milliseconds(10000));
    ::close(fds[0]);
    if (number.find('\n') != std::string::npos) name_ = ":" + number.substr(0, number.find('\n'));
  }
  // ":N", or "" when Xvfb could not start.
  const std::string& name() const { return name_; }
  std::string log() const { return server_ ? server_->err() : "Xvfb could not be run"; }

 private:
  std::unique_ptr<Child> server_;
  std::string name_;
};

TEST(RealWindow, CoversTheMonitorBorderlessAndShowsThePage) {
  if (!fs::exists("/usr/bin/Xvfb")) GTEST_SKIP() << "SKIPPED: Xvfb is not installed (Debian package xvfb)";
  TempFolder tmp;
  constexpr int kScreenW = 1280, kScreenH = 720;
  XServer x(tmp.path / "xvfb", kScreenW, kScreenH);
  if (x.name().empty()) GTEST_SKIP() << "SKIPPED: Xvfb could not start: " << x.log();

  Sim sim(tmp.path / "sim", 0);
  ASSERT_FALSE(sim.url.empty()) << sim.child.err();
  const std::string xenv = "DISPLAY=" + x.name() + " ";
  const bool xprop = fs::exists("/usr/bin/xprop");
  Environment env = cleanEnvironment();
  env["DISPLAY"] = x.name();
  env["XDG_RUNTIME_DIR"] = tmp.path.string();
  env["PLASMA_INSTANCE"] = "x11";
  Child shown({display(), "3", "0", sim.url}, env, tmp.path / "display");
  const fs::path status = tmp.path / "plasma-display" / "status-x11.json";
  ASSERT_TRUE(eventually([&] { return jsonField(readText(status), "page") == "type3"; }, milliseconds(15000)))
      << shown.err();

  std::string id = capture(xenv + "xdotool search --name '^Plasma Sample$' 2>/dev/null | head -n 1");
  while (!id.empty() && id.back() == '\n') id.pop_back();
  ASSERT_FALSE(id.empty()) << "no window named Plasma Sample";
  const std::string geometry = capture(xenv + "xdotool getwindowgeometry " + id);
  EXPECT_NE(geometry.find("Position: 0,0"), std::string::npos) << geometry;
  EXPECT_NE(geometry.find("Geometry: " + std::to_string(kScreenW) + "x" + std::to_string(kScreenH)),
            std::string::npos)
      << geometry;
  if (xprop) {
    // Motif hints: flags (bit 1: decorations given), functions, decorations = 0 (none).
    const std::string hints = capture(xenv + "xprop -id " + id + " _MOTIF_WM_HINTS");
    EXPECT_TRUE(std::regex_search(hints, std::regex(R"(= 0x2, 0x0, 0x0)"))) << hints;
  } else {
    std::cerr << "NOTE: xprop (Debian package x11-utils) is missing; the borderless hint is not checked\n";
  }

  // The X screen shows what the display presented: compare it with the display's own screenshot
  // over the top part of the page (the stops strip below may be scrolling).
  shown.signal(SIGUSR1);
  const fs::path own = tmp.path / "plasma-display" / "screenshot-x11.png";
  ASSERT_TRUE(eventually([&] { return fs::exists(own); }, milliseconds(3000)));
  const fs::path xwd = tmp.path / "root.xwd";
  int rc = 0;
  capture(xenv + "xwd -root -silent -out " + xwd.string(), &rc);
  ASSERT_EQ(rc, 0) << "xwd failed";
  std::string why;
  const auto screen = readXwd(xwd, &why);
  ASSERT_TRUE(screen) << why;
  ASSERT_EQ(screen->width, kScreenW);
  ASSERT_EQ(screen->height, kScreenH);
  const auto rgb = [](Colour c) { return std::uint32_t{c.r} << 16 | std::uint32_t{c.g} << 8 | c.b; };
  EXPECT_EQ(screen->at(static_cast<int>(kBackgroundX * kScreenW), static_cast<int>(kBackgroundY * kScreenH)),
            rgb(colours::kBoardBackground));
  cairo_surface_t* ownImage = loadPng(own);
  ASSERT_NE(ownImage, nullptr);
  int differing = 0;
  for (int y = 0; y < kScreenH * 3 / 10; y += 2) {
    for (int x = 0; x < kScreenW; x += 2) differing += screen->at(x, y) != rgb(test::pixel(ownImage, x, y));
  }
  cairo_surface_destroy(ownImage);
  EXPECT_EQ(differing, 0) << "pixels of the X screen that differ from the presented page";

  shown.signal(SIGTERM);
  EXPECT_EQ(shown.wait(milliseconds(5000)), 0);
}

// ---- the demo ----

TEST(Demo, CtrlCStopsTheDisplayAndTheServer) {
  TempFolder tmp;
  Environment env = cleanEnvironment();
  env["PLASMA_BUILD_DIR"] = binDir().parent_path().string();
  env["DEMO_PAGE_SECONDS"] = "2";
  env["DEMO_FRAME_DIR"] = (tmp.path / "frames").string();
  env["XDG_RUNTIME_DIR"] = tmp.path.string();
  Child demo({(sourceDir() / "scripts" / "demo").string()}, env, tmp.path / "demo");
  ASSERT_TRUE(eventually([&] { return fs::exists(tmp.path / "frames" / "frame-000000.png") || !demo.running(); },
                         milliseconds(90000)))
      << demo.err();
  ASSERT_TRUE(demo.running()) << demo.err();
  const std::string log = demo.err();
  std::smatch sim, shown;
  ASSERT_TRUE(std::regex_search(log, sim, std::regex(R"(timetable-sim pid (\d+) on http://127\.0\.0\.1:\d+)"))) << log;
  ASSERT_TRUE(std::regex_search(log, shown, std::regex(R"(plasma-display pid (\d+))"))) << log;
  EXPECT_NE(log.find("no display server: headless at 1920x1080"), std::string::npos) << log;
  const pid_t simPid = std::stoi(sim[1]), displayPid = std::stoi(shown[1]);
  ASSERT_TRUE(processAlive(simPid) && processAlive(displayPid));

  // Ctrl-C reaches the terminal's whole foreground process group.
  ::kill(-demo.pid(), SIGINT);
  EXPECT_EQ(demo.wait(milliseconds(20000)), 130) << demo.err();
  EXPECT_TRUE(eventually([&] { return !processAlive(simPid) && !processAlive(displayPid); }, milliseconds(2000)))
      << "left running: " << (processAlive(simPid) ? "timetable-sim " : "")
      << (processAlive(displayPid) ? "plasma-display" : "");
}

// ---- the end of the outage story ----

TEST(FeedOutage, AFailedLoadBlacksTheScreenAndTheDisplayRunsOn) {
  FeedTimeline& t = FeedTimeline::get();
  ASSERT_TRUE(t.reach(Stage::Failed, milliseconds(60000))) << t.problem() << "\n" << t.displayChild().err();
  EXPECT_TRUE(t.displayRanThroughFailure());
  EXPECT_NE(t.lastFailure().find("onnect"), std::string::npos) << t.lastFailure();
  const std::vector<Observation> obs = t.observations();
  const auto failed = std::find_if(obs.begin(), obs.end(), [](const Observation& o) { return o.failuresInARow > 0; });
  ASSERT_NE(failed, obs.end());
  ASSERT_NE(failed, obs.begin());
  // Every presented page is a frame, so the black page is found even when it lasted less than the
  // status file's polling interval. The lists are stale by then, so the failure may come on a
  // slideshow page: its picture then stays, on black, and the failure's frame shows it again.
  const auto at = [&](int f, double x, double y) { return pngPixel(framePath(t.frames(), f), x, y); };
  bool cleared = false;
  for (int f = std::prev(failed)->frames; f < failed->frames && !cleared; ++f) {
    const bool black = at(f, 0.5, 0.5) == colours::kBlack && at(f, kBackgroundX, kBackgroundY) == colours::kBlack;
    const bool pictureAgain = failed->page == "picture" && f == failed->frames - 1 && f > 0 &&
                              at(f, 0.5, 0.5) == at(f - 1, 0.5, 0.5) &&
                              at(f, kBackgroundX, kBackgroundY) == at(f - 1, kBackgroundX, kBackgroundY);
    cleared = black || pictureAgain;
  }
  EXPECT_TRUE(cleared) << "the failed load presented no black page (nor the slideshow picture again)\n"
                       << describe(obs);
}

TEST(FeedOutage, WithoutATimetableNoTrainIsShownAndItsReturnRestoresThePages) {
  FeedTimeline& t = FeedTimeline::get();
  ASSERT_TRUE(t.reach(Stage::Done, milliseconds(90000))) << t.problem() << "\n" << t.displayChild().err();
  const std::vector<Observation> obs = t.observations();
  const auto failed = std::find_if(obs.begin(), obs.end(), [](const Observation& o) { return o.failuresInARow > 0; });
  ASSERT_NE(failed, obs.end());
  const auto back = std::find_if(failed, obs.end(), [](const Observation& o) { return o.failuresInARow == 0; });
  ASSERT_NE(back, obs.end());
  // The lists were older than PLASMA_STALE_SECONDS: until the server is back, no countdown.
  for (auto o = failed; o != back; ++o) {
    EXPECT_TRUE(o->page == "black" || o->page == "picture") << o->page << " at " << o->at << " s";
  }
  const auto train = std::find_if(back, obs.end(), [](const Observation& o) { return o.page == "type3" || o.page == "board"; });
  ASSERT_NE(train, obs.end());
  EXPECT_EQ(pngPixel(framePath(t.frames(), train->frames - 1), kBackgroundX, kBackgroundY), colours::kBoardBackground);
  const std::string json = readText(t.statusPath());
  EXPECT_EQ(jsonField(json, "failuresInARow"), "0");
  EXPECT_NE(jsonField(json, "lastGoodLoad"), "null");
  EXPECT_NE(jsonField(json, "lastFailure").value_or("null"), "null") << "the outage stays on record";
}

TEST(FeedOutage, StopsCleanlyOnSigterm) {
  FeedTimeline& t = FeedTimeline::get();
  ASSERT_TRUE(t.reach(Stage::Done, milliseconds(90000))) << t.problem();
  t.displayChild().signal(SIGTERM);
  EXPECT_EQ(t.displayChild().wait(milliseconds(5000)), 0) << t.displayChild().err();
  ASSERT_TRUE(eventually([&] { return !t.notifications().empty() && t.notifications().back() == "STOPPING=1"; },
                         milliseconds(1000)));
}

}  // namespace
}  // namespace plasma::e2e
