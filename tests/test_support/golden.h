#pragma once
#include <cairo.h>

#include <string>

namespace plasma::test {

// Compares an image with tests/golden/<name>.png. Each channel may differ by at most tolerance
// (and at most maxBadPixels pixels may exceed it) to absorb anti-aliasing differences between
// FreeType builds; say why next to every call. On failure, writes <name>.actual.png and
// <name>.diff.png under the build's test output folder and returns a message; the empty string
// means equal. PLASMA_UPDATE_GOLDEN=1 rewrites the reference instead of comparing.
std::string compareWithGolden(cairo_surface_t* image, const std::string& name, int tolerance,
                              int maxBadPixels = 0);

}  // namespace plasma::test
