#pragma once
// The page procedures of the departure boards, the next-train pages and the notices. Each reads
// the Display's state and store and paints on its canvas; restartCycle true is a page change,
// false a redraw with new data.
#include <string>

#include "display/display.h"
#include "display/page_rules.h"

namespace plasma {

// ---- departure boards and notices ----
void drawDepartureBoard(Display& d, bool restartCycle);
void drawTwoRowDepartureBoard(Display& d);
void drawAllTrainsDepart(Display& d, const std::string& platformText, double unitX, double unitY);
void drawLastTrains(Display& d, double unitX, double unitY);
void drawLastTrain(Display& d, double unitX, double unitY);

// ---- next-train pages, stops list and scroller ----
void drawType1Screen(Display& d);
void drawType2Screen(Display& d);
void drawType3Screen(Display& d);
void drawType4Screen(Display& d);
void drawType5Screen(Display& d);
void stopsTimerEvent(Display& d);

}  // namespace plasma
