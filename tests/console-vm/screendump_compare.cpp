// Compares a monitor's picture taken by QEMU (a binary PPM from `screendump`) with a PNG of the
// page as plasma-render paints it. Prints one line and exits 0 when every pixel is the same, 1 when
// they differ (how many pixels, where, the first one), 2 when a file cannot be read.
//   screendump_compare SHOT.ppm PAGE.png [DIFF.png]
// DIFF.png, when given and they differ, shows the differing pixels white on the page dimmed.
//   screendump_compare --box WIDTH HEIGHT SHOT.ppm
// Exits 0 when the monitor shows a picture of that size centred on black (the splash), else 1.
#include <cairo.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Picture {
  int width = 0, height = 0;
  std::vector<std::uint32_t> rgb;  // 0xRRGGBB per pixel, rows top to bottom
};

// The next header token of a PPM, skipping white space and comments.
bool token(const std::string& data, std::size_t& at, long& value) {
  while (at < data.size()) {
    if (data[at] == '#') {
      while (at < data.size() && data[at] != '\n') ++at;
    } else if (std::isspace(static_cast<unsigned char>(data[at]))) {
      ++at;
    } else {
      break;
    }
  }
  std::size_t digits = 0;
  value = 0;
  while (at < data.size() && std::isdigit(static_cast<unsigned char>(data[at])) && digits < 9) {
    value = value * 10 + (data[at++] - '0');
    ++digits;
  }
  return digits > 0;
}

bool readPpm(const char* path, Picture& p, std::string& why) {
  std::ifstream in(path, std::ios::binary);
  const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (data.size() < 2 || data.compare(0, 2, "P6") != 0) {
    why = "not a binary PPM";
    return false;
  }
  std::size_t at = 2;
  long w = 0, h = 0, max = 0;
  if (!token(data, at, w) || !token(data, at, h) || !token(data, at, max) || max != 255 || w <= 0 || h <= 0 ||
      w > 16384 || h > 16384) {
    why = "a PPM header other than 8-bit RGB";
    return false;
  }
  ++at;  // the one white-space byte before the pixels
  const std::size_t need = static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3;
  if (data.size() < at + need) {
    why = "a PPM shorter than its header says";
    return false;
  }
  p.width = static_cast<int>(w);
  p.height = static_cast<int>(h);
  p.rgb.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
  const auto* px = reinterpret_cast<const unsigned char*>(data.data() + at);
  for (std::size_t i = 0; i < p.rgb.size(); ++i, px += 3) {
    p.rgb[i] = (std::uint32_t{px[0]} << 16) | (std::uint32_t{px[1]} << 8) | px[2];
  }
  return true;
}

bool readPng(const char* path, Picture& p, std::string& why) {
  cairo_surface_t* s = cairo_image_surface_create_from_png(path);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    why = cairo_status_to_string(cairo_surface_status(s));
    cairo_surface_destroy(s);
    return false;
  }
  const cairo_format_t format = cairo_image_surface_get_format(s);
  if (format != CAIRO_FORMAT_RGB24 && format != CAIRO_FORMAT_ARGB32) {
    why = "a PNG that is not RGB";
    cairo_surface_destroy(s);
    return false;
  }
  p.width = cairo_image_surface_get_width(s);
  p.height = cairo_image_surface_get_height(s);
  const int stride = cairo_image_surface_get_stride(s);
  const unsigned char* data = cairo_image_surface_get_data(s);
  p.rgb.resize(static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height));
  for (int y = 0; y < p.height; ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
    std::transform(row, row + p.width, p.rgb.begin() + static_cast<std::ptrdiff_t>(y) * p.width,
                   [](std::uint32_t v) { return v & 0xffffffu; });
  }
  cairo_surface_destroy(s);
  return true;
}

void writeDiff(const char* path, const Picture& page, const Picture& shot) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, page.width, page.height);
  auto* data = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  for (int y = 0; y < page.height; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
    for (int x = 0; x < page.width; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(page.width) + static_cast<std::size_t>(x);
      row[x] = page.rgb[i] == shot.rgb[i] ? (page.rgb[i] >> 2) & 0x3f3f3fu : 0xffffffu;
    }
  }
  cairo_surface_mark_dirty(s);
  cairo_surface_write_to_png(s, path);
  cairo_surface_destroy(s);
}

}  // namespace

// Black everywhere but in the centred box, and something drawn in the box.
int centredBox(const Picture& shot, int width, int height) {
  const int x0 = (shot.width - width) / 2, y0 = (shot.height - height) / 2;
  std::size_t outside = 0, inside = 0;
  for (int y = 0; y < shot.height; ++y) {
    for (int x = 0; x < shot.width; ++x) {
      const bool in = x >= x0 && x < x0 + width && y >= y0 && y < y0 + height;
      if (shot.rgb[static_cast<std::size_t>(y) * static_cast<std::size_t>(shot.width) + static_cast<std::size_t>(x)] == 0) continue;
      ++(in ? inside : outside);
    }
  }
  const bool box = outside == 0 && inside > 0;
  std::printf("%s: %zu lit pixels inside the centred %dx%d box, %zu outside it\n",
              box ? "a box on black" : "not a box on black", inside, width, height, outside);
  return box ? 0 : 1;
}

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--box") {
    Picture shot;
    std::string why;
    const int width = std::atoi(argv[2]), height = std::atoi(argv[3]);
    if (!readPpm(argv[4], shot, why) || width <= 0 || height <= 0) {
      std::printf("%s: %s\n", argv[4], why.empty() ? "a box size that is not WIDTH HEIGHT" : why.c_str());
      return 2;
    }
    return centredBox(shot, width, height);
  }
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: screendump_compare SHOT.ppm PAGE.png [DIFF.png] | --box WIDTH HEIGHT SHOT.ppm\n");
    return 2;
  }
  Picture shot, page;
  std::string why;
  if (!readPpm(argv[1], shot, why)) {
    std::printf("%s: %s\n", argv[1], why.c_str());
    return 2;
  }
  if (!readPng(argv[2], page, why)) {
    std::printf("%s: %s\n", argv[2], why.c_str());
    return 2;
  }
  if (shot.width != page.width || shot.height != page.height) {
    std::printf("different sizes: the monitor shows %dx%d, the page is %dx%d\n", shot.width, shot.height, page.width,
                page.height);
    return 1;
  }
  std::size_t differing = 0;
  int left = page.width, top = page.height, right = -1, bottom = -1;
  std::size_t first = 0;
  for (int y = 0; y < page.height; ++y) {
    for (int x = 0; x < page.width; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(page.width) + static_cast<std::size_t>(x);
      if (shot.rgb[i] == page.rgb[i]) continue;
      if (differing++ == 0) first = i;
      left = std::min(left, x), right = std::max(right, x);
      top = std::min(top, y), bottom = std::max(bottom, y);
    }
  }
  if (differing == 0) {
    std::printf("identical: %dx%d, every pixel the same\n", page.width, page.height);
    return 0;
  }
  std::printf("%zu of %zu pixels differ, within %d,%d-%d,%d; the first at %zu,%zu is #%06x on the monitor, #%06x on the page\n",
              differing, page.rgb.size(), left, top, right, bottom, first % static_cast<std::size_t>(page.width),
              first / static_cast<std::size_t>(page.width), shot.rgb[first], page.rgb[first]);
  if (argc == 4) writeDiff(argv[3], page, shot);
  return 1;
}
