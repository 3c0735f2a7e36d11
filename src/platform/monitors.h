#pragma once
// The monitors of the window system and where the window of one screen goes among them.
#include <SDL.h>

#include <string>
#include <vector>

namespace plasma {

struct MonitorPlacement {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const MonitorPlacement&) const = default;
  bool contains(int px, int py) const { return px >= x && px < x + width && py >= y && py < y + height; }
};

// The monitors as the window system has them, and which one is the primary.
struct MonitorLayout {
  std::vector<MonitorPlacement> monitors;
  int primary = 0;  // index into monitors
  bool operator==(const MonitorLayout&) const = default;
};

struct ScreenPlacement {
  MonitorPlacement bounds;
  bool onMonitor = false;  // false: no monitor holds the screen's point; placed by the side-by-side rule
};

// Where the window of screen `screenIndex` goes: the monitor that contains the point
// (screenIndex x the primary's width, 0), counted from the primary's top-left corner, so that 0 is
// always the primary and 1 the monitor to its right whatever order the window system lists them
// in. Where no monitor holds that point, the window takes the primary's size at that point, as if
// monitors of the primary's size stood side by side. An empty layout counts as one 1920x1080
// primary.
ScreenPlacement placeForScreen(int screenIndex, const MonitorLayout& layout);

// True when the rectangle shows on some monitor.
bool visibleOn(const MonitorPlacement& window, const MonitorLayout& layout);

// "1920x1080 at 1920,0"
std::string describe(const MonitorPlacement& p);

// The monitors of the window system SDL runs on. On X11 it asks the X server's RandR monitors on
// its own connection (a screen split with `xrandr --setmonitor` counts as two) and listens there for
// monitors added, removed or changed; elsewhere it takes SDL's displays, display 0 as the primary,
// and SDL's display events tell of changes.
class Monitors {
 public:
  explicit Monitors(const std::string& videoDriver);
  ~Monitors();
  Monitors(const Monitors&) = delete;
  Monitors& operator=(const Monitors&) = delete;
  MonitorLayout layout() const;
  // The descriptor that becomes readable when the X server reports a change, or -1.
  int fd() const;
  // Reads what arrived; true when the monitors may have changed.
  bool drain();

 private:
  void* display_ = nullptr;  // the X connection (Display*), when there is one
  int eventBase_ = 0;
};

}  // namespace plasma
