#pragma once
// What every page family shares: the grid the layouts are written in, the page frame, the
// layout-variant lookup and the rules that decide whether a train is due.
#include <array>
#include <cstddef>
#include <optional>
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

// The minute of day that stands for a list without a train. A train that exists always wins over
// it, whatever its own time: a real train can leave at minute 9999 or later.
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

// Where a train was read from, for the log line of a page that fails on it.
struct TrainSlot {
  const char* list;  // "mainDepartures", "otherDepartures" or "domesticDepartures"
  long long index;
};
inline constexpr const char* kMainList = "mainDepartures";
inline constexpr const char* kOtherList = "otherDepartures";
inline constexpr const char* kDomesticList = "domesticDepartures";

// The minute of day of a train's departTime, exact and rounded to 16 bits, and its minutes to
// departure. An error names the list, the slot and the text: a time without ":" blacks the page
// and the operator needs to know which line of the document to mend.
double departureMinuteExact(TrainSlot at, const std::string& departTime);
Int16 departureMinute(TrainSlot at, const std::string& departTime);
Int16 minutesToDeparture(TrainSlot at, const std::string& departTime, Int16 clockMinutes);

// The due-soon test shared by showNextScreen, the message page and the boards: types 0 to 3 need a
// first main train within 60 minutes; every other type a first domestic or other train. Only a
// train that exists counts: the 9999 of an empty list is no departure, whatever the clock.
bool trainDueSoon(const Display& d);

// Minutes to the first train of the other and the domestic list; nothing for an empty one.
struct DueTrains {
  std::optional<Int16> other;
  std::optional<Int16> domestic;
};
DueTrains otherAndDomesticMinutes(const Display& d);
// True for a train that exists and leaves within kDueWithin minutes.
inline bool dueWithinTheHour(std::optional<Int16> minutes) {
  return minutes && *minutes <= kDueWithin;
}

}  // namespace plasma
