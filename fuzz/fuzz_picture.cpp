// Arbitrary bytes as a slideshow picture file: decoded exactly as the picture worker decodes a file
// it has read (only the canvas's top-left part is kept), then laid on a canvas over its back colour
// as the picture page does. Whatever the bytes, nothing may crash, read or write out of bounds,
// leak, hang or allocate beyond the decoders' limits (scripts/fuzz caps every allocation).
#include <cstddef>
#include <cstdint>

#include "canvas/cairo_surface.h"
#include "platform/picture_decoder.h"
#include "support/legacy.h"

namespace {

using namespace plasma;

// A small canvas keeps each input cheap while still cutting wider and taller pictures.
constexpr int kWidth = 340;
constexpr int kHeight = 200;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CairoSurface canvas(kWidth, kHeight);
  try {
    const auto picture = decodePicture(data, size, "fuzz", PictureLimits{kWidth, kHeight});
    if (picture->width() > kWidth || picture->height() > kHeight) __builtin_trap();
    canvas.setBackColour(colours::kBoardBackground);
    canvas.setPicture(picture);
    canvas.clear();
    (void)canvas.image();
    canvas.removePicture();
  } catch (const RuntimeError&) {
    // A refused picture is the black page; nothing else to check.
  }
  return 0;
}
