#pragma once
// The message page's text fitting and wrapping, apart from the page so that it can be checked on
// its own.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
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

// The text of a message as the page draws it: the font size (0: no size fits the area), the lines
// with the top of each, and how many wrapped lines were left out because they would reach the
// first rule even at the smallest size.
struct MessageTextLayout {
  int fontSize = 0;
  std::vector<std::pair<Int16, std::string>> lines;
  std::size_t leftOut = 0;
};

// Fits a text above the rules: the largest size that covers less than the target area, stepped
// down further while the last wrapped line would reach ruleTop; at 10 pt the lines that would
// reach it are left out. Leaves the surface at the chosen size.
MessageTextLayout layoutMessageText(Surface& s, const std::string& text, const MessageTextArea& area,
                                    double ruleTop);

// Splits the text on single spaces and fills lines greedily in the current font: a word goes to a
// new line when the line with it would be wider than the wrap width. A word wider than the width
// gets a line of its own. An empty text has no lines.
std::vector<std::string> wrapMessageText(const Surface& s, const std::string& text,
                                         double wrapWidth);

}  // namespace plasma
