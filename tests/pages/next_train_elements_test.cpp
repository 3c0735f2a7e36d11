#include <gtest/gtest.h>

#include "pages/next_train.h"
#include "pages/next_train_fixture.h"

namespace plasma {
namespace {

using test::TrainRig;

TEST(NextTrainElements, FullHdTitleAndCutBandStandWhereTheGridPutsThem) {
  TrainRig rig(1920, 1080);
  RecordingSurface& r = rig.boardCanvas();
  const Grid g = pageGrid(r);
  drawNextTrainTitle(rig.d(), g.unitX, g.unitY);
  drawMinutesToDeparture(rig.d(), "7", g.unitX, g.unitY);

  const DrawOp& title = r.printed("Next Train");
  EXPECT_NEAR(title.x, 70.59, 0.005);
  EXPECT_NEAR(title.y, 70.13, 0.005);
  EXPECT_EQ(title.fontSize, 32);
  EXPECT_EQ(title.fore, colours::kWhite);

  const auto cuts = r.ops(DrawOp::Kind::FilledBox);
  ASSERT_EQ(cuts.size(), 1u);
  EXPECT_NEAR(cuts[0].x, 35.29, 0.005);
  EXPECT_NEAR(cuts[0].x2, 988.24, 0.005);
  EXPECT_NEAR(cuts[0].y, 124 * g.unitY, 1e-9);
  EXPECT_NEAR(cuts[0].y2, 126 * g.unitY, 1e-9);
  EXPECT_EQ(cuts[0].fore, colours::kBoardBackground);  // cut in the background colour
  EXPECT_EQ(cuts[0].fill, colours::kBoardBackground);
  // Afterwards: text colour restored, fill transparent, fill colour left at the background.
  EXPECT_EQ(r.foreColour(), colours::kWhite);
  EXPECT_EQ(r.fillStyle(), FillStyle::Transparent);
  EXPECT_EQ(r.fillColour(), colours::kBoardBackground);
  EXPECT_FALSE(r.underline());
}

struct VariantCase {
  Int16 variant;
  const char* title;
  Point titleAt, destinationAt, platformAt, headingAt;
};

TEST(NextTrainElements, EachVariantPlacesTheTextBlocksFromItsRowOfTheTable) {
  const VariantCase cases[] = {
      {1, "Next Train", {10, 10}, {10, 23}, {10, 48}, {149, 48}},
      {2, "Next Train:", {10, 18}, {65, 13}, {149, 48}, {10, 48}},
      {3, "Next Train:", {10, 123}, {65, 118}, {10, 10}, {149, 10}},
      {4, "Next Train:", {10, 123}, {65, 118}, {149, 10}, {10, 10}},
  };
  for (const VariantCase& c : cases) {
    SCOPED_TRACE(c.variant);
    TrainRig rig;  // 5 px a step both ways
    rig.d().layoutVariant = c.variant;
    RecordingSurface& r = rig.boardCanvas();
    drawNextTrainTitle(rig.d(), 5, 5);
    drawNextTrainDestination(rig.d(), "Airport Central", 5, 5);
    drawDepartsPlatform(rig.d(), "1", 5, 5);
    drawStopsHeading(rig.d(), 5, 5);
    ASSERT_EQ(r.texts(), (std::vector<std::string>{c.title, "Airport Central",
                                                   "Departs Platform 1 in", "Train Stops At"}));
    const auto at = [&](const char* text, Point p, double size) {
      const DrawOp& op = r.printed(text);
      EXPECT_EQ(op.x, p.x * 5) << text;
      EXPECT_EQ(op.y, p.y * 5) << text;
      EXPECT_EQ(op.fontSize, size) << text;
      EXPECT_EQ(op.fore, colours::kWhite) << text;
      EXPECT_FALSE(op.italic || op.underline) << text;
    };
    at(c.title, c.titleAt, 32);
    at("Airport Central", c.destinationAt, 64);
    at("Departs Platform 1 in", c.platformAt, 32);
    at("Train Stops At", c.headingAt, 32);
  }
}

TEST(NextTrainElements, MinutesAreCentredAndMinutesEndsWhereTheNumberEnds) {
  double labelX[2] = {};
  const char* numbers[2] = {"7", "123"};
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(numbers[k]);
    TrainRig rig;
    RecordingSurface& r = rig.boardCanvas();
    drawMinutesToDeparture(rig.d(), numbers[k], 5, 5);
    ASSERT_EQ(r.texts(), (std::vector<std::string>{numbers[k], "Minutes"}));
    const DrawOp& number = r.printed(numbers[k]);
    r.setFontSize(250);
    const double w = r.textWidth(numbers[k]);
    const double h = r.textHeight(numbers[k]);
    EXPECT_EQ(number.x, 66 * 5 - w / 2);
    EXPECT_EQ(number.y, 93 * 5 - h / 2);
    EXPECT_EQ(number.fontSize, 250);
    EXPECT_TRUE(number.underline);
    const DrawOp& label = r.printed("Minutes");
    r.setFontSize(32);
    EXPECT_EQ(label.x + r.textWidth("Minutes"), number.x + w);  // right ends meet
    EXPECT_EQ(label.y, 132 * 5);
    EXPECT_EQ(label.fontSize, 32);
    EXPECT_FALSE(label.underline);
    labelX[k] = label.x;
  }
  EXPECT_GT(labelX[1], labelX[0]);  // a wider number pushes "Minutes" to the right
}

TEST(NextTrainElements, TheCutBandRunsPastTheRightEdgeOnTheMirroredVariants) {
  for (Int16 variant : {2, 4}) {
    SCOPED_TRACE(variant);
    TrainRig rig;
    rig.d().layoutVariant = variant;
    RecordingSurface& r = rig.boardCanvas();
    drawMinutesToDeparture(rig.d(), "45", 5, 5);
    const auto cuts = r.ops(DrawOp::Kind::FilledBox);
    ASSERT_EQ(cuts.size(), 1u);
    EXPECT_EQ(cuts[0].x, 143 * 5);
    EXPECT_EQ(cuts[0].x2, 278 * 5);  // beyond the 1360 px canvas
    const double cutTop = variant == 2 ? 124 : 86;
    EXPECT_EQ(cuts[0].y, cutTop * 5);
    // The part inside the canvas is the background, right up to the edge, underline cut away.
    for (int x : {1359, 1100, 1020}) {
      for (int y = static_cast<int>(cutTop * 5); y <= cutTop * 5 + 10; ++y) {
        ASSERT_EQ(test::pixel(rig.d().pbDraw().image(), x, y), colours::kBoardBackground)
            << x << "," << y;
      }
    }
  }
}

TEST(NextTrainElements, NowStandsOnTheLineAndDepartingHangsBelowThenItalicIsOff) {
  TrainRig rig;
  rig.d().layoutVariant = 3;
  RecordingSurface& r = rig.boardCanvas();
  drawDepartingNow(rig.d(), 5, 5);
  const DrawOp& now = r.printed("Now");
  const DrawOp& departing = r.printed("Departing");
  r.setItalic(true);
  r.setFontSize(80);
  EXPECT_EQ(now.x, 66 * 5 - r.textWidth("Now") / 2);
  EXPECT_EQ(now.y + r.textHeight("Now"), 56 * 5);  // bottom on the anchor line
  EXPECT_EQ(departing.x, 66 * 5 - r.textWidth("Departing") / 2);
  EXPECT_EQ(departing.y, 58 * 5);
  EXPECT_TRUE(now.italic && departing.italic);
  EXPECT_EQ(now.fontSize, 80);
  r.setItalic(false);

  // The block leaves italic off: the next text drawn is upright.
  TrainRig again;
  RecordingSurface& r2 = again.boardCanvas();
  drawDepartingNow(again.d(), 5, 5);
  EXPECT_FALSE(r2.italic());
  drawStopsHeading(again.d(), 5, 5);
  EXPECT_FALSE(r2.printed("Train Stops At").italic);
}

}  // namespace
}  // namespace plasma
