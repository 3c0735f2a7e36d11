// Where the boards put things, read from the recording surface on a 1360 x 770 canvas (5 px a
// grid step both ways).
#include <gtest/gtest.h>

#include "board_fixture.h"

namespace plasma::test {
namespace {

struct Point {
  double x, y;
};

void expectPrintedAt(const RecordingSurface& r, const std::string& text, Point at, double font) {
  SCOPED_TRACE(text);
  const DrawOp& op = r.printed(text);
  EXPECT_DOUBLE_EQ(op.x, at.x);
  EXPECT_DOUBLE_EQ(op.y, at.y);
  EXPECT_EQ(op.fontSize, font);
  EXPECT_EQ(op.fore, colours::kWhite);
}

void expectBox(const DrawOp& op, double x1, double y1, double x2, double y2) {
  EXPECT_DOUBLE_EQ(op.x, x1);
  EXPECT_DOUBLE_EQ(op.y, y1);
  EXPECT_DOUBLE_EQ(op.x2, x2);
  EXPECT_DOUBLE_EQ(op.y2, y2);
}

void expectDisc(const DrawOp& op, double cx, double cy, double radius) {
  EXPECT_DOUBLE_EQ(op.x, cx);
  EXPECT_DOUBLE_EQ(op.y, cy);
  EXPECT_DOUBLE_EQ(op.radius, radius);
  EXPECT_EQ(op.fillStyle, FillStyle::Solid);
  EXPECT_EQ(op.fill, op.fore);  // outline and interior in the band colour
}

void expectFrame(const RecordingSurface& r) {
  const DrawOp frame = r.ops(DrawOp::Kind::Box).back();
  expectBox(frame, 15, 15, 1345, 755);
  EXPECT_EQ(frame.fore, colours::kWhite);
  EXPECT_EQ(frame.fillStyle, FillStyle::Transparent);
}

TEST(BoardLayout, VariantOneTitleHeadingsBandAndFrame) {
  BoardRig rig;
  rig.main({train("Airport", "10:05"), train("City", "10:15"), train("Harbour", "10:25")});
  const RecordingSurface& r = rig.board(1, 1);
  expectPrintedAt(r, "Train Departures", {65, 50}, 64);
  expectPrintedAt(r, "Destination", {80, 190}, 26);
  expectPrintedAt(r, "Departing", {720, 190}, 26);
  expectPrintedAt(r, "Platform", {1000, 190}, 26);

  const auto discs = r.ops(DrawOp::Kind::Circle);
  const auto boxes = bands(r);
  ASSERT_EQ(discs.size(), 3u);
  ASSERT_EQ(boxes.size(), 3u);
  expectDisc(discs[0], 1110, 312.5, 67.5);
  expectBox(boxes[0], 50, 245, 1110, 380);
  expectBox(boxes[1], 50, 405, 1165, 540);
  expectBox(boxes[2], 50, 565, 1220, 700);
  EXPECT_DOUBLE_EQ(discs[2].x, 1220);
  EXPECT_EQ(boxes[0].fill, colours::kAccentBlue);
  EXPECT_EQ(boxes[0].fore, colours::kAccentBlue);
  expectFrame(r);
}

TEST(BoardLayout, EachBandIsADiscThenItsRectangle) {
  BoardRig rig;
  rig.main({train("Airport", "10:05"), train("City", "10:15")});
  const RecordingSurface& r = rig.board(1, 1);
  std::vector<DrawOp::Kind> order;
  for (const DrawOp& op : r.ops()) {
    if (op.kind == DrawOp::Kind::Circle || op.kind == DrawOp::Kind::Box) order.push_back(op.kind);
  }
  using K = DrawOp::Kind;
  EXPECT_EQ(order, (std::vector<K>{K::Circle, K::Box, K::Circle, K::Box, K::Box}));
}

TEST(BoardLayout, VariantsThreeAndFourPutTheTitleAtTheBottom) {
  for (Int16 variant : {3, 4}) {
    SCOPED_TRACE(variant);
    BoardRig rig;
    rig.main({train("Airport", "10:05"), train("City", "10:15"), train("Harbour", "10:25")});
    const RecordingSurface& r = rig.board(1, variant);
    expectPrintedAt(r, "Train Departures", {65, 600}, 64);
    expectPrintedAt(r, "Platform", {1000, 50}, 26);
    expectBox(bands(r)[0], 50, 105, 1110, 240);
    expectFrame(r);
  }
}

// Measured sizes of a row: the rounded height of the row font, the rounded width of a number plus
// two steps (the label's offset), and the unrounded height of the 26 pt label.
struct RowMetrics {
  double height;
  double labelX;
  double labelHeight;
};
RowMetrics rowMetrics(double rowFont, const std::string& number) {
  CairoSurface probe(10, 10);
  probe.setFontSize(rowFont);
  const RowMetrics m{static_cast<double>(round16(probe.textHeight(number))),
                     static_cast<double>(round16(10 + probe.textWidth(number))), 0};
  probe.setFontSize(26);
  return {m.height, m.labelX, probe.textHeight("Minutes")};
}

TEST(BoardLayout, RowTextsAreCentredOnTheBandWithRoundedHeights) {
  BoardRig rig;
  rig.main({train("Airport", "10:05", 2), train("City", "10:15"), train("Harbour", "10:25")});
  const RecordingSurface& r = rig.board(1, 1);
  const RowMetrics m = rowMetrics(42, "5");
  const double h42 = m.height;
  expectPrintedAt(r, "Airport", {80, 312.5 - h42 / 2}, 42);
  expectPrintedAt(r, "5", {720, 312.5 - h42 / 2}, 42);
  expectPrintedAt(r, "2", {1040, 312.5 - h42 / 2}, 42);  // the platform
  // The label stands right of the number, its lower edge 5 px above the number's.
  expectPrintedAt(r, "Minutes", {720 + m.labelX, 312.5 + h42 / 2 - m.labelHeight - 5}, 26);
  expectPrintedAt(r, "Harbour", {80, 632.5 - h42 / 2}, 42);
}

TEST(TwoRowBoardLayout, TallerBandsTwoColumnsAndLargerText) {
  BoardRig rig;
  rig.main({train("Airport", "10:05"), train("City", "10:15"), train("Harbour", "10:25")});
  const RecordingSurface& r = rig.board(0, 1);
  EXPECT_EQ(rig.pages, (std::vector<std::string>{"two-row-board"}));
  expectPrintedAt(r, "Train Departures", {65, 50}, 64);
  expectPrintedAt(r, "Destination", {80, 190}, 32);
  expectPrintedAt(r, "Departing", {925, 190}, 32);
  EXPECT_FALSE(r.hasPrinted("Platform"));
  EXPECT_FALSE(r.hasPrinted("Harbour"));  // two rows at most

  const auto discs = r.ops(DrawOp::Kind::Circle);
  const auto boxes = bands(r);
  ASSERT_EQ(boxes.size(), 2u);
  expectDisc(discs[0], 1110, 347.5, 102.5);
  expectBox(boxes[0], 50, 245, 1110, 450);
  expectBox(boxes[1], 50, 495, 1165, 700);
  expectFrame(r);

  const RowMetrics m = rowMetrics(60, "15");
  const double h60 = m.height;
  expectPrintedAt(r, "Airport", {80, 347.5 - h60 / 2}, 60);
  expectPrintedAt(r, "5", {925, 347.5 - h60 / 2}, 60);
  // Row 2: the number one step above the band's centre, the label from a line 1.5 steps higher.
  expectPrintedAt(r, "City", {80, 597.5 - h60 / 2}, 60);
  expectPrintedAt(r, "15", {925, 592.5 - h60 / 2}, 60);
  const DrawOp label2 = r.ops(DrawOp::Kind::Print).back();
  EXPECT_EQ(label2.text, "Minutes");
  EXPECT_DOUBLE_EQ(label2.x, 925 + m.labelX);
  EXPECT_DOUBLE_EQ(label2.y, 585 + h60 / 2 - m.labelHeight - 5);
}

}  // namespace
}  // namespace plasma::test
