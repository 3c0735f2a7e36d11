#include "support/whole_program.h"

#include <signal.h>
#include <unistd.h>

#include <sys/stat.h>

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

// Programs run as "nobody" when the run is root: compositors refuse root.
std::vector<std::string> unprivileged(std::vector<std::string> argv) {
  if (::geteuid() != 0) return argv;
  argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"});
  return argv;
}

// sway on its headless backend in a runtime folder of the run's own, up once its socket is there.
std::unique_ptr<ChildProcess> startSway(FrameSize size, const std::string& folder, const std::string& run) {
  const std::string conf = folder + "/sway.conf";
  {
    std::ofstream out(conf);
    out << "output HEADLESS-1 mode " << sizeName(size) << "\nbar {\n  position top\n}\n";
  }
  ::chmod(folder.c_str(), 0755);
  ::chmod(conf.c_str(), 0644);
  ::mkdir(run.c_str(), 0700);
  if (::geteuid() == 0 && ::chown(run.c_str(), 65534, 65534) != 0) throw std::runtime_error("cannot hand " + run + " to nobody");
  auto sway = std::make_unique<ChildProcess>(
      unprivileged({"/usr/bin/env", "-i", "PATH=/usr/bin:/bin", "HOME=" + folder, "XDG_RUNTIME_DIR=" + run,
                    "WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman", "/usr/bin/sway", "-c",
                    conf}),
      EnvChanges{}, false, folder + "/sway.err");
  const std::string socket = run + "/wayland-1";
  for (int i = 0; i < 200 && ::access(socket.c_str(), F_OK) != 0; ++i) sleepSeconds(0.05);
  if (::access(socket.c_str(), F_OK) != 0) throw std::runtime_error("sway did not start: " + readFile(folder + "/sway.err"));
  return sway;
}

// weston on its headless backend with the GL renderer, up once its socket is there.
std::unique_ptr<ChildProcess> startWestonGl(FrameSize size, const std::string& folder, const std::string& run) {
  ::chmod(folder.c_str(), 0755);
  ::mkdir(run.c_str(), 0700);
  if (::geteuid() == 0 && ::chown(run.c_str(), 65534, 65534) != 0) throw std::runtime_error("cannot hand " + run + " to nobody");
  auto weston = std::make_unique<ChildProcess>(
      unprivileged({"/usr/bin/env", "-i", "PATH=/usr/bin:/bin", "HOME=" + folder, "XDG_RUNTIME_DIR=" + run,
                    "/usr/bin/weston", "--backend=headless-backend.so", "--use-gl", "--shell=desktop-shell.so",
                    "--width=" + std::to_string(size.width), "--height=" + std::to_string(size.height),
                    "--socket=wayland-1"}),
      EnvChanges{}, false, folder + "/weston.err");
  const std::string socket = run + "/wayland-1";
  for (int i = 0; i < 200 && ::access(socket.c_str(), F_OK) != 0; ++i) sleepSeconds(0.05);
  if (::access(socket.c_str(), F_OK) != 0) throw std::runtime_error("weston did not start: " + readFile(folder + "/weston.err"));
  return weston;
}

}  // namespace

WholeProgramFigures runWholeProgram(const WholeProgramOptions& o) {
  ScratchFolder scratch;
  std::vector<std::string> simArgs = {o.binDir + "/timetable-sim", "--port", "0", "--clock", "10:00",
                                      "--scenario", o.scenario};
  if (!o.documents.empty()) simArgs = {o.binDir + "/timetable-sim", "--port", "0", "--documents", o.documents};
  if (o.pageSeconds > 0 && o.documents.empty()) {
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
  const std::string run = scratch.path + "/run";
  const bool wayland = o.sway || o.westonGl;
  if (wayland) {
    xserver = o.sway ? startSway(o.size, scratch.path, run) : startWestonGl(o.size, scratch.path, run);
    ::chmod(notify.path().c_str(), 0777);
  }
  const bool headless = o.xDisplay.empty() && !wayland;
  const EnvChanges env = {
      {"PLASMA_HEADLESS", headless ? std::optional<std::string>(sizeName(o.size)) : std::nullopt},
      {"DISPLAY", o.xDisplay.empty() ? std::nullopt : std::optional<std::string>(o.xDisplay)},
      {"PLASMA_INSTANCE", "perf-" + std::to_string(::getpid()) + "-" + std::to_string(o.size.width)},
      {"NOTIFY_SOCKET", notify.path()},
      {"WATCHDOG_USEC", std::nullopt},
      {"WATCHDOG_PID", std::nullopt},
      {"STATE_DIRECTORY", scratch.path},
      {"XDG_RUNTIME_DIR", wayland ? run : scratch.path},
      {"PLASMA_FRAME_DIR", std::nullopt},
      {"PLASMA_PRESENT", std::nullopt},
      {"WAYLAND_DISPLAY", wayland ? std::optional<std::string>("wayland-1") : std::nullopt},
      // A test runner's choice of display server would keep the display off the run's own.
      {"PLASMA_DISPLAY_SERVER", std::nullopt},
      {"SDL_VIDEODRIVER", std::nullopt},
  };
  const std::string errPath = scratch.path + "/display.err";
  const double forkedUs = monotonicUs();
  const std::vector<std::string> argv = {o.binDir + "/plasma-display", std::to_string(o.displayType), "0", url};
  ChildProcess display(wayland ? unprivileged(argv) : argv, env, false, errPath);
  // On a real screen the window is shown, and says so on stderr, when the splash wait ends.
  std::optional<double> shownUs, readyUs;
  for (int waited = 0; !readyUs && waited < 20000; waited += 2) {
    if (!shownUs && !headless && readFile(errPath).find("showing on") != std::string::npos) {
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
