#include "canvas/window_image.h"

#include <algorithm>

#include "support/legacy.h"

namespace plasma {

std::vector<int> wipePositions(int canvasHeight, int wipeSteps) {
  std::vector<int> ys;
  // A strip height of height / 0 would divide by zero; one strip or fewer means no wipe.
  if (wipeSteps <= 1) return ys;
  // The wipe holds the window thread for one refresh a step: a document asking for 32767 steps
  // would stall the display for many seconds at every page change.
  wipeSteps = std::min(wipeSteps, kMaxWipeSteps);
  const double strip = static_cast<double>(canvasHeight) / wipeSteps;
  for (int i = wipeSteps - 1; i >= 1; --i) {
    ys.push_back(static_cast<int>(roundHalfEven(-(i * strip))));
  }
  return ys;
}

void presentCanvas(const Surface& canvas, WindowImage& window, int wipeEnabled, int wipeSteps) {
  window.setRetained(true);
  const int w = canvas.pixelWidth();
  const int h = canvas.pixelHeight();
  if (wipeEnabled == 1) {
    for (int y : wipePositions(h, wipeSteps)) {
      window.copyFrom(canvas, 0, 0, w, h, 0, y);
      window.refresh();
    }
  }
  window.copyFrom(canvas, 0, 0, w, h, 0, 0);
  window.setRetained(false);
  window.refresh();
}

}  // namespace plasma
