#pragma once
#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

#include "canvas/surface.h"

namespace plasma {

// No side of a picture may be larger: a 8192 x 8192 picture is accepted (only the part the canvas
// shows is kept), anything larger is refused from its header, before a pixel is decoded.
inline constexpr int kMaxPictureSide = 8192;

// The part of a picture that is kept: its top-left corner, at most this size. Pictures are drawn at
// their natural size, so the slideshow keeps the canvas's size and a huge picture costs no more
// than a canvas-sized one; rows below it are never decoded and columns right of it are dropped
// row by row.
struct PictureLimits {
  int width = kMaxPictureSide;
  int height = kMaxPictureSide;
  bool operator==(const PictureLimits&) const = default;
};

// Decodes a BMP, PNG, JPEG or GIF (its first frame) held in memory. Every decoder is told the
// limits before it allocates, and refuses what its header or a frame claims beyond them; a damaged,
// truncated or hostile file ends in RuntimeError(InvalidPicture) with the reason, in time and memory
// bounded by the kept size (a progressive JPEG also needs its coefficients: at most 16 MiB; an
// interlaced PNG is decoded whole, so it may have at most 32 million pixels). A
// picture with transparent pixels (PNG alpha or tRNS, a GIF's transparent colour or a frame smaller
// than its screen) keeps its alpha, so it can be laid over the canvas's background colour.
// `cancel` (checked every row) stops a decode that is no longer wanted.
std::shared_ptr<const Picture> decodePicture(const unsigned char* data, std::size_t size,
                                             const std::string& what, PictureLimits keep = {},
                                             const std::atomic<bool>* cancel = nullptr);

// Working memory a progressive JPEG may use beyond the kept pixels.
inline constexpr long kMaxJpegWorkBytes = 16L * 1024 * 1024;

}  // namespace plasma
