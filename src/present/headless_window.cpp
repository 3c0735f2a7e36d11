#include "present/headless_window.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/files.h"
#include "support/log.h"
#include <vector>

namespace plasma {
namespace {

// The logs are for tests and short simulations; a headless display that runs for weeks keeps
// only the most recent entries, so its memory stays flat.
constexpr std::size_t kMaxLogEntries = 4096;

template <typename T>
void keepRecent(std::vector<T>& log) {
  if (log.size() >= kMaxLogEntries) log.erase(log.begin(), log.begin() + kMaxLogEntries / 2);
}

}  // namespace

HeadlessWindow::HeadlessWindow(int width, int height)
    : image_(std::make_unique<CairoSurface>(width, height)) {
  // A new window shows its black background until the first page arrives.
  image_->setBackColour(colours::kBlack);
}

void HeadlessWindow::copyFrom(const Surface& source, int sx, int sy, int width, int height, int dx,
                              int dy) {
  keepRecent(copies_);
  copies_.push_back({sx, sy, width, height, dx, dy});
  image_->copyFrom(source, sx, sy, width, height, dx, dy);
}

void HeadlessWindow::pagePresented(const std::string& pageName) {
  keepRecent(pages_);
  pages_.push_back(pageName);
  if (!frameDir_.empty()) {
    writeFrame(image(), frameDir_, frameNumber_);
    ++frameNumber_;
  }
}

bool encodePng(cairo_surface_t* image, std::string& out) {
  out.clear();
  const auto append = [](void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
  };
  return cairo_surface_write_to_png_stream(image, append, &out) == CAIRO_STATUS_SUCCESS;
}

bool writePngAtomic(cairo_surface_t* image, const std::string& path) {
  std::string png, error;
  if (!encodePng(image, png)) {
    logLine("cannot encode " + path);
    return false;
  }
  const bool ok = writeTextAtomic(path, png, &error);
  if (!ok) logLine(error);
  return ok;
}

bool prepareFrameDir(const std::string& dir, std::string& why) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (!ec && !std::filesystem::is_directory(dir, ec)) {
    why = "not a folder";
    return false;
  }
  if (ec) {
    why = ec.message();
    return false;
  }
  if (::access(dir.c_str(), W_OK) != 0) {
    why = std::strerror(errno);
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
