#pragma once
// Timing helpers shared by plasma-bench and the perf tests: medians of repeated samples, the frame
// memcpy every figure is compared with, and cold figures taken in a fresh process.
#include <functional>
#include <string>
#include <vector>

#include "support/scene.h"

namespace plasma::bench {

// Microseconds on the monotonic clock.
double monotonicUs();

struct Figure {
  double median = 0;
  double min = 0;
  double max = 0;
  int samples = 0;
};
Figure summarize(std::vector<double> samples);

// One memcpy of a whole frame (width x height x 4 bytes) between two buffers that stay mapped and
// touched: the yardstick every figure is divided by, measured in the same run as the figure.
class FrameCopy {
 public:
  explicit FrameCopy(FrameSize size);
  void run();

 private:
  std::vector<unsigned char> from_, to_;
};

// A figure and the frame memcpy sampled alternately, so that a busy machine slows both alike.
struct Paired {
  Figure item;
  Figure frameCopy;
  double ratio() const { return frameCopy.median > 0 ? item.median / frameCopy.median : 0; }
};
// Each sample runs fn `repeat` times and keeps the time of one call; `warmup` calls come first.
Paired timeAgainstFrameCopy(const std::function<void()>& fn, FrameCopy& copy, int samples,
                            int repeat = 1, int warmup = 3);

// ---- cold figures ----
// A cold glyph cache can only be had in a process that has drawn no text: Cairo and FreeType keep
// their caches for the life of the process, and cairo_debug_reset_static_data() is not safe while
// the canvas face is alive. So each cold figure comes from a fresh process that sets up the fonts
// (timed), builds the display as start-up does, then times its first page.
struct ColdFigures {
  double fontSetupUs = 0;  // fontconfig initialisation and loading the two faces
  double firstPaintUs = 0; // the first page, glyphs rasterised on the way
};
// The child's side: paints one page of the family in this (fresh) process and prints the figures
// on stdout as "font-setup-us N" and "first-paint-us N". Returns the exit status.
int coldChild(PageFamily family, FrameSize size);
// The parent's side: runs argv (a program whose arguments make it call coldChild) and reads its
// figures; throws std::runtime_error when the child fails.
ColdFigures runColdChild(const std::vector<std::string>& argv,
                         const std::vector<std::pair<std::string, std::string>>& env = {});

// The budgets' allowance for a noisy machine: PLASMA_PERF_MARGIN (CI sets 2), else 1.
double perfMargin();

}  // namespace plasma::bench
