// What the boards decide: board or pictures, how many bands and which notice, the minutes texts,
// the merge of other and domestic trains, redraws and layout variants, and where errors go.
#include <gtest/gtest.h>

#include "board_fixture.h"

namespace plasma::test {
namespace {

std::vector<TrainRecord> mainTrains(const std::vector<std::string>& times) {
  std::vector<TrainRecord> out;
  for (std::size_t i = 0; i < times.size(); ++i) {
    out.push_back(train("Town " + decimal(static_cast<long long>(i)), times[i]));
  }
  return out;
}

struct Decision {
  const char* name;
  Int16 displayType;
  std::vector<std::string> main, other, domestic;
  bool withPictures;
  const char* page;
};

TEST(BoardDecision, BoardOnlyWhenATrainLeavesWithinTheHour) {
  const std::vector<Decision> cases = {
      {"no main trains", 2, {}, {}, {}, true, "picture"},
      {"no trains, no pictures", 2, {}, {}, {}, false, "black"},
      {"first main train in 61", 1, {"11:01"}, {}, {}, true, "picture"},
      {"first main train in 60", 3, {"11:00"}, {}, {}, true, "board"},
      {"types 1-3 ignore the other lists", 2, {}, {"10:05"}, {"10:05"}, true, "picture"},
      {"no other or domestic trains", 5, {"10:05"}, {}, {}, true, "picture"},
      {"both first trains in 61", 4, {}, {"11:01"}, {"11:01"}, true, "picture"},
      {"domestic in 60", 6, {}, {"11:30"}, {"11:00"}, true, "board"},
      {"other in 60, no domestic", 4, {}, {"11:00"}, {}, true, "board"},
      {"two-row: no trains", 0, {}, {"10:05"}, {}, true, "picture"},
      {"two-row: first in 61", 0, {"11:01"}, {}, {}, true, "picture"},
      {"two-row: first in 60", 0, {"11:00"}, {}, {}, true, "two-row-board"},
  };
  for (const Decision& c : cases) {
    SCOPED_TRACE(c.name);
    BoardRig rig;
    rig.main(mainTrains(c.main));
    rig.other(mainTrains(c.other));
    std::vector<DomesticRecord> dom;
    for (const auto& t : c.domestic) dom.push_back(domestic(t));
    rig.domestics(dom);
    if (c.withPictures) rig.pictures();
    rig.board(c.displayType);
    EXPECT_EQ(rig.pages, (std::vector<std::string>{c.page}));
  }
}

TEST(BoardDecision, StartStepsRunWhateverThePage) {
  BoardRig rig;
  rig.d().screenPhase = 0;
  rig.d().tickCount = 7;
  rig.d().layoutVariant = 2;
  rig.d().timerStops.setEnabled(true);
  rig.d().displayType = 2;
  drawDepartureBoard(rig.d(), true);  // no trains, no pictures: a black page
  EXPECT_EQ(rig.d().screenPhase, 1);
  EXPECT_FALSE(rig.d().timerStops.enabled());
  EXPECT_EQ(rig.d().layoutVariant, 3);
  EXPECT_EQ(rig.d().tickCount, 0);
}

struct BandCase {
  Int16 displayType;
  int trains;
  std::size_t bands;
  std::string notice;  // empty: none
};

TEST(BoardBands, ShortListsGetFewerBandsAndANotice) {
  const std::vector<BandCase> cases = {
      {1, 1, 1, "Last Train"}, {1, 2, 2, "Last Trains"}, {1, 3, 3, ""}, {1, 4, 3, ""},
      {0, 1, 1, "Last Train"}, {0, 2, 2, ""},            {0, 3, 2, ""}, {0, 4, 2, ""},
  };
  const std::vector<std::string> times = {"10:05", "10:10", "10:15", "10:20"};
  for (const BandCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.displayType << ", " << c.trains << " trains");
    BoardRig rig;
    rig.main(mainTrains({times.begin(), times.begin() + c.trains}));
    const RecordingSurface& r = rig.board(c.displayType);
    EXPECT_EQ(bands(r).size(), c.bands);
    EXPECT_EQ(r.ops(DrawOp::Kind::Circle).size(), c.bands);
    EXPECT_EQ(r.hasPrinted("Last Train"), c.notice == "Last Train");
    EXPECT_EQ(r.hasPrinted("Last Trains"), c.notice == "Last Trains");
    const std::size_t rows = std::min<std::size_t>(c.bands, c.trains);
    EXPECT_TRUE(r.hasPrinted("Town " + decimal(static_cast<long long>(rows - 1))));
    EXPECT_FALSE(r.hasPrinted("Town " + decimal(static_cast<long long>(rows))));
  }
}

TEST(BoardBands, OneDomesticTrainOnTypeFiveIsALastTrainBoard) {
  BoardRig rig;
  rig.domestics({domestic("10:30", 2)});
  const RecordingSurface& r = rig.board(5);
  EXPECT_EQ(r.texts(), (std::vector<std::string>{"Train Departures", "Destination", "Departing",
                                                 "Platform", "Last Train", "Domestic Airport",
                                                 "30", "Minutes", "2"}));
  EXPECT_EQ(bands(r).size(), 1u);
}

TEST(BoardRows, MinutesOfTwoOrMoreGetTheLabelAndLessIsNow) {
  struct Case {
    const char* departs;
    const char* shown;
    bool label;
  };
  const std::vector<Case> cases = {
      {"10:02", "2", true}, {"10:01", "Now...", false}, {"10:00", "Now...", false},
      {"9:50", "Now...", false}, {"10:45", "45", true},
  };
  for (Int16 displayType : {1, 0}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "type " << displayType << " at " << c.departs);
      BoardRig rig;
      // The same train in the second row too, so both rows of the two-row board are checked.
      rig.main({train("Airport", c.departs), train("City", c.departs), train("Harbour", "10:30")});
      const RecordingSurface& r = rig.board(displayType);
      const auto texts = r.texts();
      EXPECT_EQ(std::count(texts.begin(), texts.end(), c.shown), 2);
      EXPECT_EQ(std::count(texts.begin(), texts.end(), "Minutes"), (c.label ? 2 : 0) + (displayType == 1));
    }
  }
}

TEST(BoardRows, OtherAndDomesticTrainsMergeByTimeDomesticFirstOnATie) {
  BoardRig rig;
  rig.other({train("Seaside", "10:05", 1), train("Hills", "10:20", 1)});
  rig.domestics({domestic("10:05", 2), domestic("10:10", 2)});
  const RecordingSurface& r = rig.board(4);
  std::vector<std::string> rows;
  for (const std::string& t : r.texts()) {
    if (t != "Minutes" && t != "Train Departures" && t != "Destination" && t != "Departing" &&
        t != "Platform") {
      rows.push_back(t);
    }
  }
  EXPECT_EQ(rows, (std::vector<std::string>{"Domestic Airport", "5", "2", "Seaside", "5", "1",
                                            "Domestic Airport", "10", "2"}));
}

TEST(BoardRows, MinutesCountAgainstTheClockWithoutWrappingAtMidnight) {
  BoardRig rig;
  rig.d().store.clockMinutes = 23 * 60 + 50;
  rig.main({train("Late", "24:05"), train("Early", "0:05")});
  const RecordingSurface& r = rig.board(1);
  EXPECT_TRUE(r.hasPrinted("15"));
  EXPECT_TRUE(r.hasPrinted("Now..."));
  EXPECT_FALSE(r.hasPrinted("-1425"));
}

TEST(BoardCycle, ARedrawKeepsTheVariantTheTickCountAndThePicture) {
  BoardRig rig;
  rig.pictures(2);
  rig.d().displayType = 1;
  rig.d().layoutVariant = 3;
  rig.d().tickCount = 9;
  drawDepartureBoard(rig.d(), false);
  EXPECT_EQ(rig.d().layoutVariant, 3);
  EXPECT_EQ(rig.d().tickCount, 9);
  EXPECT_EQ(rig.d().store.pictureIndex, 0);
  EXPECT_EQ(rig.pages.back(), "picture");

  rig.main(mainTrains({"10:05"}));
  RecordingSurface& r = rig.record();
  drawDepartureBoard(rig.d(), false);
  EXPECT_EQ(r.printed("Train Departures").y, 600);  // still variant 3
  EXPECT_EQ(rig.d().tickCount, 9);
}

TEST(BoardCycle, PageChangesWalkTheLayoutVariants) {
  BoardRig rig;
  rig.main(mainTrains({"10:05"}));
  rig.d().displayType = 2;
  rig.d().layoutVariant = 1;
  std::vector<Int16> seen;
  for (int i = 0; i < 5; ++i) {
    drawDepartureBoard(rig.d(), true);
    seen.push_back(rig.d().layoutVariant);
  }
  EXPECT_EQ(seen, (std::vector<Int16>{2, 3, 4, 1, 2}));
}

TEST(BoardErrors, TheOneRowBoardLeavesErrorsToItsCaller) {
  BoardRig rig;
  rig.main({train("Airport", "10:05"), train("City", "1015")});
  rig.d().displayType = 1;
  EXPECT_THROW(drawDepartureBoard(rig.d(), true), RuntimeError);
  EXPECT_TRUE(rig.pages.empty());  // nothing half-painted reached the window
  EXPECT_EQ(rig.d().layoutVariant, 2);  // the start steps stay
  EXPECT_EQ(rig.d().screenPhase, 1);
}

TEST(BoardErrors, AMalformedSecondRowBlacksOnlyThatTwoRowPage) {
  BoardRig rig;
  std::vector<std::string> trapped;
  rig.d().onTrappedError = [&](const std::string& why) { trapped.push_back(why); };
  rig.main({train("Airport", "10:05"), train("City", "ten past")});
  rig.board(0);
  EXPECT_EQ(rig.pages, (std::vector<std::string>{"black"}));
  ASSERT_EQ(trapped.size(), 1u);
  EXPECT_EQ(trapped[0].rfind("drawTwoRowDepartureBoard", 0), 0u);

  rig.main({train("Airport", "10:05"), train("City", "10:10")});
  drawDepartureBoard(rig.d(), true);
  EXPECT_EQ(rig.pages.back(), "two-row-board");
}

TEST(BoardErrors, TheTwoRowBoardAlwaysRestartsTheSlideshow) {
  BoardRig rig;
  rig.pictures(2);
  rig.d().tickCount = 9;
  rig.board(0);  // a redraw, yet the slideshow moves on
  EXPECT_EQ(rig.pages, (std::vector<std::string>{"picture"}));
  EXPECT_EQ(rig.d().tickCount, 0);
  EXPECT_EQ(rig.d().store.pictureIndex, 1);
}

}  // namespace
}  // namespace plasma::test
