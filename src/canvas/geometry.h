#pragma once
// Sizes and positions on the canvas, in pixels.
#include <optional>
#include <string>

namespace plasma {

struct PixelSize {
  int width;
  int height;
};

// A point in pixels or in grid steps.
struct Point {
  double x = 0;
  double y = 0;
};

// An axis-aligned rectangle by its edges: in grid steps or fractional pixels (Rect), or in whole
// pixels (PixelRect).
template <typename T>
struct BasicRect {
  T left{};
  T top{};
  T right{};
  T bottom{};
  constexpr T width() const { return right - left; }
  constexpr T height() const { return bottom - top; }
};
using Rect = BasicRect<double>;
using PixelRect = BasicRect<int>;

// Canvas sides the display accepts from a person (PLASMA_HEADLESS, --size): small enough to fit in
// memory, large enough for every page's grid.
inline constexpr int kMinCanvasSide = 16;
inline constexpr int kMaxCanvasSide = 16384;

// "WIDTHxHEIGHT" (or "WIDTHXHEIGHT") with both sides within the limits above; nothing otherwise.
std::optional<PixelSize> parsePixelSize(const std::string& text);

}  // namespace plasma
