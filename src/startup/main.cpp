// Start-up: one instance per screen, the splash for at least two seconds, the command line, the
// display window over its monitor, the first load and page, then the timers run the display.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "canvas/fonts.h"
#include "canvas/geometry.h"
#include "cycle/cycle.h"
#include "platform/event_loop.h"
#include "platform/http_client.h"
#include "platform/image_loader.h"
#include "platform/private_folder.h"
#include "platform/service_notify.h"
#include "platform/single_instance.h"
#include "platform/site_pictures.h"
#include "platform/status_file.h"
#include "platform/user_agent.h"
#include "present/display_server.h"
#include "present/headless_window.h"
#include "present/screen_window.h"
#include "startup/command_line.h"
#include "startup/message_box.h"
#include "startup/splash.h"
#include "startup/status_report.h"
#include "support/log.h"

using namespace plasma;

namespace {

constexpr const char* kUsage =
    "usage: plasma-display TYPE SCREEN [BASE-URL]\n"
    "  TYPE      display type 0..6 (also the timetable circuit)\n"
    "  SCREEN    monitor index: 0 = primary, 1 = the monitor to its right, ...\n"
    "  BASE-URL  timetable server, e.g. http://timetable.example:8080 (default http://timetable)\n"
    "environment:\n"
    "  PLASMA_HEADLESS=WxH      run without a display server on a virtual monitor of that size\n"
    "  PLASMA_DISPLAY_SERVER=S  x11, wayland or kms instead of the one the session names\n"
    "  PLASMA_DRM_DEVICE=PATH   the graphics card on the console (default: the first with outputs)\n"
    "  PLASMA_FRAME_DIR=DIR     write every presented page as DIR/frame-NNNNNN.png\n"
    "  PLASMA_INSTANCE=NAME     separate single-instance name (one per screen)\n"
    "  PLASMA_STALE_SECONDS=N   empty the train lists after N s without a good load (300)\n"
    "files: status-NAME.json and plasma-display-NAME.prom (replaced after every page and every\n"
    "  5 s) and, on SIGUSR1, screenshot-NAME.png in $XDG_RUNTIME_DIR/plasma-display\n";

// The status file stays fresh even on a page that lasts minutes, so a monitor can tell a live
// display from a dead one by its age.
constexpr int kStatusRefreshMs = 5000;

// How often a display is looked for while there is none, and how often that is logged again.
constexpr int kDisplayRetryMs = 3000;
constexpr std::int64_t kDisplayRelogUs = 60'000'000;
constexpr int kInstanceCheckMs = 1000;
// How long a stop waits for a fetch in flight before it ends the process without it.
constexpr int kStopWaitMs = 1000;

std::optional<PixelSize> headlessSize() {
  const char* v = std::getenv("PLASMA_HEADLESS");
  if (!v || !*v) return std::nullopt;
  if (const std::optional<PixelSize> size = parsePixelSize(v)) return size;
  logLine(std::string("PLASMA_HEADLESS=\"") + v + "\" is not WIDTHxHEIGHT (" + std::to_string(kMinCanvasSide) +
          ".." + std::to_string(kMaxCanvasSide) + "); using 1920x1080");
  return PixelSize{1920, 1080};
}

// Waits at least `seconds` on the monotonic clock, keeping the splash painted; no busy waiting.
void pause(RealEventLoop& loop, float seconds, SplashWindow* splash, DisplayServer* server) {
  try {
    loop.onWake([splash, server] {
      if (splash) splash->repaint();
      if (server) server->flush();
    });
    loop.runUntilUs(loop.nowUs() + static_cast<std::int64_t>(seconds * 1e6f));
  } catch (const std::exception& e) {
    // An error inside the wait ends the wait; the start goes on.
    logLine(std::string("the start-up pause ended early: ") + e.what());
  }
  loop.onWake(nullptr);
}

// --help and --version answer at any time, before anything else starts.
std::optional<int> answerHelpOrVersion(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("plasma-display %s\n", PLASMA_VERSION);
    return 0;
  }
  return std::nullopt;
}

// A second start with the same instance name only brings the running display to the front. A hung
// display keeps its lock; starting beside it would fight over the screen, so this start ends, but
// loudly: the service manager and the operator see a failed start.
int raiseRunningDisplay(SingleInstance& instance) {
  const SingleInstance::Answer answer = instance.activateRunning();
  if (answer == SingleInstance::Answer::Raised) return 0;
  const int pid = instance.holderPid();
  logLine("another display" + (pid > 0 ? " (pid " + std::to_string(pid) + ")" : std::string()) + " holds " +
          instance.lockPath() +
          (answer == SingleInstance::Answer::Silent ? " but did not answer within 1 s" : " but has no socket to ask") +
          "; not starting");
  return 1;
}

// The signals the loop handles are blocked before any thread exists (the fetch and picture workers
// and libcurl's threads inherit the mask), so they can only arrive through the descriptor and never
// end the process half-way through a page. SIGUSR1 writes a screenshot once `publisher` is set;
// the others stop the loop.
void watchSignals(RealEventLoop& loop, StatusPublisher*& publisher) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGUSR1);
  sigprocmask(SIG_BLOCK, &set, nullptr);
  const int sigFd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  if (sigFd < 0) return;
  loop.watch(sigFd, [&loop, &publisher, sigFd] {
    signalfd_siginfo si;
    while (::read(sigFd, &si, sizeof si) == sizeof si) {
      if (si.ssi_signo == SIGUSR1) {
        if (publisher) publisher->writeScreenshot();
        continue;
      }
      logLine(LogPriority::Notice, std::string("stopping on ") + strsignal(static_cast<int>(si.ssi_signo)));
      loop.quit();
    }
  });
}

std::map<std::string, std::string> environment() {
  std::map<std::string, std::string> env;
  for (const char* name : {"PLASMA_DISPLAY_SERVER", "SDL_VIDEODRIVER", "WAYLAND_DISPLAY", "DISPLAY"}) {
    if (const char* v = std::getenv(name)) env[name] = v;
  }
  return env;
}

// Tries again every few seconds until a display server answers or the program is told to stop;
// logs the failure once a minute and tells a service manager it is still starting.
std::unique_ptr<DisplayServer> waitForServer(RealEventLoop& loop, const std::vector<ServerKind>& candidates,
                                             std::string why) {
  logLine("no display to show on: " + why + "; trying again every " + std::to_string(kDisplayRetryMs / 1000) +
          " s (PLASMA_HEADLESS=WIDTHxHEIGHT runs without one)");
  ServiceNotifier manager;
  const std::int64_t startUs = loop.nowUs();
  std::int64_t loggedUs = startUs;
  while (!loop.quitting()) {
    // Still alive and still starting: the manager neither times the start out nor the watchdog.
    manager.send("STATUS=waiting for a display: " + why + "\nEXTEND_TIMEOUT_USEC=" +
                 std::to_string((kDisplayRetryMs + 10000) * 1000LL) + (manager.watchdogPingUs() > 0 ? "\nWATCHDOG=1" : ""));
    loop.runUntilUs(loop.nowUs() + kDisplayRetryMs * 1000LL);
    if (loop.quitting()) break;
    if (auto server = openDisplayServer(candidates, &why)) {
      logLine(LogPriority::Notice, "a display is there after " + std::to_string((loop.nowUs() - startUs) / 1000000) + " s");
      return server;
    }
    if (loop.nowUs() - loggedUs >= kDisplayRelogUs) {
      logLine("still no display to show on after " + std::to_string((loop.nowUs() - startUs) / 1000000) +
              " s: " + why);
      loggedUs = loop.nowUs();
    }
  }
  return nullptr;
}

// Connects to the display server, waiting for one where there is none yet. Nothing when told to
// stop first, or (with the exit status in *refused) for arguments that cannot start: without a
// display there is no splash to keep up, so they are told at once rather than after a wait that
// may never end.
std::unique_ptr<DisplayServer> startServer(RealEventLoop& loop, const StartArguments& args, std::optional<int>* refused) {
  if (const char* old = std::getenv("PLASMA_PRESENT"); old && *old) {
    logLine(LogPriority::Notice, "PLASMA_PRESENT is no longer used: each display server has one way to show the page");
  }
  // The session's choice is read once: a setting that names no server is said once, not at every try.
  std::string problem;
  const std::vector<ServerKind> candidates = serverCandidates(environment(), &problem);
  if (!problem.empty()) logLine(problem);
  std::string why;
  if (auto server = openDisplayServer(candidates, &why)) return server;
  if (args.outcome != StartArguments::Outcome::Start) {
    logLine(LogPriority::Error, args.outcome == StartArguments::Outcome::WrongCount ? std::string(kArgumentsMessage)
                                                                                    : "cannot start: " + args.error);
    *refused = 2;
    return nullptr;
  }
  return waitForServer(loop, candidates, why);
}

// How long the message box waits for someone to dismiss it.
constexpr int kMessageBoxMs = 60000;

// The exit status for arguments the display cannot start with, after saying why; nothing when it
// can start (a type outside 0..6 only gets a warning).
std::optional<int> refuseArguments(const StartArguments& args, DisplayServer* server, RealEventLoop& loop) {
  if (args.outcome == StartArguments::Outcome::WrongCount) {
    logLine(LogPriority::Error, kArgumentsMessage);
    if (server) showMessageBox(*server, loop, 0, kApplicationTitle, kArgumentsMessage, kMessageBoxMs);
    return 2;
  }
  if (args.outcome == StartArguments::Outcome::NotANumber || args.outcome == StartArguments::Outcome::BadUrl) {
    logLine(LogPriority::Error, "cannot start: " + args.error);
    return 2;
  }
  if (args.displayType < 0 || args.displayType > 6) {
    logLine("display type " + decimal(args.displayType) +
            " is outside 0..6: the cycle runs, but this type's own page will never be painted");
  }
  return std::nullopt;
}

// The display's window: the one made ready during the splash, now shown, or a headless one of
// the given size.
struct DisplayWindow {
  std::unique_ptr<Window> window;
  ScreenWindow* screen = nullptr;
  HeadlessWindow* headless = nullptr;
};

std::optional<DisplayWindow> openWindow(const std::optional<PixelSize>& headless, std::unique_ptr<ScreenWindow> ready,
                                        const std::string& readyError, const DisplayServer* server) {
  DisplayWindow w;
  if (!headless) {
    if (!ready) {
      logLine(LogPriority::Error, readyError);
      return std::nullopt;
    }
    ready->show();
    logLine(LogPriority::Notice, std::string("showing on ") + server->name() + ", " + ready->describe());
    w.screen = ready.get();
    w.window = std::move(ready);
  } else {
    auto off = std::make_unique<HeadlessWindow>(headless->width, headless->height);
    w.headless = off.get();
    w.window = std::move(off);
  }
  if (const char* dir = std::getenv("PLASMA_FRAME_DIR"); dir && *dir) {
    if (std::string why; !prepareFrameDir(dir, why)) {
      logLine(LogPriority::Error, std::string("PLASMA_FRAME_DIR ") + dir + " cannot hold the frames: " + why);
      return std::nullopt;
    }
    if (w.screen) w.screen->setFrameDir(dir);
    if (w.headless) w.headless->setFrameDir(dir);
  }
  return w;
}

// The status file and the service manager, kept up to date after every page and by a timer; the
// watchdog is pinged from the loop itself, so a loop that stops turning gets the process restarted.
// The timers leave the loop with this object.
class ServiceReporting {
 public:
  ServiceReporting(Display& display, RealEventLoop& loop, const std::string& instanceName, PrivateFolder& folder)
      : display_(display), loop_(loop), status_(display, instanceName, folder) {
    display.onPagePresented = [this](PageName) {
      status_.notePageChange();
      publish();
      readyWhenShown();
    };
    display.onTrappedError = [this](const std::string& what) { status_.notePageError(what); };
    statusTimer_ = &loop.createTimer("status file", kStatusRefreshMs, true, [this] { publish(); });
    status_.write();
    lastSummary_ = status_.summary();
    if (!display.window.onScreen()) manager_.status(lastSummary_);
    readyWhenShown();
    if (manager_.watchdogPingUs() > 0) {
      const int pingMs = static_cast<int>(std::max<std::int64_t>(1, manager_.watchdogPingUs() / 1000));
      watchdogTimer_ = &loop.createTimer("service watchdog", pingMs, true, [this] { manager_.watchdog(); });
      manager_.watchdog();
    }
  }
  ~ServiceReporting() {
    display_.onPagePresented = nullptr;
    display_.onTrappedError = nullptr;
    if (watchdogTimer_) loop_.removeTimer(*watchdogTimer_);
    loop_.removeTimer(*statusTimer_);
  }
  ServiceReporting(const ServiceReporting&) = delete;
  ServiceReporting& operator=(const ServiceReporting&) = delete;

  StatusPublisher& status() { return status_; }
  // READY only once a page is on a monitor: the service manager then counts the display as
  // started, and a display whose window never shows stays "starting" instead of looking healthy.
  void readyWhenShown() {
    if (ready_ || !display_.window.onScreen()) return;
    ready_ = true;
    publish();
    manager_.ready(lastSummary_);
  }
  void stopping() { manager_.stopping(); }

 private:
  void publish() {
    status_.write();
    std::string summary = status_.summary();
    if (summary != lastSummary_) manager_.status(summary);
    lastSummary_ = std::move(summary);
    // A window on no monitor is still starting, however long that lasts: the manager's start
    // time-out must not end it and count it against the unit's start limit.
    if (!ready_) manager_.send("EXTEND_TIMEOUT_USEC=" + std::to_string((kStatusRefreshMs + 10000) * 1000LL));
  }

  Display& display_;
  RealEventLoop& loop_;
  StatusPublisher status_;
  ServiceNotifier manager_;
  std::string lastSummary_;
  Timer* statusTimer_ = nullptr;
  Timer* watchdogTimer_ = nullptr;
  bool ready_ = false;
};

// The folder of the lock, opened and checked once; without a usable one the display runs alone.
std::unique_ptr<PrivateFolder> openRuntimeFolder() {
  auto folder = std::make_unique<PrivateFolder>(runtimeFolderPath(), PrivateFolder::Symlink::Refuse);
  if (!folder->usable()) {
    logLine(folder->problem() + "; running without the single-instance lock, the status file and screenshots");
  }
  return folder;
}

// The service manager's state folder is its to keep; otherwise the status lives beside the lock.
std::unique_ptr<PrivateFolder> openStateFolder(const PrivateFolder& runtime) {
  const std::string where = statusFolder();
  if (where == runtime.path()) return nullptr;
  auto folder = std::make_unique<PrivateFolder>(where, PrivateFolder::Symlink::Follow);
  if (!folder->usable()) logLine(folder->problem() + "; running without the status file and screenshots");
  return folder;
}

// The loop wakes for a raise request of a second start, for the display server's events and for
// monitors that change; the server's descriptors are already watched.
void watchWindowEvents(RealEventLoop& loop, SingleInstance& instance, DisplayWindow& w, Display& display,
                       DisplayServer* server, ServiceReporting& reporting) {
  Window* window = w.window.get();
  const auto watchInstance = [&loop, &instance, window] {
    if (instance.listenFd() >= 0) {
      loop.watch(instance.listenFd(), [&instance, window] { instance.acceptRequests([window] { window->raise(); }); });
    }
  };
  watchInstance();
  // A cleaner that empties /tmp, or an operator, can remove the folder under a running display; a
  // later start would then find no lock and run beside it.
  loop.createTimer("instance lock check", kInstanceCheckMs, true, [&loop, &instance, watchInstance] {
    const int before = instance.listenFd();
    if (!instance.reclaimIfLost()) return;
    if (before >= 0) loop.unwatch(before);
    watchInstance();
  });
  ScreenWindow* screen = w.screen;
  if (!screen || !server) return;
  screen->onResized = [&display] { display.windowResized(); };
  const auto pump = [&loop, screen, server, &reporting] {
    if (server->takeMonitorsChanged()) screen->place();
    if (!screen->pumpEvents()) loop.quit();
    reporting.readyWhenShown();
    server->flush();
  };
  loop.onWake(pump);
  // The events of the first page (the window shown, exposed) say whether it is on a monitor.
  pump();
}

// The server's descriptors wake the loop; a connection that is lost ends the program (status 1),
// so the service manager starts it afresh and it waits for the server to come back.
void watchServer(RealEventLoop& loop, DisplayServer& server, bool& lost) {
  for (int fd : server.fds()) {
    loop.watch(fd, [&loop, &server, &lost] {
      if (server.dispatch() || lost) return;
      lost = true;
      logLine(LogPriority::Error, std::string("the ") + server.name() + " display server closed the connection");
      loop.quit();
    });
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (const std::optional<int> answered = answerHelpOrVersion(argc, argv)) return *answered;

  // A closed pipe or socket (stderr after the journal restarted, a peer that went away) is an
  // error to report where it happens, never a reason for the display to end.
  ::signal(SIGPIPE, SIG_IGN);

  const char* instanceVariable = std::getenv("PLASMA_INSTANCE");
  const std::string instanceName = instanceVariable ? instanceVariable : "";
  const std::unique_ptr<PrivateFolder> runtime = openRuntimeFolder();
  SingleInstance instance(*runtime, instanceName);
  if (instance.role() == SingleInstance::Role::Second) return raiseRunningDisplay(instance);

  RealEventLoop loop;
  StatusPublisher* publisher = nullptr;  // set once the display runs
  watchSignals(loop, publisher);

  const std::optional<PixelSize> headless = headlessSize();
  const StartArguments args = parseStartArguments(argumentTail(argc, argv));
  const bool startable = args.outcome == StartArguments::Outcome::Start;
  // The server outlives every window on it: declared first, it goes last.
  std::unique_ptr<DisplayServer> server;
  bool serverLost = false;
  if (!headless) {
    std::optional<int> refused;
    server = startServer(loop, args, &refused);
    if (!server) return refused.value_or(0);
    watchServer(loop, *server, serverLost);
  }

  const int splashScreen = startable ? args.screenIndex : 0;
  auto splash = server ? std::make_unique<SplashWindow>(*server, splashScreen) : nullptr;

  // The display window is made ready, hidden, while the splash is up: placing it and allocating
  // its image take longer than drawing the first page.
  std::unique_ptr<ScreenWindow> readyWindow;
  std::string windowError = "no display window";
  if (server && startable) {
    try {
      readyWindow = std::make_unique<ScreenWindow>(server->openScreen(args.screenIndex, "Plasma Sample"));
    } catch (const std::exception& e) {
      windowError = std::string("cannot open the display window: ") + e.what();
    }
  }
  CurlClientOptions httpOptions;
  httpOptions.userAgent = userAgentText(PLASMA_VERSION, instanceName);
  std::unique_ptr<HttpClient> http = makeCurlHttpClient(httpOptions);
  std::unique_ptr<ImageLoader> images = makeSitePictureLoader(httpOptions, instanceName);
  // The canvas face is resolved and loaded once; doing it now keeps it off the first page.
  standingFace(false);
  standingFace(true);

  pause(loop, 2.0f, splash.get(), server.get());
  if (loop.quitting()) return serverLost ? 1 : 0;

  if (const std::optional<int> refused = refuseArguments(args, server.get(), loop)) return *refused;
  std::optional<DisplayWindow> window = openWindow(headless, std::move(readyWindow), windowError, server.get());
  if (!window) return 1;

  Display display(*window->window, loop, *http, *images, FetchMode::WorkerThread, screenCycle());
  display.screenIndex = args.screenIndex;
  display.serverBaseUrl = args.serverBaseUrl;
  display.loadStep();
  display.setDisplayType(args.displayType);
  splash.reset();

  const std::unique_ptr<PrivateFolder> stateFolder = openStateFolder(*runtime);
  ServiceReporting reporting(display, loop, instanceName, stateFolder ? *stateFolder : *runtime);
  publisher = &reporting.status();
  watchWindowEvents(loop, instance, *window, display, server.get(), reporting);
  loop.run();
  reporting.stopping();
  publisher = nullptr;
  if (!display.fetchEndsWithin(kStopWaitMs)) {
    // The fetch (or libcurl's wait for a resolver thread) would hold the stop past the service's
    // time-out: end without it. Nothing of it is kept, so nothing is lost.
    logLine(LogPriority::Notice, "stopping without waiting for the timetable fetch in flight");
    ::_exit(serverLost ? 1 : 0);
  }
  return serverLost ? 1 : 0;
}
