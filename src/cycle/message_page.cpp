// The message page: one of the server's messages after each departure board, its heading large
// and underlined and its text word-wrapped in the largest size that fits.
#include "cycle/message_page.h"

#include <cmath>

#include "support/log.h"

namespace plasma {

namespace {

constexpr int kLargestSize = 60;
constexpr int kSmallestSize = 10;
constexpr int kSizeStep = 5;

}  // namespace

MessageTextArea messageTextArea(Grid g) {
  return {round32(g.unitX * 200 * 80 * g.unitY), round16(g.unitY * 40), toSingle(242 * g.unitX)};
}

int fitMessageFontSize(Surface& s, const std::string& text, std::int32_t targetArea) {
  // The whole text set as one line is compared with a 200 x 80 grid box; the wrapped lines are
  // not checked against the rules below them.
  for (int size = kLargestSize; size >= kSmallestSize; size -= kSizeStep) {
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

MessageTextLayout layoutMessageText(Surface& s, const std::string& text,
                                    const MessageTextArea& area, double ruleTop) {
  MessageTextLayout layout;
  layout.fontSize = fitMessageFontSize(s, text, area.targetArea);
  if (layout.fontSize == 0) return layout;
  // The area alone lets a text of long words wrap into more lines than the page has room for
  // above the rules: step down while the last line would reach the first rule.
  for (;; layout.fontSize -= kSizeStep) {
    s.setFontSize(layout.fontSize);
    const Int16 lineHeight = round16(s.textHeight(text));
    const std::vector<std::string> lines = wrapMessageText(s, text, area.wrapWidth);
    layout.lines.clear();
    layout.leftOut = 0;
    double y = area.firstLineY;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (i > 0) y = roundHalfEven(lineHeight * 1.1 + y);
      if (y + lineHeight > ruleTop) {
        layout.leftOut = lines.size() - i;
        break;
      }
      layout.lines.emplace_back(static_cast<Int16>(y), lines[i]);
    }
    if (layout.leftOut == 0 || layout.fontSize <= kSmallestSize) return layout;
  }
}

namespace {

// The top of the first rule's pixels: its line width straddles the rule's row.
double firstRuleTop(const Grid& g) { return std::floor(137 * g.unitY) - kLineWidth / 2; }

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

  const MessageTextLayout layout = layoutMessageText(c, text, messageTextArea(g), firstRuleTop(g));
  for (const auto& [y, line] : layout.lines) {
    c.moveTo(15 * g.unitX, y);
    c.print(line);
  }
  // Said once per text, not at every showing of the page.
  if (layout.leftOut > 0 && d.messageCutLogged != text) {
    logLine("message \"" + escapeForLog(title) + "\": " + std::to_string(layout.leftOut) + " of " +
            std::to_string(layout.leftOut + layout.lines.size()) +
            " lines do not fit above the rules even at 10 pt and are left out");
  }
  d.messageCutLogged = layout.leftOut > 0 ? text : std::string();
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
    // A heading without a text (line 10 shorter than line 9, or empty) shows like one whose text
    // is empty: the heading and the rules.
    const std::vector<std::string>& texts = d.store.messageTexts;
    const std::string noText;
    drawMessage(d, item(d.store.messageTitles, d.messageIndex, "messageTitles"),
                d.messageIndex < static_cast<long long>(texts.size())
                    ? texts[static_cast<std::size_t>(d.messageIndex)] : noText);
    d.presentCanvas(PageName::Message);
  });
}

}  // namespace plasma
