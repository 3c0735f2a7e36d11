// The six blocks a next-train page is built from. Each sets the size it needs, moves to its place
// in the layout of the current variant and draws; none clears or presents the canvas.
#include "pages/next_train.h"

namespace plasma {
namespace {

constexpr double kTitleFont = 32;
constexpr double kDestinationFont = 64;
constexpr double kPlatformFont = 32;
constexpr double kHeadingFont = 32;
constexpr double kDepartingFont = 80;
constexpr double kMinutesFont = 250;
constexpr double kMinutesLabelFont = 32;

// "Departing" hangs this many steps below the line that "Now" stands on.
constexpr double kDepartingGap = 2;

// The band cut under the minutes number, relative to its centre: it trims the heavy underline of
// the 250 pt number to a clean edge above "Minutes".
constexpr Rect kCut{.left = -61, .top = 31, .right = 74, .bottom = 33};

const NextTrainLayout& layoutOf(const Display& d) { return nextTrainLayout(d.layoutVariant); }

// Measurements are whole pixels held in 16 bits; halving them again gives fractional positions.
double halfWidth(const Surface& c, std::string_view text) {
  return round16(c.textWidth(text)) / 2.0;
}

void printAt(Surface& c, Point at, double unitX, double unitY, std::string_view text) {
  c.moveTo(at.x * unitX, at.y * unitY);
  c.print(text);
}

// Texts that must stay white whatever colour an earlier block left in force.
void printWhite(Surface& c, Point at, double unitX, double unitY, std::string_view text) {
  c.setForeColour(colours::kWhite);
  printAt(c, at, unitX, unitY, text);
  c.setForeColour(colours::kWhite);
}

}  // namespace

const NextTrainLayout& nextTrainLayout(Int16 layoutVariant) {
  return forLayoutVariant(kNextTrainLayouts, layoutVariant);
}

void drawNextTrainTitle(Display& d, double unitX, double unitY) {
  Surface& c = d.canvas();
  const NextTrainLayout& l = layoutOf(d);
  c.setFontSize(kTitleFont);
  printWhite(c, l.title, unitX, unitY, l.titleText);
}

void drawNextTrainDestination(Display& d, const std::string& destination, double unitX,
                              double unitY) {
  Surface& c = d.canvas();
  c.setFontSize(kDestinationFont);
  printAt(c, layoutOf(d).destination, unitX, unitY, destination);
}

void drawDepartsPlatform(Display& d, const std::string& platformText, double unitX, double unitY) {
  Surface& c = d.canvas();
  c.setFontSize(kPlatformFont);
  printWhite(c, layoutOf(d).platformLine, unitX, unitY, "Departs Platform " + platformText + " in");
}

void drawStopsHeading(Display& d, double unitX, double unitY) {
  Surface& c = d.canvas();
  c.setFontSize(kHeadingFont);
  printWhite(c, layoutOf(d).stopsHeading, unitX, unitY, "Train Stops At");
}

void drawDepartingNow(Display& d, double unitX, double unitY) {
  Surface& c = d.canvas();
  const Point at = layoutOf(d).departingNow;
  const DrawingStateGuard upright(c, DrawingState::Italic);
  c.setItalic(true);
  c.setFontSize(kDepartingFont);
  // "Now" stands on the anchor line; "Departing" hangs below it; both centred on the same x.
  const Int16 nowHeight = round16(c.textHeight("Now"));
  c.moveTo(at.x * unitX - halfWidth(c, "Now"), at.y * unitY - nowHeight);
  c.print("Now");
  c.moveTo(at.x * unitX - halfWidth(c, "Departing"), (at.y + kDepartingGap) * unitY);
  c.print("Departing");
}

void drawMinutesToDeparture(Display& d, const std::string& minutesText, double unitX,
                            double unitY) {
  Surface& c = d.canvas();
  const NextTrainLayout& l = layoutOf(d);
  const Point at = l.minutesNumber;

  double numberHalfWidth = 0;
  {
    const DrawingStateGuard plain(c, DrawingState::Underline);
    c.setUnderline(true);
    c.setFontSize(kMinutesFont);
    numberHalfWidth = halfWidth(c, minutesText);
    const double numberHalfHeight = round16(c.textHeight(minutesText)) / 2.0;
    c.moveTo(at.x * unitX - numberHalfWidth, at.y * unitY - numberHalfHeight);
    c.print(minutesText);

    // The cut: a filled box in the background colour. The fill colour is left as the background.
    const DrawingStateGuard text(c, DrawingState::ForeColour | DrawingState::FillStyle);
    c.setForeColour(c.backColour());
    c.setFillColour(c.backColour());
    c.setFillStyle(FillStyle::Solid);
    c.filledBox((at.x + kCut.left) * unitX, (at.y + kCut.top) * unitY,
                (at.x + kCut.right) * unitX, (at.y + kCut.bottom) * unitY);
  }

  // "Minutes" ends where the number ends, however wide the number is.
  c.setFontSize(kMinutesLabelFont);
  const Int16 labelWidth = round16(c.textWidth("Minutes"));
  c.moveTo(at.x * unitX + numberHalfWidth - labelWidth, l.minutesLabelRow * unitY);
  c.print("Minutes");
}

}  // namespace plasma
