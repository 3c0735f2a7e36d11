// The departure board of display type 0: the next two main trains in larger type on taller bands,
// with destination and minutes only.
#include "pages/departure_board.h"

namespace plasma {
namespace {

using boards::BoardEntry;

// Bands 41 steps high, 50 apart. The second number stands one step above its band's centre, and
// each "Minutes" label is placed from a line 1.5 steps above its number's centre.
constexpr std::array<boards::RowSlot, 2> kSlots{{
    {.bandTop = 11, .bandBottom = 52, .rightEnd = 222,
     .centre = 31.5, .numberCentre = 31.5, .minutesReference = 30},
    {.bandTop = 61, .bandBottom = 102, .rightEnd = 233,
     .centre = 81.5, .numberCentre = 80.5, .minutesReference = 79},
}};
constexpr std::array<boards::Heading, 2> kHeadings{{
    {.text = "Destination", .x = 16},
    {.text = "Departing", .x = 185},
}};
constexpr boards::BoardLayout kBoard{
    .headingFont = 32,
    .headings = kHeadings,
    .discRadius = 20.5,
    .slots = kSlots,
    .rowFont = 60,
    .destinationX = 16,
    .minutesX = 185,
    .platformX = -1,
};

BoardEntry entry(const TimetableStore& s, int index) {
  const TrainRecord& t = item(s.mainDepartures, index, kMainList);
  return {t.destination, minutesToDeparture({kMainList, index}, t.departTime, s.clockMinutes),
          t.platform};
}

}  // namespace

void drawTwoRowDepartureBoard(Display& d) {
  d.trapped("drawTwoRowDepartureBoard", [&] {
    const TimetableStore& s = d.store;
    const Int16 trains = s.mainDepartureCount;
    if (trains == 0 || entry(s, 0).minutes > kDueWithin) {
      // Always a page change for the slideshow, also on a redraw after a timetable load.
      d.showNextPicture(true);
      return;
    }
    const bool lastTrain = trains == 1;
    const Grid g = boards::paintBoardFrame(d, kBoard, lastTrain ? 1 : 2,
                                           lastTrain ? boards::Notice::LastTrain
                                                     : boards::Notice::None);
    const double headingRow = boards::titleRows(d.layoutVariant).heading;
    boards::paintBoardRow(d.canvas(), g, kBoard, headingRow, kSlots[0], entry(s, 0));
    if (!lastTrain) {
      boards::paintBoardRow(d.canvas(), g, kBoard, headingRow, kSlots[1], entry(s, 1));
    }
    d.presentCanvas(PageName::TwoRowBoard);
  });
}

}  // namespace plasma
