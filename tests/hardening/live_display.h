#pragma once
// A display as the program runs it: the real event loop on the wall clock, the libcurl client
// fetching off the window thread, the real picture loader, a small headless window. A probe on the
// loop notes every display tick, so a test can tell whether anything held the window thread up.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "display/display.h"
#include "cycle/cycle.h"
#include "platform/event_loop.h"
#include "present/headless_window.h"
#include "platform/http_client.h"
#include "platform/image_loader.h"

namespace plasma::hardening {

// The display ticks seen, and the largest gap between two of them: a tick held up by anything on
// the window thread shows as a gap longer than the timer's second.
struct TickWatch {
  std::int64_t lastUs = -1;
  long ticks = 0;
  std::int64_t maxGapUs = 0;

  void tick(std::int64_t nowUs) {
    if (lastUs >= 0) {
      ++ticks;
      maxGapUs = std::max(maxGapUs, nowUs - lastUs);
    }
    lastUs = nowUs;
  }
  double maxGapMs() const { return maxGapUs / 1000.0; }
};

class LiveDisplay {
 public:
  explicit LiveDisplay(const CurlClientOptions& options, int width = 340, int height = 200,
                       std::unique_ptr<ImageLoader> loader = makePictureFileLoader())
      : window(width, height),
        http(makeCurlHttpClient(options)),
        images(std::move(loader)),
        d(std::make_unique<Display>(window, loop, *http, *images, FetchMode::WorkerThread, screenCycle())) {
    d->loadStep();
    d->displayType = 3;  // a next-train page with a scrolling stops list
    d->layoutVariant = 1;
    // The loads are started by the test, not every 30 s.
    d->timerDatabase.setEnabled(false);
    // The tick itself is the display's own timer; a 1 ms probe sees each tick as a change of
    // tickCount (every tick changes it: it counts up, or a page change sets it to 0 from a count
    // of at least 2, since no page here lasts less than 2 s).
    loop.createTimer("tick probe", 1, true, [this] {
      if (d->tickCount != lastTickCount_) {
        lastTickCount_ = d->tickCount;
        ticks.tick(loop.nowUs());
      }
    });
  }

  // Runs the loop until done() holds or `limitMs` have passed; true when done() held.
  bool runUntil(const std::function<bool()>& done, int limitMs) {
    const std::int64_t end = loop.nowUs() + std::int64_t{limitMs} * 1000;
    while (loop.nowUs() < end) {
      if (done()) return true;
      loop.runUntilUs(std::min(end, loop.nowUs() + 20000));
    }
    return done();
  }
  void runFor(int ms) {
    runUntil([] { return false; }, ms);
  }

  // One timer load from base, waited for; the seconds it took.
  double loadFrom(const std::string& base, int limitMs = 15000) {
    d->serverBaseUrl = base;
    const long before = d->feed.loads;
    const auto start = std::chrono::steady_clock::now();
    d->startTimetableLoad();
    runUntil([&] { return d->feed.loads > before; }, limitMs);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

  RealEventLoop loop;
  HeadlessWindow window;
  std::unique_ptr<HttpClient> http;
  std::unique_ptr<ImageLoader> images;
  std::unique_ptr<Display> d;
  TickWatch ticks;

 private:
  Int16 lastTickCount_ = -1;
};

}  // namespace plasma::hardening
