#pragma once
// The logo countdown pages of display types 0 and 6.
#include "display/display.h"

namespace plasma {

void drawType0Screen(Display& d);
void drawType6ScreenA(Display& d);
void drawType6ScreenB(Display& d);

}  // namespace plasma
