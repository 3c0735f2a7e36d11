#pragma once
// The next-train pages of display types 1 to 5: their six elements, their one layout table, and
// the stops list with its scrolling strip. Private to pages/ and its tests; the cycle reaches the
// pages through pages.h.
#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "pages/pages.h"

namespace plasma {

// Where every block of a next-train page stands on one layout variant, in grid steps. Variants 1
// and 2 carry the title at the top, 3 and 4 at the bottom; 2 and 4 mirror the columns of 1 and 3.
struct NextTrainLayout {
  std::string_view titleText;  // variant 1 puts the destination on the next line, so no colon
  Point title;                 // top-left of the text
  Point destination;
  Point platformLine;
  Point stopsHeading;
  Point departingNow;          // centre line, and the line between "Now" and "Departing"
  Point minutesNumber;         // centre of the number
  double minutesLabelRow;      // top of "Minutes", whose right end meets the number's
  Point stopsArea;             // top-left of the list area
};

inline constexpr std::array<NextTrainLayout, 4> kNextTrainLayouts{{
    {.titleText = "Next Train",
     .title = {10, 10},
     .destination = {10, 23},
     .platformLine = {10, 48},
     .stopsHeading = {149, 48},
     .departingNow = {66, 94},
     .minutesNumber = {66, 93},
     .minutesLabelRow = 132,
     .stopsArea = {149, 62}},
    {.titleText = "Next Train:",
     .title = {10, 18},
     .destination = {65, 13},
     .platformLine = {149, 48},
     .stopsHeading = {10, 48},
     .departingNow = {204, 94},
     .minutesNumber = {204, 93},
     .minutesLabelRow = 132,
     .stopsArea = {10, 62}},
    {.titleText = "Next Train:",
     .title = {10, 123},
     .destination = {65, 118},
     .platformLine = {10, 10},
     .stopsHeading = {149, 10},
     .departingNow = {66, 56},
     .minutesNumber = {66, 55},
     .minutesLabelRow = 94,
     .stopsArea = {149, 24}},
    {.titleText = "Next Train:",
     .title = {10, 123},
     .destination = {65, 118},
     .platformLine = {149, 10},
     .stopsHeading = {10, 10},
     .departingNow = {204, 56},
     .minutesNumber = {204, 55},
     .minutesLabelRow = 94,
     .stopsArea = {10, 24}},
}};

// The layout of a variant 1..4; any other value is a subscript error (the page goes black).
const NextTrainLayout& nextTrainLayout(Int16 layoutVariant);

// The list area holds 8 rows, 10 steps apart; the strip is wider than what is shown of it.
inline constexpr double kStopsAreaWidth = 118;
inline constexpr double kStopsAreaHeight = 79;
inline constexpr double kStopsRowPitch = 10;
inline constexpr double kStopsStripWidth = 123;
inline constexpr int kFixedListRows = 8;

// ---- elements: each draws one block on the canvas and leaves clearing and presenting to the page.
void drawNextTrainTitle(Display& d, double unitX, double unitY);
void drawNextTrainDestination(Display& d, const std::string& destination, double unitX,
                              double unitY);
void drawDepartsPlatform(Display& d, const std::string& platformText, double unitX, double unitY);
void drawStopsHeading(Display& d, double unitX, double unitY);
void drawDepartingNow(Display& d, double unitX, double unitY);
void drawMinutesToDeparture(Display& d, const std::string& minutesText, double unitX, double unitY);

// ---- stops ----
// A list of up to 8 names printed straight onto the page.
void drawStopsList(Display& d, const std::vector<std::string>& stopsList, bool skipFirst,
                   double unitX, double unitY);
// A longer list printed onto the stops strip (pbStops), whose top is copied into the list area.
void renderStopsStrip(Display& d, const std::vector<std::string>& stopsList, bool skipFirst,
                      double unitX, double unitY);
// Starts one scroll run of the strip through the list area on the window, one pixel per frame;
// afterRun is called when the run has ended (at its last offset, or at the first step after the
// strip left the screen). A strip no higher than the area ends at once.
void scrollStopsStrip(Display& d, std::function<void()> afterRun);

// True while the page on screen is a next-train page showing the strip: only then may the scroller
// copy it onto the window.
bool stopsStripShowing(const Display& d);

}  // namespace plasma
