#pragma once
#include <cairo.h>

#include <vector>

#include "canvas/surface.h"

namespace plasma {

// What presentation copies onto: the window's retained image. A copy changes the stored image; a
// refresh makes what changed since the last refresh visible (one frame).
class WindowImage {
 public:
  virtual ~WindowImage() = default;
  virtual int clientWidth() const = 0;
  virtual int clientHeight() const = 0;
  // Retained-image mode brackets every presentation; the image persists either way.
  virtual void setRetained(bool on) = 0;
  virtual void copyFrom(const Surface& source, int sx, int sy, int width, int height, int dx,
                        int dy) = 0;
  virtual void refresh() = 0;
  virtual cairo_surface_t* image() const = 0;
  // Copies as copyFrom does, for a strip that scrolls: at the window's last scroll copy the same
  // area showed the strip `advanced` rows further up. A window whose area has not changed since
  // may move its pixels and copy only the rows that come into view.
  virtual void scrollCopy(const Surface& source, int sx, int sy, int width, int height, int dx, int dy,
                          int advanced) {
    (void)advanced;
    copyFrom(source, sx, sy, width, height, dx, dy);
  }
};

// Copies the canvas onto the window: with wipeEnabled 1, the strip wipe of wipeSteps steps (the page
// slides down from above, one refresh a step), then the final copy at (0, 0) and a refresh. A
// wipeSteps of 1 or less presents without the wipe.
void presentCanvas(const Surface& canvas, WindowImage& window, int wipeEnabled, int wipeSteps);

// The destination y of each wipe step, in order, for a canvas of this height. A wipe has at most
// kMaxWipeSteps strips (one second of 60 Hz frames); more are taken as that many.
inline constexpr int kMaxWipeSteps = 60;
std::vector<int> wipePositions(int canvasHeight, int wipeSteps);

}  // namespace plasma
