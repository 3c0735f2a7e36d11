#include <gtest/gtest.h>

#include "pages/next_train.h"
#include "pages/next_train_fixture.h"

namespace plasma {
namespace {

using test::stopNames;
using test::trainAt;
using test::TrainRig;

// At 1360 x 770 the list area is 590 x 395 pixels at (745, 310) on variant 1; a strip of 9 rows
// is 450 pixels high, so it travels 55 pixels.
constexpr int kAreaWidth = 590;
constexpr int kNineRowsTravel = 55;

// Source y of every copy of the strip onto the window, in order.
std::vector<int> stripOffsets(const HeadlessWindow& w) {
  std::vector<int> sy;
  for (const auto& c : w.copies()) {
    if (c.width == kAreaWidth) {
      EXPECT_EQ(c.height, 395);
      EXPECT_EQ(c.dx, 745);
      EXPECT_EQ(c.dy, 310);
      sy.push_back(c.sy);
    }
  }
  return sy;
}

std::vector<int> oneTo(int last, int repeat = 1) {
  std::vector<int> v;
  for (int i = 1; i <= last; ++i) v.insert(v.end(), static_cast<std::size_t>(repeat), i);
  return v;
}

// A type 1 page with a long list, painted at time 0 as the cycle paints it.
struct ScrollRig : TrainRig {
  explicit ScrollRig(int stops = 9) {
    main({trainAt("10:30", 1, stopNames(stops))});
    showNextScreen(d(), true);
    window.resetLog();
    pages.clear();
  }
};

TEST(StopsScroller, RestsTwoTicksScrollsAPixelAFrameRestsAndIsRepaintedOnTheFourth) {
  ScrollRig rig;
  ASSERT_TRUE(rig.d().timerStops.enabled());
  rig.loop.advanceMs(1999);
  EXPECT_TRUE(rig.window.copies().empty());
  EXPECT_EQ(rig.d().stopsTickCount, 1);

  rig.loop.advanceMs(1);  // tick 2: the run starts; the timer is off while it lasts
  EXPECT_FALSE(rig.d().timerStops.enabled());
  EXPECT_TRUE(rig.loop.animating());
  EXPECT_TRUE(rig.window.retained());
  rig.loop.advanceMs(20);
  EXPECT_EQ(stripOffsets(rig.window), std::vector<int>{1});  // one step per frame
  EXPECT_EQ(rig.window.refreshCount(), 1);

  rig.loop.advanceMs(979);  // 55 frames take about 917 ms
  EXPECT_EQ(stripOffsets(rig.window), oneTo(kNineRowsTravel));
  EXPECT_EQ(rig.window.refreshCount(), kNineRowsTravel);
  EXPECT_FALSE(rig.loop.animating());
  EXPECT_FALSE(rig.window.retained());
  EXPECT_TRUE(rig.d().timerStops.enabled());
  EXPECT_TRUE(rig.pages.empty());

  rig.window.resetLog();
  rig.loop.advanceMs(1000);  // tick 3: rests at the bottom
  EXPECT_TRUE(rig.window.copies().empty());
  rig.d().wipeEnabled = 1;
  rig.d().wipeSteps = 4;
  rig.loop.advanceMs(1000);  // tick 4: repainted from the top without the wipe
  EXPECT_EQ(rig.pages, std::vector<std::string>{"type1"});
  EXPECT_EQ(rig.window.copies().size(), 1u);
  EXPECT_EQ(rig.d().wipeEnabled, 1);
  EXPECT_EQ(rig.d().stopsTickCount, 0);
  EXPECT_TRUE(rig.d().timerStops.enabled());

  rig.window.resetLog();
  rig.loop.advanceMs(3000);  // and round again from the top
  EXPECT_EQ(stripOffsets(rig.window), oneTo(kNineRowsTravel));
}

// Document line 8 is the number of copies of each step, and each copy is one display frame: 1
// moves the strip a pixel a frame, 4 a pixel every fourth frame; 0 keeps it still, and the run
// still takes a frame per pixel.
TEST(StopsScroller, ScrollDelayIsTheFramesEachPixelStaysOnScreen) {
  struct Case {
    Int16 delay;
    int frames;  // from the first step to the last
    bool moves;
  };
  for (const Case c : {Case{1, 54, true}, Case{4, 4 * 54, true}, Case{0, 54, false},
                       Case{-2, 54, false}}) {
    SCOPED_TRACE(c.delay);
    ScrollRig rig;
    rig.d().scrollDelay = c.delay;
    rig.loop.advanceMs(2000);  // the second stops tick starts the run
    ASSERT_TRUE(rig.loop.animating());
    rig.loop.advanceUs((c.frames - 2) * EventLoop::kFramePeriodUs);
    EXPECT_TRUE(rig.loop.animating());  // not over before its frames have passed
    rig.loop.advanceUs(4 * EventLoop::kFramePeriodUs);
    EXPECT_FALSE(rig.loop.animating());
    // One copy and one refresh per pixel, whatever the pace.
    EXPECT_EQ(stripOffsets(rig.window), c.moves ? oneTo(kNineRowsTravel) : std::vector<int>{});
    EXPECT_EQ(rig.window.refreshCount(), kNineRowsTravel);
    EXPECT_TRUE(rig.d().timerStops.enabled());
  }
}

TEST(StopsScroller, WithEntryZeroSkippedNineNamesTravelOneStep) {
  TrainRig rig;
  rig.d().displayType = 4;
  rig.other({trainAt("10:30", 1, stopNames(9))});
  showNextScreen(rig.d(), true);
  rig.window.resetLog();
  rig.loop.advanceMs(2999);
  EXPECT_EQ(stripOffsets(rig.window), oneTo(5));  // 400 - 395 pixels
}

TEST(StopsScroller, AStripThatFitsTheAreaTakesNoSteps) {
  TrainRig rig;
  rig.boardCanvas();
  renderStopsStrip(rig.d(), split(stopNames(7), ','), false, 5, 5);
  rig.d().stopsStripOnScreen = true;
  bool ended = false;
  scrollStopsStrip(rig.d(), [&] { ended = true; });
  EXPECT_TRUE(ended);
  EXPECT_FALSE(rig.loop.animating());
  EXPECT_EQ(rig.window.refreshCount(), 0);
  EXPECT_FALSE(rig.window.retained());
}

TEST(StopsScroller, TheBoardTakingOverEndsTheRunAtTheNextStep) {
  ScrollRig rig(20);  // 605 pixels of travel, ten seconds of scrolling
  rig.d().mainPageSeconds = 3;
  std::size_t copiesAtBoard = 0;
  rig.loop.advanceMs(2999);
  ASSERT_TRUE(rig.loop.animating());
  rig.loop.advanceMs(1);  // the display tick brings the board
  EXPECT_EQ(rig.d().screenPhase, 1);
  copiesAtBoard = stripOffsets(rig.window).size();
  EXPECT_GT(copiesAtBoard, 50u);
  rig.loop.advanceMs(17);  // the next step ends the run without a copy
  EXPECT_FALSE(rig.loop.animating());
  EXPECT_FALSE(rig.window.retained());
  EXPECT_EQ(stripOffsets(rig.window).size(), copiesAtBoard);
  rig.loop.advanceMs(5000);
  EXPECT_FALSE(rig.d().timerStops.enabled());
  EXPECT_EQ(stripOffsets(rig.window).size(), copiesAtBoard);
}

TEST(StopsScroller, ARepaintWithoutALongListLeavesTheTimerOff) {
  // The repaint of the fourth tick meets a shorter list.
  ScrollRig rig;
  rig.loop.advanceMs(3000);
  rig.main({trainAt("10:30", 1, "Alpha,Beta")});
  rig.loop.advanceMs(1000);
  rig.window.resetLog();
  rig.loop.advanceMs(1000);
  EXPECT_EQ(rig.pages, std::vector<std::string>{"type1"});
  EXPECT_FALSE(rig.d().timerStops.enabled());
  rig.loop.advanceMs(10000);
  EXPECT_TRUE(stripOffsets(rig.window).empty());
}

TEST(StopsScroller, ATimetableRedrawMidRunWithoutTheStripEndsTheRunAndTheTimer) {
  struct Case {
    const char* name;
    Int16 displayType;
    std::vector<TrainRecord> trains;
    const char* page;
  };
  const Case cases[] = {
      {"short list", 1, {trainAt("10:30", 1, "Alpha,Beta")}, "type1"},
      {"notice", 2, {trainAt("10:30", 2, stopNames(9))}, "notice"},
      {"picture", 1, {trainAt("12:00", 1, stopNames(9))}, "picture"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScrollRig rig(20);
    rig.d().store.pictureFiles = {test::resourcePath("pictures/vantrel-small.png")};
    rig.d().store.pictureCount = 1;
    rig.loop.advanceMs(2500);
    ASSERT_TRUE(rig.loop.animating());
    rig.d().displayType = c.displayType;
    rig.main(c.trains);
    showNextScreen(rig.d(), false);  // what a good load does after applying the document
    EXPECT_EQ(rig.pages, std::vector<std::string>{c.page});
    EXPECT_FALSE(rig.d().timerStops.enabled());
    const std::size_t copies = stripOffsets(rig.window).size();
    rig.loop.advanceMs(10000);
    EXPECT_FALSE(rig.loop.animating());
    EXPECT_FALSE(rig.d().timerStops.enabled());
    EXPECT_EQ(stripOffsets(rig.window).size(), copies);  // no old strip over the new page
  }
}

TEST(StopsScroller, ARedrawMidRunWithAnotherLongListScrollsTheNewStrip) {
  ScrollRig rig(20);
  rig.loop.advanceMs(2500);  // about 30 pixels down
  rig.main({trainAt("10:30", 1, stopNames(9))});
  showNextScreen(rig.d(), false);
  rig.loop.advanceMs(499);
  const std::vector<int> sy = stripOffsets(rig.window);
  ASSERT_FALSE(sy.empty());
  EXPECT_EQ(sy.back(), kNineRowsTravel);  // the run stops at the new strip's end
  EXPECT_FALSE(rig.loop.animating());
  EXPECT_TRUE(rig.d().timerStops.enabled());
}

TEST(StopsScroller, TheTimerSwitchesItselfOffWhenThePageHasGone) {
  ScrollRig rig;
  rig.d().screenPhase = 2;  // the message page took over without touching the timer
  rig.loop.advanceMs(1000);
  EXPECT_FALSE(rig.d().timerStops.enabled());
  EXPECT_EQ(rig.d().stopsTickCount, 0);
}

TEST(StopsScroller, ARunningScrollEndsWithItsDisplay) {
  ScrollRig rig(20);
  rig.loop.advanceMs(2500);  // mid-run
  ASSERT_TRUE(rig.loop.animating());
  const std::size_t copies = stripOffsets(rig.window).size();
  ASSERT_GT(copies, 0u);
  rig.display.reset();
  // The step held the dead Display: it must never run again.
  EXPECT_FALSE(rig.loop.animating());
  rig.loop.advanceMs(5000);
  EXPECT_EQ(stripOffsets(rig.window).size(), copies);
}

}  // namespace
}  // namespace plasma
