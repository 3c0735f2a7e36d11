#include "support/whole_program.h"

#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "support/measure.h"
#include "support/process.h"

namespace plasma::bench {
namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream os;
  os << in.rdbuf();
  return os.str();
}

void sleepSeconds(double s) {
  const double end = monotonicUs() + s * 1e6;
  while (monotonicUs() < end) ::usleep(static_cast<useconds_t>(std::min(100000.0, end - monotonicUs())));
}

bool glLibraryMapped(pid_t pid) {
  const std::string maps = readFile("/proc/" + std::to_string(pid) + "/maps");
  for (const char* lib : {"libGL.so", "libGLX", "libEGL", "libGLES", "swrast", "llvmpipe", "libgallium"}) {
    if (maps.find(lib) != std::string::npos) return true;
  }
  return false;
}

// An Xvfb of the run's own, up once a client can connect.
std::unique_ptr<ChildProcess> startXvfb(const std::string& display, FrameSize size, const std::string& folder) {
  auto x = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/Xvfb", display, "-screen", "0", sizeName(size) + "x24", "-nolisten", "tcp",
                               "-noreset"},
      EnvChanges{}, false, folder + "/xvfb.err");
  const std::string socket = "/tmp/.X11-unix/X" + display.substr(1);
  for (int i = 0; i < 200 && ::access(socket.c_str(), F_OK) != 0; ++i) sleepSeconds(0.05);
  sleepSeconds(0.2);
  if (::access(socket.c_str(), F_OK) != 0) throw std::runtime_error("Xvfb " + display + " did not start");
  return x;
}

}  // namespace

WholeProgramFigures runWholeProgram(const WholeProgramOptions& o) {
  ScratchFolder scratch;
  std::vector<std::string> simArgs = {o.binDir + "/timetable-sim", "--port", "0", "--clock", "10:00",
                                      "--scenario", o.scenario};
  if (o.pageSeconds > 0) {
    simArgs.push_back("--page-seconds");
    simArgs.push_back(std::to_string(o.pageSeconds));
  }
  ChildProcess sim(simArgs, {}, true, scratch.path + "/sim.err");
  std::string url;
  while (auto line = sim.readLine(10000)) {
    const std::size_t at = line->find("listening on ");
    if (at != std::string::npos) {
      url = line->substr(at + 13);
      break;
    }
  }
  if (url.empty()) throw std::runtime_error("timetable-sim did not start: " + readFile(scratch.path + "/sim.err"));

  NotifySocket notify(scratch.path + "/notify");
  std::unique_ptr<ChildProcess> xserver;
  if (!o.xDisplay.empty()) xserver = startXvfb(o.xDisplay, o.size, scratch.path);
  const EnvChanges env = {
      {"PLASMA_HEADLESS", o.xDisplay.empty() ? std::optional<std::string>(sizeName(o.size)) : std::nullopt},
      {"DISPLAY", o.xDisplay.empty() ? std::nullopt : std::optional<std::string>(o.xDisplay)},
      {"PLASMA_INSTANCE", "perf-" + std::to_string(::getpid()) + "-" + std::to_string(o.size.width)},
      {"NOTIFY_SOCKET", notify.path()},
      {"WATCHDOG_USEC", std::nullopt},
      {"WATCHDOG_PID", std::nullopt},
      {"STATE_DIRECTORY", scratch.path},
      {"XDG_RUNTIME_DIR", scratch.path},
      {"PLASMA_FRAME_DIR", std::nullopt},
      {"PLASMA_PRESENT", std::nullopt},
      {"WAYLAND_DISPLAY", std::nullopt},
      // A test runner's choice of display server would keep the display off the run's own.
      {"PLASMA_DISPLAY_SERVER", std::nullopt},
      {"SDL_VIDEODRIVER", std::nullopt},
  };
  const std::string errPath = scratch.path + "/display.err";
  const double forkedUs = monotonicUs();
  ChildProcess display({o.binDir + "/plasma-display", std::to_string(o.displayType), "0", url}, env,
                       false, errPath);
  // On a real screen the window is shown, and says so on stderr, when the splash wait ends.
  std::optional<double> shownUs, readyUs;
  for (int waited = 0; !readyUs && waited < 20000; waited += 2) {
    if (!shownUs && !o.xDisplay.empty() && readFile(errPath).find("showing on") != std::string::npos) {
      shownUs = monotonicUs();
    }
    readyUs = notify.waitFor("READY=1", 2);
  }
  if (!readyUs) {
    display.stop(SIGKILL, 2000);
    throw std::runtime_error("plasma-display sent no READY=1 within 20 s: " + readFile(errPath));
  }
  WholeProgramFigures f;
  f.startMs = (*readyUs - forkedUs) / 1000.0 - kSplashMs;
  if (shownUs) f.afterSplashMs = (*readyUs - *shownUs) / 1000.0;

  sleepSeconds(o.settleSeconds);
  const std::optional<double> cpuBefore = cpuSeconds(display.pid());
  const std::optional<double> serverBefore = xserver ? cpuSeconds(xserver->pid()) : std::optional<double>(0);
  const double windowStart = monotonicUs();
  sleepSeconds(o.runSeconds);
  const std::optional<double> cpuAfter = cpuSeconds(display.pid());
  const std::optional<double> serverAfter = xserver ? cpuSeconds(xserver->pid()) : std::optional<double>(0);
  f.windowSeconds = (monotonicUs() - windowStart) / 1e6;
  const std::optional<long> peak = peakResidentKb(display.pid());
  if (!cpuBefore || !cpuAfter || !peak) {
    throw std::runtime_error("plasma-display stopped while measured: " + readFile(errPath));
  }
  f.cpuSeconds = *cpuAfter - *cpuBefore;
  if (serverBefore && serverAfter) f.serverCpuSeconds = *serverAfter - *serverBefore;
  f.glMapped = glLibraryMapped(display.pid());
  f.peakResidentKb = *peak;
  display.stop(SIGTERM, 5000);
  sim.stop(SIGTERM, 5000);
  if (xserver) xserver->stop(SIGTERM, 5000);
  return f;
}

}  // namespace plasma::bench
