#include "platform/image_loader.h"

#include <SDL.h>
#include <SDL_image.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "support/legacy.h"
#include "support/log.h"

namespace plasma {
namespace {

unsigned be16(const unsigned char* p) { return (p[0] << 8) | p[1]; }
unsigned le16(const unsigned char* p) { return p[0] | (p[1] << 8); }
std::uint32_t be32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}
std::int32_t le32(const unsigned char* p) {
  return static_cast<std::int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24));
}

bool jpegDimensions(const unsigned char* d, std::size_t n, int& w, int& h) {
  std::size_t i = 2;
  while (i + 4 <= n) {
    if (d[i] != 0xFF) return false;
    const unsigned char marker = d[i + 1];
    if (marker == 0xFF) {  // fill byte
      ++i;
      continue;
    }
    if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      i += 2;
      continue;
    }
    const std::size_t len = be16(d + i + 2);
    const bool sof = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                     marker != 0xCC;
    if (sof) {
      if (i + 9 > n) return false;
      h = static_cast<int>(be16(d + i + 5));
      w = static_cast<int>(be16(d + i + 7));
      return true;
    }
    if (len < 2) return false;
    i += 2 + len;
  }
  return false;
}

}  // namespace

bool pictureDimensions(const unsigned char* d, std::size_t n, int& w, int& h) {
  if (n >= 24 && std::memcmp(d, "\x89PNG\r\n\x1a\n", 8) == 0 && std::memcmp(d + 12, "IHDR", 4) == 0) {
    const std::uint32_t pw = be32(d + 16), ph = be32(d + 20);
    if (pw > 0x7fffffff || ph > 0x7fffffff) return false;
    w = static_cast<int>(pw);
    h = static_cast<int>(ph);
    return true;
  }
  if (n >= 10 && (std::memcmp(d, "GIF87a", 6) == 0 || std::memcmp(d, "GIF89a", 6) == 0)) {
    w = static_cast<int>(le16(d + 6));
    h = static_cast<int>(le16(d + 8));
    return true;
  }
  if (n >= 26 && d[0] == 'B' && d[1] == 'M') {
    const std::int32_t header = le32(d + 14);
    if (header == 12) {
      w = static_cast<int>(le16(d + 18));
      h = static_cast<int>(le16(d + 20));
    } else {
      w = le32(d + 18);
      const std::int32_t bh = le32(d + 22);
      h = bh == INT32_MIN ? -1 : (bh < 0 ? -bh : bh);
    }
    return true;
  }
  if (n >= 4 && d[0] == 0xFF && d[1] == 0xD8) return jpegDimensions(d, n, w, h);
  return false;
}

std::shared_ptr<const Picture> decodePicture(const unsigned char* data, std::size_t size,
                                             const std::string& what) {
  int w = 0, h = 0;
  if (!pictureDimensions(data, size, w, h)) {
    throw RuntimeError(ErrorKind::InvalidPicture, what + " is not a BMP, PNG, JPEG or GIF picture");
  }
  if (w <= 0 || h <= 0 || w > kMaxPictureSide || h > kMaxPictureSide) {
    throw RuntimeError(ErrorKind::InvalidPicture, what + " is " + std::to_string(w) + " x " +
                                                      std::to_string(h) +
                                                      " pixels (at most 8192 x 8192 are shown)");
  }
  SDL_RWops* rw = SDL_RWFromConstMem(data, static_cast<int>(size));
  SDL_Surface* decoded = rw ? IMG_Load_RW(rw, 1) : nullptr;
  if (!decoded) {
    throw RuntimeError(ErrorKind::InvalidPicture, what + " cannot be decoded: " + IMG_GetError());
  }
  // The decoded size must match what the header promised, or the header check meant nothing.
  if (decoded->w > kMaxPictureSide || decoded->h > kMaxPictureSide) {
    SDL_FreeSurface(decoded);
    throw RuntimeError(ErrorKind::InvalidPicture, what + " decodes larger than 8192 x 8192");
  }
  // Palette pictures need SDL's own conversion; every other format is converted straight into the
  // picture's pixels, without a third full-size copy (a 1080p picture would otherwise hold 22 MB
  // at its peak instead of 14 MB).
  SDL_Surface* source = decoded;
  if (SDL_ISPIXELFORMAT_INDEXED(decoded->format->format)) {
    source = SDL_ConvertSurfaceFormat(decoded, SDL_PIXELFORMAT_XRGB8888, 0);
    SDL_FreeSurface(decoded);
    if (!source) {
      throw RuntimeError(ErrorKind::InvalidPicture, what + " cannot be converted: " + SDL_GetError());
    }
  }
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, source->w, source->h);
  if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
    SDL_FreeSurface(source);
    cairo_surface_destroy(image);
    throw RuntimeError(ErrorKind::InvalidPicture, what + ": no memory for the picture");
  }
  cairo_surface_flush(image);
  SDL_LockSurface(source);
  const int converted = SDL_ConvertPixels(
      source->w, source->h, source->format->format, source->pixels, source->pitch,
      SDL_PIXELFORMAT_XRGB8888, cairo_image_surface_get_data(image), cairo_image_surface_get_stride(image));
  SDL_UnlockSurface(source);
  SDL_FreeSurface(source);
  if (converted != 0) {
    cairo_surface_destroy(image);
    throw RuntimeError(ErrorKind::InvalidPicture, what + " cannot be converted: " + SDL_GetError());
  }
  cairo_surface_mark_dirty(image);
  return std::make_shared<Picture>(image);
}

namespace {

// Enough of a path to find the file; a longer one is cut in the log.
constexpr std::size_t kShownPathBytes = 200;

class SdlImageLoader final : public ImageLoader {
 public:
  bool pictureFileExists(const std::string& path) override {
    // The path comes from the server: escaped, so it cannot forge or erase log lines.
    const std::string shown = escapeForLog(path, kShownPathBytes);
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
      logLine("picture " + shown + ": not found");
      return false;
    }
    if (!S_ISREG(st.st_mode)) {
      logLine("picture " + shown + ": not a regular file, not shown");
      return false;
    }
    if (st.st_size > kMaxPictureFileBytes) {
      logLine("picture " + shown + ": " + std::to_string(st.st_size) + " bytes, larger than 64 MiB, not shown");
      return false;
    }
    return true;
  }

  std::shared_ptr<const Picture> load(const std::string& path) override {
    const std::string shown = escapeForLog(path, kShownPathBytes);
    // O_NONBLOCK so that a path swapped for a FIFO after the test cannot block the display.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      throw RuntimeError(ErrorKind::FileNotFound, shown + ": " + std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxPictureFileBytes) {
      ::close(fd);
      throw RuntimeError(ErrorKind::InvalidPicture, shown + " is not a regular file within 64 MiB");
    }
    std::vector<unsigned char> bytes(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(got);
    return decodePicture(bytes.data(), bytes.size(), shown);
  }
};

}  // namespace

std::unique_ptr<ImageLoader> makeSdlImageLoader() { return std::make_unique<SdlImageLoader>(); }

}  // namespace plasma
