#pragma once
// The message page's text fitting and wrapping, apart from the page so that it can be checked on
// its own.
#include <cstdint>
#include <string>
#include <vector>

#include "cycle/cycle.h"

namespace plasma {

// The numbers of the message text area on a canvas.
struct MessageTextArea {
  std::int32_t targetArea;  // square pixels of a 200 x 80 grid box
  Int16 firstLineY;         // top of the first text line, 40 grid steps down
  double wrapWidth;         // 242 grid steps, in single precision
};
MessageTextArea messageTextArea(Grid g);

// Sets the largest font size of 60, 55, ... 10 at which the text set as one line covers less than
// the target area, and returns it; 0 when none does (the font is then left at 10).
int fitMessageFontSize(Surface& s, const std::string& text, std::int32_t targetArea);

// Splits the text on single spaces and fills lines greedily in the current font: a word goes to a
// new line when the line with it would be wider than the wrap width. A word wider than the width
// gets a line of its own. An empty text has no lines.
std::vector<std::string> wrapMessageText(const Surface& s, const std::string& text,
                                         double wrapWidth);

}  // namespace plasma
