#pragma once
// The screen cycle: the one-second tick, the choice of the page, the message page and the redraw
// after a load. It stands on every page family and is what the Display's timers run.
#include "countdown/countdown.h"
#include "display/display.h"
#include "pages/pages.h"

namespace plasma {

void displayTick(Display& d);
void showNextScreen(Display& d, bool restartCycle);
void drawMessageScreen(Display& d, bool restartCycle);
// The page on screen is painted again with the new data: no wipe, and its timing goes on.
void redrawWithNewData(Display& d);

// The procedures a Display runs: the ones above.
const PageProcedures& screenCycle();

}  // namespace plasma
