#include <gtest/gtest.h>

#include <sstream>

#include "test_support/rig.h"

namespace plasma {
namespace {

using test::document;

const std::string kUrl3 = "http://timetable.test/tabs/plasmatimetable.php?Circuit=3";

// Everything a load may write, as one comparable text.
std::string stateOf(const Display& d) {
  std::ostringstream os;
  os << d.mainPageSeconds << ' ' << d.boardSeconds << ' ' << d.messageSeconds << ' ' << d.colourScheme
     << ' ' << d.boardOption << ' ' << d.spareSetting << ' ' << d.wipeSteps << ' ' << d.scrollDelay
     << ' ' << d.wipeEnabled << ' ' << d.tickCount << ' ' << d.screenPhase << '\n';
  const TimetableStore& s = d.store;
  os << s.clockMinutes << " msgs " << s.messageCount << ' ' << s.messageTitles.size() << ' '
     << s.messageTexts.size() << " pics " << s.pictureCount << ' ' << s.pictureIndex << '\n';
  for (const auto* list : {&s.mainDepartures, &s.otherDepartures}) {
    for (const TrainRecord& t : *list) os << t.destination << '|' << t.departTime << '|' << t.platform << '|' << t.stops << '\n';
  }
  for (const DomesticRecord& t : s.domesticDepartures) os << t.departTime << '|' << t.platform << '\n';
  os << s.mainDepartureCount << ' ' << s.otherDepartureCount << ' ' << s.domesticDepartureCount;
  return os.str();
}

std::vector<std::string> logLines(const std::string& captured) {
  std::vector<std::string> lines;
  std::istringstream in(captured);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

const std::string kFourTrains = document({{1, "25"}, {2, "22"}, {3, "12"}, {4, "1"}, {7, "4"},
                                          {11, "10:09|1"},
                                          {16, "Vantrel Central|10:15|2|Quayside"},
                                          {17, "Airport Terminal 1|10:25|1|Linden Cross"},
                                          {18, "Vantrel Central|10:35|2|Quayside"},
                                          {19, "Harbour Point|10:07|1|Dockside"},
                                          {23, "/pictures/a.jpg|/pictures/b.jpg"}});

struct FeedRig : test::Rig {
  FeedRig() {
    // Loads are driven by hand here; the page cycle would only add pages to the log.
    d().timerDisplay.setEnabled(false);
    d().displayType = 3;
    d().layoutVariant = 1;  // as setDisplayType leaves it
  }
  void load(const HttpResponse& r) {
    http.responses.clear();
    http.push(r);
    d().startTimetableLoad();
    loop.settle();
  }
  void loadDocument(const std::string& body) { load({true, 200, body, ""}); }
};

TEST(LoadTimetable, AGoodLoadFillsSettingsAndStoreAndKeepsThePictureIndex) {
  FeedRig rig;
  Display& d = rig.d();
  d.store.pictureIndex = 1;
  rig.loop.advanceMs(1500);
  rig.loadDocument(kFourTrains);
  EXPECT_EQ(rig.http.urls, std::vector<std::string>{kUrl3});
  EXPECT_EQ(d.mainPageSeconds, 25);
  EXPECT_EQ(d.boardSeconds, 22);
  EXPECT_EQ(d.messageSeconds, 12);
  EXPECT_EQ(d.colourScheme, 1);
  EXPECT_EQ(d.wipeSteps, 4);
  EXPECT_EQ(d.store.mainDepartureCount, 4);
  EXPECT_EQ(d.store.otherDepartureCount, 1);
  EXPECT_EQ(d.store.domesticDepartureCount, 1);
  EXPECT_EQ(d.store.pictureCount, 2);
  EXPECT_EQ(d.store.pictureIndex, 1);
  EXPECT_EQ(d.store.clockMinutes, 600);
  EXPECT_TRUE(d.feed.everLoaded);
  EXPECT_EQ(d.feed.loads, 1);
  EXPECT_EQ(d.feed.failures, 0);
  EXPECT_EQ(d.feed.lastGoodUs, 1500000);
  EXPECT_GT(d.feed.lastGoodWallSeconds, 0);

  // A later document with one train leaves a list of one.
  rig.loadDocument(document());
  EXPECT_EQ(d.store.mainDepartureCount, 1);
  EXPECT_EQ(d.store.mainDepartures.size(), 1u);
  EXPECT_EQ(d.store.otherDepartureCount, 0);
}

TEST(LoadTimetable, AFailedLoadChangesNothingBlacksTheScreenAndLogsOneLine) {
  struct Case {
    const char* name;
    HttpResponse response;
    const char* reason;
  };
  const Case cases[] = {
      {"no connection", {false, 0, "", "Couldn't connect to server"},
       "transfer failed: Couldn't connect to server"},
      {"server error", {false, 500, "", "HTTP 500"}, "transfer failed: HTTP 500"},
      {"line 0 in lower case", {true, 200, document({{0, "ok"}}), ""},
       "bad document: line 0 is not OK: \"ok\""},
      {"bad platform late in the document", {true, 200, document({{1, "5"}, {20, "X|10:10|one|S"}}), ""},
       "type mismatch: line 20: \"one\" is not a number"},
      {"clock without colon", {true, 200, document({{1, "5"}, {24, "1000"}}), ""},
       "subscript out of range: line 24 has no ':'"},
      {"short document", {true, 200, "OK\n5\n5\n5\n", ""},
       "subscript out of range: document has 4 lines, 25 needed"},
  };
  for (const Case& c : cases) {
    FeedRig rig;
    Display& d = rig.d();
    rig.loadDocument(kFourTrains);
    const std::string before = stateOf(d);
    rig.pages.clear();
    testing::internal::CaptureStderr();
    rig.load(c.response);
    const std::vector<std::string> log = logLines(testing::internal::GetCapturedStderr());
    EXPECT_EQ(stateOf(d), before) << c.name;
    EXPECT_EQ(rig.pages, std::vector<std::string>{"black"}) << c.name;
    EXPECT_EQ(d.feed.failures, 1) << c.name;
    EXPECT_EQ(d.feed.failuresInARow, 1) << c.name;
    EXPECT_EQ(d.feed.lastFailure, c.reason) << c.name;
    ASSERT_EQ(log.size(), 1u) << c.name;
    EXPECT_NE(log[0].find(kUrl3), std::string::npos) << log[0];
    EXPECT_NE(log[0].find(c.reason), std::string::npos) << log[0];
  }
}

TEST(LoadTimetable, ALoadWhileTheBoardIsShownRedrawsItAtOnceWithoutWipeOrRestart) {
  FeedRig rig;
  Display& d = rig.d();
  rig.loadDocument(kFourTrains);
  d.layoutVariant = 1;
  drawDepartureBoard(d, true);
  ASSERT_EQ(d.screenPhase, 1);
  d.tickCount = 7;
  rig.pages.clear();
  rig.window.resetLog();
  RecordingSurface& canvas = rig.record();

  rig.loadDocument(document({{7, "4"}, {15, "Harbour Express|10:04|1|Dockside"}}));
  EXPECT_EQ(rig.pages, std::vector<std::string>{"board"});
  EXPECT_TRUE(canvas.hasPrinted("Harbour Express"));
  EXPECT_EQ(rig.window.copies().size(), 1u);  // one plain copy: no wipe strips
  EXPECT_EQ(d.tickCount, 7);
  EXPECT_EQ(d.layoutVariant, 2);
  EXPECT_EQ(d.screenPhase, 1);
  EXPECT_EQ(d.wipeEnabled, 1);

  // The next page change wipes again.
  rig.window.resetLog();
  drawDepartureBoard(d, true);
  EXPECT_EQ(rig.window.copies().size(), 4u);
}

TEST(LoadTimetable, WhichPagesARedrawTouches) {
  struct Case {
    const char* name;
    Int16 displayType, screenPhase, tickCount;
    bool redrawn;
  };
  const Case cases[] = {
      {"next-train page of type 3 refreshes itself", 3, 0, 5, false},
      {"countdown page of type 0 at tick 0", 0, 0, 0, false},
      {"countdown page of type 0", 0, 0, 5, true},
      {"countdown page of type 6", 6, 0, 5, true},
      {"message page", 2, 2, 4, true},
  };
  for (const Case& c : cases) {
    FeedRig rig;
    Display& d = rig.d();
    d.displayType = c.displayType;
    rig.loadDocument(kFourTrains);
    d.screenPhase = c.screenPhase;
    d.tickCount = c.tickCount;
    rig.pages.clear();
    rig.loadDocument(kFourTrains);
    EXPECT_EQ(!rig.pages.empty(), c.redrawn) << c.name;
    EXPECT_EQ(d.tickCount, c.tickCount) << c.name;
    EXPECT_EQ(d.wipeEnabled, 1) << c.name;
  }
}

TEST(LoadTimetable, StartUpLoadIsBlockingAndUsesTheDisplayType) {
  FeedRig rig;
  Display& d = rig.d();
  rig.http.pushDocument(kFourTrains);
  d.displayType = 5;
  d.loadTimetable();  // no loop turn needed
  EXPECT_EQ(rig.http.urls, std::vector<std::string>{"http://timetable.test/tabs/plasmatimetable.php?Circuit=5"});
  EXPECT_EQ(d.store.mainDepartureCount, 4);
}

TEST(LoadTimetable, NoSecondFetchWhileOneIsInFlight) {
  FeedRig rig;
  Display& d = rig.d();
  rig.http.pushDocument(kFourTrains);
  testing::internal::CaptureStderr();
  d.startTimetableLoad();  // the inline fetch hands its result to the next loop turn
  d.startTimetableLoad();
  d.startTimetableLoad();
  const std::vector<std::string> log = logLines(testing::internal::GetCapturedStderr());
  EXPECT_EQ(rig.http.urls.size(), 1u);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("still running"), std::string::npos) << log[0];
  rig.loop.settle();
  EXPECT_EQ(d.feed.loads, 1);
  d.startTimetableLoad();
  rig.loop.settle();
  EXPECT_EQ(rig.http.urls.size(), 2u);
}

TEST(LoadTimetable, OldTrainListsAreEmptiedAndTheFeedIsReportedBack) {
  FeedRig rig;
  Display& d = rig.d();
  d.staleSeconds = 300;
  rig.loadDocument(kFourTrains);  // at 0 s
  rig.http.responses.clear();
  rig.http.pushFailure("Couldn't connect to server");

  testing::internal::CaptureStderr();
  rig.loop.advanceMs(299000);  // the timer's loads at 30 .. 270 s fail
  EXPECT_EQ(d.feed.failures, 9);
  EXPECT_EQ(d.store.mainDepartureCount, 4);
  rig.loop.advanceMs(1000);  // 300 s without a good load
  EXPECT_EQ(d.feed.failures, 10);
  EXPECT_TRUE(d.feed.staleCleared);
  EXPECT_EQ(d.store.mainDepartureCount, 0);
  EXPECT_EQ(d.store.otherDepartureCount, 0);
  EXPECT_EQ(d.store.domesticDepartureCount, 0);
  EXPECT_TRUE(d.store.mainDepartures.empty() && d.store.otherDepartures.empty() &&
              d.store.domesticDepartures.empty());
  EXPECT_EQ(d.store.messageCount, 2);  // only the trains go
  EXPECT_EQ(d.store.pictureCount, 2);
  rig.loop.advanceMs(60000);
  rig.http.responses.clear();
  rig.http.pushDocument(kFourTrains);
  rig.loop.advanceMs(30000);  // 390 s: good again
  const std::vector<std::string> log = logLines(testing::internal::GetCapturedStderr());

  EXPECT_EQ(d.store.mainDepartureCount, 4);
  EXPECT_FALSE(d.feed.staleCleared);
  EXPECT_EQ(d.feed.failuresInARow, 0);
  EXPECT_EQ(d.feed.lastGoodUs, 390000000);
  int emptied = 0, back = 0;
  for (const std::string& line : log) {
    if (line.find("train lists are emptied") != std::string::npos) {
      ++emptied;
      EXPECT_NE(line.find("no good load for 5 min 0 s"), std::string::npos) << line;
    }
    if (line.find("is back") != std::string::npos) {
      ++back;
      EXPECT_NE(line.find("after 12 failed loads (6 min 30 s without a good load, train lists refilled)"),
                std::string::npos)
          << line;
    }
  }
  EXPECT_EQ(emptied, 1);
  EXPECT_EQ(back, 1);
  EXPECT_EQ(log.size(), 12u + 2u);  // one line per failure, one when emptied, one when back
}

TEST(LoadTimetable, ADisplayThatNeverLoadedHasNothingToEmpty) {
  FeedRig rig;
  Display& d = rig.d();
  rig.http.pushFailure("Couldn't connect to server");
  testing::internal::CaptureStderr();
  rig.loop.advanceMs(600000);
  const std::vector<std::string> log = logLines(testing::internal::GetCapturedStderr());
  EXPECT_EQ(d.feed.failures, 20);
  EXPECT_FALSE(d.feed.staleCleared);
  EXPECT_EQ(log.size(), 20u);
  rig.http.responses.clear();
  rig.http.pushDocument(kFourTrains);
  testing::internal::CaptureStderr();
  rig.loop.advanceMs(30000);
  const std::vector<std::string> back = logLines(testing::internal::GetCapturedStderr());
  ASSERT_EQ(back.size(), 1u);
  EXPECT_NE(back[0].find("first good load after 20 failed loads"), std::string::npos) << back[0];
}

}  // namespace
// A screen PC suspended overnight wakes with a timetable hours old: its trains go at the next
// tick, not minutes later when the monotonic clock has caught up.
TEST(LoadTimetable, TimeInSuspendCountsTowardsTheAgeOfTheTrains) {
  FeedRig rig;
  Display& d = rig.d();
  d.staleSeconds = 300;
  rig.loadDocument(kFourTrains);
  d.timerDatabase.setEnabled(false);
  d.timerDisplay.setEnabled(true);
  rig.loop.advanceMs(10000);
  EXPECT_EQ(d.store.mainDepartureCount, 4);
  rig.loop.suspendMs(2 * 3600 * 1000);
  testing::internal::CaptureStderr();
  rig.loop.advanceMs(1000);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(d.store.mainDepartureCount, 0);
  EXPECT_TRUE(d.feed.staleCleared);
  EXPECT_NE(log.find("no good load for 2 h 0 min"), std::string::npos) << log;
}

}  // namespace plasma
