#include "platform/sdl_window.h"

#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <time.h>

#include <algorithm>
#include <cstdio>

#include "platform/headless_window.h"
#include "platform/image_loader.h"
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

}  // namespace

MonitorPlacement placeForScreen(int screenIndex, int displayCount, const MonitorPlacement* displays,
                                int primaryWidth, int primaryHeight) {
  if (screenIndex >= 0 && screenIndex < displayCount) return displays[screenIndex];
  // The legacy rule: monitors of the primary's size side by side, computed in floating point.
  const double left = static_cast<double>(screenIndex) * primaryWidth;
  const double clamped = std::clamp(left, -1e9, 1e9);
  return {static_cast<int>(clamped), 0, primaryWidth, primaryHeight};
}

SdlWindow::SdlWindow(const std::string& title, int screenIndex) {
  // The window surface path: the accelerated framebuffer falls back to a software GL renderer
  // without a GPU, about twenty times slower per present and five times the memory.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  const int count = std::max(0, SDL_GetNumVideoDisplays());
  std::vector<MonitorPlacement> bounds;
  for (int i = 0; i < count; ++i) {
    SDL_Rect r{};
    SDL_GetDisplayBounds(i, &r);
    bounds.push_back({r.x, r.y, r.w, r.h});
  }
  SDL_DisplayMode mode{};
  SDL_GetDesktopDisplayMode(0, &mode);
  const MonitorPlacement p =
      placeForScreen(screenIndex, count, bounds.data(), mode.w > 0 ? mode.w : 1920, mode.h > 0 ? mode.h : 1080);
  window_ = SDL_CreateWindow(title.c_str(), p.x, p.y, p.width, p.height,
                             SDL_WINDOW_BORDERLESS | SDL_WINDOW_SKIP_TASKBAR | SDL_WINDOW_ALLOW_HIGHDPI |
                                 SDL_WINDOW_SHOWN);
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
  image_ = std::make_unique<CairoSurface>(w, h);
  image_->setBackColour(colours::kBlack);
  dirtyX0_ = 0;
  dirtyY0_ = 0;
  dirtyX1_ = w;
  dirtyY1_ = h;
  refresh();
}

SdlWindow::~SdlWindow() {
  if (window_) SDL_DestroyWindow(window_);
}

void SdlWindow::copyFrom(const Surface& source, int sx, int sy, int width, int height, int dx, int dy) {
  image_->copyFrom(source, sx, sy, width, height, dx, dy);
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

void SdlWindow::upload(int x, int y, int w, int h) {
  SDL_Surface* target = SDL_GetWindowSurface(window_);
  if (!target) {
    logLine(std::string("window surface unavailable: ") + SDL_GetError());
    return;
  }
  cairo_surface_flush(image_->image());
  SDL_Surface* src = SDL_CreateRGBSurfaceWithFormatFrom(
      cairo_image_surface_get_data(image_->image()), clientWidth(), clientHeight(), 32,
      cairo_image_surface_get_stride(image_->image()), SDL_PIXELFORMAT_XRGB8888);
  if (!src) return;
  SDL_Rect r{x, y, w, h};
  SDL_Rect dst = r;
  SDL_BlitSurface(src, &r, target, &dst);
  SDL_FreeSurface(src);
  SDL_UpdateWindowSurfaceRects(window_, &r, 1);
}

void SdlWindow::refresh() {
  if (dirtyX0_ >= dirtyX1_) return;
  const std::int64_t now = monotonicUs();
  if (now - lastRefreshUs_ < kMinRefreshGapUs) {
    const std::int64_t waitUs = kMinRefreshGapUs - (now - lastRefreshUs_);
    timespec ts{static_cast<time_t>(waitUs / 1000000), static_cast<long>((waitUs % 1000000) * 1000)};
    nanosleep(&ts, nullptr);
  }
  upload(dirtyX0_, dirtyY0_, dirtyX1_ - dirtyX0_, dirtyY1_ - dirtyY0_);
  dirtyX0_ = dirtyX1_ = 0;
  lastRefreshUs_ = monotonicUs();
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
  while (SDL_PollEvent(&e)) {
    if (e.type == SDL_QUIT) open = false;
    if (e.type == SDL_WINDOWEVENT) {
      switch (e.window.event) {
        case SDL_WINDOWEVENT_CLOSE: open = false; break;
        case SDL_WINDOWEVENT_EXPOSED:
        case SDL_WINDOWEVENT_SIZE_CHANGED:
        case SDL_WINDOWEVENT_RESTORED:
          upload(0, 0, clientWidth(), clientHeight());
          break;
        default: break;
      }
    }
  }
  return open;
}

int SdlWindow::connectionFd() const {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(window_, &info)) return -1;
  if (info.subsystem == SDL_SYSWM_X11) return ConnectionNumber(info.info.x11.display);
  return -1;
}

bool showErrorBox(const std::string& title, const std::string& message) {
  return SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, title.c_str(), message.c_str(), nullptr) == 0;
}

}  // namespace plasma
