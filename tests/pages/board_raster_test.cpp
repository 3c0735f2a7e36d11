// The boards as rendered: exact colours at interior points (never on anti-aliased edges) and one
// golden image per board.
#include <gtest/gtest.h>

#include <span>

#include "board_fixture.h"
#include "test_support/golden.h"

namespace plasma::test {
namespace {

struct Probe {
  const char* what;
  int x, y;
};

// Points inside the first band and its rounded end, clear of every text.
constexpr Probe kOneRowBand[] = {{"band 1 left", 60, 300}, {"band 1 disc", 1150, 312}};
constexpr Probe kTwoRowBand[] = {{"band 1 left", 60, 260}, {"band 1 disc", 1180, 347},
                                 {"band 2 disc", 1220, 597}};
constexpr Probe kBackground[] = {{"top left", 30, 30}, {"right", 1300, 120}};
constexpr Probe kFrame[] = {{"left", 15, 400}, {"left inner", 16, 400}, {"top", 700, 15},
                            {"right", 1345, 400}, {"bottom", 700, 755}};
// The notice band (row 119 down) away from its centred text, inside and outside the frame.
constexpr Probe kNotice[] = {{"notice", 40, 700}, {"notice below frame", 40, 765}};

void expectColour(cairo_surface_t* image, std::span<const Probe> probes, Colour expected) {
  for (const Probe& p : probes) {
    EXPECT_EQ(pixel(image, p.x, p.y), expected) << p.what << " at (" << p.x << ", " << p.y << ")";
  }
}

TEST(BoardRaster, BandColourFollowsTheBoardOption) {
  const std::pair<Int16, Colour> options[] = {{0, colours::kAccentBlue}, {1, colours::kAccentBlue},
                                              {2, colours::kAccentGreen}, {7, colours::kAccentGreen}};
  for (Int16 displayType : {1, 0}) {
    for (const auto& [option, band] : options) {
      SCOPED_TRACE(testing::Message() << "type " << displayType << ", option " << option);
      BoardRig rig;
      rig.d().boardOption = option;
      rig.main({train("Airport", "10:05")});  // one train: one band and the notice
      rig.d().displayType = displayType;
      drawDepartureBoard(rig.d(), false);
      cairo_surface_t* shown = rig.window.image();
      const std::span<const Probe> bandProbes =
          displayType == 0 ? std::span<const Probe>(kTwoRowBand) : std::span<const Probe>(kOneRowBand);
      expectColour(shown, bandProbes, band);
      expectColour(shown, kNotice, band);
      expectColour(shown, kBackground, colours::kBoardBackground);
      expectColour(shown, kFrame, colours::kWhite);
    }
  }
}

TEST(BoardRaster, SecondBandOfTheTwoRowBoard) {
  BoardRig rig;
  rig.main({train("Airport", "10:05"), train("City", "10:20")});
  rig.board(0);
  cairo_surface_t* shown = rig.window.image();
  expectColour(shown, kTwoRowBand, colours::kAccentBlue);
  EXPECT_EQ(pixel(shown, 40, 700), colours::kBoardBackground);  // no notice with two trains
}

// A board with every kind of row: a labelled number, "Now..." and a domestic train.
TEST(BoardGolden, DepartureBoard) {
  BoardRig rig;
  rig.other({train("Harbour", "10:01", 2), train("Airport Central", "10:12", 1)});
  rig.domestics({domestic("10:05", 2)});
  rig.board(4);
  // Anti-aliased glyph edges differ slightly between FreeType builds; 24 levels per channel and
  // a few hundred pixels absorb that while any moved text, band or frame fails by thousands.
  EXPECT_EQ(compareWithGolden(rig.d().pbDraw().image(), "board-departures", 24, 300), "");
}

TEST(BoardGolden, TwoRowBoardWithItsLastTrainNotice) {
  BoardRig rig;
  rig.d().boardOption = 2;
  rig.main({train("Airport Central", "10:25")});
  rig.board(0, 1);
  // As above: only anti-aliased glyph edges may differ between FreeType builds.
  EXPECT_EQ(compareWithGolden(rig.d().pbDraw().image(), "board-two-row", 24, 300), "");
}

}  // namespace
}  // namespace plasma::test

namespace plasma::test {
namespace {

// A band's rounded end keeps inside the band's rows, as the band's own box does: no one-pixel rim
// above or below where disc and band meet.
TEST(BoardRaster, TheDiscEndsWhereItsBandEnds) {
  struct Case {
    Int16 displayType;
    int topRow, bottomRow;  // the rows the first band's box covers
  };
  for (const Case c : {Case{1, 245, 380}, Case{0, 245, 450}}) {
    SCOPED_TRACE(c.displayType);
    BoardRig rig;
    rig.main({train("Airport", "10:05")});
    rig.board(c.displayType);
    cairo_surface_t* shown = rig.window.image();
    for (int x = 1100; x <= 1140; ++x) {
      EXPECT_EQ(pixel(shown, x, c.topRow - 1), colours::kBoardBackground) << "above, x " << x;
      EXPECT_EQ(pixel(shown, x, c.bottomRow + 1), colours::kBoardBackground) << "below, x " << x;
    }
    EXPECT_EQ(pixel(shown, 1110, c.topRow), colours::kAccentBlue);
    EXPECT_EQ(pixel(shown, 1110, c.bottomRow), colours::kAccentBlue);
  }
}

}  // namespace
}  // namespace plasma::test
