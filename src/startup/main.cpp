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

#include "canvas/fonts.h"
#include "display/display.h"
#include "platform/event_loop.h"
#include "platform/headless_window.h"
#include "platform/http_client.h"
#include "platform/image_loader.h"
#include "platform/monitors.h"
#include "platform/presenter.h"
#include "platform/sdl_window.h"
#include "platform/service_notify.h"
#include "platform/single_instance.h"
#include "platform/status_file.h"
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
    "  PLASMA_PRESENT=PATH      window-surface or streaming-texture instead of the display server's own\n"
    "  PLASMA_FRAME_DIR=DIR     write every presented page as DIR/frame-NNNNNN.png\n"
    "  PLASMA_INSTANCE=NAME     separate single-instance name (one per screen)\n"
    "  PLASMA_STALE_SECONDS=N   empty the train lists after N s without a good load (300)\n"
    "files: status-NAME.json (replaced after every page and every 5 s) and, on SIGUSR1,\n"
    "  screenshot-NAME.png in $STATE_DIRECTORY, else $XDG_RUNTIME_DIR/plasma-display\n";

// The status file stays fresh even on a page that lasts minutes, so a monitor can tell a live
// display from a dead one by its age.
constexpr int kStatusRefreshMs = 5000;

struct Size {
  int width, height;
};

std::optional<Size> headlessSize() {
  const char* v = std::getenv("PLASMA_HEADLESS");
  if (!v || !*v) return std::nullopt;
  int w = 0, h = 0;
  char x = 0, extra = 0;
  if (std::sscanf(v, "%d%c%d%c", &w, &x, &h, &extra) != 3 || (x != 'x' && x != 'X') || w < 16 ||
      h < 16 || w > 16384 || h > 16384) {
    logLine(std::string("PLASMA_HEADLESS=\"") + v + "\" is not WIDTHxHEIGHT (16..16384); using 1920x1080");
    return Size{1920, 1080};
  }
  return Size{w, h};
}

// How often a display is looked for while there is none, and how often that is logged again.
constexpr int kDisplayRetryMs = 3000;
constexpr std::int64_t kDisplayRelogUs = 60'000'000;

std::string environmentText(const char* name) {
  const char* v = std::getenv(name);
  return std::string(name) + (v && *v ? std::string("=") + v : " unset");
}

// Opens SDL's video on a display someone can see. "" when it is open, else why not.
std::string openVideo() {
  if (SDL_Init(SDL_INIT_VIDEO) != 0) return SDL_GetError();
  const char* name = SDL_GetCurrentVideoDriver();
  const std::string driver = name ? name : "";
  if (invisibleVideoDriver(driver)) {
    SDL_Quit();
    return "only SDL's invisible \"" + driver + "\" video driver could start (" + environmentText("DISPLAY") +
           ", " + environmentText("WAYLAND_DISPLAY") + ")";
  }
  if (SDL_GetNumVideoDisplays() < 1) {
    SDL_Quit();
    return "the " + driver + " video driver reports no monitor";
  }
  return "";
}

// Tries again every few seconds until a display opens or the program is told to stop; logs the
// failure once a minute and tells a service manager it is still starting.
bool waitForVideo(RealEventLoop& loop, ServiceNotifier& manager, std::string why) {
  logLine("no display to show on: " + why + "; trying again every " + std::to_string(kDisplayRetryMs / 1000) +
          " s (PLASMA_HEADLESS=WIDTHxHEIGHT runs without one)");
  const std::int64_t startUs = loop.nowUs();
  std::int64_t loggedUs = startUs;
  while (!loop.quitting()) {
    // Still alive and still starting: the manager neither times the start out nor the watchdog.
    manager.send("STATUS=waiting for a display: " + why + "\nEXTEND_TIMEOUT_USEC=" +
                 std::to_string((kDisplayRetryMs + 10000) * 1000LL) + (manager.watchdogPingUs() > 0 ? "\nWATCHDOG=1" : ""));
    loop.runUntilUs(loop.nowUs() + kDisplayRetryMs * 1000LL);
    if (loop.quitting()) break;
    why = openVideo();
    if (why.empty()) {
      logLine("a display is there after " + std::to_string((loop.nowUs() - startUs) / 1000000) + " s");
      return true;
    }
    if (loop.nowUs() - loggedUs >= kDisplayRelogUs) {
      logLine("still no display to show on after " + std::to_string((loop.nowUs() - startUs) / 1000000) +
              " s: " + why);
      loggedUs = loop.nowUs();
    }
  }
  return false;
}

// Waits at least `seconds` on the monotonic clock, keeping the splash painted; no busy waiting.
void pause(RealEventLoop& loop, float seconds, SplashWindow* splash) {
  try {
    loop.onWake([splash] {
      if (splash) splash->repaint();
    });
    loop.runUntilUs(loop.nowUs() + static_cast<std::int64_t>(seconds * 1e6f));
  } catch (...) {
    // Any error inside the wait ends the wait.
  }
  loop.onWake(nullptr);
}

// The signals the loop handles are blocked before any thread exists (the fetch worker, SDL's and
// libcurl's threads inherit the mask), so they can only arrive through the descriptor and never
// end the process half-way through a page.
int signalDescriptor() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGUSR1);
  sigprocmask(SIG_BLOCK, &set, nullptr);
  return signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("plasma-display %s\n", PLASMA_VERSION);
    return 0;
  }

  // A closed pipe or socket (stderr after the journal restarted, a peer that went away) is an
  // error to report where it happens, never a reason for the display to end.
  ::signal(SIGPIPE, SIG_IGN);

  const char* instanceName = std::getenv("PLASMA_INSTANCE");
  SingleInstance instance(instanceName ? instanceName : "");
  if (instance.role() == SingleInstance::Role::Second) {
    if (!instance.activateRunning()) logLine("another instance holds " + instance.lockPath() + " but did not answer");
    return 0;
  }

  RealEventLoop loop;
  StatusPublisher* publisher = nullptr;  // set once the display runs
  const int sigFd = signalDescriptor();
  if (sigFd >= 0) {
    loop.watch(sigFd, [&] {
      signalfd_siginfo si;
      while (::read(sigFd, &si, sizeof si) == sizeof si) {
        if (si.ssi_signo == SIGUSR1) {
          if (publisher) publisher->writeScreenshot();
          continue;
        }
        logLine(std::string("stopping on ") + strsignal(static_cast<int>(si.ssi_signo)));
        loop.quit();
      }
    });
  }

  const std::optional<Size> headless = headlessSize();
  const StartArguments args = parseStartArguments(argumentTail(argc, argv));
  ServiceNotifier manager;
  bool video = false;
  PresentPath path = PresentPath::WindowSurface;
  std::string driver;
  if (!headless) {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    const std::string why = openVideo();
    if (!why.empty()) {
      // Without a display there is no splash to keep up, so wrong arguments are told at once
      // rather than after a wait that may never end.
      if (args.outcome == StartArguments::Outcome::WrongCount) {
        logLine(kArgumentsMessage);
        return 2;
      }
      if (args.outcome == StartArguments::Outcome::NotANumber) {
        logLine("cannot start: " + args.error);
        return 2;
      }
      if (!waitForVideo(loop, manager, why)) return 0;
    }
    video = true;
    driver = SDL_GetCurrentVideoDriver();
    const char* forced = std::getenv("PLASMA_PRESENT");
    if (forced && *forced && !parsePresentPath(forced)) {
      logLine(std::string("PLASMA_PRESENT=\"") + forced + "\" is neither window-surface nor streaming-texture; ignored");
    }
    path = choosePresentPath(driver, forced ? forced : "");
    // Before the first window: SDL settles the window-framebuffer path at the first window surface.
    preparePresentPath(path);
  }

  auto splash = video ? std::make_unique<SplashWindow>(path) : nullptr;
  // The window system's connection wakes the loop, so the splash is kept painted through the wait
  // (a Wayland compositor also waits for its answers before it shows anything).
  int connectionFd = splash ? windowConnectionFd(splash->sdl()) : -1;
  if (connectionFd >= 0) loop.watch(connectionFd, [] {});

  // The display window is made ready, hidden, while the splash is up: placing it and allocating
  // its framebuffer take longer than drawing the first page.
  std::unique_ptr<Monitors> monitors = video ? std::make_unique<Monitors>(driver) : nullptr;
  std::unique_ptr<SdlWindow> readyWindow;
  std::string windowError;
  if (video && args.outcome == StartArguments::Outcome::Start) {
    try {
      readyWindow = std::make_unique<SdlWindow>("Plasma Sample", args.screenIndex, path, *monitors,
                                                SdlWindow::Visibility::Hidden);
    } catch (const std::exception& e) {
      windowError = e.what();
    }
  }
  std::unique_ptr<HttpClient> http = makeCurlHttpClient();
  std::unique_ptr<ImageLoader> images = makeSdlImageLoader();
  // The canvas face is resolved and loaded once; doing it now keeps it off the first page.
  standingFace(false);
  standingFace(true);

  pause(loop, 2.0f, splash.get());
  if (loop.quitting()) {
    readyWindow.reset();
    splash.reset();
    if (video) SDL_Quit();
    return 0;
  }

  if (args.outcome == StartArguments::Outcome::WrongCount) {
    logLine(kArgumentsMessage);
    if (video) showErrorBox(kApplicationTitle, kArgumentsMessage);
    readyWindow.reset();
    splash.reset();
    return 2;
  }
  if (args.outcome == StartArguments::Outcome::NotANumber) {
    logLine("cannot start: " + args.error);
    return 2;
  }
  if (args.displayType < 0 || args.displayType > 6) {
    logLine("display type " + decimal(args.displayType) +
            " is outside 0..6: the cycle runs, but this type's own page will never be painted");
  }

  std::unique_ptr<Window> window;
  SdlWindow* sdlWindow = nullptr;
  HeadlessWindow* headlessWindow = nullptr;
  try {
    if (video) {
      if (!readyWindow) throw std::runtime_error(windowError);
      readyWindow->showWindow();
      sdlWindow = readyWindow.get();
      logLine("showing on " + readyWindow->describePath());
      window = std::move(readyWindow);
    } else {
      auto w = std::make_unique<HeadlessWindow>(headless->width, headless->height);
      headlessWindow = w.get();
      window = std::move(w);
    }
  } catch (const std::exception& e) {
    logLine(e.what());
    return 1;
  }
  if (const char* dir = std::getenv("PLASMA_FRAME_DIR"); dir && *dir) {
    if (sdlWindow) sdlWindow->setFrameDir(dir);
    if (headlessWindow) headlessWindow->setFrameDir(dir);
  }

  Display display(*window, loop, *http, *images, FetchMode::WorkerThread);
  display.screenIndex = args.screenIndex;
  display.serverBaseUrl = args.serverBaseUrl;
  display.loadStep();
  display.setDisplayType(args.displayType);
  splash.reset();
  if (sdlWindow) {
    sdlWindow->onResized = [&display] { display.windowResized(); };
    if (connectionFd < 0) {
      connectionFd = windowConnectionFd(sdlWindow->sdl());
      if (connectionFd >= 0) loop.watch(connectionFd, [] {});
    }
    if (connectionFd < 0) {
      // Window systems without a descriptor to wait on are checked a few times a second.
      loop.setMaxSleepMs(100);
    }
    if (monitors->fd() >= 0) {
      loop.watch(monitors->fd(), [&] {
        if (monitors->drain()) sdlWindow->place();
      });
      if (monitors->drain()) sdlWindow->place();
    }
    // The events of the first page (the window shown, exposed) say whether it is on a monitor.
    sdlWindow->pumpEvents();
  }

  StatusPublisher status(display, instanceName ? instanceName : "", statusFolder());
  publisher = &status;
  std::string lastSummary;
  bool ready = false;
  const auto publish = [&] {
    status.write();
    std::string summary = status.summary();
    if (summary != lastSummary) manager.status(summary);
    lastSummary = std::move(summary);
    // A window on no monitor is still starting, however long that lasts: the manager's start
    // time-out must not end it and count it against the unit's start limit.
    if (!ready) manager.send("EXTEND_TIMEOUT_USEC=" + std::to_string((kStatusRefreshMs + 10000) * 1000LL));
  };
  // READY only once a page is on a monitor: the service manager then counts the display as
  // started, and a display whose window never shows stays "starting" instead of looking healthy.
  const auto readyWhenShown = [&] {
    if (ready || !window->onScreen()) return;
    ready = true;
    publish();
    manager.ready(lastSummary);
  };
  display.onPagePresented = [&](PageName) {
    publish();
    readyWhenShown();
  };
  display.onTrappedError = [&](const std::string& what) { status.notePageError(what); };
  loop.createTimer("status file", kStatusRefreshMs, true, publish);
  status.write();
  lastSummary = status.summary();
  if (!window->onScreen()) manager.status(lastSummary);
  readyWhenShown();
  if (manager.watchdogPingUs() > 0) {
    // Pinged from the loop itself, so a loop that stops turning gets the process restarted.
    const int pingMs = static_cast<int>(std::max<std::int64_t>(1, manager.watchdogPingUs() / 1000));
    loop.createTimer("service watchdog", pingMs, true, [&] { manager.watchdog(); });
    manager.watchdog();
  }

  if (instance.listenFd() >= 0) {
    loop.watch(instance.listenFd(), [&] { instance.acceptRequests([&] { window->raise(); }); });
  }
  if (sdlWindow) {
    loop.onWake([&] {
      if (!sdlWindow->pumpEvents()) loop.quit();
      readyWhenShown();
    });
  }
  loop.run();
  manager.stopping();
  publisher = nullptr;
  if (video) SDL_Quit();
  return 0;
}
