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

#include "display/display.h"
#include "platform/event_loop.h"
#include "platform/headless_window.h"
#include "platform/http_client.h"
#include "platform/image_loader.h"
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
  bool video = false;
  if (!headless) {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
      logLine(std::string("no display available (") + SDL_GetError() +
              "); set PLASMA_HEADLESS=WIDTHxHEIGHT to run without one");
      return 1;
    }
    video = true;
  }

  auto splash = video ? std::make_unique<SplashWindow>() : nullptr;
  pause(loop, 2.0f, splash.get());
  if (loop.quitting()) {
    splash.reset();
    if (video) SDL_Quit();
    return 0;
  }

  const StartArguments args = parseStartArguments(argumentTail(argc, argv));
  if (args.outcome == StartArguments::Outcome::WrongCount) {
    logLine(kArgumentsMessage);
    if (video) showErrorBox(kApplicationTitle, kArgumentsMessage);
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
      auto w = std::make_unique<SdlWindow>("Plasma Sample", args.screenIndex);
      sdlWindow = w.get();
      window = std::move(w);
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

  std::unique_ptr<HttpClient> http = makeCurlHttpClient();
  std::unique_ptr<ImageLoader> images = makePictureFileLoader();
  Display display(*window, loop, *http, *images, FetchMode::WorkerThread);
  display.screenIndex = args.screenIndex;
  display.serverBaseUrl = args.serverBaseUrl;
  display.loadStep();
  display.setDisplayType(args.displayType);
  splash.reset();

  StatusPublisher status(display, instanceName ? instanceName : "", statusFolder());
  publisher = &status;
  ServiceNotifier manager;
  std::string lastSummary;
  const auto publish = [&] {
    status.write();
    std::string summary = status.summary();
    if (summary != lastSummary) manager.status(summary);
    lastSummary = std::move(summary);
  };
  display.onPagePresented = [&](PageName) { publish(); };
  display.onTrappedError = [&](const std::string& what) { status.notePageError(what); };
  loop.createTimer("status file", kStatusRefreshMs, true, publish);
  status.write();
  lastSummary = status.summary();
  // The first page is on screen: the service manager may now count the display as started.
  manager.ready(lastSummary);
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
    const int fd = sdlWindow->connectionFd();
    if (fd >= 0) {
      loop.watch(fd, [] {});
    } else {
      // Window systems without a descriptor to wait on are checked a few times a second.
      loop.setMaxSleepMs(100);
    }
    loop.onWake([&] {
      if (!sdlWindow->pumpEvents()) loop.quit();
    });
  }
  loop.run();
  manager.stopping();
  publisher = nullptr;
  if (video) SDL_Quit();
  return 0;
}
