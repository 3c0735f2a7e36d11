#include "platform/sdl_window.h"

#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <time.h>
#include <wayland-client-core.h>

#include <algorithm>
#include <cstdio>

#include "platform/headless_window.h"
#include "plasma/artwork.h"
#include "support/log.h"

namespace plasma {
namespace {

std::int64_t monotonicUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t{ts.tv_sec} * 1000000 + ts.tv_nsec / 1000;
}

// One refresh per panel frame, so every wipe step is seen.
constexpr std::int64_t kMinRefreshGapUs = 16667;

std::string where(int screenIndex, const ScreenPlacement& p) {
  const std::string screen = "screen " + std::to_string(screenIndex);
  if (p.onMonitor) return screen + " is the monitor " + describe(p.bounds);
  return screen + " has no monitor (none holds " + std::to_string(p.bounds.x) + "," + std::to_string(p.bounds.y) +
         "): the window stands at " + describe(p.bounds);
}

}  // namespace

SdlWindow::SdlWindow(const std::string& title, int screenIndex, PresentPath path, Monitors& monitors,
                     Visibility visibility)
    : monitors_(monitors), screenIndex_(screenIndex) {
  const MonitorLayout layout = monitors_.layout();
  placement_ = placeForScreen(screenIndex, layout);
  visible_ = visibleOn(placement_.bounds, layout);
  const MonitorPlacement& p = placement_.bounds;
  window_ = SDL_CreateWindow(title.c_str(), p.x, p.y, p.width, p.height,
                             SDL_WINDOW_BORDERLESS | SDL_WINDOW_SKIP_TASKBAR | SDL_WINDOW_ALLOW_HIGHDPI |
                                 (visibility == Visibility::Shown ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN));
  if (!window_) throw std::runtime_error(std::string("cannot open the display window: ") + SDL_GetError());
  SDL_ShowCursor(SDL_DISABLE);
  const artwork::Blob icon = artwork::find("icon.bmp");
  if (!icon.empty()) {
    if (SDL_Surface* s = SDL_LoadBMP_RW(SDL_RWFromConstMem(icon.data, static_cast<int>(icon.size)), 1)) {
      SDL_SetWindowIcon(window_, s);
      SDL_FreeSurface(s);
    }
  }
  int w = p.width, h = p.height;
  SDL_GetWindowSizeInPixels(window_, &w, &h);
  std::string why;
  presenter_ = Presenter::make(window_, path, w, h, &why);
  if (!presenter_) {
    SDL_DestroyWindow(window_);
    window_ = nullptr;
    throw std::runtime_error("cannot present on the display window: " + why);
  }
  if (presenter_->path() != path) logLine(std::string("cannot present through the ") + presentPathName(path) + ": " + why);
  if (!placement_.onMonitor) logLine(where(screenIndex_, placement_));
  // The image starts black; the window system shows it on the first expose, and the first page
  // replaces it with one full upload.
  makeImage();
}

void SdlWindow::showWindow() { SDL_ShowWindow(window_); }

SdlWindow::~SdlWindow() {
  dropImage();
  presenter_.reset();
  if (window_) SDL_DestroyWindow(window_);
}

std::string SdlWindow::describePath() const {
  const char* driver = SDL_GetCurrentVideoDriver();
  return std::string("video driver ") + (driver ? driver : "none") + ", path " + presentPathName(presenter_->path()) +
         ", renderer " + presenter_->rendererName() + ", window " + std::to_string(clientWidth()) + "x" +
         std::to_string(clientHeight()) + " px at " + std::to_string(placement_.bounds.x) + "," +
         std::to_string(placement_.bounds.y);
}

void SdlWindow::dropImage() {
  if (cr_) cairo_destroy(cr_);
  if (image_) cairo_surface_destroy(image_);
  cr_ = nullptr;
  image_ = nullptr;
  framebuffer_ = nullptr;
}

void SdlWindow::makeImage() {
  int w = 0, h = 0;
  SDL_GetWindowSizeInPixels(window_, &w, &h);
  dropImage();
  if (presenter_->path() == PresentPath::WindowSurface) {
    SDL_Surface* s = SDL_GetWindowSurface(window_);
    if (s && s->format->format == SDL_PIXELFORMAT_XRGB8888 &&
        s->pitch >= cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, s->w)) {
      image_ = cairo_image_surface_create_for_data(static_cast<unsigned char*>(s->pixels), CAIRO_FORMAT_RGB24, s->w,
                                                   s->h, s->pitch);
      framebuffer_ = s;
      w = s->w;
      h = s->h;
    }
  }
  if (!image_) image_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
  width_ = w;
  height_ = h;
  cr_ = cairo_create(image_);
  cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
  // A new window shows its black background until the first page arrives.
  cairo_set_source_rgb(cr_, 0, 0, 0);
  cairo_paint(cr_);
  cairo_surface_flush(image_);
}

bool SdlWindow::followWindowSize() {
  // SDL gives up the old framebuffer (and with it the image's pixels) only when the window's size
  // changed, at the next SDL_GetWindowSurface: so the size is checked before anything asks for it.
  int w = 0, h = 0;
  SDL_GetWindowSizeInPixels(window_, &w, &h);
  if (w == width_ && h == height_) return false;
  dropImage();
  makeImage();
  presenter_->resize(width_, height_);
  if (onResized) onResized();
  return true;
}

void SdlWindow::copyFrom(const Surface& source, int sx, int sy, int width, int height, int dx, int dy) {
  if (width <= 0 || height <= 0) return;
  cairo_surface_t* from = source.image();
  // A canvas that stands in with the window's own image: the pixels are already here.
  if (from == image_ && sx == dx && sy == dy) return;
  cairo_surface_flush(from);
  cairo_set_source_surface(cr_, from, dx - sx, dy - sy);
  cairo_rectangle(cr_, dx, dy, width, height);
  cairo_fill(cr_);
  // The context would hold on to the source: a slideshow picture would outlive its page.
  cairo_set_source_rgb(cr_, 0, 0, 0);
  const int x0 = std::max(0, dx), y0 = std::max(0, dy);
  const int x1 = std::min(clientWidth(), dx + width), y1 = std::min(clientHeight(), dy + height);
  if (x0 >= x1 || y0 >= y1) return;
  if (dirtyX0_ >= dirtyX1_) {
    dirtyX0_ = x0, dirtyY0_ = y0, dirtyX1_ = x1, dirtyY1_ = y1;
  } else {
    dirtyX0_ = std::min(dirtyX0_, x0), dirtyY0_ = std::min(dirtyY0_, y0);
    dirtyX1_ = std::max(dirtyX1_, x1), dirtyY1_ = std::max(dirtyY1_, y1);
  }
}

void SdlWindow::show(int x, int y, int w, int h) {
  if (followWindowSize()) x = 0, y = 0, w = width_, h = height_;  // all of the image at its new size
  cairo_surface_flush(image_);
  const SDL_Rect r{x, y, w, h};
  const bool ok = presenter_->show(cairo_image_surface_get_data(image_), cairo_image_surface_get_stride(image_), &r, 1);
  if (!ok && !showFailing_) logLine(std::string("the display window cannot be shown: ") + SDL_GetError());
  if (ok && showFailing_) logLine("the display window is shown again");
  showFailing_ = !ok;
  lastShowOk_ = ok;
}

void SdlWindow::showAll() { show(0, 0, clientWidth(), clientHeight()); }

void SdlWindow::refresh() {
  if (dirtyX0_ >= dirtyX1_) return;
  const std::int64_t now = monotonicUs();
  if (now - lastRefreshUs_ < kMinRefreshGapUs) {
    const std::int64_t waitUs = kMinRefreshGapUs - (now - lastRefreshUs_);
    timespec ts{static_cast<time_t>(waitUs / 1000000), static_cast<long>((waitUs % 1000000) * 1000)};
    nanosleep(&ts, nullptr);
  }
  // Frames are counted from the start of each refresh, so a refresh's own time does not lengthen
  // the frame (a 4-step wipe took 100 ms, not 60).
  lastRefreshUs_ = monotonicUs();
  show(dirtyX0_, dirtyY0_, dirtyX1_ - dirtyX0_, dirtyY1_ - dirtyY0_);
  dirtyX0_ = dirtyX1_ = 0;
}

bool SdlWindow::onScreen() const { return exposed_ && visible_ && lastShowOk_; }

void SdlWindow::place() {
  const MonitorLayout layout = monitors_.layout();
  const ScreenPlacement p = placeForScreen(screenIndex_, layout);
  const bool visible = visibleOn(p.bounds, layout);
  int x = 0, y = 0, w = 0, h = 0;
  SDL_GetWindowPosition(window_, &x, &y);
  SDL_GetWindowSize(window_, &w, &h);
  const bool moved = x != p.bounds.x || y != p.bounds.y || w != p.bounds.width || h != p.bounds.height;
  if (p.bounds == placement_.bounds && visible == visible_ && !moved) return;
  logLine("monitors changed: " + where(screenIndex_, p));
  placement_ = p;
  visible_ = visible;
  SDL_SetWindowSize(window_, p.bounds.width, p.bounds.height);
  SDL_SetWindowPosition(window_, p.bounds.x, p.bounds.y);
  followWindowSize();
  showAll();
  dirtyX0_ = dirtyX1_ = 0;
}

void SdlWindow::pagePresented(const std::string&) {
  if (!frameDir_.empty()) writeFrame(image(), frameDir_, frameNumber_++);
}

void SdlWindow::raise() {
  SDL_ShowWindow(window_);
  SDL_RaiseWindow(window_);
}

bool SdlWindow::pumpEvents() {
  SDL_Event e;
  bool open = true;
  bool monitorsChanged = false;
  while (SDL_PollEvent(&e)) {
    if (e.type == SDL_QUIT) open = false;
    if (e.type == SDL_DISPLAYEVENT) monitorsChanged = true;
    if (e.type == SDL_WINDOWEVENT && e.window.windowID == SDL_GetWindowID(window_)) {
      switch (e.window.event) {
        case SDL_WINDOWEVENT_CLOSE: open = false; break;
        case SDL_WINDOWEVENT_HIDDEN:
        case SDL_WINDOWEVENT_MINIMIZED: exposed_ = false; break;
        case SDL_WINDOWEVENT_SIZE_CHANGED:
          followWindowSize();
          exposed_ = true;
          showAll();
          break;
        case SDL_WINDOWEVENT_SHOWN:
        case SDL_WINDOWEVENT_EXPOSED:
        case SDL_WINDOWEVENT_RESTORED:
          exposed_ = true;
          showAll();
          break;
        default: break;
      }
    }
  }
  if (monitorsChanged) place();
  return open;
}

int windowConnectionFd(SDL_Window* window) {
  if (!window) return -1;
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(window, &info)) return -1;
  if (info.subsystem == SDL_SYSWM_X11) return ConnectionNumber(info.info.x11.display);
  if (info.subsystem == SDL_SYSWM_WAYLAND) return wl_display_get_fd(info.info.wl.display);
  return -1;
}

bool showErrorBox(const std::string& title, const std::string& message) {
  return SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, title.c_str(), message.c_str(), nullptr) == 0;
}

}  // namespace plasma
