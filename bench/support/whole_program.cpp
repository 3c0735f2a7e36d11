#include "support/whole_program.h"

#include <signal.h>
#include <unistd.h>

#include <fstream>
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
  const EnvChanges env = {
      {"PLASMA_HEADLESS", sizeName(o.size)},
      {"PLASMA_INSTANCE", "perf-" + std::to_string(::getpid()) + "-" + std::to_string(o.size.width)},
      {"NOTIFY_SOCKET", notify.path()},
      {"WATCHDOG_USEC", std::nullopt},
      {"WATCHDOG_PID", std::nullopt},
      {"STATE_DIRECTORY", scratch.path},
      {"XDG_RUNTIME_DIR", scratch.path},
      {"PLASMA_FRAME_DIR", std::nullopt},
      {"DISPLAY", std::nullopt},
      {"WAYLAND_DISPLAY", std::nullopt},
  };
  const std::string errPath = scratch.path + "/display.err";
  const double forkedUs = monotonicUs();
  ChildProcess display({o.binDir + "/plasma-display", std::to_string(o.displayType), "0", url}, env,
                       false, errPath);
  const std::optional<double> readyUs = notify.waitFor("READY=1", 20000);
  if (!readyUs) {
    display.stop(SIGKILL, 2000);
    throw std::runtime_error("plasma-display sent no READY=1 within 20 s: " + readFile(errPath));
  }
  WholeProgramFigures f;
  f.startMs = (*readyUs - forkedUs) / 1000.0 - kSplashMs;

  sleepSeconds(o.settleSeconds);
  const std::optional<double> cpuBefore = cpuSeconds(display.pid());
  const double windowStart = monotonicUs();
  sleepSeconds(o.runSeconds);
  const std::optional<double> cpuAfter = cpuSeconds(display.pid());
  f.windowSeconds = (monotonicUs() - windowStart) / 1e6;
  const std::optional<long> peak = peakResidentKb(display.pid());
  if (!cpuBefore || !cpuAfter || !peak) {
    throw std::runtime_error("plasma-display stopped while measured: " + readFile(errPath));
  }
  f.cpuSeconds = *cpuAfter - *cpuBefore;
  f.peakResidentKb = *peak;
  display.stop(SIGTERM, 5000);
  sim.stop(SIGTERM, 5000);
  return f;
}

}  // namespace plasma::bench
