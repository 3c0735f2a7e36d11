#include <gtest/gtest.h>

#include <algorithm>

#include "cycle/cycle.h"
#include "feed/sample_timetable.h"
#include "feed/timetable.h"
#include "test_support/rig.h"

namespace plasma::sample {
namespace {

constexpr Scenario kScenarios[] = {Scenario::Normal, Scenario::Quiet, Scenario::Midnight, Scenario::Flaky};
constexpr int kClocks[] = {0, 1, 5 * 60 + 3, 12 * 60, 22 * 60 + 55, 23 * 60 + 50, 23 * 60 + 59};

// Minutes from the clock to a departure, counting a time before the clock as the next day's.
int minutesAhead(const std::string& departTime, int clock) {
  return ((minuteOfDay(departTime) - clock) % 1440 + 1440) % 1440;
}

template <typename Record>
void expectInTimeOrder(const std::vector<Record>& list, int clock, const std::string& where) {
  for (std::size_t k = 1; k < list.size(); ++k) {
    EXPECT_LT(minutesAhead(list[k - 1].departTime, clock), minutesAhead(list[k].departTime, clock))
        << where << " slot " << k;
  }
}

TEST(SampleTimetable, EveryCircuitAndScenarioMakesAValidDocument) {
  DocumentOptions options;
  options.pictures = {"/pictures/a.jpg", "/pictures/b.png"};
  for (Scenario scenario : kScenarios) {
    options.scenario = scenario;
    for (int circuit = 0; circuit < kCircuits; ++circuit) {
      for (int clock : kClocks) {
        const std::string where = std::string(scenarioName(scenario)) + " circuit " +
                                  std::to_string(circuit) + " at " + clockText(clock);
        const std::string doc = timetableDocument(circuit, clock, options);
        EXPECT_EQ(std::count(doc.begin(), doc.end(), '\n'), 25) << where;
        EXPECT_EQ(doc.find('\r'), std::string::npos) << where;
        ParsedTimetable t;
        ASSERT_NO_THROW(t = parseTimetable(doc)) << where;
        const TimetableStore& s = t.store;
        EXPECT_EQ(s.clockMinutes, clock) << where;
        EXPECT_EQ(t.settings.colourScheme, circuit % 4) << where;
        EXPECT_EQ(t.settings.mainPageSeconds, 20) << where;
        EXPECT_EQ(t.settings.messageSeconds, 15) << where;
        EXPECT_EQ(t.settings.wipeSteps, 4) << where;
        EXPECT_EQ(s.messageCount, 2) << where;
        EXPECT_EQ(s.messageTexts.size(), 2u) << where;
        EXPECT_EQ(s.pictureFiles, options.pictures) << where;
        expectInTimeOrder(s.mainDepartures, clock, where + " main");
        expectInTimeOrder(s.otherDepartures, clock, where + " other");
        expectInTimeOrder(s.domesticDepartures, clock, where + " domestic");
        for (const auto& train : s.mainDepartures) {
          EXPECT_TRUE(train.platform == 1 || train.platform == 2) << where;
          EXPECT_FALSE(train.stops.empty()) << where;
        }
        if (scenario == Scenario::Quiet) {
          // Nothing is due within the hour, by the display's own reckoning (no wrap at midnight).
          for (const auto* list : {&s.mainDepartures, &s.otherDepartures}) {
            if (!list->empty()) {
              EXPECT_GT(minutesToDeparture(list->front().departTime, s.clockMinutes), 60) << where;
            }
          }
          if (!s.domesticDepartures.empty()) {
            EXPECT_GT(minutesToDeparture(s.domesticDepartures.front().departTime, s.clockMinutes), 60) << where;
          }
        } else {
          EXPECT_EQ(s.mainDepartureCount, 4) << where;
          EXPECT_EQ(s.otherDepartureCount, 4) << where;
          EXPECT_EQ(s.domesticDepartureCount, 4) << where;
          EXPECT_LE(minutesAhead(s.mainDepartures[0].departTime, clock), 10) << where;
          EXPECT_LE(minutesAhead(s.otherDepartures[0].departTime, clock), 15) << where;
        }
      }
    }
  }
}

TEST(SampleTimetable, BothPlatformsAndLongStopListsTurnUp) {
  const TimetableStore s = parseTimetable(timetableDocument(1, 12 * 60, {})).store;
  bool platform1 = false, platform2 = false, longList = false;
  for (const auto& t : s.mainDepartures) {
    platform1 = platform1 || t.platform == 1;
    platform2 = platform2 || t.platform == 2;
    longList = longList || split(t.stops, ',').size() > 8;
  }
  EXPECT_TRUE(platform1 && platform2 && longList);
}

TEST(SampleTimetable, MidnightTrainsAreWrittenOnTheNewDay) {
  DocumentOptions options;
  options.scenario = Scenario::Midnight;
  const TimetableStore s = parseTimetable(timetableDocument(0, kMidnightStart, options)).store;
  EXPECT_EQ(s.clockMinutes, 23 * 60 + 50);
  EXPECT_EQ(s.mainDepartures[0].departTime, "23:53");
  EXPECT_EQ(s.mainDepartures[1].departTime, "0:03");
  EXPECT_EQ(s.domesticDepartures[1].departTime, "0:05");
  // By the display's rule a train after midnight counts as due (negative minutes).
  EXPECT_LT(minutesToDeparture(s.mainDepartures[1].departTime, s.clockMinutes), 0);
}

TEST(SampleTimetable, PageSecondsSetAllThreeDurations) {
  DocumentOptions options;
  options.pageSeconds = 7;
  const DocumentSettings s = parseTimetable(timetableDocument(2, 600, options)).settings;
  EXPECT_EQ(s.mainPageSeconds, 7);
  EXPECT_EQ(s.boardSeconds, 7);
  EXPECT_EQ(s.messageSeconds, 7);
  EXPECT_EQ(parseTimetable(timetableDocument(2, 600, {})).store.pictureCount, 0);
}

TEST(SampleTimetable, FlakyFailsEveryThirdRequestInTurn) {
  std::vector<Fault> seen;
  for (long n = 1; n <= 15; ++n) seen.push_back(flakyFault(n));
  const Fault N = Fault::None;
  EXPECT_EQ(seen, (std::vector<Fault>{N, N, Fault::ServerError, N, N, Fault::CutOffBody, N, N,
                                      Fault::LowerCaseOk, N, N, Fault::SlowAnswer, N, N,
                                      Fault::ServerError}));
}

TEST(SampleTimetable, ClockTexts) {
  const std::pair<const char*, int> good[] = {{"0:00", 0}, {"00:00", 0}, {"7:05", 425}, {"23:59", 1439}};
  for (const auto& [text, minutes] : good) EXPECT_EQ(parseClock(text), minutes) << text;
  for (const char* bad : {"24:00", "7:60", "7:5", "715", ":15", "a:15", "-1:00", "123:00", ""}) {
    EXPECT_EQ(parseClock(bad), -1) << bad;
  }
  EXPECT_EQ(clockText(425), "7:05");
  EXPECT_EQ(clockText(1440 + 5), "0:05");
  EXPECT_EQ(clockText(-10), "23:50");
}

TEST(SampleTimetable, BundledPicturesAreListedWithFullPaths) {
  const std::vector<std::string> paths = picturePaths(test::resourcePath("pictures"));
  ASSERT_FALSE(paths.empty());
  EXPECT_TRUE(std::is_sorted(paths.begin(), paths.end()));
  for (const std::string& p : paths) EXPECT_EQ(p.front(), '/') << p;
  EXPECT_TRUE(picturePaths("/nonexistent/folder").empty());
}

}  // namespace
}  // namespace plasma::sample
