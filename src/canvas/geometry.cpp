#include "canvas/geometry.h"

#include <cstdio>

namespace plasma {

std::optional<PixelSize> parsePixelSize(const std::string& text) {
  int w = 0, h = 0;
  char x = 0, extra = 0;
  if (std::sscanf(text.c_str(), "%d%c%d%c", &w, &x, &h, &extra) != 3 || (x != 'x' && x != 'X')) {
    return std::nullopt;
  }
  if (w < kMinCanvasSide || h < kMinCanvasSide || w > kMaxCanvasSide || h > kMaxCanvasSide) {
    return std::nullopt;
  }
  return PixelSize{w, h};
}

}  // namespace plasma
