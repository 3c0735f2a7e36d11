// The Display runs the page procedures it is handed (the screen cycle in the program): its timers,
// a load's redraw and the first page reach them, and nothing of a Display outlives it.
#include <gtest/gtest.h>

#include "test_support/rig.h"

namespace plasma {
namespace {

struct CountingProcedures final : PageProcedures {
  mutable int ticks = 0, screens = 0, stopsEvents = 0, redraws = 0;
  void displayTick(Display&) const override { ++ticks; }
  void showNextScreen(Display&, bool) const override { ++screens; }
  void stopsTimerEvent(Display&) const override { ++stopsEvents; }
  void redrawWithNewData(Display&) const override { ++redraws; }
};

struct Parts {
  VirtualEventLoop loop;
  HeadlessWindow window{340, 200};
  test::ScriptedHttpClient http;
  std::unique_ptr<ImageLoader> images = makePictureFileLoader();
  CountingProcedures procedures;

  std::unique_ptr<Display> display() {
    auto d = std::make_unique<Display>(window, loop, http, *images, FetchMode::Inline, procedures);
    d->serverBaseUrl = "http://timetable.test";
    d->loadStep();
    return d;
  }
};

TEST(DisplayProcedures, TimersLoadsAndTheFirstPageRunTheProceduresHandedIn) {
  Parts p;
  p.http.pushDocument(test::document());
  auto d = p.display();
  d->setDisplayType(1);
  EXPECT_EQ(p.procedures.screens, 1);
  EXPECT_EQ(p.procedures.redraws, 1);  // the first load redraws, then the first page is painted

  p.loop.advanceMs(3000);
  EXPECT_EQ(p.procedures.ticks, 3);
  d->timerStops.setEnabled(true);
  p.loop.advanceMs(1000);
  EXPECT_EQ(p.procedures.stopsEvents, 1);

  p.loop.advanceMs(30000);  // the timetable timer's load
  EXPECT_EQ(p.procedures.redraws, 2);
}

TEST(DisplayProcedures, NeitherTimersNorAFetchAnswerOutliveTheDisplay) {
  Parts p;
  p.http.pushDocument(test::document());
  {
    auto d = p.display();
    d->timerStops.setEnabled(true);
    d->startTimetableLoad();  // the answer is posted to the loop, not yet applied
  }
  p.loop.advanceMs(120000);
  EXPECT_EQ(p.procedures.ticks, 0);
  EXPECT_EQ(p.procedures.stopsEvents, 0);
  EXPECT_EQ(p.procedures.redraws, 0);
}

TEST(EventLoopTimers, AHandlerCanRemoveItsOwnTimerAndARemovedTimerNeverFires) {
  VirtualEventLoop loop;
  int once = 0, removed = 0, kept = 0;
  Timer* self = nullptr;
  self = &loop.createTimer("once", 100, true, [&] {
    ++once;
    loop.removeTimer(*self);
  });
  Timer& other = loop.createTimer("removed", 100, true, [&] { ++removed; });
  loop.createTimer("kept", 100, true, [&] { ++kept; });
  loop.removeTimer(other);
  loop.advanceMs(1000);
  EXPECT_EQ(once, 1);
  EXPECT_EQ(removed, 0);
  EXPECT_EQ(kept, 10);
}

TEST(EventLoopAnimations, StopEndsOnlyTheAnimationItNamesAlsoFromItsOwnStep) {
  VirtualEventLoop loop;
  int first = 0, second = 0, self = 0;
  const auto firstId = loop.startAnimation([&] { return ++first < 1000; });
  loop.advanceMs(50);
  const int firstSteps = first;
  EXPECT_GT(firstSteps, 0);
  loop.startAnimation([&] { return ++second < 1000; });  // replaces the first
  loop.stopAnimation(firstId);                          // names one that is gone: no effect
  loop.advanceMs(50);
  EXPECT_EQ(first, firstSteps);
  EXPECT_GT(second, 0);
  EXPECT_TRUE(loop.animating());
  const int secondSteps = second;

  EventLoop::AnimationId selfId = 0;
  selfId = loop.startAnimation([&] {
    if (++self == 2) loop.stopAnimation(selfId);
    return true;  // stopped all the same
  });
  loop.advanceMs(1000);
  EXPECT_EQ(self, 2);
  EXPECT_EQ(second, secondSteps);
  EXPECT_FALSE(loop.animating());
}

TEST(DisplayProcedures, AnAnimationOfTheDisplayLeavesTheLoopWithIt) {
  Parts p;
  int steps = 0;
  {
    auto d = p.display();
    d->startAnimation([&] { return ++steps < 1000; });
    p.loop.advanceMs(50);
  }
  const int before = steps;
  EXPECT_GT(before, 0);
  EXPECT_FALSE(p.loop.animating());
  p.loop.advanceMs(1000);
  EXPECT_EQ(steps, before);
}

}  // namespace
}  // namespace plasma
