#pragma once
// Sizes and positions on the canvas, in pixels.
#include <optional>
#include <string>

namespace plasma {

struct PixelSize {
  int width;
  int height;
};

// Canvas sides the display accepts from a person (PLASMA_HEADLESS, --size): small enough to fit in
// memory, large enough for every page's grid.
inline constexpr int kMinCanvasSide = 16;
inline constexpr int kMaxCanvasSide = 16384;

// "WIDTHxHEIGHT" (or "WIDTHXHEIGHT") with both sides within the limits above; nothing otherwise.
std::optional<PixelSize> parsePixelSize(const std::string& text);

}  // namespace plasma
