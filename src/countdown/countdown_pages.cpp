// The logo countdown pages of display types 0 and 6: one page design (logo, coloured band with the
// destination, heading, large minute countdown) drawn for the first train of one of three lists.
#include <array>

#include "countdown/countdown.h"
#include "display/page_rules.h"
#include "pages/pages.h"
#include "support/log.h"

namespace plasma {
namespace {

enum class Band { Bottom, Top };

// Positions in grid steps for one layout variant.
struct CountdownLayout {
  double logoX, logoY;      // top-left of the logo
  Band band;
  double headingX;          // left edge of the heading
  double headingY;          // top of the logo the heading is centred on
  double destinationLine;   // vertical centre of the destination text
  double countdownLine;     // vertical centre of the minute count
};

// Variants 1 and 2 keep the band at the bottom, 3 and 4 at the top; 2 and 4 move the logo and
// heading right.
constexpr std::array<CountdownLayout, 4> kLayouts{{
    {.logoX = 10, .logoY = 10, .band = Band::Bottom, .headingX = 40, .headingY = 10,
     .destinationLine = 134, .countdownLine = 66},
    {.logoX = 53, .logoY = 10, .band = Band::Bottom, .headingX = 81, .headingY = 10,
     .destinationLine = 134, .countdownLine = 66},
    {.logoX = 10, .logoY = 40, .band = Band::Top, .headingX = 40, .headingY = 40,
     .destinationLine = 19, .countdownLine = 96},
    {.logoX = 53, .logoY = 40, .band = Band::Top, .headingX = 81, .headingY = 40,
     .destinationLine = 19, .countdownLine = 96},
}};

// What every variant shares: sizes in points, positions in grid steps unless marked.
struct CountdownDesign {
  double bottomBandTop;    // the bottom band runs from here to the canvas bottom
  double topBandBottom;    // the top band runs from the canvas top to here
  double headingFont;
  double destinationFont;
  double destinationLift;  // pixels the destination stands above its centred place
  double countFont;
  double minutesFont;
  double minutesGap;       // between the count's right end and "Minutes"
  // The strip that cuts the count's lower part off: left and right from the canvas edge, top and
  // bottom below the countdown line.
  Rect cut;
};

constexpr CountdownDesign kDesign{
    .bottomBandTop = 119,
    .topBandBottom = 35,
    .headingFont = 48,
    .destinationFont = 90,
    .destinationLift = 1,
    .countFont = 300,
    .minutesFont = 80,
    .minutesGap = 10,
    .cut = {.left = 5, .top = 37, .right = 200, .bottom = 39},
};

const CountdownLayout& layoutFor(Int16 variant) { return forLayoutVariant(kLayouts, variant); }

enum class Logo { Green, Navy };

struct SchemeColours {
  Colour band;
  Logo logo;
};

// The countdown pages pair the blue band with the green logo; the stops strip maps the schemes
// the other way round, and both pairings are wanted.
constexpr std::array<SchemeColours, 4> kSchemes{{
    {.band = colours::kAccentBlue, .logo = Logo::Green},
    {.band = colours::kAccentBlue, .logo = Logo::Green},
    {.band = colours::kAccentGreen, .logo = Logo::Navy},
    {.band = colours::kAccentGreen, .logo = Logo::Navy},
}};

// The colours of a known scheme, or null for any other value (no logo, band in the text colour).
// An unknown scheme is logged the first time a page meets it, not on every page.
const SchemeColours* schemeColours(Display& d) {
  const Int16 scheme = d.colourScheme;
  const bool known = scheme >= 0 && scheme < static_cast<Int16>(kSchemes.size());
  if (!known && scheme != d.countdownSchemeSeen) {
    logLine("colour scheme " + decimal(scheme) +
            " is not 0 to 3: the countdown pages show no logo and a white band");
  }
  d.countdownSchemeSeen = scheme;
  return known ? &kSchemes[static_cast<std::size_t>(scheme)] : nullptr;
}

// Positions reach the canvas in single precision, as the pages were laid out with them.
double at(double pixels) { return toSingle(pixels); }

int wholePixel(double pixels) { return static_cast<int>(roundHalfEven(pixels)); }

// Logo, band and frame. Leaves the fill style transparent and the fore colour as it found it.
void drawFrame(Display& d, const CountdownLayout& l, Grid g) {
  Surface& c = d.canvas();
  {
    const DrawingStateGuard text(c, DrawingState::ForeColour | DrawingState::FillStyle);
    c.setFillStyle(FillStyle::Solid);
    if (const SchemeColours* s = schemeColours(d)) {
      c.setFillColour(s->band);
      c.setForeColour(s->band);
      const Surface& logo = s->logo == Logo::Green ? d.pbLogoGreen() : d.pbLogoNavy();
      c.copyFrom(logo, 0, 0, logo.pixelWidth(), logo.pixelHeight(), wholePixel(l.logoX * g.unitX),
                 wholePixel(l.logoY * g.unitY));
    }
    const double width = c.pixelWidth();
    if (l.band == Band::Bottom) {
      c.filledBox(0, at(kDesign.bottomBandTop * g.unitY), width, c.pixelHeight());
    } else {
      c.filledBox(0, 0, width, at(kDesign.topBandBottom * g.unitY));
    }
  }
  c.setFillStyle(FillStyle::Transparent);
  c.box(at(kPageFrame.left * g.unitX), at(kPageFrame.top * g.unitY), at(kPageFrame.right * g.unitX),
        at(kPageFrame.bottom * g.unitY));
}

// The heading centred on the logo's middle, and the destination centred on the band.
void drawHeadingAndDestination(Display& d, const CountdownLayout& l, Grid g,
                               const std::string& destination) {
  Surface& c = d.canvas();
  c.setFontSize(kDesign.headingFont);
  // Measured without the dots; only the height is used, so they could not shift it anyway.
  const Int16 headingHeight = round16(c.textHeight("Next Train Departs"));
  const double logoMiddle = d.pbLogoGreen().pixelHeight() / 2.0;
  c.moveTo(at(l.headingX * g.unitX), at(logoMiddle + l.headingY * g.unitY - headingHeight / 2.0));
  c.print("Next Train Departs...");

  c.setFontSize(kDesign.destinationFont);
  const Int16 height = round16(c.textHeight(destination));
  const Int16 width = round16(c.textWidth(destination));
  const double centredTop = floorCoordinate(l.destinationLine * g.unitY - height / 2.0);
  c.moveTo(at(c.pixelWidth() / 2.0 - width / 2.0), at(centredTop - kDesign.destinationLift));
  c.print(destination);
}

// The underlined minute count with "Minutes" beside it; a strip in the background colour then
// cuts the count's lower part (and its underline) off.
void drawCountdown(Display& d, const CountdownLayout& l, Grid g, Int16 minutesLeft) {
  Surface& c = d.canvas();
  const std::string count = decimal(minutesLeft);
  const double third = c.pixelWidth() / 3.0;
  c.setFontSize(kDesign.countFont);
  Int16 width = 0;
  {
    const DrawingStateGuard plain(c, DrawingState::Underline);
    c.setUnderline(true);
    const Int16 height = round16(c.textHeight(count));
    width = round16(c.textWidth(count));
    c.moveTo(at(third - width / 2.0), at(l.countdownLine * g.unitY - height / 2.0));
    c.print(count);
  }

  c.setFontSize(kDesign.minutesFont);
  c.moveTo(at(third + width / 2.0 + kDesign.minutesGap * g.unitX), at(l.countdownLine * g.unitY));
  c.print("Minutes");

  // The fill colour is left as the background.
  const DrawingStateGuard text(c, DrawingState::ForeColour | DrawingState::FillStyle);
  c.setFillColour(c.backColour());
  c.setForeColour(c.backColour());
  c.setFillStyle(FillStyle::Solid);
  const Rect& cut = kDesign.cut;
  c.filledBox(at(cut.left * g.unitX), at((l.countdownLine + cut.top) * g.unitY),
              at(cut.right * g.unitX), at((l.countdownLine + cut.bottom) * g.unitY));
}

// Paints and presents the page for one train. Returns false, without presenting, when fewer than
// two minutes are left: the caller hands over, and the canvas keeps what was drawn so far.
bool paintCountdown(Display& d, const std::string& destination, TrainSlot train,
                    const std::string& departTime, PageName page) {
  const Grid g = pageGrid(d.canvas());
  const CountdownLayout& l = layoutFor(d.layoutVariant);
  drawFrame(d, l, g);
  drawHeadingAndDestination(d, l, g, destination);
  // No wrap at midnight: a train timed after midnight against a clock before it is far away.
  const double minute = departureMinuteExact(train, departTime);
  const Int16 minutesLeft = withContext(std::string(train.list) + " slot " + decimal(train.index), [&] {
    return round16(minute - d.store.clockMinutes);
  });
  if (minutesLeft <= 1) return false;
  drawCountdown(d, l, g, minutesLeft);
  d.presentCanvas(page);
  return true;
}

// The board also gets the time of the page that was skipped.
void handOverToBoard(Display& d) {
  d.boardSeconds = add16(d.boardSeconds, d.mainPageSeconds);
  drawDepartureBoard(d, true);
}

}  // namespace

void drawType0Screen(Display& d) {
  d.trapped("drawType0Screen", [&] {
    const TrainRecord& train = item(d.store.mainDepartures, 0, kMainList);
    if (paintCountdown(d, train.destination, {kMainList, 0}, train.departTime, PageName::Type0)) {
      return;
    }
    handOverToBoard(d);
  });
}

void drawType6ScreenB(Display& d) {
  d.trapped("drawType6ScreenB", [&] {
    const TrainRecord& train = item(d.store.otherDepartures, 0, kOtherList);
    if (paintCountdown(d, train.destination, {kOtherList, 0}, train.departTime,
                       PageName::Type6B)) {
      return;
    }
    // Page A paints over this one without a clear: the same layout, so only the destination
    // differs, and the new band covers the old one.
    d.type6Alternation = 2;
    drawType6ScreenA(d);
  });
}

void drawType6ScreenA(Display& d) {
  d.trapped("drawType6ScreenA", [&] {
    if (d.store.domesticDepartureCount == 0) {
      drawDepartureBoard(d, true);
      return;
    }
    const DomesticRecord& train = item(d.store.domesticDepartures, 0, kDomesticList);
    if (paintCountdown(d, kDomesticDestination, {kDomesticList, 0}, train.departTime,
                       PageName::Type6A)) {
      return;
    }
    d.type6Alternation = 1;
    handOverToBoard(d);
  });
}

}  // namespace plasma
