// The notices: "All trains depart / Platform n" as a page of its own, and the "Last Train(s)" band
// that closes a short departure board.
#include <gtest/gtest.h>

#include "board_fixture.h"

namespace plasma::test {
namespace {

// Where a text of this size would be centred on the canvas: its measured width rounded first.
double centredX(Rig& rig, const std::string& text, double font) {
  CairoSurface probe(10, 10);
  probe.setFontSize(font);
  return rig.d().canvas().pixelWidth() / 2.0 - round16(probe.textWidth(text)) / 2.0;
}

TEST(AllTrainsDepart, RowsFollowTheLayoutVariantAndBothLinesAreCentred) {
  const std::pair<Int16, double> firstRows[] = {{1, 40}, {2, 50}, {3, 40}, {4, 30}};
  for (const auto& [variant, row] : firstRows) {
    for (const std::string platform : {"1", "2"}) {
      SCOPED_TRACE(testing::Message() << "variant " << variant << ", platform " << platform);
      BoardRig rig;
      rig.d().layoutVariant = variant;
      rig.d().setBoardColours();
      RecordingSurface& r = rig.record();
      drawAllTrainsDepart(rig.d(), platform, 5, 5);
      ASSERT_EQ(r.texts(), (std::vector<std::string>{"All trains depart", "Platform " + platform}));
      const DrawOp& first = r.printed("All trains depart");
      const DrawOp& second = r.printed("Platform " + platform);
      EXPECT_DOUBLE_EQ(first.y, row * 5);
      EXPECT_DOUBLE_EQ(second.y, (row + 40) * 5);
      EXPECT_DOUBLE_EQ(first.x, centredX(rig, "All trains depart", 100));
      EXPECT_DOUBLE_EQ(second.x, centredX(rig, "Platform " + platform, 100));
      EXPECT_EQ(first.fontSize, 100);
      EXPECT_EQ(rig.pages, (std::vector<std::string>{"notice"}));
      EXPECT_TRUE(r.ops(DrawOp::Kind::Box).empty());  // a page without a frame
    }
  }
}

TEST(LastTrainNotice, BandInTheFillColourInForceAndTheTextColourKept) {
  for (const Colour fill : {colours::kAccentGreen, colours::kAccentBlue}) {
    SCOPED_TRACE(fill);
    BoardRig rig(1920, 1080);
    rig.d().setBoardColours();
    RecordingSurface& r = rig.record();
    r.setFillColour(fill);
    r.setFillStyle(FillStyle::Solid);
    const Grid g = pageGrid(r);
    drawLastTrains(rig.d(), g.unitX, g.unitY);
    const auto band = r.ops(DrawOp::Kind::FilledBox);
    ASSERT_EQ(band.size(), 1u);
    EXPECT_EQ(band[0].fore, fill);
    EXPECT_DOUBLE_EQ(band[0].x, 0);
    EXPECT_NEAR(band[0].y, 834.545, 1e-3);
    EXPECT_DOUBLE_EQ(band[0].x2, 1920);
    EXPECT_DOUBLE_EQ(band[0].y2, 1080);
    const DrawOp& text = r.printed("Last Trains");
    EXPECT_NEAR(text.y, 869.610, 1e-3);
    EXPECT_DOUBLE_EQ(text.x, centredX(rig, "Last Trains", 64));
    EXPECT_EQ(text.fore, colours::kWhite);
    EXPECT_EQ(r.foreColour(), colours::kWhite);
    EXPECT_EQ(r.fontSize(), 64);
    EXPECT_TRUE(rig.pages.empty());  // the calling board presents
  }
}

TEST(LastTrainNotice, SingularTextOnTheSameBand) {
  BoardRig rig;
  RecordingSurface& r = rig.record();
  r.setFillColour(colours::kAccentBlue);
  drawLastTrain(rig.d(), 5, 5);
  EXPECT_EQ(r.texts(), (std::vector<std::string>{"Last Train"}));
  EXPECT_DOUBLE_EQ(r.ops(DrawOp::Kind::FilledBox)[0].y, 595);
  EXPECT_DOUBLE_EQ(r.printed("Last Train").y, 620);
}

}  // namespace
}  // namespace plasma::test
