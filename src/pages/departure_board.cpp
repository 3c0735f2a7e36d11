// The departure board: up to three departures on coloured row bands under "Train Departures", or
// the slideshow when nothing leaves within the hour. Display type 0 has its two-row board.
#include "pages/departure_board.h"

#include <algorithm>
#include <vector>

namespace plasma {
namespace boards {
namespace {

constexpr double kTitleFont = 64;
constexpr double kTitleX = 13;
constexpr double kBandLeft = 10;
constexpr double kMinutesLabelFont = 26;
constexpr double kMinutesLabelLift = 5;  // pixels between the label's and the number's lower edges

void printAt(Surface& c, const Grid& g, double x, double y, std::string_view text) {
  c.moveTo(x * g.unitX, y * g.unitY);
  c.print(text);
}

// Draws a text with its left edge at column x and its middle on line y; the measured height is
// rounded before it is halved.
Int16 printCentredOn(Surface& c, const Grid& g, double x, double y, std::string_view text) {
  const Int16 h = round16(c.textHeight(text));
  c.moveTo(x * g.unitX, y * g.unitY - h / 2.0);
  c.print(text);
  return h;
}

// A disc at the right end, then the rectangle: the disc's outer half rounds the band's end.
void paintBand(Surface& c, const Grid& g, double headingRow, double radius, const RowSlot& s) {
  c.circle(s.rightEnd * g.unitX, (headingRow + s.centre) * g.unitY, radius * g.unitY);
  c.box(kBandLeft * g.unitX, (headingRow + s.bandTop) * g.unitY, s.rightEnd * g.unitX,
        (headingRow + s.bandBottom) * g.unitY);
}

}  // namespace

Colour bandColour(Int16 boardOption) {
  return boardOption == 0 || boardOption == 1 ? colours::kAccentBlue : colours::kAccentGreen;
}

Grid paintBoardFrame(Display& d, const BoardLayout& layout, int bands, Notice notice) {
  Surface& c = d.canvas();
  d.setBoardColours();
  c.clear();
  const Grid g = pageGrid(c);
  const TitleRows rows = titleRows(d.layoutVariant);
  c.setFontSize(kTitleFont);
  printAt(c, g, kTitleX, rows.title, "Train Departures");
  c.setFontSize(layout.headingFont);
  c.setForeColour(colours::kWhite);
  for (const Heading& h : layout.headings) printAt(c, g, h.x, rows.heading, h.text);

  const Colour band = bandColour(d.boardOption);
  c.setFillColour(band);
  c.setFillStyle(FillStyle::Solid);
  {
    const DrawingStateGuard text(c, DrawingState::ForeColour);
    c.setForeColour(band);
    for (int r = 0; r < bands; ++r) {
      paintBand(c, g, rows.heading, layout.discRadius, layout.slots[r]);
    }
  }

  // The notices paint their own band in the fill colour still in force: the band colour.
  if (notice == Notice::LastTrain) drawLastTrain(d, g.unitX, g.unitY);
  if (notice == Notice::LastTrains) drawLastTrains(d, g.unitX, g.unitY);

  c.setFillStyle(FillStyle::Transparent);
  c.box(kPageFrame.left * g.unitX, kPageFrame.top * g.unitY, kPageFrame.right * g.unitX,
        kPageFrame.bottom * g.unitY);
  return g;
}

void paintBoardRow(Surface& c, const Grid& g, const BoardLayout& layout, double headingRow,
                   const RowSlot& slot, const BoardEntry& entry) {
  c.setFontSize(layout.rowFont);
  printCentredOn(c, g, layout.destinationX, headingRow + slot.centre, entry.destination);

  const bool departing = entry.minutes < 2;
  const std::string minutes = departing ? "Now..." : decimal(entry.minutes);
  const Int16 numberWidth = round16(2 * g.unitX + c.textWidth(minutes));
  const Int16 numberHeight =
      printCentredOn(c, g, layout.minutesX, headingRow + slot.numberCentre, minutes);
  if (!departing) {
    c.setFontSize(kMinutesLabelFont);
    c.moveTo(layout.minutesX * g.unitX + numberWidth,
             (headingRow + slot.minutesReference) * g.unitY + numberHeight / 2.0 -
                 c.textHeight("Minutes") - kMinutesLabelLift);
    c.print("Minutes");
  }

  if (layout.platformX >= 0) {
    c.setFontSize(layout.rowFont);
    printCentredOn(c, g, layout.platformX, headingRow + slot.centre, decimal(entry.platform));
  }
}

}  // namespace boards

namespace {

using boards::BoardEntry;

constexpr int kMaxRows = 3;

// Each band is 27 steps high, the slots 32 steps apart, each band 11 steps longer than the one above.
constexpr std::array<boards::RowSlot, kMaxRows> kSlots{{
    {.bandTop = 11, .bandBottom = 38, .rightEnd = 222,
     .centre = 24.5, .numberCentre = 24.5, .minutesReference = 24.5},
    {.bandTop = 43, .bandBottom = 70, .rightEnd = 233,
     .centre = 56.5, .numberCentre = 56.5, .minutesReference = 56.5},
    {.bandTop = 75, .bandBottom = 102, .rightEnd = 244,
     .centre = 88.5, .numberCentre = 88.5, .minutesReference = 88.5},
}};
constexpr std::array<boards::Heading, 3> kHeadings{{
    {.text = "Destination", .x = 16},
    {.text = "Departing", .x = 144},
    {.text = "Platform", .x = 200},
}};
constexpr boards::BoardLayout kBoard{
    .headingFont = 26,
    .headings = kHeadings,
    .discRadius = 13.5,
    .slots = kSlots,
    .rowFont = 42,
    .destinationX = 16,
    .minutesX = 144,
    .platformX = 208,
};

bool showsMainList(Int16 displayType) { return displayType >= 1 && displayType <= 3; }

Int16 trainCount(const Display& d) {
  const TimetableStore& s = d.store;
  if (showsMainList(d.displayType)) return s.mainDepartureCount;
  return add16(s.otherDepartureCount, s.domesticDepartureCount);
}

BoardEntry mainEntry(const TimetableStore& s, int index) {
  const TrainRecord& t = item(s.mainDepartures, index, kMainList);
  return {t.destination, minutesToDeparture({kMainList, index}, t.departTime, s.clockMinutes),
          t.platform};
}

// Merges the other and the domestic trains by time, each list in its stored order; on equal times
// the domestic train goes first. A list that has run out stands at 9999, but a train that exists
// always wins over it, also one that leaves at minute 9999 or later.
std::vector<BoardEntry> mergedEntries(const TimetableStore& s, int rows) {
  std::vector<BoardEntry> entries;
  int iO = 0;
  int iD = 0;
  for (int r = 0; r < rows; ++r) {
    const bool otherLeft = iO < s.otherDepartureCount;
    const bool domesticLeft = iD < s.domesticDepartureCount;
    if (!otherLeft && !domesticLeft) break;
    const Int16 tO = otherLeft ? departureMinute({kOtherList, iO},
                                                 item(s.otherDepartures, iO, kOtherList).departTime)
                               : kNoTrain;
    const Int16 tD = domesticLeft
                         ? departureMinute({kDomesticList, iD},
                                           item(s.domesticDepartures, iD, kDomesticList).departTime)
                         : kNoTrain;
    if (domesticLeft && (!otherLeft || tO >= tD)) {
      const Int16 minutes = withContext(std::string(kDomesticList) + " slot " + decimal(iD),
                                        [&] { return sub16(tD, s.clockMinutes); });
      entries.push_back({kDomesticDestination, minutes,
                         item(s.domesticDepartures, iD++, kDomesticList).platform});
    } else {
      const TrainRecord& t = item(s.otherDepartures, iO, kOtherList);
      const Int16 minutes = withContext(std::string(kOtherList) + " slot " + decimal(iO),
                                        [&] { return sub16(tO, s.clockMinutes); });
      ++iO;
      entries.push_back({t.destination, minutes, t.platform});
    }
  }
  return entries;
}

std::vector<BoardEntry> boardEntries(const Display& d, int rows) {
  if (!showsMainList(d.displayType)) return mergedEntries(d.store, rows);
  std::vector<BoardEntry> entries;
  for (int r = 0; r < rows; ++r) entries.push_back(mainEntry(d.store, r));
  return entries;
}

boards::Notice noticeFor(Int16 trains) {
  if (trains == 1) return boards::Notice::LastTrain;
  if (trains == 2) return boards::Notice::LastTrains;
  return boards::Notice::None;
}

}  // namespace

// No error trap here: an error reaches the caller's trap, which blacks the screen.
void drawDepartureBoard(Display& d, bool restartCycle) {
  d.screenPhase = 1;
  d.timerStops.setEnabled(false);
  if (restartCycle) {
    d.layoutVariant = add16(d.layoutVariant, 1);
    if (d.layoutVariant > 4) d.layoutVariant = 1;
    d.tickCount = 0;
  }
  d.canvas().removePicture();
  d.canvas().clear();
  if (d.displayType == 0) {
    drawTwoRowDepartureBoard(d);
    return;
  }
  if (!trainDueSoon(d)) {
    d.showNextPicture(restartCycle);
    return;
  }

  const Int16 trains = trainCount(d);
  const int rows = std::min<int>(trains, kMaxRows);
  const Grid g = boards::paintBoardFrame(d, kBoard, rows, noticeFor(trains));
  const double headingRow = boards::titleRows(d.layoutVariant).heading;
  const std::vector<BoardEntry> entries = boardEntries(d, rows);
  for (std::size_t r = 0; r < entries.size(); ++r) {
    boards::paintBoardRow(d.canvas(), g, kBoard, headingRow, kSlots[r], entries[r]);
  }
  d.presentCanvas(PageName::Board);
}

}  // namespace plasma
