#include <gtest/gtest.h>

#include "present/monitors.h"
#include "startup/command_line.h"

namespace plasma {
namespace {

using Outcome = StartArguments::Outcome;

TEST(CommandLine, TwoOrThreePartsSplitOnEverySpace) {
  const struct {
    const char* tail;
    Outcome outcome;
    int type, screen;
    const char* url;
  } cases[] = {
      {"3 1", Outcome::Start, 3, 1, kDefaultBaseUrl},
      {"3 1 http://10.0.0.5:8080", Outcome::Start, 3, 1, "http://10.0.0.5:8080"},
      {"3 1 http://host/x/", Outcome::Start, 3, 1, "http://host/x/"},  // verbatim
      {"3 1 ", Outcome::Start, 3, 1, ""},          // trailing space: an empty base URL
      {" 3 1", Outcome::NotANumber, 0, 0, ""},     // leading space: an empty first argument
      {"3  1", Outcome::NotANumber, 3, 0, ""},     // doubled space: argument 2 is empty
      {"3", Outcome::WrongCount, 0, 0, ""},
      {"", Outcome::WrongCount, 0, 0, ""},
      {"3 1 http://a extra", Outcome::WrongCount, 0, 0, ""},
      {"three 1", Outcome::NotANumber, 0, 0, ""},
      {"3 one", Outcome::NotANumber, 3, 0, ""},
      {"3 40000", Outcome::NotANumber, 3, 0, ""},
      {"9 0", Outcome::Start, 9, 0, kDefaultBaseUrl},  // accepted; the cycle copes
      // The request path goes after the base URL: a query or fragment there would swallow it.
      {"3 1 http://host/x?circuit=1", Outcome::BadUrl, 0, 0, ""},
      {"3 1 http://host/x#top", Outcome::BadUrl, 0, 0, ""},
      {"3 1 http://host/x?", Outcome::BadUrl, 0, 0, ""},
  };
  for (const auto& c : cases) {
    const StartArguments a = parseStartArguments(c.tail);
    EXPECT_EQ(a.outcome, c.outcome) << "\"" << c.tail << "\"";
    if (c.outcome == Outcome::Start) {
      EXPECT_EQ(a.displayType, c.type) << c.tail;
      EXPECT_EQ(a.screenIndex, c.screen) << c.tail;
      EXPECT_EQ(a.serverBaseUrl, c.url) << c.tail;
    }
  }
  const StartArguments bad = parseStartArguments("3 one");
  EXPECT_NE(bad.error.find("screen index (argument 2) \"one\""), std::string::npos) << bad.error;
}

TEST(CommandLine, TheTailIsTheArgumentsJoinedWithSingleSpaces) {
  char a0[] = "plasma-display", a1[] = "3 ", a2[] = "1";
  char* argv[] = {a0, a1, a2};
  EXPECT_EQ(argumentTail(3, argv), "3  1");  // a quoted "3 " still yields an empty part
  EXPECT_EQ(parseStartArguments(argumentTail(3, argv)).outcome, Outcome::NotANumber);
}

TEST(WindowPlacement, UsesTheMonitorsBoundsOrThePrimaryWidthSteps) {
  const MonitorLayout monitors{{{0, 0, 1920, 1080}, {1920, 0, 3840, 2160}}, 0};
  const MonitorPlacement p0 = placeForScreen(0, monitors).bounds;
  EXPECT_EQ(p0.x, 0);
  EXPECT_EQ(p0.width, 1920);
  const MonitorPlacement p1 = placeForScreen(1, monitors).bounds;
  EXPECT_EQ(p1.x, 1920);
  EXPECT_EQ(p1.width, 3840);  // a monitor of another size gets its own size
  const ScreenPlacement p3 = placeForScreen(3, monitors);
  EXPECT_FALSE(p3.onMonitor);
  EXPECT_EQ(p3.bounds.x, 3 * 1920);  // no such monitor: the legacy side-by-side rule
  EXPECT_EQ(p3.bounds.y, 0);
  EXPECT_EQ(p3.bounds.height, 1080);
  const MonitorLayout alone{{{0, 0, 1280, 1024}}, 0};
  EXPECT_EQ(placeForScreen(1, alone).bounds.x, 1280);
}

}  // namespace
}  // namespace plasma
