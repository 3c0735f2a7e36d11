#pragma once
#include <memory>
#include <string>
#include <vector>

#include "canvas/cairo_surface.h"
#include "present/window.h"

namespace plasma {

// A window without a window system: the retained image lives in memory, every refresh is counted,
// every copy is logged, and each presented page can be written as a PNG frame.
class HeadlessWindow final : public Window {
 public:
  struct Copy {
    int sx, sy, width, height, dx, dy;
  };

  HeadlessWindow(int width, int height);

  int clientWidth() const override { return image_->pixelWidth(); }
  int clientHeight() const override { return image_->pixelHeight(); }
  void setRetained(bool on) override { retained_ = on; }
  bool retained() const { return retained_; }
  void copyFrom(const Surface& source, int sx, int sy, int width, int height, int dx,
                int dy) override;
  void refresh() override { ++refreshes_; }
  cairo_surface_t* image() const override { return image_->image(); }
  void pagePresented(const std::string& pageName) override;

  // Writes every presented page as dir/frame-NNNNNN.png.
  void setFrameDir(std::string dir) { frameDir_ = std::move(dir); }

  int refreshCount() const { return refreshes_; }
  const std::vector<Copy>& copies() const { return copies_; }
  const std::vector<std::string>& pages() const { return pages_; }
  int framesWritten() const { return frameNumber_; }
  void resetLog() {
    copies_.clear();
    refreshes_ = 0;
  }

 private:
  std::unique_ptr<CairoSurface> image_;
  bool retained_ = false;
  int refreshes_ = 0;
  std::vector<Copy> copies_;
  std::vector<std::string> pages_;
  std::string frameDir_;
  int frameNumber_ = 0;
};

// Makes the folder frames are written to, with its parents. False, with the reason, when it
// cannot be made or is not a folder: better said once at start than at every frame.
bool prepareFrameDir(const std::string& dir, std::string& why);

// Writes a window image as dir/frame-NNNNNN.png (the number given), atomically.
bool writeFrame(cairo_surface_t* image, const std::string& dir, int number);

// The window image as PNG bytes; false when Cairo could not encode it.
bool encodePng(cairo_surface_t* image, std::string& out);

// Writes a PNG through a temporary file and a rename, so a reader never sees half a file.
bool writePngAtomic(cairo_surface_t* image, const std::string& path);

}  // namespace plasma
