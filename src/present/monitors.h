#pragma once
// The monitors of a display server and which of them shows SCREEN: the same rule on X11 and
// Wayland (monitors by position), the connectors' order on the console.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace plasma {

struct MonitorPlacement {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const MonitorPlacement&) const = default;
  bool contains(int px, int py) const { return px >= x && px < x + width && py >= y && py < y + height; }
};

// The monitors as the display server has them, and which one is the primary.
struct MonitorLayout {
  std::vector<MonitorPlacement> monitors;
  int primary = 0;  // index into monitors
  bool operator==(const MonitorLayout&) const = default;
};

struct ScreenPlacement {
  MonitorPlacement bounds;
  bool onMonitor = false;  // false: no monitor holds the screen's point; placed by the side-by-side rule
  int monitor = -1;        // index into the layout's monitors when onMonitor
};

// Where the window of screen `screenIndex` goes: the monitor that contains the point
// (screenIndex x the primary's width, 0), counted from the primary's top-left corner, so that 0 is
// always the primary and 1 the monitor to its right whatever order the server lists them in.
// Where no monitor holds that point, the window takes the primary's size at that point, as if
// monitors of the primary's size stood side by side. An empty layout counts as one 1920x1080
// primary.
ScreenPlacement placeForScreen(int screenIndex, const MonitorLayout& layout);

// True when the rectangle shows on some monitor.
bool visibleOn(const MonitorPlacement& window, const MonitorLayout& layout);

// "1920x1080 at 1920,0"
std::string describe(const MonitorPlacement& p);

// Wayland names no primary output: the one at the origin of the compositor's space is taken for
// it (the first listed when none is there), so that SCREEN counts from it as on X11.
int primaryByPosition(const std::vector<MonitorPlacement>& monitors);

// One connector of a graphics card, as the kernel lists them.
struct ConnectorState {
  std::uint32_t id = 0;
  std::string name;  // "HDMI-A-1", "Virtual-2"
  bool connected = false;
  bool hasMode = false;  // the monitor offers at least one mode
  bool operator==(const ConnectorState&) const = default;
};

// One mode a monitor offers on the console, in the kernel's order.
struct ModeOffer {
  int width = 0, height = 0, refresh = 0;
  bool preferred = false;    // the monitor's own choice (its EDID)
  bool commandLine = false;  // named for this connector with video= on the kernel's command line
};

// The mode to show a monitor in: the one its CRTC already runs (`running`, the console's own or
// the display's from before the monitor went away) when the monitor offers it, so nothing
// flickers; else the one the operator named with video=, else the monitor's preferred mode, else
// the first listed. None when it offers none.
std::optional<std::size_t> modeForMonitor(const std::vector<ModeOffer>& modes,
                                          const std::optional<ModeOffer>& running = std::nullopt);

// On the console SCREEN n is the nth connector (from 0) that has a monitor with a mode, in the
// card's own order of connectors; none while fewer are connected.
std::optional<std::size_t> connectorForScreen(int screenIndex, const std::vector<ConnectorState>& connectors);

}  // namespace plasma
