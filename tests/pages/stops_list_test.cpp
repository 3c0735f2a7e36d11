#include <gtest/gtest.h>

#include "pages/next_train.h"
#include "pages/next_train_fixture.h"

namespace plasma {
namespace {

using test::stopNames;
using test::TrainRig;

std::vector<std::string> names(int n) { return split(stopNames(n), ','); }

TEST(StopsList, RowsRunTenStepsApartFromTheTopOfTheListArea) {
  struct Case {
    Int16 variant;
    bool skipFirst;
    double x, firstY, lastY;
    const char* first;
  };
  const Case cases[] = {
      {1, false, 149, 62, 132, "Stop 1"},
      {2, false, 10, 62, 132, "Stop 1"},
      {3, false, 149, 24, 94, "Stop 1"},
      {4, true, 10, 24, 84, "Stop 2"},  // entry 0 left out: 7 rows
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.variant);
    TrainRig rig;
    rig.d().layoutVariant = c.variant;
    RecordingSurface& r = rig.boardCanvas();
    drawStopsList(rig.d(), names(8), c.skipFirst, 5, 5);
    const auto prints = r.ops(DrawOp::Kind::Print);
    ASSERT_EQ(prints.size(), c.skipFirst ? 7u : 8u);
    EXPECT_EQ(prints.front().text, c.first);
    EXPECT_EQ(prints.front().y, c.firstY * 5);
    EXPECT_EQ(prints.back().y, c.lastY * 5);
    for (const DrawOp& p : prints) {
      EXPECT_EQ(p.x, c.x * 5);
      EXPECT_EQ(p.fontSize, 32);
      EXPECT_EQ(p.fore, colours::kWhite);
    }
  }
}

TEST(StopsList, DomesticTerminalFirstIsTheOnlyNameShownWhateverFollows) {
  for (bool skipFirst : {false, true}) {
    TrainRig rig;
    rig.d().layoutVariant = 3;
    RecordingSurface& r = rig.boardCanvas();
    drawStopsList(rig.d(), {"Domestic Terminal", "Alpha", "Beta"}, skipFirst, 5, 5);
    EXPECT_EQ(r.texts(), std::vector<std::string>{"Domestic Terminal"});
    EXPECT_EQ(r.printed("Domestic Terminal").x, 149 * 5);
    EXPECT_EQ(r.printed("Domestic Terminal").y, 24 * 5);
  }
  TrainRig rig;  // only entry 0 counts, exactly and case-sensitively
  RecordingSurface& r = rig.boardCanvas();
  drawStopsList(rig.d(), {"domestic terminal", "Domestic Terminal"}, false, 5, 5);
  EXPECT_EQ(r.texts().size(), 2u);
}

TEST(StopsStrip, TheStripHoldsEveryRowAndItsTopIsCopiedIntoTheListArea) {
  TrainRig rig(1920, 1080);
  RecordingSurface strip(rig.d().pbStops());
  rig.d().setStopsOverride(&strip);
  RecordingSurface& r = rig.boardCanvas();
  const Grid g = pageGrid(r);
  renderStopsStrip(rig.d(), names(9), false, g.unitX, g.unitY);

  // 123 x 7.0588 = 868.2 and 9 rows x 70.13 = 631.2 pixels.
  EXPECT_EQ(rig.d().pbStops().pixelWidth(), 868);
  EXPECT_EQ(rig.d().pbStops().pixelHeight(), 631);
  const auto rows = strip.ops(DrawOp::Kind::Print);
  ASSERT_EQ(rows.size(), 9u);
  EXPECT_EQ(rows[0].x, 0);
  EXPECT_EQ(rows[0].y, 0);
  EXPECT_NEAR(rows[8].y, 80 * g.unitY, 1e-9);
  EXPECT_EQ(rows[8].fontSize, 32);

  // 118 x 7.0588 = 832.9, 79 x 7.013 = 554.0, at 149 x 7.0588 = 1051.8 and 62 x 7.013 = 434.8.
  const auto copies = r.ops(DrawOp::Kind::Copy);
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(copies[0].sx, 0);
  EXPECT_EQ(copies[0].sy, 0);
  EXPECT_EQ(copies[0].x2, 833);
  EXPECT_EQ(copies[0].y2, 554);
  EXPECT_EQ(copies[0].x, 1052);
  EXPECT_EQ(copies[0].y, 435);

  strip.reset();
  renderStopsStrip(rig.d(), names(9), true, g.unitX, g.unitY);
  EXPECT_EQ(strip.texts().front(), "Stop 2");
  EXPECT_EQ(rig.d().pbStops().pixelHeight(), 561);  // 8 rows, 80 steps
}

// Pixels of an image that are exactly one colour.
int countExactly(cairo_surface_t* image, Colour c) {
  int n = 0;
  for (int y = 0; y < cairo_image_surface_get_height(image); ++y) {
    for (int x = 0; x < cairo_image_surface_get_width(image); ++x) {
      n += test::pixel(image, x, y) == c;
    }
  }
  return n;
}

TEST(StopsStrip, ColourSchemesGiveWhiteOrYellowNamesOnGreenOrBlue) {
  struct Case {
    Int16 scheme;
    Colour background, names, absent;
  };
  const Case cases[] = {
      {0, colours::kAccentGreen, colours::kWhite, colours::kYellow},
      {1, colours::kAccentGreen, colours::kYellow, colours::kWhite},
      {2, colours::kAccentBlue, colours::kWhite, colours::kYellow},
      {3, colours::kAccentBlue, colours::kYellow, colours::kWhite},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scheme);
    TrainRig rig;
    rig.d().colourScheme = c.scheme;
    rig.boardCanvas();
    renderStopsStrip(rig.d(), names(9), false, 5, 5);
    cairo_surface_t* strip = rig.d().pbStops().image();
    // Away from the names, right of the longest one and between rows.
    for (auto [x, y] : {std::pair{600, 2}, {600, 440}, {300, 48}, {2, 447}}) {
      EXPECT_EQ(test::pixel(strip, x, y), c.background) << x << "," << y;
    }
    EXPECT_GT(countExactly(strip, c.names), 200);  // the inside of the glyph stems
    EXPECT_EQ(countExactly(strip, c.absent), 0);
    // The panel comes along onto the page.
    EXPECT_EQ(test::pixel(rig.d().pbDraw().image(), 745 + 580, 310 + 390), c.background);
  }
}

TEST(StopsStrip, AnUnknownSchemeKeepsTheColoursTheStripHad) {
  TrainRig rig;
  rig.d().colourScheme = 3;
  renderStopsStrip(rig.d(), names(9), false, 5, 5);
  rig.d().colourScheme = 7;
  renderStopsStrip(rig.d(), names(10), false, 5, 5);
  EXPECT_EQ(rig.d().pbStops().backColour(), colours::kAccentBlue);
  EXPECT_EQ(rig.d().pbStops().foreColour(), colours::kYellow);
  EXPECT_EQ(test::pixel(rig.d().pbStops().image(), 600, 490), colours::kAccentBlue);
}

}  // namespace
}  // namespace plasma
