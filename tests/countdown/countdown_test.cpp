#include <gtest/gtest.h>

#include <cmath>

#include "test_support/golden.h"
#include "test_support/rig.h"

namespace plasma {
namespace {

using test::pixel;
using Kind = DrawOp::Kind;

constexpr Colour kNavyLogoOuter{17, 14, 46};
constexpr Colour kGreenLogoOuter{76, 143, 204};

// A display of type 0 or 6 at 10:00 with 20 s pages and a 15 s board. At 1360 x 770 a grid step is
// 5 pixels both ways.
class Countdown : public ::testing::Test {
 protected:
  explicit Countdown(int width = 1360, int height = 770) : rig(width, height), d(rig.d()) {
    d.displayType = 0;
    d.layoutVariant = 1;
    d.colourScheme = 0;
    d.mainPageSeconds = 20;
    d.boardSeconds = 15;
    d.store.clockMinutes = 600;
  }

  void setMain(const std::string& destination, const std::string& time) {
    d.store.mainDepartures = {{destination, time, 1, "Alpha,Beta"}};
    d.store.mainDepartureCount = 1;
  }
  void setOther(const std::string& destination, const std::string& time) {
    d.store.otherDepartures = {{destination, time, 2, "Alpha,Beta"}};
    d.store.otherDepartureCount = 1;
  }
  void setDomestic(const std::string& time) {
    d.store.domesticDepartures = {{time, 3}};
    d.store.domesticDepartureCount = 1;
  }
  // Paints a page as the cycle calls it: board colours set, canvas cleared.
  void paint(void (*page)(Display&)) {
    d.setBoardColours();
    d.canvas().clear();
    page(d);
  }
  Colour at(int x, int y) { return pixel(rig.window.image(), x, y); }

  test::Rig rig;
  Display& d;
};

TEST_F(Countdown, TwoMinutesOrMoreShowTheCountAsItStands) {
  struct Case {
    Int16 clock;
    const char* departs;
    const char* shown;
  } cases[] = {
      {600, "10:02", "2"},
      {600, "10:02.5", "2"},   // 2.5 rounds to the even neighbour
      {600, "10:03.5", "4"},
      {600, "10:01.5", "2"},   // 1.5 rounds up to 2: shown, not handed over
      {10, "23:50", "1420"},   // no day wrap: a train before the clock's midnight is far away
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.departs);
    d.store.clockMinutes = c.clock;
    setMain("Airport Central", c.departs);
    RecordingSurface& rec = rig.record();
    rig.pages.clear();
    paint(drawType0Screen);
    ASSERT_EQ(rig.pages, std::vector<std::string>{"type0"});
    const DrawOp& count = rec.printed(c.shown);
    EXPECT_EQ(count.fontSize, 300);
    EXPECT_TRUE(count.underline);
    EXPECT_EQ(rec.printed("Minutes").fontSize, 80);
    EXPECT_FALSE(rec.printed("Minutes").underline);
    EXPECT_EQ(d.boardSeconds, 15);
  }
}

TEST_F(Countdown, TypeZeroHandsOverToTheBoardBelowTwoMinutes) {
  struct Case {
    Int16 clock;
    const char* departs;
  } cases[] = {{600, "10:01"}, {600, "10:00"}, {600, "9:30"}, {1430, "0:10"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.departs);
    d.store.clockMinutes = c.clock;
    d.boardSeconds = 15;
    d.screenPhase = 0;
    setMain("Airport Central", c.departs);
    RecordingSurface& rec = rig.record();
    rig.pages.clear();
    paint(drawType0Screen);
    EXPECT_EQ(rig.pages, std::vector<std::string>{"two-row-board"});  // type 0's own board
    EXPECT_FALSE(rec.hasPrinted("Minutes"));
    EXPECT_EQ(d.boardSeconds, 35);  // the board also gets the skipped page's time
    EXPECT_EQ(d.screenPhase, 1);
  }
}

TEST_F(Countdown, ErrorsBlackTheScreen) {
  struct Case {
    const char* what;
    const char* departs;
    bool emptyList;
  } cases[] = {
      {"a time without a colon", "1005", false},
      {"an empty time", "", false},
      {"minutes past the 16-bit range", "999:00", false},
      {"no record at all", "10:05", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    setMain("Airport Central", c.departs);
    if (c.emptyList) {
      d.store.mainDepartures.clear();
      d.store.mainDepartureCount = 0;
    }
    rig.pages.clear();
    paint(drawType0Screen);
    EXPECT_EQ(rig.pages, std::vector<std::string>{"black"});
    EXPECT_EQ(at(680, 700), colours::kBlack);
    EXPECT_EQ(d.boardSeconds, 15);
  }
}

TEST_F(Countdown, TheLogoIsCopiedWholeAtItsRoundedGridPosition) {
  struct Case {
    Int16 variant;
    int x, y;
  } cases[] = {{1, 50, 50}, {2, 265, 50}, {3, 50, 200}, {4, 265, 200}};
  setMain("Airport Central", "10:05");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.variant);
    d.layoutVariant = c.variant;
    RecordingSurface& rec = rig.record();
    paint(drawType0Screen);
    const auto copies = rec.ops(Kind::Copy);
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(copies[0].source, &d.pbLogoGreen());
    EXPECT_EQ(copies[0].sx, 0);
    EXPECT_EQ(copies[0].sy, 0);
    EXPECT_EQ(copies[0].x2, 78);
    EXPECT_EQ(copies[0].y2, 101);
    EXPECT_EQ(copies[0].x, c.x);
    EXPECT_EQ(copies[0].y, c.y);
  }
}

class CountdownOnAFullHdPanel : public Countdown {
 protected:
  CountdownOnAFullHdPanel() : Countdown(1920, 1080) {}
};

TEST_F(CountdownOnAFullHdPanel, LogoPositionsRoundToTheNearestPixel) {
  // 1920 / 272 = 7.0588 and 1080 / 154 = 7.0130 pixels per step.
  struct Case {
    Int16 variant;
    int x, y;
  } cases[] = {{1, 71, 70}, {2, 374, 70}, {3, 71, 281}, {4, 374, 281}};
  setMain("Airport Central", "10:05");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.variant);
    d.layoutVariant = c.variant;
    RecordingSurface& rec = rig.record();
    paint(drawType0Screen);
    ASSERT_EQ(rec.ops(Kind::Copy).size(), 1u);
    EXPECT_EQ(rec.ops(Kind::Copy)[0].x, c.x);
    EXPECT_EQ(rec.ops(Kind::Copy)[0].y, c.y);
  }
}

class CountdownOnANarrowCanvas : public Countdown {
 protected:
  CountdownOnANarrowCanvas() : Countdown(340, 770) {}
};

TEST_F(CountdownOnANarrowCanvas, AHalfPixelLogoPositionGoesToTheEvenPixel) {
  // 340 / 272 = 1.25 pixels per step: the logo's left edge at 10 steps is 12.5 pixels.
  setMain("Airport Central", "10:05");
  RecordingSurface& rec = rig.record();
  paint(drawType0Screen);
  ASSERT_EQ(rec.ops(Kind::Copy).size(), 1u);
  EXPECT_EQ(rec.ops(Kind::Copy)[0].x, 12);
}

TEST_F(Countdown, BandDestinationCountdownAndStripFollowTheLayoutTable) {
  struct Case {
    Int16 variant;
    double bandTop, bandBottom;
    double destinationLine, countdownLine, headingX;
  } cases[] = {
      {1, 595, 770, 670, 330, 200},
      {2, 595, 770, 670, 330, 405},
      {3, 0, 175, 95, 480, 200},
      {4, 0, 175, 95, 480, 405},
  };
  setMain("Airport Central", "10:05");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.variant);
    d.layoutVariant = c.variant;
    RecordingSurface& rec = rig.record();
    paint(drawType0Screen);
    const auto filled = rec.ops(Kind::FilledBox);
    ASSERT_EQ(filled.size(), 2u);  // the band, then the strip
    EXPECT_EQ(filled[0].fore, colours::kAccentBlue);
    EXPECT_EQ(filled[0].x, 0);
    EXPECT_EQ(filled[0].y, c.bandTop);
    EXPECT_EQ(filled[0].x2, 1360);
    EXPECT_EQ(filled[0].y2, c.bandBottom);

    // The strip, two steps high in the background colour, 37 steps below the count's centre.
    EXPECT_EQ(filled[1].fore, colours::kBoardBackground);
    EXPECT_EQ(filled[1].x, 25);
    EXPECT_EQ(filled[1].y, c.countdownLine + 185);
    EXPECT_EQ(filled[1].x2, 1000);
    EXPECT_EQ(filled[1].y2, c.countdownLine + 195);

    const auto frame = rec.ops(Kind::Box);
    ASSERT_EQ(frame.size(), 1u);
    EXPECT_EQ(frame[0].fore, colours::kWhite);
    EXPECT_EQ(frame[0].fillStyle, FillStyle::Transparent);
    EXPECT_EQ(frame[0].x, 15);
    EXPECT_EQ(frame[0].y, 15);
    EXPECT_EQ(frame[0].x2, 1345);
    EXPECT_EQ(frame[0].y2, 755);

    d.canvas().setFontSize(90);
    const double destHeight = d.canvas().textHeight("Airport Central");
    const double destWidth = d.canvas().textWidth("Airport Central");
    const DrawOp& destination = rec.printed("Airport Central");
    EXPECT_EQ(destination.fontSize, 90);
    EXPECT_EQ(destination.fore, colours::kWhite);
    EXPECT_EQ(destination.x, 680 - destWidth / 2);
    EXPECT_EQ(destination.y, std::floor(c.destinationLine - destHeight / 2) - 1);

    d.canvas().setFontSize(300);
    const double countWidth = d.canvas().textWidth("5");
    const DrawOp& count = rec.printed("5");
    EXPECT_FLOAT_EQ(count.x, 1360.0 / 3 - countWidth / 2);
    EXPECT_EQ(count.y, c.countdownLine - d.canvas().textHeight("5") / 2);
    const DrawOp& minutes = rec.printed("Minutes");
    EXPECT_FLOAT_EQ(minutes.x, 1360.0 / 3 + countWidth / 2 + 50);
    EXPECT_EQ(minutes.y, c.countdownLine);

    EXPECT_EQ(rec.printed("Next Train Departs...").x, c.headingX);
  }
}

TEST_F(Countdown, TheHeadingIsCentredOnTheLogo) {
  setMain("Airport Central", "10:05");
  d.canvas().setFontSize(48);
  const double headingHeight = d.canvas().textHeight("Next Train Departs");
  for (Int16 variant : {1, 2, 3, 4}) {
    SCOPED_TRACE(variant);
    d.layoutVariant = variant;
    RecordingSurface& rec = rig.record();
    paint(drawType0Screen);
    const DrawOp& heading = rec.printed("Next Train Departs...");
    EXPECT_EQ(heading.fontSize, 48);
    const double logoMiddle = rec.ops(Kind::Copy).at(0).y + 101 / 2.0;
    EXPECT_EQ(heading.y + headingHeight / 2, logoMiddle);
  }
}

TEST_F(Countdown, ColourSchemesPickBandAndLogoExactly) {
  struct Case {
    Int16 scheme;
    Int16 variant;
    Colour band;
    bool logo;
    Colour logoOuter;
    int bandX, bandY;  // inside the band, clear of frame and text
    int logoX, logoY;  // top-left of the logo
  } cases[] = {
      {0, 1, colours::kAccentBlue, true, kGreenLogoOuter, 30, 765, 50, 50},
      {1, 3, colours::kAccentBlue, true, kGreenLogoOuter, 30, 5, 50, 200},
      {2, 2, colours::kAccentGreen, true, kNavyLogoOuter, 30, 600, 265, 50},
      {3, 4, colours::kAccentGreen, true, kNavyLogoOuter, 1330, 160, 265, 200},
      {4, 1, colours::kWhite, false, colours::kBoardBackground, 30, 765, 50, 50},
      {-1, 3, colours::kWhite, false, colours::kBoardBackground, 30, 5, 50, 200},
  };
  setMain("Airport Central", "10:05");
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "scheme " << c.scheme << ", variant " << c.variant);
    d.colourScheme = c.scheme;
    d.layoutVariant = c.variant;
    d.setCanvasOverride(nullptr);
    paint(drawType0Screen);
    EXPECT_EQ(at(c.bandX, c.bandY), c.band);
    // Corners of the logo's outer margin; without a logo the page background shows there.
    for (auto [dx, dy] : {std::pair{2, 2}, {75, 2}, {2, 98}, {75, 98}, {40, 3}}) {
      EXPECT_EQ(at(c.logoX + dx, c.logoY + dy), c.logoOuter) << dx << "," << dy;
    }
    EXPECT_EQ(at(1200, 400), colours::kBoardBackground);
    EXPECT_EQ(rig.pages.back(), "type0");  // frame, heading and count are drawn as usual
  }
}

TEST_F(Countdown, AnUnknownSchemeIsLoggedOnceUntilItChanges) {
  setMain("Airport Central", "10:05");
  auto logOfOnePage = [&](Int16 scheme) {
    d.colourScheme = scheme;
    testing::internal::CaptureStderr();
    paint(drawType0Screen);
    return testing::internal::GetCapturedStderr();
  };
  EXPECT_NE(logOfOnePage(7).find("colour scheme 7"), std::string::npos);
  EXPECT_EQ(logOfOnePage(7), "");
  EXPECT_EQ(logOfOnePage(2), "");
  EXPECT_NE(logOfOnePage(7).find("colour scheme 7"), std::string::npos);
  EXPECT_NE(logOfOnePage(9).find("colour scheme 9"), std::string::npos);
}

TEST_F(Countdown, SchemeFourDrawsNoLogoAndAWhiteBand) {
  d.colourScheme = 4;
  setMain("Airport Central", "10:05");
  RecordingSurface& rec = rig.record();
  paint(drawType0Screen);
  EXPECT_TRUE(rec.ops(Kind::Copy).empty());
  EXPECT_EQ(rec.ops(Kind::FilledBox).at(0).fore, colours::kWhite);
  EXPECT_TRUE(rec.hasPrinted("Airport Central"));  // white on white
  EXPECT_TRUE(rec.hasPrinted("Minutes"));
}

TEST_F(Countdown, AnUnknownLayoutVariantBlacksTheScreen) {
  setMain("Airport Central", "10:05");
  d.layoutVariant = 5;
  paint(drawType0Screen);
  EXPECT_EQ(rig.pages.back(), "black");
}

class TypeSixCountdown : public Countdown {
 protected:
  TypeSixCountdown() { d.displayType = 6; }
};

TEST_F(TypeSixCountdown, PageBShowsTheFirstOtherTrain) {
  d.type6Alternation = 1;
  setOther("City Circle", "10:07");
  RecordingSurface& rec = rig.record();
  paint(drawType6ScreenB);
  EXPECT_EQ(rig.pages, std::vector<std::string>{"type6b"});
  EXPECT_TRUE(rec.hasPrinted("City Circle"));
  EXPECT_TRUE(rec.hasPrinted("7"));
  EXPECT_EQ(d.type6Alternation, 1);
}

TEST_F(TypeSixCountdown, PageAShowsTheDomesticTrain) {
  d.type6Alternation = 2;
  setDomestic("10:12");
  RecordingSurface& rec = rig.record();
  paint(drawType6ScreenA);
  EXPECT_EQ(rig.pages, std::vector<std::string>{"type6a"});
  EXPECT_TRUE(rec.hasPrinted("Domestic Airport"));
  EXPECT_TRUE(rec.hasPrinted("12"));
  EXPECT_EQ(d.type6Alternation, 2);
  EXPECT_EQ(d.boardSeconds, 15);
}

TEST_F(TypeSixCountdown, PageAWithoutDomesticTrainsGoesStraightToTheBoard) {
  d.type6Alternation = 2;
  setOther("City Circle", "10:07");
  RecordingSurface& rec = rig.record();
  paint(drawType6ScreenA);
  EXPECT_EQ(rig.pages, std::vector<std::string>{"board"});
  EXPECT_TRUE(rec.ops(Kind::Copy).empty());  // nothing of the page was drawn
  EXPECT_EQ(d.screenPhase, 1);
  EXPECT_EQ(d.boardSeconds, 15);
  EXPECT_EQ(d.type6Alternation, 2);
}

TEST_F(TypeSixCountdown, PageAHandsOverToTheBoardBelowTwoMinutes) {
  d.type6Alternation = 2;
  setDomestic("10:01");
  setOther("City Circle", "10:07");
  paint(drawType6ScreenA);
  EXPECT_EQ(rig.pages, std::vector<std::string>{"board"});
  EXPECT_EQ(d.screenPhase, 1);
  EXPECT_EQ(d.type6Alternation, 1);
  EXPECT_EQ(d.boardSeconds, 35);
}

TEST_F(TypeSixCountdown, PageBHandsOverToPageAWhichPaintsOverIt) {
  d.type6Alternation = 1;
  setOther("City Circle", "10:01");
  setDomestic("10:12");
  RecordingSurface& rec = rig.record();
  paint(drawType6ScreenB);
  EXPECT_EQ(rig.pages, std::vector<std::string>{"type6a"});
  EXPECT_EQ(d.type6Alternation, 2);
  EXPECT_EQ(d.boardSeconds, 15);
  // B got as far as its destination; A drew the whole page over it without a clear.
  EXPECT_EQ(rec.texts(), (std::vector<std::string>{"Next Train Departs...", "City Circle",
                                                   "Next Train Departs...", "Domestic Airport",
                                                   "12", "Minutes"}));
  EXPECT_EQ(rec.ops(Kind::Clear).size(), 1u);  // the caller's only
}

TEST_F(TypeSixCountdown, PageBHandingOverToAnEmptyPageAEndsOnTheBoard) {
  d.type6Alternation = 1;
  setOther("City Circle", "10:01");
  paint(drawType6ScreenB);
  EXPECT_EQ(rig.pages, std::vector<std::string>{"board"});
  EXPECT_EQ(d.screenPhase, 1);
  EXPECT_EQ(d.type6Alternation, 2);
  EXPECT_EQ(d.boardSeconds, 15);
}

TEST_F(TypeSixCountdown, AnOverflowingBoardTimeBlacksTheScreenAfterTheAlternationWrite) {
  d.type6Alternation = 2;
  d.boardSeconds = 32760;
  setDomestic("10:00");
  paint(drawType6ScreenA);
  EXPECT_EQ(rig.pages.back(), "black");
  EXPECT_EQ(d.type6Alternation, 1);  // written before the error, and kept
  EXPECT_EQ(d.boardSeconds, 32760);
}

// Glyph edges are anti-aliased and their coverage differs a little between FreeType builds; flat
// areas (band, logo, background, frame) must match, so a small per-channel tolerance and a few
// hundred edge pixels are allowed. A moved element changes thousands of pixels.
constexpr int kGoldenTolerance = 16;
constexpr int kGoldenEdgePixels = 500;

TEST_F(Countdown, GoldenTypeZeroPage) {
  setMain("Airport Central", "10:05");
  paint(drawType0Screen);
  EXPECT_EQ(test::compareWithGolden(rig.window.image(), "type0-countdown", kGoldenTolerance,
                                    kGoldenEdgePixels), "");
}

TEST_F(TypeSixCountdown, GoldenPageB) {
  d.type6Alternation = 1;
  d.layoutVariant = 3;
  d.colourScheme = 2;
  setOther("City Circle", "10:17");
  paint(drawType6ScreenB);
  EXPECT_EQ(test::compareWithGolden(rig.window.image(), "type6b-countdown", kGoldenTolerance,
                                    kGoldenEdgePixels), "");
}

TEST_F(TypeSixCountdown, GoldenPageA) {
  d.type6Alternation = 2;
  d.layoutVariant = 2;
  d.colourScheme = 1;
  setDomestic("10:42");
  paint(drawType6ScreenA);
  EXPECT_EQ(test::compareWithGolden(rig.window.image(), "type6a-countdown", kGoldenTolerance,
                                    kGoldenEdgePixels), "");
}

}  // namespace
}  // namespace plasma
