#include "present/buffer_ring.h"

#include <sys/mman.h>

#include <algorithm>
#include <utility>

#include "support/log.h"

namespace plasma {

PixelRect unite(const PixelRect& a, const PixelRect& b) {
  if (a.right <= a.left || a.bottom <= a.top) return b;
  if (b.right <= b.left || b.bottom <= b.top) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

cairo_surface_t* imageOverMapping(void* pixels, int width, int height, int stride) {
  return cairo_image_surface_create_for_data(static_cast<unsigned char*>(pixels), CAIRO_FORMAT_RGB24, width, height,
                                             stride);
}

void dropImageOverMapping(cairo_surface_t* image) {
  unsigned char* pixels = cairo_image_surface_get_data(image);
  const std::size_t bytes =
      static_cast<std::size_t>(cairo_image_surface_get_stride(image)) * cairo_image_surface_get_height(image);
  cairo_surface_destroy(image);
  munmap(pixels, bytes);
}

PixelRect subtract(const PixelRect& from, const PixelRect& cut) {
  PixelRect r = from;
  if (r.right <= r.left || r.bottom <= r.top) return {};
  const bool spansX = cut.left <= r.left && cut.right >= r.right;
  const bool spansY = cut.top <= r.top && cut.bottom >= r.bottom;
  if (spansX && spansY) return {};
  if (spansX && cut.top <= r.top && cut.bottom > r.top) r.top = cut.bottom;
  else if (spansX && cut.bottom >= r.bottom && cut.top < r.bottom) r.bottom = cut.top;
  else if (spansY && cut.left <= r.left && cut.right > r.left) r.left = cut.right;
  else if (spansY && cut.right >= r.right && cut.left < r.right) r.right = cut.left;
  return r;
}

void BufferRing::willOverwrite(const PixelRect& r) {
  // Two overwrites are not one rectangle (what lies between them is not drawn): the larger is kept.
  const auto area = [](const PixelRect& a) {
    return a.right > a.left && a.bottom > a.top ? std::int64_t{a.width()} * a.height() : 0;
  };
  if (target_ < 0 && area(r) > area(overwrite_)) overwrite_ = r;
}

BufferRing::BufferRing(std::function<void(const std::function<bool()>&, int)> waitForServer,
                       std::function<Buffer()> allocate)
    : wait_(std::move(waitForServer)), allocate_(std::move(allocate)) {
  // A buffer handed out stays where it is while more are made.
  buffers_.reserve(kMaxBuffers);
}

namespace {

void copyRect(cairo_surface_t* from, cairo_surface_t* to, const PixelRect& r) {
  if (r.right <= r.left || r.bottom <= r.top) return;
  cairo_surface_flush(from);
  cairo_surface_flush(to);
  const int stride = cairo_image_surface_get_stride(to);
  const int fromStride = cairo_image_surface_get_stride(from);
  unsigned char* dst = cairo_image_surface_get_data(to);
  const unsigned char* src = cairo_image_surface_get_data(from);
  const std::size_t bytes = static_cast<std::size_t>(r.width()) * 4;
  for (int y = r.top; y < r.bottom; ++y) {
    std::copy_n(src + static_cast<std::ptrdiff_t>(y) * fromStride + r.left * 4, bytes,
                dst + static_cast<std::ptrdiff_t>(y) * stride + r.left * 4);
  }
  cairo_surface_mark_dirty_rectangle(to, r.left, r.top, r.width(), r.height());
}

}  // namespace

BufferRing::Buffer* BufferRing::newest() {
  return newest_ >= 0 ? &buffers_[static_cast<std::size_t>(newest_)] : nullptr;
}

BufferRing::Buffer& BufferRing::drawTarget() {
  if (target_ >= 0) return buffers_[static_cast<std::size_t>(target_)];
  const auto pick = [&]() -> int {
    // The newest buffer, once the server has let go of it, needs no copy at all.
    if (newest_ >= 0 && !buffers_[static_cast<std::size_t>(newest_)].busy) return newest_;
    for (std::size_t i = 0; i < buffers_.size(); ++i) {
      if (!buffers_[i].busy) return static_cast<int>(i);
    }
    return -1;
  };
  int chosen = pick();
  if (chosen < 0 && buffers_.size() == 1 && !newestShown_) {
    // A compositor that uploads the pixels (a GL one) lets go of the buffer by the time it has
    // shown them; one that reads the buffer while it shows it (a CPU compositor, scan-out) still
    // holds it then, and only then is a second screenful worth its memory.
    wait_([&] { return pick() >= 0 || newestShown_; }, kShownWaitMs);
    chosen = pick();
  }
  if (chosen < 0 && buffers_.size() >= 2) {
    wait_([&] { return pick() >= 0; }, kReleaseWaitMs);
    chosen = pick();
  }
  if (chosen < 0 && buffers_.size() < kMaxBuffers) {
    Buffer b = allocate_();
    if (b.image) {
      b.stale = {0, 0, cairo_image_surface_get_width(b.image), cairo_image_surface_get_height(b.image)};
      buffers_.push_back(b);
      chosen = static_cast<int>(buffers_.size()) - 1;
    }
  }
  if (chosen < 0) {
    // Every buffer is held and no other can be made: draw into the oldest rather than stall the
    // display for ever. Said once per stretch.
    wait_([&] { return pick() >= 0; }, 1000);
    chosen = pick();
    if (chosen < 0) {
      logLine("the display server holds every frame buffer; drawing into one it may still show");
      chosen = newest_ >= 0 ? (newest_ + 1) % static_cast<int>(buffers_.size()) : 0;
    }
  }
  Buffer& b = buffers_[static_cast<std::size_t>(chosen)];
  b.stale = subtract(b.stale, std::exchange(overwrite_, PixelRect{}));
  if (chosen != newest_ && newest_ >= 0) copyRect(buffers_[static_cast<std::size_t>(newest_)].image, b.image, b.stale);
  b.stale = {};
  target_ = chosen;
  return b;
}

BufferRing::Buffer& BufferRing::presented(const PixelRect& changed) {
  Buffer& drawn = drawTarget();
  for (std::size_t i = 0; i < buffers_.size(); ++i) {
    if (static_cast<int>(i) != target_) buffers_[i].stale = unite(buffers_[i].stale, changed);
  }
  newest_ = target_;
  target_ = -1;
  newestShown_ = false;
  drawn.busy = true;
  return drawn;
}

void BufferRing::released(std::uintptr_t handle) {
  for (Buffer& b : buffers_) {
    if (b.handle == handle) b.busy = false;
  }
}

void BufferRing::clear(const std::function<void(Buffer&)>& destroy) {
  for (Buffer& b : buffers_) destroy(b);
  buffers_.clear();
  newest_ = -1;
  target_ = -1;
}

}  // namespace plasma
