#pragma once
// The buffers behind one retained image on a server that reads the client's pixels after a
// present (Wayland's wl_shm buffers, the console's scanned-out dumb buffers): drawing never goes
// into a buffer the server may still read, so no frame ever shows half a page.
#include <cairo.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "canvas/geometry.h"

namespace plasma {

class BufferRing {
 public:
  struct Buffer {
    cairo_surface_t* image = nullptr;  // over the buffer's pixels; owned by the server's code
    std::uintptr_t handle = 0;         // the server's name for it (wl_buffer*, framebuffer id)
    bool busy = false;                 // the server may read it (attached, scanned out, flipping)
    PixelRect stale{};                 // where it lags behind the newest pixels (empty: up to date)
  };

  // `waitForServer(done, ms)` handles the server's events until done() holds or ms pass.
  // `allocate()` makes one more buffer of the current size (image null when it cannot).
  BufferRing(std::function<void(const std::function<bool()>& done, int ms)> waitForServer,
             std::function<Buffer()> allocate);

  // The buffer to draw into, up to date: the newest one when the server no longer reads it (no
  // copy at all), else another one the server has let go, with what it lacks copied from the
  // newest. Waits for the server up to a frame's worth of time, then makes a third buffer rather
  // than draw under the server's eyes. While there is one buffer, a second is made only once the
  // server has shown the first and still holds it: a compositor that copies the pixels lets go by
  // then, and one screenful of memory serves. The same buffer until present().
  Buffer& drawTarget();
  // The buffer drawn into becomes the newest; every other one lags behind by `changed`.
  Buffer& presented(const PixelRect& changed);
  // The rectangle will be drawn over whole in the next drawing target: that part of it need not be
  // brought up to date first. Nothing once the target is handed out.
  void willOverwrite(const PixelRect& r);
  // The server no longer reads the buffer with this handle.
  void released(std::uintptr_t handle);
  // The server has shown the newest buffer (a frame callback, a completed page flip).
  void shown() { newestShown_ = true; }
  // All buffers go (the size changes); `destroy` is called for each.
  void clear(const std::function<void(Buffer&)>& destroy);
  bool empty() const { return buffers_.empty(); }
  std::vector<Buffer>& buffers() { return buffers_; }
  // The buffer holding the newest pixels (for a screenshot), or null.
  Buffer* newest();

  // How long drawTarget() waits for a buffer before it makes another.
  static constexpr int kReleaseWaitMs = 100;
  // How long the one buffer is waited for before a second is made: a compositor drawing slowly
  // (a busy machine, software GL) would otherwise cost a screenful of memory for good.
  static constexpr int kShownWaitMs = 1000;
  static constexpr std::size_t kMaxBuffers = 3;

 private:
  std::function<void(const std::function<bool()>&, int)> wait_;
  std::function<Buffer()> allocate_;
  std::vector<Buffer> buffers_;
  int newest_ = -1;
  int target_ = -1;
  bool newestShown_ = false;
  PixelRect overwrite_{};
};

// An RGB24 image over pixels mapped from a server's buffer, and its end: the image destroyed, then
// the pixels unmapped.
cairo_surface_t* imageOverMapping(void* pixels, int width, int height, int stride);
void dropImageOverMapping(cairo_surface_t* image);

// The smallest rectangle holding both; an empty one adds nothing.
PixelRect unite(const PixelRect& a, const PixelRect& b);
// What is left of `from` once `cut` is taken away, where that is a rectangle; `from` itself where
// it is not (the rest would be two or more rectangles).
PixelRect subtract(const PixelRect& from, const PixelRect& cut);

}  // namespace plasma
