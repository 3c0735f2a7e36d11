// The work one page change may do on the window thread is bounded, whatever the settings lines of
// a document ask for: the wipe and the scroller's repeated copies have ceilings.
#include <gtest/gtest.h>

#include "test_support/rig.h"

namespace plasma {
namespace {

TEST(Bounds, TheWipeHasAtMostSixtyStrips) {
  struct Case {
    int wipeSteps;
    std::size_t steps;
  };
  for (const Case c : {Case{4, 3}, Case{59, 58}, Case{60, 59}, Case{61, 59}, Case{1080, 59}, Case{32767, 59}}) {
    SCOPED_TRACE(c.wipeSteps);
    const std::vector<int> ys = wipePositions(1080, c.wipeSteps);
    ASSERT_EQ(ys.size(), c.steps);
    // Still a slide from above: strips of the new page move down to the final copy at 0.
    EXPECT_EQ(ys.front(), static_cast<int>(roundHalfEven(-(1080.0 / std::min(c.wipeSteps, 60)) *
                                                         (std::min(c.wipeSteps, 60) - 1))));
    EXPECT_LT(ys.back(), 0);
  }
}

TEST(Bounds, APageChangeWithThe16BitMaximumOfWipeStepsCopiesSixtyTimes) {
  test::Rig rig(340, 200);
  rig.d().timerDatabase.setEnabled(false);
  rig.d().wipeEnabled = 1;
  rig.d().wipeSteps = 32767;
  rig.window.resetLog();
  rig.d().clearCanvas();
  EXPECT_EQ(rig.window.copies().size(), 60u);
  EXPECT_EQ(rig.window.refreshCount(), 60);
}

std::string stopNames(int n) {
  std::string s;
  for (int i = 1; i <= n; ++i) s += (i > 1 ? "," : "") + std::string("Stop ") + std::to_string(i);
  return s;
}

TEST(Bounds, AnyScrollDelayCopiesOnceAStepAndTheTickGoesOn) {
  for (const Int16 delay : {Int16{1}, Int16{8}, Int16{9}, Int16{32767}}) {
    SCOPED_TRACE(delay);
    test::Rig rig(340, 200);
    rig.d().timerDatabase.setEnabled(false);
    rig.apply(test::document({{1, "3"}, {8, std::to_string(delay)}, {15, "Airport|10:05|1|" + stopNames(40)}}));
    rig.d().displayType = 1;
    rig.d().layoutVariant = 1;
    showNextScreen(rig.d(), true);
    rig.window.resetLog();
    rig.loop.advanceMs(2000 + 100);  // the second stops tick starts the run; six frames of it
    const int steps = rig.window.refreshCount();
    ASSERT_GT(steps, 0);
    EXPECT_LE(steps, 6 / delay + 1);
    EXPECT_EQ(rig.window.copies().size(), static_cast<std::size_t>(steps));
    rig.loop.advanceMs(1000);  // the display tick brings the board on time, mid-run
    EXPECT_EQ(rig.pages.back(), "board");
    rig.loop.advanceMs(20);
    EXPECT_FALSE(rig.loop.animating());
  }
}

}  // namespace
}  // namespace plasma
