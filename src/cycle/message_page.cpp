// The message page: one of the server's messages after each departure board, its heading large
// and underlined and its text word-wrapped in the largest size that fits.
#include "cycle/message_page.h"

#include <array>

namespace plasma {
namespace {

// A rule under the text: a line from one point to another.
struct Rule {
  Point from;
  Point to;
};

// The message page in grid steps; font sizes in points.
struct MessageLayout {
  double titleFont;
  Point title;              // top-left of the underlined heading
  std::array<Rule, 2> rules;
  double fitWidth;          // the box the text set as one line must cover less than
  double fitHeight;
  int largestFont;          // sizes tried from the largest down, a step at a time
  int smallestFont;
  int fontStep;
  double textLeft;
  double firstLineRow;      // top of the first text line
  double wrapWidth;
  double lineSpacing;       // line pitch as a share of the text's height
};

constexpr MessageLayout kMessage{
    .titleFont = 56,
    .title = {15, 12},
    .rules = {{{.from = {30, 137}, .to = {203, 137}}, {.from = {147, 139}, .to = {245, 139}}}},
    .fitWidth = 200,
    .fitHeight = 80,
    .largestFont = 60,
    .smallestFont = 10,
    .fontStep = 5,
    .textLeft = 15,
    .firstLineRow = 40,
    .wrapWidth = 242,
    .lineSpacing = 1.1,
};

}  // namespace

MessageTextArea messageTextArea(Grid g) {
  return {round32(g.unitX * kMessage.fitWidth * kMessage.fitHeight * g.unitY),
          round16(g.unitY * kMessage.firstLineRow), toSingle(kMessage.wrapWidth * g.unitX)};
}

int fitMessageFontSize(Surface& s, const std::string& text, std::int32_t targetArea) {
  // The whole text set as one line is compared with the fit box; the wrapped lines are not
  // checked against the rules below them.
  for (int size = kMessage.largestFont; size >= kMessage.smallestFont; size -= kMessage.fontStep) {
    s.setFontSize(size);
    if (round32(s.textHeight(text) * s.textWidth(text)) < targetArea) return size;
  }
  return 0;
}

std::vector<std::string> wrapMessageText(const Surface& s, const std::string& text,
                                         double wrapWidth) {
  const std::vector<std::string> words = split(text, ' ');
  std::vector<std::string> lines;
  if (words.empty()) return lines;
  std::string current = words[0];
  for (std::size_t i = 1; i < words.size(); ++i) {
    std::string longer = current + " " + words[i];
    if (s.textWidth(longer) > wrapWidth) {
      lines.push_back(std::move(current));
      current = words[i];
    } else {
      current = std::move(longer);
    }
  }
  lines.push_back(std::move(current));
  return lines;
}

namespace {

void drawMessage(Display& d, const std::string& title, const std::string& text) {
  Surface& c = d.canvas();
  const Grid g = pageGrid(c);
  c.setFontSize(kMessage.titleFont);
  {
    const DrawingStateGuard plain(c, DrawingState::Underline);
    c.setUnderline(true);
    c.moveTo(kMessage.title.x * g.unitX, kMessage.title.y * g.unitY);
    c.setForeColour(colours::kWhite);
    c.print(title);
  }

  for (const Rule& r : kMessage.rules) {
    c.line(r.from.x * g.unitX, r.from.y * g.unitY, r.to.x * g.unitX, r.to.y * g.unitY);
  }

  const MessageTextArea area = messageTextArea(g);
  if (fitMessageFontSize(c, text, area.targetArea) == 0) return;  // heading and rules only
  const Int16 lineHeight = round16(c.textHeight(text));
  Int16 y = area.firstLineY;
  bool first = true;
  for (const std::string& line : wrapMessageText(c, text, area.wrapWidth)) {
    if (!first) y = round16(lineHeight * kMessage.lineSpacing + y);
    first = false;
    c.moveTo(kMessage.textLeft * g.unitX, y);
    c.print(line);
  }
}

}  // namespace

void drawMessageScreen(Display& d, bool restartCycle) {
  d.trapped("drawMessageScreen", [&] {
    d.screenPhase = 2;
    d.timerStops.setEnabled(false);
    if (restartCycle) {
      d.tickCount = 0;
      // The index advances before it is used, and comes back into range after a load that
      // brought fewer messages.
      d.messageIndex = add16(d.messageIndex, 1);
    }
    if (d.messageIndex >= d.store.messageCount) d.messageIndex = 0;
    d.canvas().removePicture();
    d.canvas().clear();
    if (!trainDueSoon(d)) {
      d.showNextPicture(restartCycle);  // shown for the message's time, still in phase 2
      return;
    }
    d.setBoardColours();
    d.canvas().clear();
    drawMessage(d, item(d.store.messageTitles, d.messageIndex),
                item(d.store.messageTexts, d.messageIndex));
    d.presentCanvas(PageName::Message);
  });
}

}  // namespace plasma
