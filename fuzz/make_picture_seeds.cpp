// Writes the generated seed pictures of the picture fuzz target into a folder: every format and
// its variants (interlaced, transparent, progressive, grey, palette), and the damaged classes that
// hung or exhausted the old loader (a damaged PNG chunk length, a GIF frame larger than its
// screen, an 8192 x 8192 PNG). Real pictures of the project sit beside them in the folder.
//   fuzz_picture_seeds DIR
#include <cstdio>
#include <string>

#include "test_support/picture_files.h"

using namespace plasma::test;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_picture_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  const auto put = [&](const std::string& name, const Bytes& b) { writeFile(dir + "/" + name, b); };
  const auto quarters = [](int x, int y) {
    return Rgba{static_cast<unsigned char>(x < 24 ? 200 : 20), static_cast<unsigned char>(y < 16 ? 40 : 220), 90,
                static_cast<unsigned char>(x < 12 ? 0 : x < 30 ? 128 : 255)};
  };
  const std::vector<Rgba> palette = {{200, 40, 90, 255}, {20, 220, 90, 255}, {0, 0, 0, 255}, {255, 255, 255, 255}};
  const auto index = [](int x, int y) { return (x / 8 + y / 8) % 4; };

  put("png-rgb.png", pngFile(48, 32, PngKind::Rgb, false, quarters));
  put("png-rgba.png", pngFile(48, 32, PngKind::Rgba, false, quarters));
  put("png-interlaced.png", pngFile(48, 32, PngKind::Rgba, true, quarters));
  put("png-grey-1bit.png", pngFile(48, 32, PngKind::GrayOneBit, false, quarters));
  put("jpeg-baseline.jpg", jpegFile(48, 32, false, false, quarters));
  put("jpeg-progressive.jpg", jpegFile(48, 32, true, false, quarters));
  put("jpeg-grey.jpg", jpegFile(48, 32, false, true, quarters));
  put("gif.gif", gifFile(48, 32, {0, 0, 48, 32, false}, palette, -1, index));
  put("gif-interlaced-transparent.gif", gifFile(48, 32, {0, 0, 48, 32, true}, palette, 2, index));
  put("gif-small-frame.gif", gifFile(48, 32, {8, 4, 20, 10, false}, palette, -1, index));
  put("bmp-24.bmp", bmpFile(48, 32, 24, quarters));
  put("bmp-8.bmp", bmpFile(48, 32, 8, [&](int x, int y) { return Rgba{static_cast<unsigned char>(index(x, y)), 0, 0, 255}; }, palette));

  Bytes png = pngFile(48, 32, PngKind::Rgb, false, quarters);
  png[pngIdatOffset(png) + 2] ^= 0x01;
  put("damaged-png-chunk-length.png", png);
  Bytes gif = gifFile(10, 10, {0, 0, 1, 1, false}, palette, -1, index);
  const std::size_t frameSize = 6 + 7 + 3 * 256 + 5;
  gif[frameSize] = gif[frameSize + 2] = 0x60;  // a 60000 x 60000 frame on a 10 x 10 screen
  gif[frameSize + 1] = gif[frameSize + 3] = 0xEA;
  put("damaged-gif-frame-larger-than-screen.gif", gif);
  put("huge-8192x8192.png", pngFile(8192, 8192, PngKind::GrayOneBit, false, [](int x, int) {
        return Rgba{static_cast<unsigned char>(x % 64 < 32 ? 255 : 0), 0, 0, 255};
      }));
  const Bytes jpeg = jpegFile(48, 32, true, false, quarters);
  put("damaged-jpeg-truncated.jpg", Bytes(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(jpeg.size() / 2)));
  return 0;
}
