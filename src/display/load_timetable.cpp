// loadTimetable: fetch the circuit's document, check and parse all of it, and only then apply it
// to the display state and the store and redraw the page on screen with the new data.
#include <ctime>
#include <memory>
#include <optional>

#include "display/display.h"
#include "support/log.h"

namespace plasma {

namespace {

std::string durationText(std::int64_t us) {
  const std::int64_t s = us / 1000000;
  if (s < 60) return std::to_string(s) + " s";
  if (s < 3600) return std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
  return std::to_string(s / 3600) + " h " + std::to_string(s % 3600 / 60) + " min";
}

}  // namespace

void applyParsedTimetable(Display& d, ParsedTimetable&& parsed) {
  const DocumentSettings& s = parsed.settings;
  d.mainPageSeconds = s.mainPageSeconds;
  d.boardSeconds = s.boardSeconds;
  d.messageSeconds = s.messageSeconds;
  d.colourScheme = s.colourScheme;
  d.boardOption = s.boardOption;
  d.spareSetting = s.spareSetting;
  d.wipeSteps = s.wipeSteps;
  d.scrollDelay = s.scrollDelay;
  const Int16 pictureIndex = d.store.pictureIndex;  // the slideshow's place survives a load
  d.store = std::move(parsed.store);
  d.store.pictureIndex = pictureIndex;
}

namespace {

// A countdown computed from a timetable this old could send someone to a train that has gone or
// never comes, so the train lists are emptied: the pages then show the slideshow or a notice.
void emptyStaleTrainLists(Display& d, const std::string& url) {
  FeedStatus& f = d.feed;
  if (!f.everLoaded || f.staleCleared) return;
  const std::int64_t age = d.loop.sinceStartWithSuspendUs() - f.lastGoodUs;
  if (age < std::int64_t{d.staleSeconds} * 1000000) return;
  TimetableStore& s = d.store;
  s.mainDepartures.clear();
  s.mainDepartureCount = 0;
  s.otherDepartures.clear();
  s.otherDepartureCount = 0;
  s.domesticDepartures.clear();
  s.domesticDepartureCount = 0;
  f.staleCleared = true;
  logLine("timetable " + urlForLog(url) + ": no good load for " + durationText(age) +
          "; the train lists are emptied until one arrives");
}

void noteFailedLoad(Display& d, const std::string& url, const RuntimeError& e) {
  FeedStatus& f = d.feed;
  ++f.failures;
  ++f.failuresInARow;
  f.lastFailure = e.what();
  f.lastFailureWallSeconds = static_cast<std::int64_t>(std::time(nullptr));
  logLine("timetable " + urlForLog(url) + " failed: " + f.lastFailure + " (" + std::to_string(f.failuresInARow) +
          " in a row); the screen is black until the next page");
}

void noteGoodLoad(Display& d, const std::string& url) {
  FeedStatus& f = d.feed;
  const std::int64_t now = d.loop.sinceStartWithSuspendUs();
  if (f.failuresInARow > 0) {
    const std::string failed = std::to_string(f.failuresInARow) + " failed load" +
                               (f.failuresInARow == 1 ? "" : "s");
    if (f.everLoaded) {
      logLine(LogPriority::Notice, "timetable " + urlForLog(url) + " is back after " + failed + " (" + durationText(now - f.lastGoodUs) +
              " without a good load" + (f.staleCleared ? ", train lists refilled" : "") + ")");
    } else {
      logLine(LogPriority::Notice, "timetable " + urlForLog(url) + " is back: first good load after " + failed);
    }
  }
  f.everLoaded = true;
  f.failuresInARow = 0;
  f.staleCleared = false;
  f.lastGoodUs = now;
  f.lastGoodWallSeconds = static_cast<std::int64_t>(std::time(nullptr));
}

}  // namespace

void Display::loadTimetable() {
  const std::string url = timetableUrl();
  if (fetcher_->mode() == FetchMode::Inline) {
    applyTimetableResponse(url, http_.get(url));
    return;
  }
  // The fetch runs on the worker even here, so that the window thread's wait has a bound of its
  // own whatever the client does (a resolver that never returns, a clean-up that waits for one)
  // and a stop is heard while it waits.
  auto result = std::make_shared<std::optional<HttpResponse>>();
  if (!fetcher_->start(url, [result](HttpResponse r) { *result = std::move(r); })) {
    HttpResponse busy;
    busy.error = "the previous fetch is still running";
    applyTimetableResponse(url, busy);
    return;
  }
  loop.waitFor([&] { return result->has_value(); }, loop.nowUs() + kLoadWaitLimitUs);
  if (loop.quitting() && !result->has_value()) return;
  if (!result->has_value()) {
    // A late answer is dropped; the timer's next load asks again.
    HttpResponse late;
    late.error = "no answer within " + std::to_string(kLoadWaitLimitUs / 1000000) + " s";
    applyTimetableResponse(url, late);
    return;
  }
  applyTimetableResponse(url, **result);
}

void Display::emptyOldTrainLists() {
  if (!feed.everLoaded || feed.staleCleared) return;
  emptyStaleTrainLists(*this, timetableUrl());
}

void Display::startTimetableLoad() {
  if (fetcher_->busy()) {
    if (!feed.skippedWhileBusy) {
      logLine("timetable " + urlForLog(timetableUrl()) + ": the previous fetch is still running; no new one started");
      feed.skippedWhileBusy = true;
    }
    emptyStaleTrainLists(*this, timetableUrl());
    return;
  }
  const std::string url = timetableUrl();
  fetcher_->start(url, [this, url](HttpResponse response) {
    feed.skippedWhileBusy = false;
    applyTimetableResponse(url, response);
  });
}

void Display::applyTimetableResponse(const std::string& url, const HttpResponse& response) {
  ++feed.loads;
  ParsedTimetable parsed;
  try {
    if (!response.ok) {
      throw RuntimeError(ErrorKind::TransferFailed,
                         response.error.empty() ? "no response" : response.error);
    }
    // The whole document is checked before any of it is used: a bad document leaves the settings
    // and the store as the last good one left them.
    parsed = parseTimetable(decodeDocumentText(response.body));
  } catch (const RuntimeError& e) {
    noteFailedLoad(*this, url, e);
    emptyStaleTrainLists(*this, url);
    clearCanvas();
    return;
  }
  noteGoodLoad(*this, url);
  applyParsedTimetable(*this, std::move(parsed));
  // Pictures kept elsewhere (over HTTP) are fetched ahead of their pages, whether or not trains
  // are due, so the slideshow finds them when it starts.
  images.named(store.pictureFiles);
  // The next picture is decoded ahead from the new list.
  wantPictures();
  trapped("loadTimetable", [this] { procedures.redrawWithNewData(*this); });
}

}  // namespace plasma
