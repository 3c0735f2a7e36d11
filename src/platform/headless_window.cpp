#include "platform/headless_window.h"

#include <unistd.h>

#include <cstdio>

namespace plasma {

HeadlessWindow::HeadlessWindow(int width, int height)
    : image_(std::make_unique<CairoSurface>(width, height)) {
  // A new window shows its black background until the first page arrives.
  image_->setBackColour(colours::kBlack);
}

void HeadlessWindow::copyFrom(const Surface& source, int sx, int sy, int width, int height, int dx,
                              int dy) {
  copies_.push_back({sx, sy, width, height, dx, dy});
  image_->copyFrom(source, sx, sy, width, height, dx, dy);
}

void HeadlessWindow::pagePresented(const std::string& pageName) {
  pages_.push_back(pageName);
  if (!frameDir_.empty()) {
    writeFrame(image(), frameDir_, frameNumber_);
    ++frameNumber_;
  }
}

bool writePngAtomic(cairo_surface_t* image, const std::string& path) {
  const std::string tmp = path + ".tmp";
  if (!writePng(image, tmp)) return false;
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::perror(("plasma: cannot rename " + tmp).c_str());
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

bool writeFrame(cairo_surface_t* image, const std::string& dir, int number) {
  char name[32];
  std::snprintf(name, sizeof name, "/frame-%06d.png", number);
  return writePngAtomic(image, dir + name);
}

}  // namespace plasma
