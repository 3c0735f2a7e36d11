// The message page: one of the server's messages after each departure board, its heading large
// and underlined and its text word-wrapped in the largest size that fits.
#include "cycle/message_page.h"

#include <array>
#include <cmath>

#include "support/log.h"

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
  // The whole text set as one line is compared with the fit box; layoutMessageText then checks the
  // wrapped lines against the rules below them.
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

MessageTextLayout layoutMessageText(Surface& s, const std::string& text,
                                    const MessageTextArea& area, double ruleTop) {
  MessageTextLayout layout;
  layout.fontSize = fitMessageFontSize(s, text, area.targetArea);
  if (layout.fontSize == 0) return layout;
  // The area alone lets a text of long words wrap into more lines than the page has room for
  // above the rules: step down while the last line would reach the first rule.
  for (;; layout.fontSize -= kMessage.fontStep) {
    s.setFontSize(layout.fontSize);
    const Int16 lineHeight = round16(s.textHeight(text));
    const std::vector<std::string> lines = wrapMessageText(s, text, area.wrapWidth);
    layout.lines.clear();
    layout.leftOut = 0;
    double y = area.firstLineY;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (i > 0) y = roundHalfEven(lineHeight * kMessage.lineSpacing + y);
      if (y + lineHeight > ruleTop) {
        layout.leftOut = lines.size() - i;
        break;
      }
      layout.lines.emplace_back(static_cast<Int16>(y), lines[i]);
    }
    if (layout.leftOut == 0 || layout.fontSize <= kMessage.smallestFont) return layout;
  }
}

namespace {

// The top of the first rule's pixels: its line width straddles the rule's row.
double firstRuleTop(const Grid& g) {
  return std::floor(kMessage.rules[0].from.y * g.unitY) - kLineWidth / 2;
}

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

  const MessageTextLayout layout =
      layoutMessageText(c, text, messageTextArea(g), firstRuleTop(g));
  for (const auto& [y, line] : layout.lines) {
    c.moveTo(kMessage.textLeft * g.unitX, y);
    c.print(line);
  }
  // Said once per text, not at every showing of the page.
  if (layout.leftOut > 0 && d.messageCutLogged != text) {
    logLine("message \"" + escapeForLog(title) + "\": " + std::to_string(layout.leftOut) + " of " +
            std::to_string(layout.leftOut + layout.lines.size()) +
            " lines do not fit above the rules even at " + std::to_string(kMessage.smallestFont) +
            " pt and are left out");
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
