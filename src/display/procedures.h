#pragma once
// The page procedures of the display window. Each reads the Display's state and store and paints
// on its canvas; the page starters take restartCycle (true: a page change, false: a redraw with
// new data).
#include <string>
#include <vector>

#include "display/display.h"

namespace plasma {

// ---- screen cycle (cycle/) ----
void displayTick(Display& d);
void showNextScreen(Display& d, bool restartCycle);
void drawMessageScreen(Display& d, bool restartCycle);

// ---- departure boards and notices (pages/) ----
void drawDepartureBoard(Display& d, bool restartCycle);
void drawTwoRowDepartureBoard(Display& d);
void drawAllTrainsDepart(Display& d, const std::string& platformText, double unitX, double unitY);
void drawLastTrains(Display& d, double unitX, double unitY);
void drawLastTrain(Display& d, double unitX, double unitY);

// ---- next-train pages, stops list and scroller (pages/) ----
void drawType1Screen(Display& d);
void drawType2Screen(Display& d);
void drawType3Screen(Display& d);
void drawType4Screen(Display& d);
void drawType5Screen(Display& d);
void stopsTimerEvent(Display& d);

// ---- countdown pages (countdown/) ----
void drawType0Screen(Display& d);
void drawType6ScreenA(Display& d);
void drawType6ScreenB(Display& d);

// ---- timetable feed (feed/) ----
// Puts a whole, valid document into the display state and the store (the slideshow's place kept).
void applyParsedTimetable(Display& d, ParsedTimetable&& parsed);

// ---- shared by the train pages ----
// Grid steps in pixels: canvas width / 272 and height / 154.
struct Grid {
  double unitX;
  double unitY;
};
Grid pageGrid(const Surface& canvas);

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

}  // namespace plasma
