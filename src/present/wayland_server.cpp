// Wayland through libwayland-client: one full-screen xdg toplevel on the output of the screen,
// drawn into shared-memory buffers (wl_shm) with the changed rectangle as damage and paced by the
// compositor's frame callbacks. No GPU, no GL, and no seat needed.
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

#include "present/buffer_ring.h"
#include "present/clock.h"
#include "present/display_server.h"
#include "present/monitors.h"
#include "present/shared_screen.h"
#include "support/log.h"
#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace plasma {
namespace {

// How long a present waits for the compositor's go-ahead (its frame callback). A compositor sends
// none while the surface is hidden; the frame then goes anyway, so a hidden window costs no more
// than a slow frame.
constexpr int kFrameWaitMs = 100;
// How long opening waits for the compositor's first configure.
constexpr int kConfigureWaitMs = 3000;
// A compositor draws a shown surface within a frame or two of a commit and says so (the frame
// callback). One that has not for this long does not show it: the window is hidden, its output is
// off, or (weston 10's kiosk-shell on a screen without keyboard or mouse) the compositor shows no
// client at all.
constexpr int kNotDrawnMs = 1000;

struct WaylandOutput {
  std::uint32_t name = 0;
  wl_output* output = nullptr;
  zxdg_output_v1* xdg = nullptr;
  MonitorPlacement logical;  // in the compositor's space
  bool haveLogical = false;
  int geometryX = 0, geometryY = 0;
  int modeWidth = 0, modeHeight = 0;
  int scale = 1;
  std::string label;  // its name where the compositor gives one
};

class WaylandSurface;

class WaylandServer final : public DisplayServer {
 public:
  explicit WaylandServer(wl_display* d);
  ~WaylandServer() override;
  bool ready(std::string* why);
  const char* name() const override { return "wayland"; }
  std::vector<int> fds() const override { return {wl_display_get_fd(d_)}; }
  bool dispatch() override;
  void flush() override {
    wl_display_dispatch_pending(d_);
    wl_display_flush(d_);
  }
  bool takeMonitorsChanged() override { return std::exchange(monitorsChanged_, false); }
  std::unique_ptr<Output> openScreen(int screenIndex, const std::string& title) override;
  std::unique_ptr<Output> openBox(int screenIndex, PixelSize size, BoxRole role, const std::string& title) override;

  // Handles the compositor's events until done() holds or ms pass.
  void waitFor(const std::function<bool()>& done, int ms);
  MonitorLayout layout() const;
  WaylandOutput* outputAt(int index) const;
  wl_display* display() const { return d_; }
  wl_compositor* compositor() const { return compositor_; }
  wl_shm* shm() const { return shm_; }
  xdg_wm_base* wmBase() const { return wmBase_; }

  // What the protocol's listeners (plain functions) reach.
  static void global(void* self, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t version);
  static void globalRemove(void* self, wl_registry* registry, std::uint32_t name);
  void seatCapabilities(std::uint32_t caps);
  WaylandSurface* surface_ = nullptr;
  double pointerX_ = 0, pointerY_ = 0;

 private:
  std::shared_ptr<SharedScreen> screen(int screenIndex, const std::string& title);
  void addOutput(std::uint32_t name, std::uint32_t version);
  void bindXdgOutput(WaylandOutput& o);
  wl_display* d_;
  wl_registry* registry_ = nullptr;
  wl_compositor* compositor_ = nullptr;
  wl_shm* shm_ = nullptr;
  xdg_wm_base* wmBase_ = nullptr;
  zxdg_output_manager_v1* xdgOutputs_ = nullptr;
  wl_seat* seat_ = nullptr;
  wl_pointer* pointer_ = nullptr;
  wl_keyboard* keyboard_ = nullptr;
  std::vector<std::unique_ptr<WaylandOutput>> outputs_;
  bool monitorsChanged_ = false;
  std::shared_ptr<SharedScreen> screen_;
};

// The display's one surface: a full-screen toplevel while its screen has an output, none while it
// has not (so it never stands on another screen's monitor).
class WaylandSurface final : public Output {
 public:
  WaylandSurface(WaylandServer& s, int screenIndex, std::string title);
  ~WaylandSurface() override;

  cairo_surface_t* image() override { return ring_.drawTarget().image; }
  PixelSize size() const override { return {width_, height_}; }
  bool present(const PixelRect& r) override;
  // Drawn by the compositor, as its frame callbacks tell (not every compositor says which output
  // a surface entered: cage 0.1.4 never does).
  bool onScreen() const override {
    return toplevel_ && configured_ && lastOk_ && drawn_ && (frameDone_ || monotonicMs() - unansweredSinceMs_ < kNotDrawnMs);
  }
  OutputEvents takeEvents() override { return std::exchange(events_, OutputEvents{}); }
  std::string place() override;
  void show() override {}
  void raise() override {}
  std::string describe() const override;
  void willOverwrite(const PixelRect& r) override { ring_.willOverwrite(r); }

  void key() { events_.key = true; }
  void click(double x, double y) { events_.click = Point{x * scale_, y * scale_}; }
  bool owns(wl_surface* s) const { return s && s == surface_; }
  void outputGone(wl_output* o) {
    if (output_ && output_->output == o) output_ = nullptr;
  }

 private:
  ScreenPlacement wanted() const;
  void map(WaylandOutput* output);
  void unmap();
  void resize(int width, int height);
  BufferRing::Buffer allocate();
  static void destroyBuffer(BufferRing::Buffer& b);

  static const xdg_surface_listener kSurfaceListener;
  static const xdg_toplevel_listener kToplevelListener;
  static const wl_buffer_listener kBufferListener;
  static const wl_callback_listener kFrameListener;

  WaylandServer& s_;
  int screenIndex_;
  std::string title_;
  ScreenPlacement placement_;
  WaylandOutput* output_ = nullptr;
  wl_surface* surface_ = nullptr;
  xdg_surface* xdgSurface_ = nullptr;
  xdg_toplevel* toplevel_ = nullptr;
  wl_callback* frame_ = nullptr;
  bool frameDone_ = true;
  bool drawn_ = false;                 // a frame callback came since the surface was made
  std::int64_t unansweredSinceMs_ = 0;  // the first commit the compositor has not answered yet
  bool saidNotDrawn_ = false;
  bool configured_ = false;
  int pendingWidth_ = 0, pendingHeight_ = 0;
  int width_ = 0, height_ = 0, scale_ = 1;
  bool lastOk_ = true;
  OutputEvents events_;
  BufferRing ring_;
};

// ---- the surface ----

const xdg_surface_listener WaylandSurface::kSurfaceListener = {
    .configure =
        [](void* data, xdg_surface* xs, std::uint32_t serial) {
          auto* self = static_cast<WaylandSurface*>(data);
          xdg_surface_ack_configure(xs, serial);
          int w = self->pendingWidth_, h = self->pendingHeight_;
          // No size from the compositor: the output's own.
          if ((w <= 0 || h <= 0) && self->output_) {
            w = self->output_->haveLogical ? self->output_->logical.width : self->output_->modeWidth / self->scale_;
            h = self->output_->haveLogical ? self->output_->logical.height : self->output_->modeHeight / self->scale_;
          }
          self->configured_ = true;
          if (w > 0 && h > 0) self->resize(w * self->scale_, h * self->scale_);
        },
};

const xdg_toplevel_listener WaylandSurface::kToplevelListener = {
    .configure =
        [](void* data, xdg_toplevel*, std::int32_t width, std::int32_t height, wl_array*) {
          auto* self = static_cast<WaylandSurface*>(data);
          self->pendingWidth_ = width;
          self->pendingHeight_ = height;
        },
    .close = [](void* data, xdg_toplevel*) { static_cast<WaylandSurface*>(data)->events_.closed = true; },
    .configure_bounds = [](void*, xdg_toplevel*, std::int32_t, std::int32_t) {},
    .wm_capabilities = [](void*, xdg_toplevel*, wl_array*) {},
};

const wl_buffer_listener WaylandSurface::kBufferListener = {
    .release =
        [](void* data, wl_buffer* b) {
          static_cast<WaylandSurface*>(data)->ring_.released(reinterpret_cast<std::uintptr_t>(b));
        },
};

const wl_callback_listener WaylandSurface::kFrameListener = {
    .done =
        [](void* data, wl_callback* cb, std::uint32_t) {
          auto* self = static_cast<WaylandSurface*>(data);
          wl_callback_destroy(cb);
          if (self->frame_ == cb) self->frame_ = nullptr;
          self->frameDone_ = true;
          self->drawn_ = true;
          self->ring_.shown();
          if (self->saidNotDrawn_) logLine(LogPriority::Notice, "the Wayland compositor draws the display again");
          self->saidNotDrawn_ = false;
        },
};

WaylandSurface::WaylandSurface(WaylandServer& s, int screenIndex, std::string title)
    : s_(s),
      screenIndex_(screenIndex),
      title_(std::move(title)),
      ring_([&s](const std::function<bool()>& done, int ms) { s.waitFor(done, ms); }, [this] { return allocate(); }) {
  placement_ = wanted();
  width_ = placement_.bounds.width;
  height_ = placement_.bounds.height;
  if (placement_.onMonitor) map(s_.outputAt(placement_.monitor));
}

WaylandSurface::~WaylandSurface() {
  unmap();
  ring_.clear(destroyBuffer);
  wl_display_flush(s_.display());
}

ScreenPlacement WaylandSurface::wanted() const { return placeForScreen(screenIndex_, s_.layout()); }

void WaylandSurface::map(WaylandOutput* output) {
  output_ = output;
  scale_ = output ? std::max(1, output->scale) : 1;
  surface_ = wl_compositor_create_surface(s_.compositor());
  xdgSurface_ = xdg_wm_base_get_xdg_surface(s_.wmBase(), surface_);
  xdg_surface_add_listener(xdgSurface_, &kSurfaceListener, this);
  toplevel_ = xdg_surface_get_toplevel(xdgSurface_);
  xdg_toplevel_add_listener(toplevel_, &kToplevelListener, this);
  xdg_toplevel_set_title(toplevel_, title_.c_str());
  xdg_toplevel_set_app_id(toplevel_, "plasma-display");
  xdg_toplevel_set_fullscreen(toplevel_, output ? output->output : nullptr);
  configured_ = false;
  wl_surface_commit(surface_);
  s_.waitFor([this] { return configured_; }, kConfigureWaitMs);
  if (!configured_) logLine("the Wayland compositor did not configure the display's surface within 3 s");
  // Everything drawn so far goes to the new surface whole.
  events_.exposed = true;
}

void WaylandSurface::unmap() {
  if (frame_) wl_callback_destroy(frame_);
  frame_ = nullptr;
  frameDone_ = true;
  if (toplevel_) xdg_toplevel_destroy(toplevel_);
  if (xdgSurface_) xdg_surface_destroy(xdgSurface_);
  if (surface_) wl_surface_destroy(surface_);
  toplevel_ = nullptr;
  xdgSurface_ = nullptr;
  surface_ = nullptr;
  configured_ = false;
  drawn_ = false;
  // A buffer that was attached to the surface is no longer read.
  for (BufferRing::Buffer& b : ring_.buffers()) b.busy = false;
}

void WaylandSurface::resize(int width, int height) {
  if (width == width_ && height == height_ && !ring_.empty()) return;
  const bool changed = width != width_ || height != height_;
  width_ = width;
  height_ = height;
  if (!changed) return;
  ring_.clear(destroyBuffer);
  events_.resized = true;
}

BufferRing::Buffer WaylandSurface::allocate() {
  BufferRing::Buffer b;
  const int stride = width_ * 4;
  const std::size_t bytes = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height_);
  const int fd = memfd_create("plasma-display-buffer", MFD_CLOEXEC);
  if (fd < 0) return b;
  if (ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
    close(fd);
    return b;
  }
  void* pixels = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (pixels == MAP_FAILED) {
    close(fd);
    return b;
  }
  wl_shm_pool* pool = wl_shm_create_pool(s_.shm(), fd, static_cast<std::int32_t>(bytes));
  wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, width_, height_, stride, WL_SHM_FORMAT_XRGB8888);
  wl_shm_pool_destroy(pool);
  close(fd);
  wl_buffer_add_listener(buffer, &kBufferListener, this);
  b.image = imageOverMapping(pixels, width_, height_, stride);
  b.handle = reinterpret_cast<std::uintptr_t>(buffer);
  return b;
}

void WaylandSurface::destroyBuffer(BufferRing::Buffer& b) {
  if (!b.image) return;
  dropImageOverMapping(b.image);
  wl_buffer_destroy(reinterpret_cast<wl_buffer*>(b.handle));
}

bool WaylandSurface::present(const PixelRect& r) {
  if (!toplevel_ || !configured_) {
    lastOk_ = false;
    return false;
  }
  if (!frameDone_) s_.waitFor([this] { return frameDone_; }, kFrameWaitMs);
  if (!frameDone_ && !saidNotDrawn_ && monotonicMs() - unansweredSinceMs_ >= kNotDrawnMs) {
    logLine("the Wayland compositor has not drawn the display for a second: it is hidden, its output is off, or "
            "the compositor shows nothing on a screen without keyboard or mouse (weston's kiosk-shell before 11)");
    saidNotDrawn_ = true;
  }
  if (frameDone_) unansweredSinceMs_ = monotonicMs();
  BufferRing::Buffer& b = ring_.presented(r);
  cairo_surface_flush(b.image);
  wl_surface_attach(surface_, reinterpret_cast<wl_buffer*>(b.handle), 0, 0);
  wl_surface_set_buffer_scale(surface_, scale_);
  wl_surface_damage_buffer(surface_, r.left, r.top, r.width(), r.height());
  if (frame_) wl_callback_destroy(frame_);
  frame_ = wl_surface_frame(surface_);
  wl_callback_add_listener(frame_, &kFrameListener, this);
  frameDone_ = false;
  wl_surface_commit(surface_);
  lastOk_ = wl_display_flush(s_.display()) >= 0 || errno == EAGAIN;
  lastOk_ = lastOk_ && wl_display_get_error(s_.display()) == 0;
  return lastOk_;
}

std::string WaylandSurface::place() {
  const ScreenPlacement p = wanted();
  WaylandOutput* out = p.onMonitor ? s_.outputAt(p.monitor) : nullptr;
  const bool same = p.bounds == placement_.bounds && p.onMonitor == placement_.onMonitor && out == output_;
  placement_ = p;
  if (same && (toplevel_ != nullptr) == (out != nullptr)) return "";
  if (!out) {
    unmap();
    output_ = nullptr;
  } else if (!toplevel_ || std::max(1, out->scale) != scale_) {
    unmap();
    map(out);
  } else {
    output_ = out;
    xdg_toplevel_set_fullscreen(toplevel_, out->output);
    wl_surface_commit(surface_);
    wl_display_flush(s_.display());
  }
  const std::string screen = "screen " + std::to_string(screenIndex_);
  if (!out) return screen + " has no monitor (none holds " + std::to_string(p.bounds.x) + "," +
                   std::to_string(p.bounds.y) + "): the display is off the screen until one does";
  return screen + " is the monitor " + plasma::describe(p.bounds);
}

std::string WaylandSurface::describe() const {
  std::string on = output_ ? (output_->label.empty() ? "an output" : "output " + output_->label) : "no output yet";
  return "surface " + std::to_string(width_) + "x" + std::to_string(height_) + " px at " +
         std::to_string(placement_.bounds.x) + "," + std::to_string(placement_.bounds.y) + ", full screen on " + on +
         ", shared-memory buffers, scale " + std::to_string(scale_);
}

// ---- the server ----

const wl_output_listener kOutputListener = {
    .geometry =
        [](void* data, wl_output*, std::int32_t x, std::int32_t y, std::int32_t, std::int32_t, std::int32_t, const char*,
           const char*, std::int32_t) {
          auto* o = static_cast<WaylandOutput*>(data);
          o->geometryX = x;
          o->geometryY = y;
        },
    .mode =
        [](void* data, wl_output*, std::uint32_t flags, std::int32_t w, std::int32_t h, std::int32_t) {
          auto* o = static_cast<WaylandOutput*>(data);
          if (flags & WL_OUTPUT_MODE_CURRENT) o->modeWidth = w, o->modeHeight = h;
        },
    .done = [](void*, wl_output*) {},
    .scale = [](void* data, wl_output*, std::int32_t factor) { static_cast<WaylandOutput*>(data)->scale = factor; },
    .name = [](void* data, wl_output*, const char* name) { static_cast<WaylandOutput*>(data)->label = name; },
    .description = [](void*, wl_output*, const char*) {},
};

const zxdg_output_v1_listener kXdgOutputListener = {
    .logical_position =
        [](void* data, zxdg_output_v1*, std::int32_t x, std::int32_t y) {
          auto* o = static_cast<WaylandOutput*>(data);
          o->logical.x = x;
          o->logical.y = y;
          o->haveLogical = true;
        },
    .logical_size =
        [](void* data, zxdg_output_v1*, std::int32_t w, std::int32_t h) {
          auto* o = static_cast<WaylandOutput*>(data);
          o->logical.width = w;
          o->logical.height = h;
        },
    .done = [](void*, zxdg_output_v1*) {},
    .name =
        [](void* data, zxdg_output_v1*, const char* name) {
          auto* o = static_cast<WaylandOutput*>(data);
          if (o->label.empty()) o->label = name;
        },
    .description = [](void*, zxdg_output_v1*, const char*) {},
};

const xdg_wm_base_listener kWmBaseListener = {
    .ping = [](void*, xdg_wm_base* wm, std::uint32_t serial) { xdg_wm_base_pong(wm, serial); },
};

const wl_registry_listener kRegistryListener = {
    .global = [](void* self, wl_registry* r, std::uint32_t name, const char* interface,
                 std::uint32_t version) { WaylandServer::global(self, r, name, interface, version); },
    .global_remove = [](void* self, wl_registry* r,
                        std::uint32_t name) { WaylandServer::globalRemove(self, r, name); },
};

const wl_pointer_listener kPointerListener = {
    .enter =
        [](void* data, wl_pointer* p, std::uint32_t serial, wl_surface*, wl_fixed_t x, wl_fixed_t y) {
          auto* s = static_cast<WaylandServer*>(data);
          // No pointer over the display.
          wl_pointer_set_cursor(p, serial, nullptr, 0, 0);
          s->pointerX_ = wl_fixed_to_double(x);
          s->pointerY_ = wl_fixed_to_double(y);
        },
    .leave = [](void*, wl_pointer*, std::uint32_t, wl_surface*) {},
    .motion =
        [](void* data, wl_pointer*, std::uint32_t, wl_fixed_t x, wl_fixed_t y) {
          auto* s = static_cast<WaylandServer*>(data);
          s->pointerX_ = wl_fixed_to_double(x);
          s->pointerY_ = wl_fixed_to_double(y);
        },
    .button =
        [](void* data, wl_pointer*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t state) {
          auto* s = static_cast<WaylandServer*>(data);
          if (state == WL_POINTER_BUTTON_STATE_PRESSED && s->surface_) s->surface_->click(s->pointerX_, s->pointerY_);
        },
    .axis = [](void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) {},
    .frame = [](void*, wl_pointer*) {},
    .axis_source = [](void*, wl_pointer*, std::uint32_t) {},
    .axis_stop = [](void*, wl_pointer*, std::uint32_t, std::uint32_t) {},
    .axis_discrete = [](void*, wl_pointer*, std::uint32_t, std::int32_t) {},
    .axis_value120 = [](void*, wl_pointer*, std::uint32_t, std::int32_t) {},
};

const wl_keyboard_listener kKeyboardListener = {
    .keymap = [](void*, wl_keyboard*, std::uint32_t, std::int32_t fd, std::uint32_t) { close(fd); },
    .enter = [](void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {},
    .leave = [](void*, wl_keyboard*, std::uint32_t, wl_surface*) {},
    .key =
        [](void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t state) {
          auto* s = static_cast<WaylandServer*>(data);
          if (state == WL_KEYBOARD_KEY_STATE_PRESSED && s->surface_) s->surface_->key();
        },
    .modifiers = [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {},
    .repeat_info = [](void*, wl_keyboard*, std::int32_t, std::int32_t) {},
};

const wl_seat_listener kSeatListener = {
    .capabilities = [](void* data, wl_seat*,
                       std::uint32_t caps) { static_cast<WaylandServer*>(data)->seatCapabilities(caps); },
    .name = [](void*, wl_seat*, const char*) {},
};

WaylandServer::WaylandServer(wl_display* d) : d_(d) {
  registry_ = wl_display_get_registry(d_);
  wl_registry_add_listener(registry_, &kRegistryListener, this);
}

WaylandServer::~WaylandServer() {
  screen_.reset();
  if (pointer_) wl_pointer_destroy(pointer_);
  if (keyboard_) wl_keyboard_destroy(keyboard_);
  if (seat_) wl_seat_destroy(seat_);
  for (auto& o : outputs_) {
    if (o->xdg) zxdg_output_v1_destroy(o->xdg);
    wl_output_destroy(o->output);
  }
  if (xdgOutputs_) zxdg_output_manager_v1_destroy(xdgOutputs_);
  if (wmBase_) xdg_wm_base_destroy(wmBase_);
  if (shm_) wl_shm_destroy(shm_);
  if (compositor_) wl_compositor_destroy(compositor_);
  wl_registry_destroy(registry_);
  wl_display_flush(d_);
  wl_display_disconnect(d_);
}

bool WaylandServer::ready(std::string* why) {
  // The globals, then what each output says of itself.
  if (wl_display_roundtrip(d_) < 0 || wl_display_roundtrip(d_) < 0) {
    if (why) *why = "the compositor broke the connection at start";
    return false;
  }
  const char* missing = !compositor_ ? "wl_compositor" : !shm_ ? "wl_shm" : !wmBase_ ? "xdg_wm_base" : nullptr;
  if (missing) {
    if (why) *why = std::string("the compositor offers no ") + missing;
    return false;
  }
  return true;
}

void WaylandServer::global(void* self, wl_registry* r, std::uint32_t name, const char* interface, std::uint32_t version) {
  auto* s = static_cast<WaylandServer*>(self);
  const auto bind = [&](const wl_interface* i, std::uint32_t want) {
    return wl_registry_bind(r, name, i, std::min(version, want));
  };
  if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
    s->compositor_ = static_cast<wl_compositor*>(bind(&wl_compositor_interface, 4));
  } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
    s->shm_ = static_cast<wl_shm*>(bind(&wl_shm_interface, 1));
  } else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0) {
    s->wmBase_ = static_cast<xdg_wm_base*>(bind(&xdg_wm_base_interface, 1));
    xdg_wm_base_add_listener(s->wmBase_, &kWmBaseListener, s);
  } else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0) {
    s->xdgOutputs_ = static_cast<zxdg_output_manager_v1*>(bind(&zxdg_output_manager_v1_interface, 3));
    for (auto& o : s->outputs_) s->bindXdgOutput(*o);
  } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
    s->addOutput(name, version);
  } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !s->seat_) {
    s->seat_ = static_cast<wl_seat*>(bind(&wl_seat_interface, 5));
    wl_seat_add_listener(s->seat_, &kSeatListener, s);
  }
}

void WaylandServer::addOutput(std::uint32_t name, std::uint32_t version) {
  auto o = std::make_unique<WaylandOutput>();
  o->name = name;
  o->output = static_cast<wl_output*>(wl_registry_bind(registry_, name, &wl_output_interface, std::min(version, 4u)));
  wl_output_add_listener(o->output, &kOutputListener, o.get());
  bindXdgOutput(*o);
  outputs_.push_back(std::move(o));
  monitorsChanged_ = true;
}

void WaylandServer::bindXdgOutput(WaylandOutput& o) {
  if (!xdgOutputs_ || o.xdg) return;
  o.xdg = zxdg_output_manager_v1_get_xdg_output(xdgOutputs_, o.output);
  zxdg_output_v1_add_listener(o.xdg, &kXdgOutputListener, &o);
}

void WaylandServer::globalRemove(void* self, wl_registry*, std::uint32_t name) {
  auto* s = static_cast<WaylandServer*>(self);
  for (auto it = s->outputs_.begin(); it != s->outputs_.end(); ++it) {
    if ((*it)->name != name) continue;
    if (s->surface_) s->surface_->outputGone((*it)->output);
    if ((*it)->xdg) zxdg_output_v1_destroy((*it)->xdg);
    wl_output_destroy((*it)->output);
    // The surface let go of it above; it is placed again when the window next looks.
    s->outputs_.erase(it);
    s->monitorsChanged_ = true;
    return;
  }
}

void WaylandServer::seatCapabilities(std::uint32_t caps) {
  const bool pointer = caps & WL_SEAT_CAPABILITY_POINTER, keyboard = caps & WL_SEAT_CAPABILITY_KEYBOARD;
  if (pointer && !pointer_) {
    pointer_ = wl_seat_get_pointer(seat_);
    wl_pointer_add_listener(pointer_, &kPointerListener, this);
  } else if (!pointer && pointer_) {
    wl_pointer_destroy(pointer_);
    pointer_ = nullptr;
  }
  if (keyboard && !keyboard_) {
    keyboard_ = wl_seat_get_keyboard(seat_);
    wl_keyboard_add_listener(keyboard_, &kKeyboardListener, this);
  } else if (!keyboard && keyboard_) {
    wl_keyboard_destroy(keyboard_);
    keyboard_ = nullptr;
  }
}

MonitorLayout WaylandServer::layout() const {
  MonitorLayout layout;
  for (const auto& o : outputs_) {
    if (o->haveLogical && o->logical.width > 0) {
      layout.monitors.push_back(o->logical);
    } else {
      const int scale = std::max(1, o->scale);
      layout.monitors.push_back({o->geometryX, o->geometryY, o->modeWidth / scale, o->modeHeight / scale});
    }
  }
  layout.primary = primaryByPosition(layout.monitors);
  return layout;
}

WaylandOutput* WaylandServer::outputAt(int index) const {
  if (index < 0 || index >= static_cast<int>(outputs_.size())) return nullptr;
  return outputs_[static_cast<std::size_t>(index)].get();
}

void WaylandServer::waitFor(const std::function<bool()>& done, int ms) {
  const std::int64_t end = monotonicMs() + ms;
  const int fd = wl_display_get_fd(d_);
  while (true) {
    wl_display_dispatch_pending(d_);
    if (done() || wl_display_get_error(d_) != 0) return;
    wl_display_flush(d_);
    const std::int64_t left = end - monotonicMs();
    if (left <= 0) return;
    if (wl_display_prepare_read(d_) != 0) continue;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) > 0) {
      wl_display_read_events(d_);
    } else {
      wl_display_cancel_read(d_);
    }
  }
}

bool WaylandServer::dispatch() {
  if (wl_display_prepare_read(d_) == 0) {
    pollfd p{wl_display_get_fd(d_), POLLIN, 0};
    if (poll(&p, 1, 0) > 0) {
      wl_display_read_events(d_);
    } else {
      wl_display_cancel_read(d_);
    }
  }
  wl_display_dispatch_pending(d_);
  return wl_display_get_error(d_) == 0;
}

std::shared_ptr<SharedScreen> WaylandServer::screen(int screenIndex, const std::string& title) {
  if (!screen_) {
    auto surface = std::make_shared<WaylandSurface>(*this, screenIndex, title);
    surface_ = surface.get();
    screen_ = std::make_shared<SharedScreen>();
    screen_->surface = std::move(surface);
  }
  return screen_;
}

std::unique_ptr<Output> WaylandServer::openScreen(int screenIndex, const std::string& title) {
  return pageOnSharedScreen(screen(screenIndex, title));
}

std::unique_ptr<Output> WaylandServer::openBox(int screenIndex, PixelSize size, BoxRole, const std::string& title) {
  return boxOnSharedScreen(screen(screenIndex, title), size);
}

}  // namespace

std::unique_ptr<DisplayServer> openWaylandServer(std::string* why) {
  wl_display* d = wl_display_connect(nullptr);
  if (!d) {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (why) *why = std::string("cannot connect to the Wayland compositor (WAYLAND_DISPLAY ") + (name ? name : "unset") + ")";
    return nullptr;
  }
  auto server = std::make_unique<WaylandServer>(d);
  if (!server->ready(why)) return nullptr;
  return server;
}

}  // namespace plasma
