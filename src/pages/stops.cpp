// The stops under "Train Stops At": a short list printed on the page, a long one on the stops
// strip, which the stops timer scrolls through the list area and the repaint brings back to the top.
#include <algorithm>
#include <memory>

#include "pages/next_train.h"

namespace plasma {
namespace {

constexpr double kStopsFont = 32;

struct StripColours {
  Colour background;
  Colour text;
};
// By colourScheme 0..3: green or blue panel, white or yellow names.
constexpr std::array<StripColours, 4> kStripColours{{
    {.background = colours::kAccentGreen, .text = colours::kWhite},
    {.background = colours::kAccentGreen, .text = colours::kYellow},
    {.background = colours::kAccentBlue, .text = colours::kWhite},
    {.background = colours::kAccentBlue, .text = colours::kYellow},
}};

// Rows the strip holds beyond what the list area shows: the scroller draws afresh each time it has
// travelled this far (about every two seconds at a pixel a frame).
constexpr int kSpareRows = 2;

// The stops timer's rhythm: rest at the top, scroll on the second tick, rest at the bottom,
// repaint from the top on the fourth.
constexpr Int16 kScrollTick = 2;
constexpr Int16 kRepaintTick = 4;

int firstRow(bool skipFirst) { return skipFirst ? 1 : 0; }
int pixels(double value) { return round32(value); }

// Where the strip goes on the screen, and how far it can travel.
struct StripWindow {
  PixelRect shown;  // the part of the strip shown, where it stands on the canvas and the window
  int lastOffset;   // strip height minus the area height
};

StripWindow stripWindow(Display& d, double unitX, double unitY) {
  const Point area = nextTrainLayout(d.layoutVariant).stopsArea;
  const int x = pixels(area.x * unitX);
  const int y = pixels(area.y * unitY);
  return {.shown = {.left = x,
                    .top = y,
                    .right = x + pixels(kStopsAreaWidth * unitX),
                    .bottom = y + pixels(kStopsAreaHeight * unitY)},
          .lastOffset = round16(d.stopsStripRows.height - kStopsAreaHeight * unitY)};
}

// Draws the rows that fall within the strip's pixels, which start at the list's pixel row `top`.
// `top` is whole, so every row keeps the fractional position it has in the whole list and looks
// the same however far the list has travelled.
void drawStripRows(Display& d, int top) {
  Display::StopsStripRows& rows = d.stopsStripRows;
  Surface& strip = d.stops();
  rows.top = top;
  strip.clear();
  strip.setFontSize(kStopsFont);
  const double pitch = kStopsRowPitch * rows.unitY;
  for (std::size_t i = 0; i < rows.names.size(); ++i) {
    const double y = static_cast<double>(i) * pitch - top;
    if (y + pitch <= 0 || y >= strip.pixelHeight()) continue;
    strip.moveTo(0, y);
    strip.print(rows.names[i]);
  }
}

// One scroll run, driven frame by frame by the event loop. scrollDelay is the number of copies of
// each step, and each copy is one display frame: 1 moves the strip a pixel a frame, 4 a pixel every
// fourth frame, 0 copies nothing (the strip stays still on screen) while the run still takes a
// frame per pixel. The frames a step is held need no work: a copy would put the same pixels there.
struct ScrollRun {
  Display& d;
  std::function<void()> afterRun;
  int offset = 0;
  int copied = 0;      // the offset the window last showed from this run
  int framesHeld = 0;  // frames the current step still stays on screen

  void finish() {
    d.window.setRetained(false);
    if (afterRun) afterRun();
  }

  // Returns false once the run is over.
  bool step() {
    // A page change (or a repaint without the strip) since the last step ends the run before a
    // single copy of the old strip reaches the new page.
    if (!stopsStripShowing(d)) {
      finish();
      return false;
    }
    if (framesHeld > 0) {
      --framesHeld;
      return true;
    }
    // Read afresh each step: a timetable repaint may have rendered a new strip of another height.
    const Grid g = pageGrid(d.canvas());
    const StripWindow w = stripWindow(d, g.unitX, g.unitY);
    ++offset;
    if (offset > w.lastOffset) {
      finish();
      return false;
    }
    if (d.scrollDelay > 0) {
      // The rows coming into view are drawn when the strip's pixels run out.
      if (offset + w.shown.height() > d.stopsStripRows.top + d.stops().pixelHeight()) drawStripRows(d, offset);
      d.window.scrollCopy(d.stops(), 0, offset - d.stopsStripRows.top, w.shown.width(), w.shown.height(),
                          w.shown.left, w.shown.top, offset - copied);
      copied = offset;
    }
    d.window.refresh();
    framesHeld = std::max<int>(d.scrollDelay, 1) - 1;
    if (offset >= w.lastOffset) {
      finish();
      return false;
    }
    return true;
  }
};

}  // namespace

bool stopsStripShowing(const Display& d) { return d.screenPhase == 0 && d.stopsStripOnScreen; }

void drawStopsList(Display& d, const std::vector<std::string>& stopsList, bool skipFirst,
                   double unitX, double unitY) {
  Surface& c = d.canvas();
  c.setFontSize(kStopsFont);
  const Point area = nextTrainLayout(d.layoutVariant).stopsArea;
  // A domestic train's list is this one stop, shown even where entry 0 is otherwise left out.
  if (item(stopsList, 0) == kDomesticStop) {
    c.moveTo(area.x * unitX, area.y * unitY);
    c.print(kDomesticStop);
    return;
  }
  const int first = firstRow(skipFirst);
  for (int i = first; i < static_cast<int>(stopsList.size()); ++i) {
    c.moveTo(area.x * unitX, (area.y + kStopsRowPitch * (i - first)) * unitY);
    c.print(stopsList[static_cast<std::size_t>(i)]);
  }
}

void renderStopsStrip(Display& d, const std::vector<std::string>& stopsList, bool skipFirst,
                      double unitX, double unitY) {
  Surface& strip = d.stops();
  const int first = firstRow(skipFirst);
  const int rows = static_cast<int>(stopsList.size()) - first;
  Display::StopsStripRows& held = d.stopsStripRows;
  held.names.assign(stopsList.begin() + first, stopsList.end());
  held.unitY = unitY;
  held.height = std::max(1, pixels(rows * kStopsRowPitch * unitY));
  // As many rows as the list area shows and a few more, never the whole of a long list.
  const int spare = pixels((kStopsAreaHeight + kSpareRows * kStopsRowPitch) * unitY);
  strip.resize(std::max(1, pixels(kStopsStripWidth * unitX)), std::min(held.height, std::max(1, spare)));
  if (d.colourScheme >= 0 && d.colourScheme < static_cast<int>(kStripColours.size())) {
    const StripColours& sc = kStripColours[static_cast<std::size_t>(d.colourScheme)];
    strip.setBackColour(sc.background);
    strip.setForeColour(sc.text);
  }
  drawStripRows(d, 0);
  const StripWindow w = stripWindow(d, unitX, unitY);
  d.canvas().copyFrom(strip, 0, 0, w.shown.width(), w.shown.height(), w.shown.left, w.shown.top);
}

void scrollStopsStrip(Display& d, std::function<void()> afterRun) {
  d.window.setRetained(true);
  auto run = std::make_shared<ScrollRun>(ScrollRun{d, std::move(afterRun)});
  const Grid g = pageGrid(d.canvas());
  if (stripWindow(d, g.unitX, g.unitY).lastOffset < 1) {
    run->finish();  // the whole strip is already in view: no steps at all
    return;
  }
  d.startAnimation([run] { return run->step(); });
}

void stopsTimerEvent(Display& d) {
  // The board or another page has taken over, or the page on screen has no strip: nothing to do
  // until a next-train page with a long list switches the timer on again.
  if (!stopsStripShowing(d)) {
    d.timerStops.setEnabled(false);
    return;
  }
  d.stopsTickCount = add16(d.stopsTickCount, 1);
  if (d.stopsTickCount == kScrollTick) {
    // Off during the run, so the timer cannot start a second run over this one.
    d.timerStops.setEnabled(false);
    scrollStopsStrip(d, [&d] {
      if (stopsStripShowing(d)) d.timerStops.setEnabled(true);
    });
  }
  if (d.stopsTickCount == kRepaintTick) {
    d.timerStops.setEnabled(false);
    d.wipeEnabled = 0;
    d.procedures.showNextScreen(d, false);
    d.wipeEnabled = 1;
    d.stopsTickCount = 0;
    // The repainted page switched the timer on itself if it still has a long list.
    if (stopsStripShowing(d)) d.timerStops.setEnabled(true);
  }
}

}  // namespace plasma
