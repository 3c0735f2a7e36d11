// The page cycle on the virtual clock: phases, durations, the due-soon test and type 6's pages.
#include <gtest/gtest.h>

#include "test_support/rig.h"

namespace plasma {
namespace {

TrainRecord train(const std::string& time, Int16 platform = 1, const std::string& destination = "Airport Central") {
  return {destination, time, platform, "Alpha,Beta,Gamma"};
}

struct CycleRig : test::Rig {
  explicit CycleRig(Int16 type) {
    Display& dd = d();
    dd.timerDatabase.setEnabled(false);  // no loads: the store below is all there is
    dd.displayType = type;
    dd.screenPhase = 0;
    dd.layoutVariant = 1;
    dd.mainPageSeconds = 20;
    dd.boardSeconds = 20;
    dd.messageSeconds = 15;
    dd.store.clockMinutes = 600;  // 10:00
  }
  void main(std::vector<TrainRecord> trains) {
    d().store.mainDepartures = std::move(trains);
    d().store.mainDepartureCount = static_cast<Int16>(d().store.mainDepartures.size());
  }
  void other(std::vector<TrainRecord> trains) {
    d().store.otherDepartures = std::move(trains);
    d().store.otherDepartureCount = static_cast<Int16>(d().store.otherDepartures.size());
  }
  void domestic(std::vector<DomesticRecord> trains) {
    d().store.domesticDepartures = std::move(trains);
    d().store.domesticDepartureCount = static_cast<Int16>(d().store.domesticDepartures.size());
  }
  void messages(int n) {
    d().store.messageTitles.clear();
    d().store.messageTexts.clear();
    for (int i = 0; i < n; ++i) {
      d().store.messageTitles.push_back("Heading " + std::to_string(i));
      d().store.messageTexts.push_back("Text " + std::to_string(i));
    }
    d().store.messageCount = static_cast<Int16>(n);
  }
  void pictures() {
    d().store.pictureFiles = {test::resourcePath("pictures/vantrel-small.png")};
    d().store.pictureCount = 1;
  }
  void start() {
    showNextScreen(d(), true);
  }
  // Advances one tick at a time and returns the pages presented during those ticks.
  std::vector<std::string> ticks(int n) {
    const std::size_t before = pages.size();
    for (int i = 0; i < n; ++i) loop.advanceMs(1000);
    return {pages.begin() + static_cast<long>(before), pages.end()};
  }
};

TEST(Cycle, EachPageGivesWayWhenItsTickCountReachesItsDuration) {
  CycleRig rig(1);
  rig.main({train("10:05")});
  rig.messages(1);
  rig.start();
  EXPECT_EQ(rig.pages.back(), "type1");
  EXPECT_TRUE(rig.ticks(19).empty());
  EXPECT_EQ(rig.ticks(1), std::vector<std::string>{"board"});  // the 20th tick
  EXPECT_EQ(rig.d().screenPhase, 1);
  EXPECT_EQ(rig.d().tickCount, 0);
  EXPECT_TRUE(rig.ticks(19).empty());
  EXPECT_EQ(rig.ticks(1), std::vector<std::string>{"message"});
  EXPECT_TRUE(rig.ticks(14).empty());
  EXPECT_EQ(rig.ticks(1), std::vector<std::string>{"type1"});
  EXPECT_EQ(rig.d().screenPhase, 0);
}

TEST(Cycle, AThresholdOfZeroOrBelowChangesOnTheNextTick) {
  for (Int16 seconds : {0, -5}) {
    CycleRig rig(3);
    rig.main({train("10:05", 2)});
    rig.d().mainPageSeconds = seconds;
    rig.d().boardSeconds = seconds;
    rig.start();
    EXPECT_EQ(rig.ticks(1), std::vector<std::string>{"board"}) << seconds;
    EXPECT_EQ(rig.ticks(1), std::vector<std::string>{"type3"}) << seconds;  // no messages
  }
}

TEST(Cycle, TheDueSoonTestDecidesBetweenPageAndSlideshow) {
  const struct {
    Int16 type;
    Int16 clock;
    std::vector<TrainRecord> main, other;
    std::vector<DomesticRecord> domestic;
    const char* expected;
  } cases[] = {
      {1, 600, {train("11:00")}, {}, {}, "type1"},       // exactly 60 minutes
      {1, 600, {train("11:01")}, {}, {}, "picture"},     // 61 minutes
      {1, 600, {}, {}, {}, "picture"},                   // nothing at all
      {1, 1430, {train("0:10")}, {}, {}, "type1"},       // 23:50 against 0:10: -1420 counts as due
      {4, 600, {}, {train("11:30")}, {{"10:30", 1}}, "type4"},  // other 90 away, domestic in 30
      {5, 600, {}, {train("11:30", 2)}, {{"11:30", 2}}, "picture"},
  };
  for (const auto& c : cases) {
    CycleRig rig(c.type);
    rig.pictures();
    rig.d().store.clockMinutes = c.clock;
    rig.main(c.main);
    rig.other(c.other);
    rig.domestic(c.domestic);
    rig.start();
    ASSERT_FALSE(rig.pages.empty());
    EXPECT_EQ(rig.pages.back(), c.expected) << "type " << c.type << " clock " << c.clock;
  }
}

TEST(Cycle, NoMessagesMeansBoardThenOwnPage) {
  CycleRig rig(2);
  rig.main({train("10:05", 1)});
  rig.start();
  EXPECT_EQ(rig.ticks(40), (std::vector<std::string>{"board", "type2"}));
}

TEST(Cycle, TypeSixAlternatesPageBAndPageAThenTheBoard) {
  CycleRig rig(6);
  rig.other({train("10:30", 1, "Harbour")});
  rig.domestic({{"10:20", 1}});
  rig.start();
  EXPECT_EQ(rig.pages.back(), "type6b");
  EXPECT_EQ(rig.ticks(20), std::vector<std::string>{"type6a"});
  EXPECT_EQ(rig.d().type6Alternation, 2);
  EXPECT_EQ(rig.ticks(20), std::vector<std::string>{"board"});
  EXPECT_EQ(rig.d().type6Alternation, 1);
  EXPECT_EQ(rig.ticks(20), std::vector<std::string>{"type6b"});
}

TEST(Cycle, TypeSixWithOnlyADomesticTrainGoesStraightToPageA) {
  CycleRig rig(6);
  rig.domestic({{"10:20", 1}});
  rig.start();
  EXPECT_EQ(rig.pages, std::vector<std::string>{"type6a"});
  EXPECT_EQ(rig.d().type6Alternation, 2);
  EXPECT_EQ(rig.ticks(20), std::vector<std::string>{"board"});
  EXPECT_EQ(rig.d().boardSeconds, 20);
}

TEST(Cycle, TypeSixWithOnlyOtherTrainsGivesTheBoardTheSkippedPagesTime) {
  CycleRig rig(6);
  rig.other({train("10:30", 1, "Harbour")});
  rig.start();
  EXPECT_EQ(rig.pages, std::vector<std::string>{"type6b"});
  EXPECT_EQ(rig.ticks(20), std::vector<std::string>{"board"});
  EXPECT_EQ(rig.d().boardSeconds, 40);  // 20 + mainPageSeconds
  EXPECT_EQ(rig.d().type6Alternation, 1);
  EXPECT_TRUE(rig.ticks(39).empty());
  EXPECT_EQ(rig.ticks(1), std::vector<std::string>{"type6b"});
}

TEST(Cycle, ATypeOutsideZeroToSixRunsTheCycleButPaintsNoPageOfItsOwn) {
  CycleRig rig(9);
  rig.other({train("10:30", 1, "Harbour")});
  rig.start();
  EXPECT_TRUE(rig.pages.empty());  // the window keeps what it showed
  EXPECT_EQ(rig.ticks(20), std::vector<std::string>{"board"});
  EXPECT_TRUE(rig.ticks(20).empty());  // back in phase 0, nothing presented
  EXPECT_EQ(rig.d().screenPhase, 0);
}

TEST(Cycle, AMalformedTimeBlacksTheScreenAndTheCycleGoesOn) {
  CycleRig rig(1);
  rig.main({train("1005")});
  rig.start();
  EXPECT_EQ(rig.pages, std::vector<std::string>{"black"});
  rig.main({train("10:05")});
  EXPECT_EQ(rig.ticks(20), std::vector<std::string>{"board"});
}

TEST(Cycle, ABoardThatFailsFromTheTickTurnsTheScreenBlackNotStale) {
  CycleRig rig(1);
  rig.main({train("10:05"), train("1010")});  // the own page reads only the first train
  rig.start();
  EXPECT_EQ(rig.pages.back(), "type1");
  EXPECT_EQ(rig.ticks(20), std::vector<std::string>{"black"});
  EXPECT_EQ(rig.d().screenPhase, 1);
  EXPECT_EQ(rig.ticks(20), std::vector<std::string>{"type1"});  // the cycle goes on
}

TEST(Cycle, SetDisplayTypeStartsAtVariantOneInPhaseZero) {
  test::Rig rig;
  Display& d = rig.d();
  EXPECT_EQ(d.wipeSteps, 1);
  EXPECT_EQ(d.type6Alternation, 1);
  EXPECT_EQ(d.messageIndex, 0);
  EXPECT_EQ(d.tickCount, 0);
  EXPECT_EQ(d.mainPageSeconds, 0);
  EXPECT_EQ(d.store.mainDepartureCount, 0);
  EXPECT_EQ(d.pbDraw().pixelWidth(), 1360);
  EXPECT_EQ(d.pbDraw().pixelHeight(), 770);
  d.layoutVariant = 3;
  d.screenPhase = 2;
  rig.http.pushFailure("refused");
  d.setDisplayType(2);
  EXPECT_EQ(d.displayType, 2);
  EXPECT_EQ(d.layoutVariant, 1);
  EXPECT_EQ(d.screenPhase, 0);
  EXPECT_EQ(rig.http.urls, std::vector<std::string>{"http://timetable.test/tabs/plasmatimetable.php?Circuit=2"});
}

}  // namespace
}  // namespace plasma

namespace plasma {
namespace {

// The page named in the status and the log is what the window shows. A failed load blacks the
// screen with a clear, and a clear draws the slideshow picture again while one is set: the status
// then says "picture", and "black" only once no picture is left behind.
TEST(PageOnScreen, AnErrorWhileAPictureShowsReportsThePicture) {
  CycleRig rig(1);
  rig.d().store.pictureFiles = {test::resourcePath("pictures/vantrel-small.png")};
  rig.d().store.pictureCount = 1;
  showNextScreen(rig.d(), true);  // no train: the slideshow
  ASSERT_EQ(rig.d().currentPage(), PageName::Picture);

  rig.http.pushFailure("connection refused");
  rig.d().loadTimetable();
  EXPECT_EQ(rig.d().currentPage(), PageName::Picture);
  EXPECT_EQ(rig.pages.back(), "picture");
  EXPECT_NE(test::pixel(rig.window.image(), 320, 180), colours::kBlack);  // inside the picture
  EXPECT_EQ(test::pixel(rig.window.image(), 1000, 600), colours::kBlack);  // beside it

  rig.main({train("ten past")});  // the next page fails, and took the picture away first
  showNextScreen(rig.d(), true);
  EXPECT_EQ(rig.d().currentPage(), PageName::Black);
  EXPECT_EQ(test::pixel(rig.window.image(), 320, 180), colours::kBlack);
}

}  // namespace
}  // namespace plasma
