#include "present/monitors.h"

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
  for (std::size_t i = 0; i < layout.monitors.size(); ++i) {
    if (layout.monitors[i].contains(px, py)) return {layout.monitors[i], true, static_cast<int>(i)};
  }
  return {{px, py, primary.width, primary.height}, false, -1};
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

int primaryByPosition(const std::vector<MonitorPlacement>& monitors) {
  for (std::size_t i = 0; i < monitors.size(); ++i) {
    if (monitors[i].contains(0, 0)) return static_cast<int>(i);
  }
  return 0;
}

std::optional<std::size_t> connectorForScreen(int screenIndex, const std::vector<ConnectorState>& connectors) {
  if (screenIndex < 0) return std::nullopt;
  int seen = 0;
  for (std::size_t i = 0; i < connectors.size(); ++i) {
    if (!connectors[i].connected || !connectors[i].hasMode) continue;
    if (seen++ == screenIndex) return i;
  }
  return std::nullopt;
}

std::optional<std::size_t> modeForMonitor(const std::vector<ModeOffer>& modes, const std::optional<ModeOffer>& running) {
  if (modes.empty()) return std::nullopt;
  // Another monitor plugged in where the last one was may not take the mode that one ran.
  for (std::size_t i = 0; running && i < modes.size(); ++i) {
    if (modes[i].width == running->width && modes[i].height == running->height && modes[i].refresh == running->refresh) {
      return i;
    }
  }
  for (std::size_t i = 0; i < modes.size(); ++i) {
    if (modes[i].commandLine) return i;
  }
  for (std::size_t i = 0; i < modes.size(); ++i) {
    if (modes[i].preferred) return i;
  }
  // The kernel lists the largest first; without any EDID that is the best guess there is.
  return 0;
}

}  // namespace plasma
