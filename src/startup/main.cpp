// Start-up: one instance per screen, the splash for at least two seconds, the command line, the
// display window over its monitor, the first load and page, then the timers run the display.
#include <SDL.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "canvas/geometry.h"
#include "cycle/cycle.h"
#include "platform/event_loop.h"
#include "platform/headless_window.h"
#include "platform/http_client.h"
#include "platform/image_loader.h"
#include "platform/private_folder.h"
#include "platform/sdl_window.h"
#include "platform/service_notify.h"
#include "platform/single_instance.h"
#include "platform/status_file.h"
#include "platform/user_agent.h"
#include "startup/command_line.h"
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
    "  PLASMA_HEADLESS=WxH      run without a window system on a virtual monitor of that size\n"
    "  PLASMA_FRAME_DIR=DIR     write every presented page as DIR/frame-NNNNNN.png\n"
    "  PLASMA_INSTANCE=NAME     separate single-instance name (one per screen)\n"
    "  PLASMA_STALE_SECONDS=N   empty the train lists after N s without a good load (300)\n"
    "files: status-NAME.json and plasma-display-NAME.prom (replaced after every page and every\n"
    "  5 s) and, on SIGUSR1, screenshot-NAME.png in $XDG_RUNTIME_DIR/plasma-display\n";

// The status file stays fresh even on a page that lasts minutes, so a monitor can tell a live
// display from a dead one by its age.
constexpr int kStatusRefreshMs = 5000;
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
void pause(RealEventLoop& loop, float seconds, SplashWindow* splash) {
  try {
    loop.onWake([splash] {
      if (splash) splash->repaint();
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

// The signals the loop handles are blocked before any thread exists (the fetch worker, SDL's and
// libcurl's threads inherit the mask), so they can only arrive through the descriptor and never
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

// Starts SDL's video for a window system. False, with the reason logged, when there is none.
bool startVideo() {
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    logLine(std::string("no display available (") + SDL_GetError() +
            "); set PLASMA_HEADLESS=WIDTHxHEIGHT to run without one");
    return false;
  }
  return true;
}

// The exit status for arguments the display cannot start with, after saying why; nothing when it
// can start (a type outside 0..6 only gets a warning).
std::optional<int> refuseArguments(const StartArguments& args, bool video) {
  if (args.outcome == StartArguments::Outcome::WrongCount) {
    logLine(LogPriority::Error, kArgumentsMessage);
    if (video) showErrorBox(kApplicationTitle, kArgumentsMessage);
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

// The display's window: an SDL window over its monitor, or a headless one of the given size.
struct DisplayWindow {
  std::unique_ptr<Window> window;
  SdlWindow* sdl = nullptr;
  HeadlessWindow* headless = nullptr;
};

std::optional<DisplayWindow> openWindow(const std::optional<PixelSize>& headless, Int16 screenIndex) {
  DisplayWindow w;
  try {
    if (!headless) {
      auto sdl = std::make_unique<SdlWindow>("Plasma Sample", screenIndex);
      w.sdl = sdl.get();
      w.window = std::move(sdl);
    } else {
      auto off = std::make_unique<HeadlessWindow>(headless->width, headless->height);
      w.headless = off.get();
      w.window = std::move(off);
    }
  } catch (const std::exception& e) {
    logLine(e.what());
    return std::nullopt;
  }
  if (const char* dir = std::getenv("PLASMA_FRAME_DIR"); dir && *dir) {
    if (std::string why; !prepareFrameDir(dir, why)) {
      logLine(std::string("PLASMA_FRAME_DIR ") + dir + " cannot hold the frames: " + why);
      return std::nullopt;
    }
    if (w.sdl) w.sdl->setFrameDir(dir);
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
    };
    display.onTrappedError = [this](const std::string& what) { status_.notePageError(what); };
    statusTimer_ = &loop.createTimer("status file", kStatusRefreshMs, true, [this] { publish(); });
    status_.write();
    lastSummary_ = status_.summary();
    // The first page is on screen: the service manager may now count the display as started.
    manager_.ready(lastSummary_);
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
  void stopping() { manager_.stopping(); }

 private:
  void publish() {
    status_.write();
    std::string summary = status_.summary();
    if (summary != lastSummary_) manager_.status(summary);
    lastSummary_ = std::move(summary);
  }

  Display& display_;
  RealEventLoop& loop_;
  StatusPublisher status_;
  ServiceNotifier manager_;
  std::string lastSummary_;
  Timer* statusTimer_ = nullptr;
  Timer* watchdogTimer_ = nullptr;
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

// The loop wakes for a raise request of a second start and for the window system's events.
void watchWindowEvents(RealEventLoop& loop, SingleInstance& instance, DisplayWindow& w) {
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
  if (SdlWindow* sdl = w.sdl) {
    const int fd = sdl->connectionFd();
    if (fd >= 0) {
      loop.watch(fd, [] {});
    } else {
      // Window systems without a descriptor to wait on are checked a few times a second.
      loop.setMaxSleepMs(100);
    }
    loop.onWake([&loop, sdl] {
      if (!sdl->pumpEvents()) loop.quit();
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
  const bool video = !headless;
  if (video && !startVideo()) return 1;

  auto splash = video ? std::make_unique<SplashWindow>() : nullptr;
  pause(loop, 2.0f, splash.get());
  if (loop.quitting()) {
    splash.reset();
    if (video) SDL_Quit();
    return 0;
  }

  const StartArguments args = parseStartArguments(argumentTail(argc, argv));
  if (const std::optional<int> refused = refuseArguments(args, video)) return *refused;

  std::optional<DisplayWindow> window = openWindow(headless, args.screenIndex);
  if (!window) return 1;
  CurlClientOptions httpOptions;
  httpOptions.userAgent = userAgentText(PLASMA_VERSION, instanceName);
  std::unique_ptr<HttpClient> http = makeCurlHttpClient(httpOptions);
  std::unique_ptr<ImageLoader> images = makePictureFileLoader();
  Display display(*window->window, loop, *http, *images, FetchMode::WorkerThread, screenCycle());
  display.screenIndex = args.screenIndex;
  display.serverBaseUrl = args.serverBaseUrl;
  display.loadStep();
  display.setDisplayType(args.displayType);
  splash.reset();

  const std::unique_ptr<PrivateFolder> stateFolder = openStateFolder(*runtime);
  ServiceReporting reporting(display, loop, instanceName, stateFolder ? *stateFolder : *runtime);
  publisher = &reporting.status();
  watchWindowEvents(loop, instance, *window);
  loop.run();
  reporting.stopping();
  publisher = nullptr;
  if (!display.fetchEndsWithin(kStopWaitMs)) {
    // The fetch (or libcurl's wait for a resolver thread) would hold the stop past the service's
    // time-out: end without it. Nothing of it is kept, so nothing is lost.
    logLine("stopping without waiting for the timetable fetch in flight");
    if (video) SDL_Quit();
    ::_exit(0);
  }
  if (video) SDL_Quit();
  return 0;
}
