#include "platform/monitors.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>

namespace plasma {

ScreenPlacement placeForScreen(int screenIndex, const MonitorLayout& layout) {
  MonitorPlacement primary{0, 0, 1920, 1080};
  if (!layout.monitors.empty()) {
    primary = layout.monitors[static_cast<std::size_t>(
        std::clamp(layout.primary, 0, static_cast<int>(layout.monitors.size()) - 1))];
  }
  // Computed in floating point and kept within what a window position can hold.
  const double left = std::clamp(primary.x + static_cast<double>(screenIndex) * primary.width, -1e9, 1e9);
  const int px = static_cast<int>(left), py = primary.y;
  for (const MonitorPlacement& m : layout.monitors) {
    if (m.contains(px, py)) return {m, true};
  }
  return {{px, py, primary.width, primary.height}, false};
}

bool visibleOn(const MonitorPlacement& w, const MonitorLayout& layout) {
  return std::any_of(layout.monitors.begin(), layout.monitors.end(), [&](const MonitorPlacement& m) {
    return w.x < m.x + m.width && m.x < w.x + w.width && w.y < m.y + m.height && m.y < w.y + w.height;
  });
}

std::string describe(const MonitorPlacement& p) {
  return std::to_string(p.width) + "x" + std::to_string(p.height) + " at " + std::to_string(p.x) + "," +
         std::to_string(p.y);
}

Monitors::Monitors(const std::string& videoDriver) {
  if (videoDriver != "x11") return;
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) return;
  int errorBase = 0, major = 0, minor = 0;
  // Monitors arrived with RandR 1.5; an older server is asked through SDL instead.
  if (!XRRQueryExtension(dpy, &eventBase_, &errorBase) || !XRRQueryVersion(dpy, &major, &minor) ||
      major < 1 || (major == 1 && minor < 5)) {
    XCloseDisplay(dpy);
    return;
  }
  XRRSelectInput(dpy, DefaultRootWindow(dpy),
                 RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
  XFlush(dpy);
  display_ = dpy;
}

Monitors::~Monitors() {
  if (display_) XCloseDisplay(static_cast<Display*>(display_));
}

MonitorLayout Monitors::layout() const {
  MonitorLayout layout;
  if (display_) {
    Display* dpy = static_cast<Display*>(display_);
    int n = 0;
    XRRMonitorInfo* info = XRRGetMonitors(dpy, DefaultRootWindow(dpy), True, &n);
    for (int i = 0; i < n; ++i) {
      if (info[i].primary) layout.primary = static_cast<int>(layout.monitors.size());
      layout.monitors.push_back({info[i].x, info[i].y, info[i].width, info[i].height});
    }
    if (info) XRRFreeMonitors(info);
    if (!layout.monitors.empty()) return layout;
  }
  const int count = std::max(0, SDL_GetNumVideoDisplays());
  for (int i = 0; i < count; ++i) {
    SDL_Rect r{};
    if (SDL_GetDisplayBounds(i, &r) == 0) layout.monitors.push_back({r.x, r.y, r.w, r.h});
  }
  return layout;
}

int Monitors::fd() const { return display_ ? ConnectionNumber(static_cast<Display*>(display_)) : -1; }

bool Monitors::drain() {
  if (!display_) return false;
  Display* dpy = static_cast<Display*>(display_);
  bool changed = false;
  while (XPending(dpy) > 0) {
    XEvent e;
    XNextEvent(dpy, &e);
    if (e.type == eventBase_ + RRScreenChangeNotify) XRRUpdateConfiguration(&e);
    if (e.type == eventBase_ + RRScreenChangeNotify || e.type == eventBase_ + RRNotify) changed = true;
  }
  return changed;
}

}  // namespace plasma
