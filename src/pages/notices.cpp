// Notices: the whole page "All trains depart / Platform n", and the "Last Train(s)" band across the
// bottom of a departure board.
#include "pages/departure_board.h"

namespace plasma {
namespace {

constexpr double kAllTrainsFont = 100;
constexpr double kSecondLineBelow = 40;  // steps from the first line to the second
// Row of the first line of "All trains depart", by layout variant 1..4.
constexpr std::array<double, 4> kAllTrainsFirstRow{40, 50, 40, 30};

constexpr double kLastTrainsFont = 64;
constexpr double kLastTrainsBandTop = 119;
constexpr double kLastTrainsTextRow = 124;

// Draws a text with its top at y, centred on the middle of the whole canvas.
void printAcrossCanvas(Surface& c, std::string_view text, double y) {
  const Int16 width = round16(c.textWidth(text));
  c.moveTo(c.pixelWidth() / 2.0 - width / 2.0, y);
  c.print(text);
}

// A band from row 119 to the bottom edge in the fill colour the caller left in force, and the text
// over it. The text colour is left as it was found.
void paintBottomNotice(Display& d, double unitY, std::string_view text) {
  Surface& c = d.canvas();
  {
    const DrawingStateGuard text(c, DrawingState::ForeColour);
    c.setForeColour(c.fillColour());
    c.filledBox(0, kLastTrainsBandTop * unitY, c.pixelWidth(), c.pixelHeight());
  }
  c.setFontSize(kLastTrainsFont);
  printAcrossCanvas(c, text, kLastTrainsTextRow * unitY);
}

}  // namespace

void drawAllTrainsDepart(Display& d, const std::string& platformText, double, double unitY) {
  const double firstRow = forLayoutVariant(kAllTrainsFirstRow, d.layoutVariant);
  Surface& c = d.canvas();
  c.setFontSize(kAllTrainsFont);
  printAcrossCanvas(c, "All trains depart", firstRow * unitY);
  printAcrossCanvas(c, "Platform " + platformText, (firstRow + kSecondLineBelow) * unitY);
  d.presentCanvas(PageName::Notice);
}

void drawLastTrains(Display& d, double, double unitY) { paintBottomNotice(d, unitY, "Last Trains"); }

void drawLastTrain(Display& d, double, double unitY) { paintBottomNotice(d, unitY, "Last Train"); }

}  // namespace plasma
