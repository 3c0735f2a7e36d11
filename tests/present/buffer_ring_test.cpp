// The buffers behind a Wayland or console screen: drawing never goes into one the server may still
// read, and the one handed out always holds the newest page.
#include <gtest/gtest.h>

#include "present/buffer_ring.h"

namespace plasma {
namespace {

std::uint32_t at(cairo_surface_t* s, int x, int y) {
  cairo_surface_flush(s);
  return reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(s) +
                                                y * cairo_image_surface_get_stride(s))[x] & 0xffffff;
}

void fill(cairo_surface_t* s, const PixelRect& r, std::uint32_t rgb) {
  cairo_t* cr = cairo_create(s);
  cairo_set_source_rgb(cr, (rgb >> 16) / 255.0, ((rgb >> 8) & 0xff) / 255.0, (rgb & 0xff) / 255.0);
  cairo_rectangle(cr, r.left, r.top, r.width(), r.height());
  cairo_fill(cr);
  cairo_destroy(cr);
}

// A ring over 16 x 16 buffers whose server lets go of a buffer only when the test says so, or
// while the ring waits when `releaseWhileWaiting` names one.
struct Rig {
  std::vector<cairo_surface_t*> made;
  int waits = 0;
  std::uintptr_t releaseWhileWaiting = 0;
  BufferRing ring{[this](const std::function<bool()>& done, int) {
                    ++waits;
                    if (releaseWhileWaiting) ring.released(std::exchange(releaseWhileWaiting, 0));
                    (void)done();
                  },
                  [this] {
                    BufferRing::Buffer b;
                    b.image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 16, 16);
                    made.push_back(b.image);
                    b.handle = made.size();
                    return b;
                  }};
  ~Rig() {
    for (cairo_surface_t* s : made) cairo_surface_destroy(s);
  }
  // Draws a rectangle in the next target and presents it; returns the buffer shown.
  BufferRing::Buffer& frame(const PixelRect& r, std::uint32_t rgb) {
    fill(ring.drawTarget().image, r, rgb);
    return ring.presented(r);
  }
};

TEST(BufferRing, TheBufferHandedOutHoldsTheNewestPageAndIsNeverOneTheServerReads) {
  Rig rig;
  const BufferRing::Buffer first = rig.frame({0, 0, 16, 16}, 0x112233);
  ASSERT_TRUE(first.busy);
  // The server has shown the only buffer and still holds it: a second one at once, brought up to
  // date whole.
  rig.ring.shown();
  BufferRing::Buffer& second = rig.ring.drawTarget();
  EXPECT_NE(second.handle, first.handle);
  EXPECT_EQ(at(second.image, 5, 5), 0x112233u);
  fill(second.image, {0, 0, 4, 4}, 0xff0000);
  rig.ring.presented({0, 0, 4, 4});
  // The server lets go of the first while the ring waits: it comes back with only the change
  // copied into it.
  fill(rig.made[0], {8, 8, 16, 16}, 0x00ff00);  // a mark outside the change: must stay
  rig.releaseWhileWaiting = first.handle;
  BufferRing::Buffer& again = rig.ring.drawTarget();
  EXPECT_EQ(again.handle, first.handle);
  EXPECT_EQ(rig.waits, 1);
  EXPECT_EQ(at(again.image, 1, 1), 0xff0000u);
  EXPECT_EQ(at(again.image, 9, 9), 0x00ff00u) << "more than the change was copied";
  EXPECT_EQ(rig.made.size(), 2u);
}

TEST(BufferRing, TheNewestBufferIsDrawnIntoAgainOnceTheServerLetsGoOfIt) {
  // A compositor that copies the pixels at once, and one that lets go at its next repaint (a GL
  // one uploading them): one buffer serves both, frame after frame.
  for (const bool atOnce : {true, false}) {
    SCOPED_TRACE(atOnce ? "let go at once" : "let go while the ring waits");
    Rig rig;
    for (std::uint32_t rgb : {0x445566u, 0x778899u}) {
      const BufferRing::Buffer& shown = rig.frame({0, 0, 16, 16}, rgb);
      if (atOnce) rig.ring.released(shown.handle);
      else rig.releaseWhileWaiting = shown.handle;
      EXPECT_EQ(rig.ring.drawTarget().handle, shown.handle);
      EXPECT_EQ(at(rig.ring.drawTarget().image, 1, 1), rgb);
    }
    EXPECT_EQ(rig.made.size(), 1u) << "a second buffer where one serves";
    EXPECT_EQ(rig.waits, atOnce ? 0 : 2);
  }
}

TEST(BufferRing, WhatTheNextCopyOverwritesIsNotBroughtUpToDateFirst) {
  Rig rig;
  rig.frame({0, 0, 16, 16}, 0x111111);
  rig.frame({0, 0, 16, 16}, 0x222222);  // into the second buffer; the first is 16 x 16 behind
  rig.ring.released(1);
  fill(rig.made[0], {0, 0, 16, 16}, 0x333333);
  rig.ring.willOverwrite({0, 0, 16, 10});  // the top ten rows are about to be drawn over
  BufferRing::Buffer& b = rig.ring.drawTarget();
  ASSERT_EQ(b.handle, 1u);
  EXPECT_EQ(at(b.image, 3, 3), 0x333333u) << "the overwritten part was copied for nothing";
  EXPECT_EQ(at(b.image, 3, 12), 0x222222u) << "the rest must be up to date";
}

TEST(BufferRing, AServerThatHoldsEveryBufferGetsAThirdRatherThanADrawingUnderItsEyes) {
  Rig rig;
  rig.frame({0, 0, 16, 16}, 0x010101);
  rig.ring.shown();
  rig.frame({0, 0, 16, 16}, 0x020202);
  // Both held and none let go while the ring waits.
  BufferRing::Buffer& third = rig.ring.drawTarget();
  EXPECT_EQ(rig.waits, 1);
  EXPECT_EQ(third.handle, 3u);
  EXPECT_EQ(at(third.image, 0, 0), 0x020202u);
}

TEST(BufferRing, RectanglesAreSubtractedOnlyWhereTheRestIsOneRectangle) {
  const PixelRect s{10, 10, 20, 20};
  const struct {
    PixelRect cut, want;
  } cases[] = {
      {{0, 0, 30, 30}, {}},                // all of it
      {{0, 0, 30, 15}, {10, 15, 20, 20}},  // the top rows
      {{0, 18, 30, 40}, {10, 10, 20, 18}}, // the bottom rows
      {{0, 0, 12, 30}, {12, 10, 20, 20}},  // the left columns
      {{16, 0, 30, 30}, {10, 10, 16, 20}}, // the right columns
      {{12, 12, 14, 14}, s},               // a hole: kept whole
      {{12, 0, 14, 30}, s},                // a band through the middle: kept whole
      {{30, 30, 40, 40}, s},               // elsewhere
  };
  for (const auto& c : cases) {
    const PixelRect r = subtract(s, c.cut);
    EXPECT_TRUE(r.left == c.want.left && r.top == c.want.top && r.right == c.want.right && r.bottom == c.want.bottom)
        << c.cut.left << "," << c.cut.top << "-" << c.cut.right << "," << c.cut.bottom << " gave " << r.left << ","
        << r.top << "-" << r.right << "," << r.bottom;
  }
}

}  // namespace
}  // namespace plasma
