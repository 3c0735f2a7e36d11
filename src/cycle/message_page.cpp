// The message page: one of the server's messages after each departure board, its heading large
// and underlined and its text word-wrapped in the largest size that fits.
#include "cycle/message_page.h"

namespace plasma {

MessageTextArea messageTextArea(Grid g) {
  return {round32(g.unitX * 200 * 80 * g.unitY), round16(g.unitY * 40), toSingle(242 * g.unitX)};
}

int fitMessageFontSize(Surface& s, const std::string& text, std::int32_t targetArea) {
  // The whole text set as one line is compared with a 200 x 80 grid box; the wrapped lines are
  // not checked against the rules below them.
  for (int size = 60; size >= 10; size -= 5) {
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
  c.setFontSize(56);
  c.setUnderline(true);
  c.moveTo(15 * g.unitX, 12 * g.unitY);
  c.setForeColour(colours::kWhite);
  c.print(title);
  c.setForeColour(colours::kWhite);
  c.setUnderline(false);

  c.line(30 * g.unitX, 137 * g.unitY, 203 * g.unitX, 137 * g.unitY);
  c.line(147 * g.unitX, 139 * g.unitY, 245 * g.unitX, 139 * g.unitY);

  const MessageTextArea area = messageTextArea(g);
  if (fitMessageFontSize(c, text, area.targetArea) == 0) return;  // heading and rules only
  const Int16 lineHeight = round16(c.textHeight(text));
  Int16 y = area.firstLineY;
  bool first = true;
  for (const std::string& line : wrapMessageText(c, text, area.wrapWidth)) {
    if (!first) y = round16(lineHeight * 1.1 + y);
    first = false;
    c.moveTo(15 * g.unitX, y);
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
