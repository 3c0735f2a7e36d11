#include "startup/status_report.h"

#include <unistd.h>

#include <chrono>
#include <ctime>

#include "present/headless_window.h"
#include "startup/metrics.h"
#include "support/legacy.h"
#include "support/log.h"

namespace plasma {

namespace {

// The wall time at which the loop's clock started (the process start), to the nearest second.
// Taken once: the wall clock and the loop's clock tick over to a new second at different moments,
// so whole seconds of one minus whole seconds of the other, taken at every write, would wobble by
// a second between writes and look like a restart to whoever watches the start time.
std::int64_t startWallSeconds(const EventLoop& loop) {
  const std::int64_t nowUs = std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
  return (nowUs - loop.nowUs() + 500000) / 1000000;
}

}  // namespace

StatusPublisher::StatusPublisher(const Display& display, std::string instance, PrivateFolder& folder)
    : d_(display),
      folder_(folder),
      instance_(std::move(instance)),
      statusName_(instanceFileName("status", instance_, ".json")),
      metricsName_(instanceFileName("plasma-display", instance_, ".prom")),
      screenshotName_(instanceFileName("screenshot", instance_, ".png")),
      statusPath_(folder.path() + "/" + statusName_),
      metricsPath_(folder.path() + "/" + metricsName_),
      screenshotPath_(folder.path() + "/" + screenshotName_),
      startWall_(startWallSeconds(display.loop)) {}

StatusPublisher::StatusPublisher(const Display& display, std::string instance, const std::string& folder)
    : d_(display),
      ownFolder_(std::make_unique<PrivateFolder>(folder, PrivateFolder::Symlink::Follow)),
      folder_(*ownFolder_),
      instance_(std::move(instance)),
      statusName_(instanceFileName("status", instance_, ".json")),
      metricsName_(instanceFileName("plasma-display", instance_, ".prom")),
      screenshotName_(instanceFileName("screenshot", instance_, ".png")),
      statusPath_(folder + "/" + statusName_),
      metricsPath_(folder + "/" + metricsName_),
      screenshotPath_(folder + "/" + screenshotName_),
      startWall_(startWallSeconds(display.loop)) {}

void StatusPublisher::notePageError(const std::string& what) {
  lastPageError_ = what;
  lastPageErrorWall_ = static_cast<std::int64_t>(std::time(nullptr));
}

StatusReport StatusPublisher::report() const {
  StatusReport r;
  r.instance = instance_.empty() ? "default" : instance_;
  r.version = PLASMA_VERSION;
  r.pid = static_cast<int>(::getpid());
  // The loop's clock starts with the process.
  r.uptimeSeconds = d_.loop.nowUs() / 1000000;
  r.writtenWall = static_cast<std::int64_t>(std::time(nullptr));
  r.startWall = startWall_;
  r.displayType = d_.displayType;
  r.screen = d_.screenIndex;
  r.serverBaseUrl = urlForLog(d_.serverBaseUrl);
  r.phase = d_.screenPhase;
  // What the monitor shows: a page painted while the window is on no monitor (or not yet shown)
  // is not on any screen.
  r.page = d_.window.onScreen() ? pageNameText(d_.currentPage()) : "none";
  r.layoutVariant = d_.layoutVariant;
  const FeedStatus& f = d_.feed;
  r.lastGoodLoadWall = f.everLoaded ? f.lastGoodWallSeconds : 0;
  r.lastFailure = f.lastFailure;
  r.lastFailureWall = f.lastFailureWallSeconds;
  r.failuresInARow = f.failuresInARow;
  r.loads = f.loads;
  r.failures = f.failures;
  r.lastPageError = lastPageError_;
  r.lastPageErrorWall = lastPageErrorWall_;
  r.pageChanges = pageChanges_;
  return r;
}

std::string StatusPublisher::summary() const {
  const FeedStatus& f = d_.feed;
  std::string s = "type " + std::to_string(d_.displayType) + " on screen " + std::to_string(d_.screenIndex) +
                  ": " + (d_.window.onScreen() ? pageNameText(d_.currentPage()) : "not on a monitor");
  if (f.failuresInARow > 0) {
    s += "; timetable failing (" + std::to_string(f.failuresInARow) + " in a row): " + f.lastFailure;
  } else if (f.everLoaded) {
    s += "; last good load " + utcTimestamp(f.lastGoodWallSeconds);
  } else {
    s += "; no timetable yet";
  }
  return s;
}

void StatusPublisher::noteWrite(bool ok, const std::string& error) {
  if (!ok && !failing_) logLine(error + "; the status of this display is not published until it works again");
  if (ok && failing_) logLine(LogPriority::Notice, "status file " + statusPath_ + " is written again");
  failing_ = !ok;
}

bool StatusPublisher::write() {
  // The folder's problem was logged when it was refused; the display runs without a status.
  if (!folder_.usable()) return false;
  std::string error;
  const StatusReport r = report();
  const bool ok = writeTextAtomicAt(folder_.fd(), folder_.path(), statusName_, statusJson(r), &error) &&
                  writeTextAtomicAt(folder_.fd(), folder_.path(), metricsName_, prometheusText(r), &error);
  noteWrite(ok, error);
  return ok;
}

bool StatusPublisher::writeScreenshot() {
  if (!folder_.usable()) {
    logLine("no screenshot: " + folder_.problem());
    return false;
  }
  std::string png, error;
  if (!encodePng(d_.window.image(), png)) {
    logLine("cannot encode the screenshot");
    return false;
  }
  const bool ok = writeTextAtomicAt(folder_.fd(), folder_.path(), screenshotName_, png, &error);
  if (ok) logLine(LogPriority::Notice, "screenshot written to " + screenshotPath_);
  else logLine("cannot write the screenshot: " + error);
  return ok;
}

}  // namespace plasma
