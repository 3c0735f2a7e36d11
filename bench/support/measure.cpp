#include "support/measure.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "canvas/fonts.h"
#include "support/process.h"

namespace plasma::bench {

double monotonicUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

Figure summarize(std::vector<double> samples) {
  Figure f;
  if (samples.empty()) return f;
  std::sort(samples.begin(), samples.end());
  const std::size_t n = samples.size();
  f.median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
  f.min = samples.front();
  f.max = samples.back();
  f.samples = static_cast<int>(n);
  return f;
}

FrameCopy::FrameCopy(FrameSize size)
    : from_(static_cast<std::size_t>(size.width) * size.height * 4, 0x4c),
      to_(from_.size(), 0) {}

void FrameCopy::run() {
  std::memcpy(to_.data(), from_.data(), to_.size());
  // Keeps the compiler from dropping a copy nobody reads.
  asm volatile("" : : "r"(to_.data()) : "memory");
}

Paired timeAgainstFrameCopy(const std::function<void()>& fn, FrameCopy& copy, int samples,
                            int repeat, int warmup) {
  for (int i = 0; i < warmup; ++i) {
    fn();
    copy.run();
  }
  std::vector<double> item, frame;
  for (int s = 0; s < samples; ++s) {
    double t = monotonicUs();
    for (int r = 0; r < repeat; ++r) copy.run();
    frame.push_back((monotonicUs() - t) / repeat);
    t = monotonicUs();
    for (int r = 0; r < repeat; ++r) fn();
    item.push_back((monotonicUs() - t) / repeat);
  }
  return {summarize(std::move(item)), summarize(std::move(frame))};
}

int coldChild(PageFamily family, FrameSize size) {
  double t = monotonicUs();
  standingFace(false);
  standingFace(true);
  const double fontSetup = monotonicUs() - t;
  Scene scene(size);
  scene.prepare(family);
  t = monotonicUs();
  scene.paint();
  const double firstPaint = monotonicUs() - t;
  std::printf("font-setup-us %.1f\nfirst-paint-us %.1f\n", fontSetup, firstPaint);
  return 0;
}

ColdFigures runColdChild(const std::vector<std::string>& argv,
                         const std::vector<std::pair<std::string, std::string>>& env) {
  EnvChanges changes;
  for (const auto& [n, v] : env) changes.emplace_back(n, v);
  ChildProcess child(argv, changes, true);
  const std::string out = child.readAll(60000);
  const std::optional<int> status = child.wait(10000);
  ColdFigures f;
  bool font = false, paint = false;
  std::istringstream lines(out);
  std::string key;
  double value = 0;
  while (lines >> key >> value) {
    if (key == "font-setup-us") f.fontSetupUs = value, font = true;
    if (key == "first-paint-us") f.firstPaintUs = value, paint = true;
  }
  if (!status || *status != 0 || !font || !paint) {
    throw std::runtime_error("cold child " + argv[0] + " failed (status " +
                             (status ? std::to_string(*status) : std::string("none")) + "): " + out);
  }
  return f;
}

double perfMargin() {
  const char* v = std::getenv("PLASMA_PERF_MARGIN");
  if (!v || !*v) return 1.0;
  char* end = nullptr;
  const double m = std::strtod(v, &end);
  return (*end == '\0' && m >= 1.0 && m <= 100.0) ? m : 1.0;
}

}  // namespace plasma::bench
