// X11 through xcb: one window per output, its retained image in memory shared with the X server
// (MIT-SHM), so a present is one request per changed rectangle; full screen through the window
// manager's own protocol (EWMH), so panels stay under the page; placed by RandR monitors.
#include <sys/mman.h>
#include <sys/shm.h>
#include <time.h>
#include <unistd.h>
#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>
#include <xcb/xinerama.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/picture_decoder.h"
#include "plasma/artwork.h"
#include "present/display_server.h"
#include "present/monitors.h"
#include "support/log.h"

namespace plasma {
namespace {

std::int64_t monotonicUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t{ts.tv_sec} * 1000000 + ts.tv_nsec / 1000;
}

// One refresh per panel frame, so every wipe step is seen. A frame that comes up to this much
// early is not held back: the event loop paces the scroller itself, a little ahead of the mark.
constexpr std::int64_t kFrameUs = 16667;
constexpr std::int64_t kFrameSlackUs = 1500;
// Rows of the band a scroll's new rows go through: one round trip to the server per this many.
constexpr int kBandRows = 64;

// Glyphs of the X cursor font.
constexpr std::uint16_t kWatchGlyph = 150;
constexpr std::uint16_t kArrowGlyph = 68;

enum Atom {
  kWmProtocols, kWmDeleteWindow, kNetWmName, kUtf8String, kNetWmState, kNetWmStateFullscreen,
  kNetWmStateSkipTaskbar, kNetWmStateSkipPager, kNetWmStateAbove, kNetWmFullscreenMonitors, kNetWmWindowType,
  kNetWmWindowTypeNormal, kNetWmWindowTypeSplash, kNetWmWindowTypeDialog, kMotifWmHints, kNetActiveWindow,
  kNetWmIcon, kNetWmPid, kNetSupportingWmCheck, kAtomCount
};
constexpr const char* kAtomNames[kAtomCount] = {
    "WM_PROTOCOLS", "WM_DELETE_WINDOW", "_NET_WM_NAME", "UTF8_STRING", "_NET_WM_STATE", "_NET_WM_STATE_FULLSCREEN",
    "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER", "_NET_WM_STATE_ABOVE", "_NET_WM_FULLSCREEN_MONITORS",
    "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_NORMAL", "_NET_WM_WINDOW_TYPE_SPLASH", "_NET_WM_WINDOW_TYPE_DIALOG",
    "_MOTIF_WM_HINTS", "_NET_ACTIVE_WINDOW", "_NET_WM_ICON", "_NET_WM_PID", "_NET_SUPPORTING_WM_CHECK"};

template <typename T>
struct Reply {
  T* p = nullptr;
  explicit Reply(T* r) : p(r) {}
  ~Reply() { std::free(p); }
  Reply(const Reply&) = delete;
  Reply& operator=(const Reply&) = delete;
  T* operator->() const { return p; }
  explicit operator bool() const { return p != nullptr; }
};

class X11Window;

class X11Server final : public DisplayServer {
 public:
  explicit X11Server(xcb_connection_t* c, int screenNumber);
  ~X11Server() override;
  const char* name() const override { return "x11"; }
  std::vector<int> fds() const override { return {xcb_get_file_descriptor(c_)}; }
  bool dispatch() override;
  void flush() override { xcb_flush(c_); }
  bool takeMonitorsChanged() override { return std::exchange(monitorsChanged_, false); }
  std::unique_ptr<Output> openScreen(int screenIndex, const std::string& title) override;
  std::unique_ptr<Output> openBox(int screenIndex, PixelSize size, BoxRole role, const std::string& title) override;

  xcb_connection_t* c() const { return c_; }
  xcb_screen_t* root() const { return screen_; }
  xcb_atom_t atom(Atom a) const { return atoms_[a]; }
  bool shm() const { return shm_; }
  bool shmFd() const { return shmFd_; }
  // The monitors as last read; read again after the server said they changed.
  const MonitorLayout& monitors();
  // The index the window manager gives this monitor in _NET_WM_FULLSCREEN_MONITORS (Xinerama's).
  std::optional<std::uint32_t> xineramaIndex(const MonitorPlacement& m) const;
  // True while a window manager that speaks EWMH runs.
  bool windowManager() const;
  xcb_cursor_t cursor(BoxRole role, bool page);
  void add(X11Window* w) { windows_.push_back(w); }
  void remove(X11Window* w) { std::erase(windows_, w); }

 private:
  void handle(xcb_generic_event_t* e);
  xcb_connection_t* c_;
  xcb_screen_t* screen_ = nullptr;
  xcb_atom_t atoms_[kAtomCount]{};
  bool shm_ = false;
  bool shmFd_ = false;
  bool randrMonitors_ = false;
  std::uint8_t randrEventBase_ = 0;
  bool monitorsChanged_ = false;
  bool layoutStale_ = true;
  MonitorLayout layout_;
  xcb_cursor_t blank_ = XCB_NONE, watch_ = XCB_NONE, arrow_ = XCB_NONE;
  std::vector<X11Window*> windows_;
};

// The retained image: shared memory the X server reads from (a memfd, else System V), or plain
// memory sent in requests where the server is on another machine.
struct SharedImage {
  cairo_surface_t* image = nullptr;
  unsigned char* pixels = nullptr;
  std::size_t bytes = 0;
  xcb_shm_seg_t seg = 0;
  bool mapped = false;  // pixels came from mmap (memfd) or shmat
  bool sysv = false;

  bool make(X11Server& s, int width, int height) {
    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, width);
    bytes = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
    if (s.shm() && s.shmFd()) {
      const int fd = memfd_create("plasma-display", MFD_CLOEXEC);
      if (fd >= 0 && ftruncate(fd, static_cast<off_t>(bytes)) == 0) {
        void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (p != MAP_FAILED) {
          seg = xcb_generate_id(s.c());
          // xcb closes the descriptor it sends.
          if (!xcb_request_check(s.c(), xcb_shm_attach_fd_checked(s.c(), seg, dup(fd), 0))) {
            pixels = static_cast<unsigned char*>(p);
            mapped = true;
          } else {
            munmap(p, bytes);
          }
        }
      }
      if (fd >= 0) close(fd);
    }
    if (!pixels && s.shm()) {
      const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
      if (id >= 0) {
        void* p = shmat(id, nullptr, 0);
        if (p != reinterpret_cast<void*>(-1)) {
          seg = xcb_generate_id(s.c());
          if (!xcb_request_check(s.c(), xcb_shm_attach_checked(s.c(), seg, static_cast<std::uint32_t>(id), 0))) {
            pixels = static_cast<unsigned char*>(p);
            mapped = sysv = true;
          } else {
            shmdt(p);
          }
        }
        shmctl(id, IPC_RMID, nullptr);  // gone once both sides let go
      }
    }
    if (!pixels) pixels = static_cast<unsigned char*>(std::calloc(bytes, 1));
    if (!pixels) return false;
    std::memset(pixels, 0, bytes);
    image = cairo_image_surface_create_for_data(pixels, CAIRO_FORMAT_RGB24, width, height, stride);
    return cairo_surface_status(image) == CAIRO_STATUS_SUCCESS;
  }

  void drop(X11Server& s) {
    if (image) cairo_surface_destroy(image);
    image = nullptr;
    if (mapped) {
      xcb_shm_detach(s.c(), seg);
      if (sysv) shmdt(pixels);
      else munmap(pixels, bytes);
    } else {
      std::free(pixels);
    }
    pixels = nullptr;
    mapped = sysv = false;
  }
};

class X11Window final : public Output {
 public:
  X11Window(X11Server& s, int screenIndex, bool page, PixelSize boxSize, BoxRole role, const std::string& title)
      : s_(s), screenIndex_(screenIndex), page_(page), boxSize_(boxSize) {
    xcb_connection_t* c = s.c();
    window_ = xcb_generate_id(c);
    placement_ = wanted();
    visible_ = visibleOn(placement_.bounds, s.monitors());
    const MonitorPlacement& p = placement_.bounds;
    const std::uint32_t events = XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY |
                                 XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_BUTTON_PRESS;
    const std::uint32_t values[] = {s.root()->black_pixel, events, s.cursor(role, page)};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, s.root()->root, static_cast<std::int16_t>(p.x),
                      static_cast<std::int16_t>(p.y), static_cast<std::uint16_t>(p.width),
                      static_cast<std::uint16_t>(p.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, s.root()->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK | XCB_CW_CURSOR, values);
    gc_ = xcb_generate_id(c);
    // No GraphicsExpose for a move: a full-screen window has nothing over it, and a composited one
    // keeps all its pixels; were a window to cover the strip for a moment, the rows moving out
    // from under it are drawn again when it goes (Expose).
    const std::uint32_t gcValues[] = {0};
    xcb_create_gc(c, gc_, window_, XCB_GC_GRAPHICS_EXPOSURES, gcValues);
    describeToWindowManager(title, role);
    if (!image_.make(s, p.width, p.height)) throw std::runtime_error("cannot allocate the window's image");
    s.add(this);
    if (!page_) show();
  }

  ~X11Window() override {
    s_.remove(this);
    image_.drop(s_);
    band_.drop(s_);
    xcb_free_gc(s_.c(), gc_);
    xcb_destroy_window(s_.c(), window_);
    xcb_flush(s_.c());
  }

  cairo_surface_t* image() override { return image_.image; }
  PixelSize size() const override {
    return {cairo_image_surface_get_width(image_.image), cairo_image_surface_get_height(image_.image)};
  }

  bool present(const PixelRect& r) override {
    pace();
    return finish(put(image_, r, r.left, r.top));
  }

  bool movesPixels() const override { return true; }

  bool presentScroll(const PixelRect& a, int rows, cairo_surface_t* from, int fromX, int fromY) override {
    // The rows that come into view go through a band of their own, a slot further each time, so
    // the server can read them while the next are written and one round trip serves many frames.
    if (!band_.image || cairo_image_surface_get_width(band_.image) != a.width() || rows > kBandRows) {
      band_.drop(s_);
      if (!band_.make(s_, a.width(), std::max(rows, kBandRows))) return false;
      bandRow_ = 0;
    }
    if (bandRow_ + rows > cairo_image_surface_get_height(band_.image)) {
      // Every slot has been sent: the server has read them all once it answers.
      lastOk_ = finish(xcb_get_input_focus(s_.c()).sequence);
      bandRow_ = 0;
    }
    cairo_t* cr = cairo_create(band_.image);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, from, -fromX, bandRow_ - fromY);
    cairo_rectangle(cr, 0, bandRow_, a.width(), rows);
    cairo_fill(cr);
    cairo_destroy(cr);
    cairo_surface_flush(band_.image);
    // The scroller's steps come one a frame from the event loop: no waiting here.
    lastPresentUs_ = monotonicUs();
    // The server moves what it shows; only the rows that came into view travel. Errors come back
    // as events (see the server's dispatch), so no frame waits for an answer.
    xcb_copy_area(s_.c(), window_, window_, gc_, static_cast<std::int16_t>(a.left),
                  static_cast<std::int16_t>(a.top + rows), static_cast<std::int16_t>(a.left),
                  static_cast<std::int16_t>(a.top), static_cast<std::uint16_t>(a.width()),
                  static_cast<std::uint16_t>(a.height() - rows));
    xcb_shm_put_image(s_.c(), window_, gc_, static_cast<std::uint16_t>(a.width()),
                      static_cast<std::uint16_t>(cairo_image_surface_get_height(band_.image)), 0,
                      static_cast<std::uint16_t>(bandRow_), static_cast<std::uint16_t>(a.width()),
                      static_cast<std::uint16_t>(rows), static_cast<std::int16_t>(a.left),
                      static_cast<std::int16_t>(a.bottom - rows), s_.root()->root_depth, XCB_IMAGE_FORMAT_Z_PIXMAP,
                      0, band_.seg, 0);
    xcb_flush(s_.c());
    bandRow_ += rows;
    return lastOk_ && !xcb_connection_has_error(s_.c());
  }

  void failed() { lastOk_ = false; }

  bool onScreen() const override { return mapped_ && lastOk_ && visible_; }
  OutputEvents takeEvents() override { return std::exchange(events_, OutputEvents{}); }

  std::string place() override {
    const ScreenPlacement p = wanted();
    const bool visible = visibleOn(p.bounds, s_.monitors());
    if (p.bounds == placement_.bounds && visible == visible_) return "";
    placement_ = p;
    visible_ = visible;
    const std::uint32_t geometry[] = {static_cast<std::uint32_t>(p.bounds.x), static_cast<std::uint32_t>(p.bounds.y),
                                      static_cast<std::uint32_t>(p.bounds.width),
                                      static_cast<std::uint32_t>(p.bounds.height)};
    xcb_configure_window(s_.c(), window_,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
                         geometry);
    if (page_ && mapped_) askFullscreenMonitor();
    follow(p.bounds.width, p.bounds.height);
    xcb_flush(s_.c());
    if (!page_) return "";
    return where();
  }

  void show() override {
    xcb_map_window(s_.c(), window_);
    if (page_) askFullscreenMonitor();
    xcb_flush(s_.c());
  }

  void raise() override {
    xcb_map_window(s_.c(), window_);
    const std::uint32_t above[] = {XCB_STACK_MODE_ABOVE};
    xcb_configure_window(s_.c(), window_, XCB_CONFIG_WINDOW_STACK_MODE, above);
    sendToWindowManager(s_.atom(kNetActiveWindow), {1, XCB_CURRENT_TIME, 0, 0, 0});
    xcb_flush(s_.c());
  }

  std::string describe() const override {
    const PixelSize sz = size();
    return "window " + std::to_string(sz.width) + "x" + std::to_string(sz.height) + " px at " +
           std::to_string(placement_.bounds.x) + "," + std::to_string(placement_.bounds.y) +
           (image_.mapped ? ", shared memory" : ", no shared memory") +
           (s_.windowManager() ? ", full screen through the window manager" : ", no window manager");
  }

  std::string where() const {
    const std::string screen = "screen " + std::to_string(screenIndex_);
    if (placement_.onMonitor) return screen + " is the monitor " + plasma::describe(placement_.bounds);
    return screen + " has no monitor (none holds " + std::to_string(placement_.bounds.x) + "," +
           std::to_string(placement_.bounds.y) + "): the window stands at " + plasma::describe(placement_.bounds);
  }

  // ---- events, from the server ----
  xcb_window_t id() const { return window_; }
  void exposed() { events_.exposed = true; }
  void mapped(bool on) {
    mapped_ = on;
    if (on) events_.exposed = true;
  }
  void configured(int width, int height) { follow(width, height); }
  void closed() { events_.closed = true; }
  void key() { events_.key = true; }
  void click(int x, int y) { events_.click = Point{static_cast<double>(x), static_cast<double>(y)}; }

 private:
  ScreenPlacement wanted() const {
    const MonitorLayout layout = s_.monitors();
    ScreenPlacement p = placeForScreen(screenIndex_, layout);
    if (!page_) {
      // A box stands in the middle of its monitor.
      const MonitorPlacement m = p.bounds;
      p.bounds = {m.x + (m.width - boxSize_.width) / 2, m.y + (m.height - boxSize_.height) / 2, boxSize_.width,
                  boxSize_.height};
    }
    return p;
  }

  // The image follows the window's size: black at the new size, and the page is painted again.
  void follow(int width, int height) {
    if (width <= 0 || height <= 0 || (width == size().width && height == size().height)) return;
    if (!page_) return;  // a box keeps its picture's size
    image_.drop(s_);
    if (!image_.make(s_, width, height)) throw std::runtime_error("cannot allocate the window's image");
    events_.resized = true;
  }

  void describeToWindowManager(const std::string& title, BoxRole role) {
    xcb_connection_t* c = s_.c();
    const auto set = [&](xcb_atom_t property, xcb_atom_t type, int format, std::uint32_t count, const void* data) {
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, window_, property, type, static_cast<std::uint8_t>(format), count,
                          data);
    };
    set(XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, static_cast<std::uint32_t>(title.size()), title.data());
    set(s_.atom(kNetWmName), s_.atom(kUtf8String), 8, static_cast<std::uint32_t>(title.size()), title.data());
    static constexpr char kClass[] = "plasma-display\0Plasma-display";
    set(XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, sizeof kClass, kClass);
    const xcb_atom_t protocols[] = {s_.atom(kWmDeleteWindow)};
    set(s_.atom(kWmProtocols), XCB_ATOM_ATOM, 32, 1, protocols);
    const std::uint32_t pid = static_cast<std::uint32_t>(getpid());
    set(s_.atom(kNetWmPid), XCB_ATOM_CARDINAL, 32, 1, &pid);
    // WM_HINTS: takes input (so a window manager gives it focus and with it the full-screen layer
    // above the panels), starts in the normal state.
    const std::uint32_t hints[9] = {1 | 2, 1, 1, 0, 0, 0, 0, 0, 0};
    set(XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32, 9, hints);
    // WM_NORMAL_HINTS: the position and size are the program's own, so a window manager keeps the
    // window on its monitor; a box has a fixed size.
    std::uint32_t normal[18] = {};
    const MonitorPlacement& p = placement_.bounds;
    normal[0] = 1 | 2 | 4 | 8 | (page_ ? 0 : 16 | 32);  // USPosition USSize PPosition PSize [PMinSize PMaxSize]
    normal[1] = static_cast<std::uint32_t>(p.x), normal[2] = static_cast<std::uint32_t>(p.y);
    normal[3] = static_cast<std::uint32_t>(p.width), normal[4] = static_cast<std::uint32_t>(p.height);
    normal[5] = normal[7] = static_cast<std::uint32_t>(p.width);
    normal[6] = normal[8] = static_cast<std::uint32_t>(p.height);
    set(XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32, 18, normal);
    // No frame and no title bar (Motif's decorations hint, which every common window manager reads).
    const std::uint32_t motif[5] = {2, 0, 0, 0, 0};
    set(s_.atom(kMotifWmHints), s_.atom(kMotifWmHints), 32, 5, motif);
    const xcb_atom_t type = page_ ? s_.atom(kNetWmWindowTypeNormal)
                                  : s_.atom(role == BoxRole::Splash ? kNetWmWindowTypeSplash : kNetWmWindowTypeDialog);
    set(s_.atom(kNetWmWindowType), XCB_ATOM_ATOM, 32, 1, &type);
    std::vector<xcb_atom_t> state = {s_.atom(kNetWmStateSkipTaskbar), s_.atom(kNetWmStateSkipPager)};
    if (page_) state.push_back(s_.atom(kNetWmStateFullscreen));
    else state.push_back(s_.atom(kNetWmStateAbove));
    set(s_.atom(kNetWmState), XCB_ATOM_ATOM, 32, static_cast<std::uint32_t>(state.size()), state.data());
    setIcon();
  }

  void setIcon() {
    const artwork::Blob icon = artwork::find("icon.bmp");
    if (icon.empty()) return;
    try {
      const auto picture = decodePicture(icon.data, icon.size, "icon.bmp");
      cairo_surface_t* img = picture->cairo();
      cairo_surface_flush(img);
      const int w = cairo_image_surface_get_width(img), h = cairo_image_surface_get_height(img);
      const int stride = cairo_image_surface_get_stride(img);
      const bool alpha = cairo_image_surface_get_format(img) == CAIRO_FORMAT_ARGB32;
      std::vector<std::uint32_t> data = {static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h)};
      for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(img) + y * stride);
        for (int x = 0; x < w; ++x) data.push_back(alpha ? row[x] : row[x] | 0xff000000u);
      }
      xcb_change_property(s_.c(), XCB_PROP_MODE_REPLACE, window_, s_.atom(kNetWmIcon), XCB_ATOM_CARDINAL, 32,
                          static_cast<std::uint32_t>(data.size()), data.data());
    } catch (const std::exception&) {
      // An icon is only for a window list; none is shown without it.
    }
  }

  void sendToWindowManager(xcb_atom_t type, std::array<std::uint32_t, 5> data) {
    xcb_client_message_event_t e{};
    e.response_type = XCB_CLIENT_MESSAGE;
    e.format = 32;
    e.window = window_;
    e.type = type;
    for (std::size_t i = 0; i < data.size(); ++i) e.data.data32[i] = data[i];
    xcb_send_event(s_.c(), 0, s_.root()->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&e));
  }

  // Full screen on the monitor of the screen, not the one the window manager would pick (it takes
  // the monitor under most of the window, or the one with the pointer).
  void askFullscreenMonitor() {
    if (!placement_.onMonitor) return;
    if (const auto index = s_.xineramaIndex(placement_.bounds)) {
      sendToWindowManager(s_.atom(kNetWmFullscreenMonitors), {*index, *index, *index, *index, 1});
    }
    // _NET_WM_STATE_ADD of full screen, for a window manager that read the state before mapping but
    // lost it (it is harmless where it took it).
    sendToWindowManager(s_.atom(kNetWmState), {1, s_.atom(kNetWmStateFullscreen), 0, 1, 0});
  }

  // One frame per panel refresh, so every wipe step is seen; frames are counted from the start of
  // each present, so a present's own time does not lengthen the frame.
  void pace() {
    const std::int64_t now = monotonicUs();
    if (now - lastPresentUs_ < kFrameUs - kFrameSlackUs) {
      const std::int64_t waitUs = kFrameUs - (now - lastPresentUs_);
      timespec ts{0, static_cast<long>(waitUs * 1000)};
      nanosleep(&ts, nullptr);
    }
    lastPresentUs_ = monotonicUs();
  }

  // Sends the rectangle r of an image to (x, y) of the window.
  xcb_void_cookie_t put(const SharedImage& from, const PixelRect& r, int x, int y) {
    cairo_surface_flush(from.image);
    if (!from.mapped) return putInRequests(from, r, x, y);
    return xcb_shm_put_image_checked(
        s_.c(), window_, gc_, static_cast<std::uint16_t>(cairo_image_surface_get_width(from.image)),
        static_cast<std::uint16_t>(cairo_image_surface_get_height(from.image)), static_cast<std::uint16_t>(r.left),
        static_cast<std::uint16_t>(r.top), static_cast<std::uint16_t>(r.width()),
        static_cast<std::uint16_t>(r.height()), static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
        s_.root()->root_depth, XCB_IMAGE_FORMAT_Z_PIXMAP, 0, from.seg, 0);
  }

  // An answer to a request comes after the server has done everything sent before it.
  bool finish(unsigned sequence) {
    xcb_get_input_focus_cookie_t cookie{sequence};
    std::free(xcb_get_input_focus_reply(s_.c(), cookie, nullptr));
    return !xcb_connection_has_error(s_.c());
  }

  // The reply comes once the server has read the pixels: only then may the image change again.
  bool finish(xcb_void_cookie_t cookie) {
    xcb_generic_error_t* error = xcb_request_check(s_.c(), cookie);
    lastOk_ = error == nullptr && !xcb_connection_has_error(s_.c());
    std::free(error);
    return lastOk_;
  }

  // Without shared memory the pixels travel in the requests, in bands that fit the server's limit.
  xcb_void_cookie_t putInRequests(const SharedImage& from, const PixelRect& r, int x, int y) {
    xcb_connection_t* c = s_.c();
    const std::uint32_t maxBytes = xcb_get_maximum_request_length(c) * 4 - 64;
    const int stride = cairo_image_surface_get_stride(from.image);
    const int rowBytes = r.width() * 4;
    const int rowsPerRequest = std::max(1, static_cast<int>(maxBytes / static_cast<std::uint32_t>(rowBytes)));
    std::vector<std::uint8_t> band;
    xcb_void_cookie_t cookie{};
    for (int row = r.top; row < r.bottom; row += rowsPerRequest) {
      const int rows = std::min(rowsPerRequest, r.bottom - row);
      band.resize(static_cast<std::size_t>(rows) * static_cast<std::size_t>(rowBytes));
      for (int i = 0; i < rows; ++i) {
        std::memcpy(band.data() + static_cast<std::size_t>(i) * rowBytes,
                    from.pixels + static_cast<std::size_t>(row + i) * stride + r.left * 4, rowBytes);
      }
      cookie = xcb_put_image_checked(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window_, gc_, static_cast<std::uint16_t>(r.width()),
                                     static_cast<std::uint16_t>(rows), static_cast<std::int16_t>(x),
                                     static_cast<std::int16_t>(y + row - r.top), 0, s_.root()->root_depth,
                                     static_cast<std::uint32_t>(band.size()), band.data());
    }
    return cookie;
  }

  X11Server& s_;
  int screenIndex_;
  bool page_;
  PixelSize boxSize_;
  xcb_window_t window_ = 0;
  xcb_gcontext_t gc_ = 0;
  SharedImage image_;
  SharedImage band_;  // the rows a scroll brings into view
  int bandRow_ = 0;   // the band's next free slot
  ScreenPlacement placement_;
  bool visible_ = true;
  bool mapped_ = false;
  bool lastOk_ = true;
  std::int64_t lastPresentUs_ = 0;
  OutputEvents events_;
};

X11Server::X11Server(xcb_connection_t* c, int screenNumber) : c_(c) {
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < screenNumber && it.rem > 0; ++i) xcb_screen_next(&it);
  screen_ = it.data;
  xcb_intern_atom_cookie_t cookies[kAtomCount];
  for (int i = 0; i < kAtomCount; ++i) {
    cookies[i] = xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(kAtomNames[i])), kAtomNames[i]);
  }
  for (int i = 0; i < kAtomCount; ++i) {
    Reply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(c, cookies[i], nullptr));
    atoms_[i] = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
  }
  if (const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_shm_id); ext && ext->present) {
    Reply<xcb_shm_query_version_reply_t> v(xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr));
    shm_ = static_cast<bool>(v);
    shmFd_ = v && (v->major_version > 1 || (v->major_version == 1 && v->minor_version >= 2));
  }
  if (const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_randr_id); ext && ext->present) {
    Reply<xcb_randr_query_version_reply_t> v(xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
    randrMonitors_ = v && (v->major_version > 1 || v->minor_version >= 5);
    randrEventBase_ = ext->first_event;
    xcb_randr_select_input(c, screen_->root,
                           XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                               XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
  }
  // Only the root window's own size changes are of interest when RandR is missing.
  const std::uint32_t rootEvents[] = {XCB_EVENT_MASK_STRUCTURE_NOTIFY};
  xcb_change_window_attributes(c, screen_->root, XCB_CW_EVENT_MASK, rootEvents);
  xcb_flush(c);
}

X11Server::~X11Server() {
  for (xcb_cursor_t cur : {blank_, watch_, arrow_}) {
    if (cur != XCB_NONE) xcb_free_cursor(c_, cur);
  }
  xcb_disconnect(c_);
}

xcb_cursor_t X11Server::cursor(BoxRole role, bool page) {
  if (page) {
    // A cursor whose mask hides every pixel: no pointer over the page.
    if (blank_ == XCB_NONE) {
      const xcb_pixmap_t pixmap = xcb_generate_id(c_);
      xcb_create_pixmap(c_, 1, pixmap, screen_->root, 1, 1);
      const xcb_gcontext_t gc = xcb_generate_id(c_);
      const std::uint32_t zero[] = {0};
      xcb_create_gc(c_, gc, pixmap, XCB_GC_FOREGROUND, zero);
      const xcb_rectangle_t all{0, 0, 1, 1};
      xcb_poly_fill_rectangle(c_, pixmap, gc, 1, &all);
      blank_ = xcb_generate_id(c_);
      xcb_create_cursor(c_, blank_, pixmap, pixmap, 0, 0, 0, 0, 0, 0, 0, 0);
      xcb_free_gc(c_, gc);
      xcb_free_pixmap(c_, pixmap);
    }
    return blank_;
  }
  xcb_cursor_t& cur = role == BoxRole::Splash ? watch_ : arrow_;
  if (cur == XCB_NONE) {
    const xcb_font_t font = xcb_generate_id(c_);
    xcb_open_font(c_, font, 6, "cursor");
    const std::uint16_t glyph = role == BoxRole::Splash ? kWatchGlyph : kArrowGlyph;
    cur = xcb_generate_id(c_);
    xcb_create_glyph_cursor(c_, cur, font, font, glyph, glyph + 1, 0, 0, 0, 0xffff, 0xffff, 0xffff);
    xcb_close_font(c_, font);
  }
  return cur;
}

const MonitorLayout& X11Server::monitors() {
  if (!layoutStale_) return layout_;
  layoutStale_ = false;
  MonitorLayout& layout = layout_;
  layout = {};
  if (randrMonitors_) {
    Reply<xcb_randr_get_monitors_reply_t> r(
        xcb_randr_get_monitors_reply(c_, xcb_randr_get_monitors(c_, screen_->root, 1), nullptr));
    if (r) {
      for (auto it = xcb_randr_get_monitors_monitors_iterator(r.p); it.rem > 0; xcb_randr_monitor_info_next(&it)) {
        if (it.data->primary) layout.primary = static_cast<int>(layout.monitors.size());
        layout.monitors.push_back({it.data->x, it.data->y, it.data->width, it.data->height});
      }
    }
  }
  // Without RandR's monitors (an old or remote server) the root window is the one monitor.
  if (layout.monitors.empty()) layout.monitors.push_back({0, 0, screen_->width_in_pixels, screen_->height_in_pixels});
  return layout_;
}

std::optional<std::uint32_t> X11Server::xineramaIndex(const MonitorPlacement& m) const {
  Reply<xcb_xinerama_query_screens_reply_t> r(
      xcb_xinerama_query_screens_reply(c_, xcb_xinerama_query_screens(c_), nullptr));
  if (!r) return std::nullopt;
  const xcb_xinerama_screen_info_t* screens = xcb_xinerama_query_screens_screen_info(r.p);
  const int n = xcb_xinerama_query_screens_screen_info_length(r.p);
  for (int i = 0; i < n; ++i) {
    if (screens[i].x_org == m.x && screens[i].y_org == m.y && screens[i].width == m.width &&
        screens[i].height == m.height) {
      return static_cast<std::uint32_t>(i);
    }
  }
  return std::nullopt;
}

bool X11Server::windowManager() const {
  const auto check = [&](xcb_window_t w) -> xcb_window_t {
    Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(
        c_, xcb_get_property(c_, 0, w, atoms_[kNetSupportingWmCheck], XCB_ATOM_WINDOW, 0, 1), nullptr));
    if (!r || xcb_get_property_value_length(r.p) < 4) return XCB_NONE;
    return *static_cast<xcb_window_t*>(xcb_get_property_value(r.p));
  };
  const xcb_window_t child = check(screen_->root);
  return child != XCB_NONE && check(child) == child;
}

bool X11Server::dispatch() {
  while (xcb_generic_event_t* e = xcb_poll_for_event(c_)) {
    handle(e);
    std::free(e);
  }
  return xcb_connection_has_error(c_) == 0;
}

void X11Server::handle(xcb_generic_event_t* e) {
  const std::uint8_t type = e->response_type & 0x7f;
  const auto find = [&](xcb_window_t id) -> X11Window* {
    for (X11Window* w : windows_) {
      if (w->id() == id) return w;
    }
    return nullptr;
  };
  if (randrEventBase_ != 0 &&
      (type == randrEventBase_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY || type == randrEventBase_ + XCB_RANDR_NOTIFY)) {
    monitorsChanged_ = layoutStale_ = true;
    return;
  }
  switch (type) {
    case XCB_EXPOSE: {
      auto* ev = reinterpret_cast<xcb_expose_event_t*>(e);
      if (X11Window* w = find(ev->window); w && ev->count == 0) w->exposed();
      break;
    }
    case 0: {
      // An error of a request nobody waits for: a frame that did not reach the screen.
      auto* error = reinterpret_cast<xcb_generic_error_t*>(e);
      if (X11Window* w = find(error->resource_id)) w->failed();
      else for (X11Window* w : windows_) w->failed();
      break;
    }
    case XCB_MAP_NOTIFY:
      if (X11Window* w = find(reinterpret_cast<xcb_map_notify_event_t*>(e)->window)) w->mapped(true);
      break;
    case XCB_UNMAP_NOTIFY:
      if (X11Window* w = find(reinterpret_cast<xcb_unmap_notify_event_t*>(e)->window)) w->mapped(false);
      break;
    case XCB_CONFIGURE_NOTIFY: {
      auto* ev = reinterpret_cast<xcb_configure_notify_event_t*>(e);
      if (ev->window == screen_->root) monitorsChanged_ = layoutStale_ = true;
      else if (X11Window* w = find(ev->window)) w->configured(ev->width, ev->height);
      break;
    }
    case XCB_CLIENT_MESSAGE: {
      auto* ev = reinterpret_cast<xcb_client_message_event_t*>(e);
      if (ev->type == atoms_[kWmProtocols] && ev->data.data32[0] == atoms_[kWmDeleteWindow]) {
        if (X11Window* w = find(ev->window)) w->closed();
      }
      break;
    }
    case XCB_KEY_PRESS:
      if (X11Window* w = find(reinterpret_cast<xcb_key_press_event_t*>(e)->event)) w->key();
      break;
    case XCB_BUTTON_PRESS: {
      auto* ev = reinterpret_cast<xcb_button_press_event_t*>(e);
      if (X11Window* w = find(ev->event)) w->click(ev->event_x, ev->event_y);
      break;
    }
    default: break;
  }
}

std::unique_ptr<Output> X11Server::openScreen(int screenIndex, const std::string& title) {
  return std::make_unique<X11Window>(*this, screenIndex, true, PixelSize{0, 0}, BoxRole::Splash, title);
}

std::unique_ptr<Output> X11Server::openBox(int screenIndex, PixelSize size, BoxRole role, const std::string& title) {
  return std::make_unique<X11Window>(*this, screenIndex, false, size, role, title);
}

}  // namespace

std::unique_ptr<DisplayServer> openX11Server(std::string* why) {
  int screen = 0;
  xcb_connection_t* c = xcb_connect(nullptr, &screen);
  if (const int error = xcb_connection_has_error(c)) {
    xcb_disconnect(c);
    if (why) *why = "cannot connect to the X server (DISPLAY " + std::string(std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "unset") +
                    ", xcb error " + std::to_string(error) + ")";
    return nullptr;
  }
  auto server = std::make_unique<X11Server>(c, screen);
  const xcb_screen_t* root = server->root();
  if (!root || root->root_depth != 24) {
    if (why) *why = "the X screen's depth is not 24 bits";
    return nullptr;
  }
  return server;
}

}  // namespace plasma
