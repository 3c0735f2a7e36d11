#include <gtest/gtest.h>

#include "pages/next_train.h"
#include "pages/next_train_fixture.h"

namespace plasma {
namespace {

using test::stopNames;
using test::trainAt;
using test::TrainRig;

bool hasFrame(const RecordingSurface& r) { return !r.ops(DrawOp::Kind::Box).empty(); }

TEST(NextTrainPages, Type1DrawsItsBlocksInOrderInsideAFrameAndPresents) {
  TrainRig rig;
  rig.main({trainAt("10:07", 2, "Alpha,Beta,Gamma", "Airport Central"), trainAt("10:30", 1)});
  RecordingSurface& r = rig.page(1);
  EXPECT_EQ(r.texts(), (std::vector<std::string>{"Next Train", "Airport Central",
                                                 "Departs Platform 2 in", "7", "Minutes",
                                                 "Train Stops At", "Alpha", "Beta", "Gamma"}));
  const auto frames = r.ops(DrawOp::Kind::Box);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].x, 15);
  EXPECT_EQ(frames[0].y, 15);
  EXPECT_EQ(frames[0].x2, 269 * 5);
  EXPECT_EQ(frames[0].y2, 151 * 5);
  EXPECT_EQ(frames[0].fore, colours::kWhite);
  EXPECT_EQ(frames[0].fillStyle, FillStyle::Transparent);
  EXPECT_EQ(r.ops().back().kind, DrawOp::Kind::Box);  // the frame is the last thing drawn
  EXPECT_EQ(rig.pages, (std::vector<std::string>{"type1"}));
  EXPECT_FALSE(rig.d().timerStops.enabled());
}

TEST(NextTrainPages, TheFrameIsAnOutlineEvenWhenAnEarlierPageLeftTheFillSolid) {
  TrainRig rig;
  rig.main({trainAt("10:00")});  // "Now": no cut band resets the fill style
  RecordingSurface& r = rig.boardCanvas();
  r.setFillColour(colours::kAccentGreen);
  r.setFillStyle(FillStyle::Solid);
  drawType1Screen(rig.d());
  EXPECT_EQ(r.ops(DrawOp::Kind::Box).at(0).fillStyle, FillStyle::Transparent);
  EXPECT_EQ(test::pixel(rig.window.image(), 680, 385), colours::kBoardBackground);
}

TEST(NextTrainPages, PlatformPagesShowTheNoticeWhenTheirPlatformHasNoTrainWithinTheHour) {
  struct Case {
    Int16 type;
    std::vector<TrainRecord> trains;
    const char* shows;  // the platform line, or the notice's second line
  };
  const Case cases[] = {
      {2, {trainAt("10:05", 2), trainAt("10:10", 2)}, "Platform 2"},
      {3, {trainAt("10:05", 1)}, "Platform 1"},
      {2, {trainAt("10:05", 2), trainAt("11:01", 1)}, "Platform 2"},  // 61 minutes
      {2, {trainAt("10:05", 2), trainAt("11:00", 1)}, "60"},  // 60 minutes: the page
      {3, {trainAt("10:05", 1), trainAt("10:20", 2), trainAt("10:09", 2)}, "Departs Platform 2 in"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shows);
    TrainRig rig;
    rig.main(c.trains);
    RecordingSurface& r = rig.page(c.type);
    EXPECT_TRUE(r.hasPrinted(c.shows));
    const bool notice = std::string(c.shows).rfind("Platform", 0) == 0;
    EXPECT_EQ(r.hasPrinted("All trains depart"), notice);
    EXPECT_EQ(hasFrame(r), !notice);
    EXPECT_EQ(rig.pages.back(), notice ? "notice" : (c.type == 2 ? "type2" : "type3"));
  }
}

TEST(NextTrainPages, FewerThanTwoMinutesReadNowDeparting) {
  struct Case {
    const char* time;
    Int16 clock;
    bool departing;
  };
  const Case cases[] = {
      {"10:02", 600, false}, {"10:01", 600, true}, {"10:00", 600, true},
      {"9:55", 600, true},   {"0:10", 1430, true},  // after midnight: -1420, no wrap
  };
  for (Int16 type : {1, 4}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.time) + " type " + std::to_string(type));
      TrainRig rig;
      rig.d().store.clockMinutes = c.clock;
      if (type == 1) {
        rig.main({trainAt(c.time)});
      } else {
        rig.other({trainAt(c.time)});
      }
      RecordingSurface& r = rig.page(type);
      EXPECT_EQ(r.hasPrinted("Now") && r.hasPrinted("Departing"), c.departing);
      EXPECT_EQ(r.hasPrinted("Minutes"), !c.departing);
      if (!c.departing) {
        EXPECT_TRUE(r.hasPrinted("2"));
      }
    }
  }
}

TEST(NextTrainPages, MinutesRoundTheDifferenceOnMainPagesAndTheTimeFirstOnAirportPages) {
  // 10:04.5 against 10:01: the main pages round 3.5 to 4; the airport pages round 604.5 to 604
  // first and then subtract, giving 3.
  TrainRig rig;
  rig.d().store.clockMinutes = 601;
  rig.main({trainAt("10:04.5", 1)});
  rig.other({trainAt("10:04.5", 1)});
  EXPECT_TRUE(rig.page(2).hasPrinted("4"));
  EXPECT_TRUE(rig.page(4).hasPrinted("3"));
}

TEST(NextTrainPages, AirportPagesTakeTheDomesticTrainOnlyWhenItIsStrictlyEarlier) {
  struct Case {
    std::vector<TrainRecord> other;
    std::vector<DomesticRecord> domestic;
    bool domesticShown;
  };
  const Case cases[] = {
      {{trainAt("10:20", 1, "Here,Alpha,Beta", "City")}, {{"10:15", 1}}, true},
      {{trainAt("10:15", 1, "Here,Alpha,Beta", "City")}, {{"10:15", 1}}, false},  // tie
      {{trainAt("10:05", 2), trainAt("10:20", 1, "Here,Alpha", "City")}, {{"10:25", 1}}, false},
      {{trainAt("10:05", 2)}, {{"10:03", 2}, {"10:30", 1}}, true},  // no other on platform 1
  };
  for (const Case& c : cases) {
    TrainRig rig;
    rig.other(c.other);
    rig.domestics(c.domestic);
    RecordingSurface& r = rig.page(4);
    const std::vector<std::string> texts = r.texts();
    if (c.domesticShown) {
      EXPECT_TRUE(r.hasPrinted("Domestic Airport"));
      EXPECT_EQ(texts.back(), "Domestic Terminal");  // the single stop, despite skipFirst
      EXPECT_EQ(texts[texts.size() - 2], "Train Stops At");
    } else {
      EXPECT_TRUE(r.hasPrinted("City"));
      EXPECT_FALSE(r.hasPrinted("Here"));  // the airport pages leave entry 0 out
      EXPECT_TRUE(r.hasPrinted("Alpha"));
    }
    EXPECT_TRUE(r.hasPrinted("Departs Platform 1 in"));
    EXPECT_EQ(rig.pages.back(), "type4");
  }
}

TEST(NextTrainPages, AirportPagesShowTheNoticeWithoutATrainOnTheirPlatformWithinTheHour) {
  TrainRig rig;
  rig.other({trainAt("10:05", 1)});
  rig.domestics({{"10:06", 1}});
  RecordingSurface& r = rig.page(5);
  EXPECT_TRUE(r.hasPrinted("Platform 1"));
  EXPECT_FALSE(hasFrame(r));

  rig.other({trainAt("11:05", 2)});
  rig.domestics({{"11:01", 2}});
  EXPECT_TRUE(rig.page(5).hasPrinted("Platform 1"));
  rig.domestics({{"11:00", 2}});
  EXPECT_TRUE(rig.page(5).hasPrinted("Domestic Airport"));
  EXPECT_EQ(rig.pages.back(), "type5");
}

TEST(NextTrainPages, NineStopsGoToTheScrollingStripAndEightStayFixed) {
  TrainRig rig;
  RecordingSurface strip(rig.d().pbStops());
  rig.d().setStopsOverride(&strip);

  rig.other({trainAt("10:10", 2, stopNames(9))});
  rig.d().stopsTickCount = 3;
  RecordingSurface& r = rig.page(5);
  EXPECT_EQ(strip.texts().size(), 8u);  // entry 0 left out
  EXPECT_FALSE(strip.hasPrinted("Stop 1"));
  EXPECT_FALSE(r.hasPrinted("Stop 2"));
  EXPECT_EQ(r.ops(DrawOp::Kind::Copy).size(), 1u);
  EXPECT_TRUE(rig.d().timerStops.enabled());
  EXPECT_EQ(rig.d().stopsTickCount, 0);

  strip.reset();
  rig.main({trainAt("10:10", 1, stopNames(8))});
  RecordingSurface& r2 = rig.page(1);
  EXPECT_TRUE(strip.ops().empty());
  EXPECT_TRUE(r2.hasPrinted("Stop 8"));
  EXPECT_EQ(r2.printed("Stop 8").y, (62 + 70) * 5);
  EXPECT_FALSE(rig.d().timerStops.enabled());
}

TEST(NextTrainPages, AFirstStopDomesticTerminalIsTheOnlyStopShown) {
  TrainRig rig;
  rig.main({trainAt("10:10", 1, "Domestic Terminal,Alpha,Beta")});
  RecordingSurface& r = rig.page(1);
  EXPECT_TRUE(r.hasPrinted("Domestic Terminal"));
  EXPECT_FALSE(r.hasPrinted("Alpha"));
  EXPECT_EQ(r.printed("Domestic Terminal").y, 62 * 5);
}

TEST(NextTrainPages, BadRecordsBlackTheScreen) {
  const TrainRecord bad[] = {trainAt("1005"), trainAt(""), trainAt("10:05", 1, ""),
                             trainAt("999:00")};
  for (const TrainRecord& t : bad) {
    SCOPED_TRACE(t.departTime + "/" + t.stops);
    TrainRig rig;
    std::vector<std::string> errors;
    rig.d().onTrappedError = [&](const std::string& e) { errors.push_back(e); };
    rig.main({t});
    rig.page(1);
    EXPECT_EQ(rig.pages.back(), "black");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("drawType1Screen:", 0), 0u);
    EXPECT_EQ(test::pixel(rig.window.image(), 680, 385), colours::kBlack);
  }
  TrainRig empty;  // type 1 without any train
  empty.page(1);
  EXPECT_EQ(empty.pages.back(), "black");
}

}  // namespace
}  // namespace plasma
