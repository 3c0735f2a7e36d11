#pragma once
#include <memory>
#include <string>

#include "canvas/surface.h"

namespace plasma {

// Loads slideshow pictures and artwork. Only regular files of at most 64 MiB are pictures; a
// picture larger than 8192 x 8192 pixels, or a file that is not a picture, is a load error.
class ImageLoader {
 public:
  virtual ~ImageLoader() = default;
  // The slideshow's file test: true only for a regular file within the size limit. Anything else
  // (a missing file, a folder, a FIFO, a device, an oversized file) counts as missing and is
  // logged, so a bad path can never hang or exhaust the display.
  virtual bool pictureFileExists(const std::string& path) = 0;
  // Decodes a picture; throws RuntimeError(InvalidPicture) when it cannot.
  virtual std::shared_ptr<const Picture> load(const std::string& path) = 0;
};

inline constexpr long long kMaxPictureFileBytes = 64LL * 1024 * 1024;
inline constexpr int kMaxPictureSide = 8192;

// Decodes BMP, PNG, JPEG and GIF through SDL2_image, after checking the dimensions in the file's
// header so that no decoder is ever asked for an enormous image.
std::unique_ptr<ImageLoader> makeSdlImageLoader();

// Decodes a picture held in memory (the embedded artwork); throws RuntimeError on failure.
std::shared_ptr<const Picture> decodePicture(const unsigned char* data, std::size_t size,
                                             const std::string& what);

// Reads width and height from a BMP, PNG, JPEG or GIF header; false when the format is not one of
// those or the header is damaged.
bool pictureDimensions(const unsigned char* data, std::size_t size, int& width, int& height);

}  // namespace plasma
