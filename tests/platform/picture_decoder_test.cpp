// The picture decoders: every format gives the right pixels, keeps only the canvas's top-left part,
// lays transparent pixels over the canvas's back colour, and refuses damaged and hostile files with
// a reason, quickly.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "canvas/cairo_surface.h"
#include "canvas/colour.h"
#include "platform/picture_decoder.h"
#include "support/legacy.h"
#include "test_support/picture_files.h"
#include "test_support/rig.h"

namespace plasma {
namespace {

using test::Bytes;
using test::Rgba;

// Four flat quarters, so lossy JPEG can be probed away from the edges.
constexpr Rgba kQuarter[4] = {{200, 30, 30, 255}, {30, 160, 40, 255}, {20, 40, 210, 255}, {250, 250, 250, 255}};
int quarterOf(int x, int y, int w, int h) { return (x >= w / 2 ? 1 : 0) + (y >= h / 2 ? 2 : 0); }
test::PixelFn quarters(int w, int h) {
  return [w, h](int x, int y) { return kQuarter[quarterOf(x, y, w, h)]; };
}
std::vector<Rgba> quarterPalette() { return {kQuarter[0], kQuarter[1], kQuarter[2], kQuarter[3]}; }

Colour at(const Picture& p, int x, int y) { return test::pixel(p.cairo(), x, y); }

std::shared_ptr<const Picture> decode(const Bytes& b, PictureLimits keep = {}) {
  return decodePicture(b.data(), b.size(), "picture.file", keep);
}

struct Format {
  const char* name;
  Bytes file;
  int tolerance;  // per channel: JPEG is lossy
};

std::vector<Format> everyFormat(int w, int h) {
  const auto index = [w, h](int x, int y) { return quarterOf(x, y, w, h); };
  return {
      {"PNG", test::pngFile(w, h, test::PngKind::Rgb, false, quarters(w, h)), 0},
      {"interlaced PNG", test::pngFile(w, h, test::PngKind::Rgb, true, quarters(w, h)), 0},
      {"JPEG", test::jpegFile(w, h, false, false, quarters(w, h)), 6},
      {"progressive JPEG", test::jpegFile(w, h, true, false, quarters(w, h)), 6},
      {"GIF", test::gifFile(w, h, {0, 0, w, h, false}, quarterPalette(), -1, index), 0},
      {"interlaced GIF", test::gifFile(w, h, {0, 0, w, h, true}, quarterPalette(), -1, index), 0},
      {"24-bit BMP", test::bmpFile(w, h, 24, quarters(w, h)), 0},
      {"8-bit BMP", test::bmpFile(w, h, 8, [&](int x, int y) {
         return Rgba{static_cast<unsigned char>(index(x, y)), 0, 0, 255};
       }, quarterPalette()), 0},
  };
}

void expectNear(Colour got, Rgba want, int tolerance) {
  EXPECT_NEAR(got.r, want.r, tolerance) << got;
  EXPECT_NEAR(got.g, want.g, tolerance) << got;
  EXPECT_NEAR(got.b, want.b, tolerance) << got;
}

TEST(PictureDecoder, EveryFormatGivesItsPixelsAndKeepsOnlyTheTopLeftPartTheCanvasShows) {
  constexpr int w = 96, h = 64;
  for (const Format& f : everyFormat(w, h)) {
    SCOPED_TRACE(f.name);
    const auto whole = decode(f.file);
    ASSERT_EQ(whole->width(), w);
    ASSERT_EQ(whole->height(), h);
    EXPECT_TRUE(whole->opaque());
    for (int q = 0; q < 4; ++q) {
      expectNear(at(*whole, (q % 2) * w / 2 + w / 4, (q / 2) * h / 2 + h / 4), kQuarter[q], f.tolerance);
    }
    // A canvas of 60 x 40: the part right of and below it is never kept.
    const auto part = decode(f.file, {60, 40});
    ASSERT_EQ(part->width(), 60);
    ASSERT_EQ(part->height(), 40);
    expectNear(at(*part, 20, 12), kQuarter[0], f.tolerance);
    expectNear(at(*part, 56, 12), kQuarter[1], f.tolerance);
    expectNear(at(*part, 20, 36), kQuarter[2], f.tolerance);
    expectNear(at(*part, 56, 36), kQuarter[3], f.tolerance);
  }
}

TEST(PictureDecoder, TransparentPixelsShowTheCanvasBackColour) {
  constexpr int w = 40, h = 20;
  // Left half fully transparent, right half opaque red; a GIF whose transparent colour is the left
  // half, and a GIF frame that covers only the right half of its screen.
  const auto half = [](int x, int) { return x < 20 ? Rgba{255, 255, 255, 0} : Rgba{255, 0, 0, 255}; };
  const std::vector<Rgba> palette = {{255, 255, 255, 255}, {255, 0, 0, 255}};
  const struct {
    const char* name;
    Bytes file;
  } cases[] = {
      {"PNG alpha", test::pngFile(w, h, test::PngKind::Rgba, false, half)},
      {"GIF transparent colour", test::gifFile(w, h, {0, 0, w, h, false}, palette, 0,
                                               [](int x, int) { return x < 20 ? 0 : 1; })},
      {"GIF frame smaller than its screen", test::gifFile(w, h, {20, 0, 20, h, false}, palette, -1,
                                                          [](int, int) { return 1; })},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto picture = decode(c.file);
    EXPECT_FALSE(picture->opaque());
    CairoSurface canvas(60, 30);
    canvas.setBackColour(colours::kBoardBackground);
    canvas.setPicture(picture);
    EXPECT_EQ(test::pixel(canvas.image(), 5, 5), colours::kBoardBackground);
    EXPECT_EQ(test::pixel(canvas.image(), 30, 5), (Colour{255, 0, 0}));
    EXPECT_EQ(test::pixel(canvas.image(), 50, 25), colours::kBoardBackground);  // outside the picture
    // A clear draws it again the same way.
    canvas.clear();
    EXPECT_EQ(test::pixel(canvas.image(), 5, 5), colours::kBoardBackground);
    EXPECT_EQ(test::pixel(canvas.image(), 30, 5), (Colour{255, 0, 0}));
  }
}

// Truncated anywhere in its pixels, every format is refused with a reason, never shown half-grey.
TEST(PictureDecoder, ATruncatedFileOfAnyFormatIsADecodeError) {
  for (const Format& f : everyFormat(96, 64)) {
    SCOPED_TRACE(f.name);
    for (int percent : {3, 10, 25, 50, 75, 90}) {
      SCOPED_TRACE(percent);
      const Bytes cut(f.file.begin(), f.file.begin() + static_cast<std::ptrdiff_t>(f.file.size() * percent / 100));
      try {
        decode(cut);
        ADD_FAILURE() << "decoded";
      } catch (const RuntimeError& e) {
        EXPECT_EQ(e.kind(), ErrorKind::InvalidPicture);
        EXPECT_NE(std::string(e.what()).find("picture.file"), std::string::npos) << e.what();
      }
    }
  }
}

double secondsFor(const std::function<void()>& fn) {
  const auto start = std::chrono::steady_clock::now();
  fn();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void expectRefused(const Bytes& file, const std::string& reason) {
  try {
    decode(file, {1920, 1080});
    ADD_FAILURE() << "decoded";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.kind(), ErrorKind::InvalidPicture);
    EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << e.what();
  }
}

// The files that hung or exhausted the old loader.
TEST(PictureDecoder, DamagedAndHostileFilesAreRefusedQuicklyWithTheirReason) {
  const auto grey = [](int x, int y) { return Rgba{static_cast<unsigned char>(x * 7 + y), 0, 0, 255}; };
  {
    SCOPED_TRACE("one damaged byte in a PNG chunk length");
    Bytes png = test::pngFile(300, 200, test::PngKind::Rgb, false, grey);
    png[test::pngIdatOffset(png) + 2] ^= 0x01;
    EXPECT_LT(secondsFor([&] { expectRefused(png, "PNG"); }), 2.0);
  }
  {
    SCOPED_TRACE("a GIF frame larger than its screen");
    Bytes gif = test::gifFile(10, 10, {0, 0, 1, 1, false}, {{1, 2, 3, 255}}, -1, [](int, int) { return 0; });
    constexpr std::size_t kFrameSize = 6 + 7 + 3 * 256 + 5;  // after the screen, its colours, left and top
    gif[kFrameSize] = gif[kFrameSize + 2] = 0x60;  // 60000 x 60000
    gif[kFrameSize + 1] = gif[kFrameSize + 3] = 0xEA;
    EXPECT_LT(secondsFor([&] { expectRefused(gif, "outside its 10 x 10 screen"); }), 2.0);
  }
  {
    SCOPED_TRACE("a GIF frame that starts outside its screen");
    const Bytes gif = test::gifFile(10, 10, {8, 0, 4, 4, false}, {{1, 2, 3, 255}}, -1, [](int, int) { return 0; });
    expectRefused(gif, "outside");
  }
  {
    SCOPED_TRACE("a picture larger than 8192 pixels");
    expectRefused(test::pngFile(8193, 1, test::PngKind::GrayOneBit, false, grey), "width exceeds");
    Bytes bmp = test::bmpFile(4, 4, 24, grey);
    bmp[22] = 0x01, bmp[23] = 0x20;  // height 8193 rows
    expectRefused(bmp, "4 x 8193");
  }
  {
    SCOPED_TRACE("a progressive JPEG whose coefficients exceed the working memory");
    expectRefused(test::jpegFile(4096, 4096, true, true, [](int, int) { return Rgba{9, 9, 9, 255}; }), "JPEG");
  }
  {
    SCOPED_TRACE("a progressive JPEG whose last scan repeats 2000 times");
    const Bytes jpeg = test::jpegFile(64, 64, true, false, quarters(64, 64));
    std::size_t lastScan = 0;
    for (std::size_t i = 0; i + 1 < jpeg.size(); ++i) {
      if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) lastScan = i;
    }
    Bytes many(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(lastScan));
    for (int i = 0; i < 2000; ++i) many.insert(many.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(lastScan), jpeg.end() - 2);
    many.insert(many.end(), {0xFF, 0xD9});
    EXPECT_LT(secondsFor([&] { expectRefused(many, "JPEG"); }), 2.0);
  }
  {
    SCOPED_TRACE("not a picture");
    expectRefused(Bytes{'<', 'h', 't', 'm', 'l', '>'}, "not a BMP, PNG, JPEG or GIF");
  }
}

// 8192 x 8192 in 20 KB: accepted, but only the canvas's part is kept and decoded. An interlaced
// picture must be decoded whole, so it is accepted up to 32 million pixels. (How long the largest
// take is the performance suite's to check.)
TEST(PictureDecoder, LargePicturesKeepOnlyTheCanvasPart) {
  const auto stripes = [](int x, int) { return Rgba{static_cast<unsigned char>(x % 16 < 8 ? 255 : 0), 0, 0, 255}; };
  for (const auto& [height, interlaced] : {std::pair{kMaxPictureSide, false}, std::pair{1400, true}}) {
    SCOPED_TRACE(interlaced ? "interlaced" : "plain");
    const Bytes png = test::pngFile(kMaxPictureSide, height, test::PngKind::GrayOneBit, interlaced, stripes);
    const std::shared_ptr<const Picture> picture = decode(png, {1920, 1080});
    ASSERT_EQ(picture->width(), 1920);
    ASSERT_EQ(picture->height(), 1080);
    EXPECT_EQ(at(*picture, 3, 1079), (Colour{255, 255, 255}));
    EXPECT_EQ(at(*picture, 1917, 1079), (Colour{0, 0, 0}));
  }
  expectRefused(test::pngFile(kMaxPictureSide, 4097, test::PngKind::GrayOneBit, true, stripes),
                "interlaced, at most 32 million pixels");
}

TEST(PictureDecoder, ADecodeThatIsNoLongerWantedStops) {
  const Bytes png = test::pngFile(512, 512, test::PngKind::Rgb, false, quarters(512, 512));
  const std::atomic<bool> cancel{true};
  try {
    decodePicture(png.data(), png.size(), "picture.file", {}, &cancel);
    ADD_FAILURE() << "decoded";
  } catch (const RuntimeError& e) {
    EXPECT_NE(std::string(e.what()).find("stopped"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace plasma
