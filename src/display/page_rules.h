#pragma once
// What every page family shares: the grid the layouts are written in, the page frame, the
// layout-variant lookup and the rules that decide whether a train is due.
#include <array>
#include <cstddef>
#include <string>

#include "canvas/surface.h"
#include "display/display.h"
#include "support/legacy.h"

namespace plasma {

// Grid steps in pixels: canvas width / 272 and height / 154.
struct Grid {
  double unitX;
  double unitY;
};
Grid pageGrid(const Surface& canvas);

// The frame of the train pages, in grid steps: 3 steps inside every edge.
inline constexpr Rect kPageFrame{.left = 3, .top = 3, .right = 269, .bottom = 151};

// The minute of day a list without a train stands for, so that it never wins a comparison.
inline constexpr Int16 kNoTrain = 9999;
// A train leaving within this many minutes is due: its page is shown rather than the slideshow.
inline constexpr Int16 kDueWithin = 60;

// The entry of a layout table for a layout variant (1 to N); any other variant is a run-time error.
template <typename T, std::size_t N>
const T& forLayoutVariant(const std::array<T, N>& table, Int16 layoutVariant) {
  if (layoutVariant < 1 || layoutVariant > static_cast<int>(N)) {
    throw RuntimeError(ErrorKind::SubscriptOutOfRange, "layout variant " + decimal(layoutVariant));
  }
  return table[static_cast<std::size_t>(layoutVariant - 1)];
}

// Minutes to departure of a "H:M" time against the clock: minute of day (rounded to 16 bits) minus
// clockMinutes, 16-bit, no wrap at midnight.
Int16 minutesToDeparture(const std::string& departTime, Int16 clockMinutes);

// The due-soon test shared by showNextScreen, the message page and the boards: types 0 to 3 need a
// first main train within 60 minutes; every other type a first domestic or other train.
bool trainDueSoon(const Display& d);

// Minutes to the first train of the other and the domestic list; kNoTrain - clock for an empty one.
struct DueTrains {
  Int16 other;
  Int16 domestic;
};
DueTrains otherAndDomesticMinutes(const Display& d);

}  // namespace plasma
