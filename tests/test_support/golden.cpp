#include "test_support/golden.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstdint>
#include <sstream>

#include "canvas/cairo_surface.h"

namespace plasma::test {

namespace {
std::uint32_t at(cairo_surface_t* s, int x, int y) {
  const unsigned char* d = cairo_image_surface_get_data(s);
  return reinterpret_cast<const std::uint32_t*>(d + y * cairo_image_surface_get_stride(s))[x];
}
}  // namespace

std::string compareWithGolden(cairo_surface_t* image, const std::string& name, int tolerance,
                              int maxBadPixels) {
  const std::string ref = std::string(PLASMA_TEST_DIR) + "/golden/" + name + ".png";
  cairo_surface_flush(image);
  const char* update = std::getenv("PLASMA_UPDATE_GOLDEN");
  if (update && std::string(update) == "1") {
    writePng(image, ref);
    return "";
  }
  cairo_surface_t* golden = cairo_image_surface_create_from_png(ref.c_str());
  if (cairo_surface_status(golden) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(golden);
    return "no reference image " + ref + " (run with PLASMA_UPDATE_GOLDEN=1 to create it)";
  }
  const int w = cairo_image_surface_get_width(image), h = cairo_image_surface_get_height(image);
  if (w != cairo_image_surface_get_width(golden) || h != cairo_image_surface_get_height(golden)) {
    cairo_surface_destroy(golden);
    return "size differs from " + ref;
  }
  cairo_surface_t* diff = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
  unsigned char* dd = cairo_image_surface_get_data(diff);
  const int ds = cairo_image_surface_get_stride(diff);
  int bad = 0, worst = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const std::uint32_t a = at(image, x, y), b = at(golden, x, y);
      int m = 0;
      for (int shift = 0; shift <= 16; shift += 8) {
        const int d = std::abs(static_cast<int>((a >> shift) & 0xff) - static_cast<int>((b >> shift) & 0xff));
        m = std::max(m, d);
      }
      worst = std::max(worst, m);
      const bool over = m > tolerance;
      bad += over;
      reinterpret_cast<std::uint32_t*>(dd + y * ds)[x] = over ? 0xff0000u : ((a >> 2) & 0x3f3f3fu);
    }
  }
  cairo_surface_mark_dirty(diff);
  cairo_surface_destroy(golden);
  std::string message;
  if (bad > maxBadPixels) {
    const std::string out = std::string(PLASMA_BIN_DIR) + "/../test-output";
    ::mkdir(out.c_str(), 0755);
    writePng(image, out + "/" + name + ".actual.png");
    writePng(diff, out + "/" + name + ".diff.png");
    std::ostringstream os;
    os << name << ": " << bad << " pixels differ by more than " << tolerance << " (worst " << worst
       << "); see " << out << "/" << name << ".{actual,diff}.png";
    message = os.str();
  }
  cairo_surface_destroy(diff);
  return message;
}

}  // namespace plasma::test
