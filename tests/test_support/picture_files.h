#pragma once
// Small picture files written byte by byte, so tests can make exactly the well-formed, damaged and
// hostile variants they need (a chunk length off by one, a GIF frame larger than its screen).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace plasma::test {

using Bytes = std::vector<unsigned char>;

struct Rgba {
  unsigned char r, g, b, a;
};
using PixelFn = std::function<Rgba(int x, int y)>;

enum class PngKind { Rgb, Rgba, GrayOneBit };
// A PNG with one IDAT; Adam7-interlaced on request.
Bytes pngFile(int width, int height, PngKind kind, bool interlaced, const PixelFn& pixel);
// Offset of the first IDAT chunk's length field.
std::size_t pngIdatOffset(const Bytes& png);

// A JPEG (libjpeg), baseline or progressive, colour or grey.
Bytes jpegFile(int width, int height, bool progressive, bool grey, const PixelFn& pixel);

// A GIF with a palette of at most 256 colours and one frame at (left, top) of the given size on a
// screen of screenW x screenH (nothing stops a frame from exceeding it). `transparent` is a
// palette index or -1. The LZW data is written uncompressed (a clear code every 254 codes).
struct GifFrame {
  int left = 0, top = 0, width = 0, height = 0;
  bool interlaced = false;
};
Bytes gifFile(int screenW, int screenH, const GifFrame& frame, const std::vector<Rgba>& palette,
              int transparent, const std::function<int(int x, int y)>& index);

// A bottom-up BMP: 24 bits, or 8 bits with the given palette (index from the function's red).
Bytes bmpFile(int width, int height, int bpp, const PixelFn& pixel, const std::vector<Rgba>& palette = {});

void writeFile(const std::string& path, const Bytes& bytes);

}  // namespace plasma::test
