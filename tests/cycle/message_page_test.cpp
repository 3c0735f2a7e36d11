#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "cycle/message_page.h"
#include "test_support/golden.h"
#include "test_support/rig.h"

namespace plasma {
namespace {

using Kind = DrawOp::Kind;

const std::string kShortText = "Mind the gap";
// About 200 characters: fits below size 60's area, wraps into several lines.
const std::string kLongText =
    "Trains to the Domestic Airport leave from platform 3 this weekend while track work goes on "
    "between Central and the International terminal. Please allow an extra twenty minutes and "
    "ask our staff if you need help.";

std::string repeated(const std::string& word, int times) {
  std::string s = word;
  for (int i = 1; i < times; ++i) s += " " + word;
  return s;
}

// A type 1 display at 10:00 with a main train due and two messages, on a 1920 x 1080 canvas.
class MessagePage : public ::testing::Test {
 protected:
  explicit MessagePage(int width = 1920, int height = 1080) : rig(width, height), d(rig.d()) {
    d.displayType = 1;
    d.store.clockMinutes = 600;
    d.store.mainDepartures = {{"Airport Central", "10:05", 1, "Alpha,Beta"}};
    d.store.mainDepartureCount = 1;
    setMessages({"Heading one", "Heading two"}, {kShortText, kLongText});
  }
  void setMessages(std::vector<std::string> titles, std::vector<std::string> texts) {
    d.store.messageCount = static_cast<Int16>(titles.size());
    d.store.messageTitles = std::move(titles);
    d.store.messageTexts = std::move(texts);
  }
  // The page for message index i as a redraw shows it.
  RecordingSurface& drawMessage(Int16 index) {
    d.messageIndex = index;
    RecordingSurface& rec = rig.record();
    drawMessageScreen(d, false);
    return rec;
  }
  std::vector<DrawOp> textLines(const RecordingSurface& rec) {
    std::vector<DrawOp> lines = rec.ops(Kind::Print);
    lines.erase(lines.begin());  // the heading
    return lines;
  }

  test::Rig rig;
  Display& d;
};

TEST_F(MessagePage, FullHdGeometry) {
  const MessageTextArea area = messageTextArea(pageGrid(d.canvas()));
  EXPECT_EQ(area.targetArea, 792055);
  EXPECT_EQ(area.firstLineY, 281);
  EXPECT_NEAR(area.wrapWidth, 1708.24, 0.005);
  EXPECT_EQ(area.wrapWidth, static_cast<float>(242 * 1920 / 272.0));

  RecordingSurface& rec = drawMessage(0);
  EXPECT_EQ(rig.pages, std::vector<std::string>{"message"});
  const DrawOp& heading = rec.printed("Heading one");
  EXPECT_NEAR(heading.x, 105.88, 0.005);
  EXPECT_NEAR(heading.y, 84.16, 0.005);
  EXPECT_EQ(heading.fontSize, 56);
  EXPECT_TRUE(heading.underline);
  EXPECT_EQ(heading.fore, colours::kWhite);

  const auto rules = rec.ops(Kind::Line);
  ASSERT_EQ(rules.size(), 2u);
  EXPECT_NEAR(rules[0].x, 211.76, 0.005);
  EXPECT_NEAR(rules[0].y, 960.78, 0.005);
  EXPECT_NEAR(rules[0].x2, 1432.94, 0.005);
  EXPECT_EQ(rules[0].y2, rules[0].y);
  EXPECT_NEAR(rules[1].x, 1037.65, 0.005);
  EXPECT_NEAR(rules[1].y, 974.81, 0.005);
  EXPECT_NEAR(rules[1].x2, 1729.41, 0.005);
  EXPECT_EQ(rules[1].fore, colours::kWhite);
}

TEST_F(MessagePage, AShortTextFitsAtSixtyOnOneLine) {
  RecordingSurface& rec = drawMessage(0);
  const auto lines = textLines(rec);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text, kShortText);
  EXPECT_EQ(lines[0].fontSize, 60);
  EXPECT_FALSE(lines[0].underline);
  EXPECT_NEAR(lines[0].x, 105.88, 0.005);
  EXPECT_EQ(lines[0].y, 281);
}

TEST_F(MessagePage, TheLargestSizeBelowTheTargetAreaIsChosen) {
  Surface& s = d.canvas();
  const std::int32_t target = messageTextArea(pageGrid(s)).targetArea;
  auto area = [&](const std::string& text, int size) {
    s.setFontSize(size);
    return s.textHeight(text) * s.textWidth(text);
  };
  const std::string texts[] = {kShortText, kLongText, repeated(kLongText, 4),
                               repeated(kLongText, 60)};
  for (const std::string& text : texts) {
    SCOPED_TRACE(text.size());
    const int size = fitMessageFontSize(s, text, target);
    ASSERT_TRUE(size == 0 || (size >= 10 && size <= 60 && size % 5 == 0));
    if (size != 0) {
      EXPECT_LT(area(text, size), target);
      EXPECT_EQ(s.fontSize(), size);
    }
    if (size != 60) {
      EXPECT_GE(area(text, size == 0 ? 10 : size + 5), target);
    }
  }
  EXPECT_EQ(fitMessageFontSize(s, kShortText, target), 60);
  EXPECT_LT(fitMessageFontSize(s, repeated(kLongText, 4), target), 60);
  EXPECT_EQ(fitMessageFontSize(s, repeated(kLongText, 60), target), 0);
  EXPECT_EQ(fitMessageFontSize(s, kShortText, 0), 0);  // nothing covers less than no area
}

TEST_F(MessagePage, LongTextsWrapGreedilyAndStepDownByTheLineHeight) {
  RecordingSurface& rec = drawMessage(1);
  const auto lines = textLines(rec);
  ASSERT_GE(lines.size(), 3u);
  const double wrap = messageTextArea(pageGrid(d.canvas())).wrapWidth;
  Surface& s = d.canvas();
  s.setFontSize(lines[0].fontSize);
  const Int16 lineHeight = round16(s.textHeight(kLongText));
  std::string joined;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(lines[i].fontSize, lines[0].fontSize);
    EXPECT_NEAR(lines[i].x, 105.88, 0.005);
    EXPECT_LE(s.textWidth(lines[i].text), wrap);
    if (i == 0) {
      EXPECT_EQ(lines[i].y, 281);
    } else {
      EXPECT_EQ(lines[i].y, round16(lineHeight * 1.1 + lines[i - 1].y));
      // The line before was full: the first word of this one would not have fitted on it.
      const std::string firstWord = lines[i].text.substr(0, lines[i].text.find(' '));
      EXPECT_GT(s.textWidth(lines[i - 1].text + " " + firstWord), wrap);
    }
    joined += (i ? " " : "") + lines[i].text;
  }
  EXPECT_EQ(joined, kLongText);  // no word lost or moved
}

TEST_F(MessagePage, WrappingKeepsEmptyWordsAndGivesAnOverlongWordItsOwnLine) {
  Surface& s = d.canvas();
  s.setFontSize(60);
  const std::string longWord(80, 'W');
  EXPECT_EQ(wrapMessageText(s, "Platform  3", 1708),
            (std::vector<std::string>{"Platform  3"}));
  EXPECT_EQ(wrapMessageText(s, "Use " + longWord + " now", 1708),
            (std::vector<std::string>{"Use", longWord, "now"}));
  EXPECT_TRUE(wrapMessageText(s, "", 1708).empty());
}

TEST_F(MessagePage, ATextThatFitsAtNoSizeLeavesTheTextAreaEmpty) {
  setMessages({"Heading one"}, {repeated(kLongText, 60)});
  RecordingSurface& rec = drawMessage(0);
  EXPECT_EQ(rec.texts(), std::vector<std::string>{"Heading one"});
  EXPECT_EQ(rec.ops(Kind::Line).size(), 2u);
  EXPECT_EQ(rig.pages, std::vector<std::string>{"message"});
}

TEST_F(MessagePage, AHeadingWithAnEmptyTextShowsHeadingAndRules) {
  setMessages({"Platform 2 closed"}, {""});
  RecordingSurface& rec = drawMessage(0);
  EXPECT_EQ(rec.texts(), std::vector<std::string>{"Platform 2 closed"});
  EXPECT_EQ(rig.pages, std::vector<std::string>{"message"});
}

TEST_F(MessagePage, MessagesTakeTurnsStartingAtIndexOne) {
  ASSERT_EQ(d.messageIndex, 0);  // as the load step leaves it
  std::vector<std::string> shown;
  for (int i = 0; i < 3; ++i) {
    d.tickCount = 9;
    RecordingSurface& rec = rig.record();
    drawMessageScreen(d, true);
    shown.push_back(rec.texts().at(0));
    EXPECT_EQ(d.tickCount, 0);
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"Heading two", "Heading one", "Heading two"}));
}

TEST_F(MessagePage, ARedrawShowsTheSameMessageAndKeepsTheTickCount) {
  d.messageIndex = 1;
  d.tickCount = 7;
  RecordingSurface& rec = rig.record();
  drawMessageScreen(d, false);
  EXPECT_EQ(d.messageIndex, 1);
  EXPECT_EQ(d.tickCount, 7);
  EXPECT_EQ(rec.texts().at(0), "Heading two");
}

TEST_F(MessagePage, ARedrawAfterALoadWithFewerMessagesStartsAgainAtZero) {
  d.messageIndex = 3;
  RecordingSurface& rec = rig.record();
  drawMessageScreen(d, false);
  EXPECT_EQ(d.messageIndex, 0);
  EXPECT_EQ(rec.texts().at(0), "Heading one");
}

TEST_F(MessagePage, MissingMessagesBlackTheScreen) {
  struct Case {
    const char* what;
    std::vector<std::string> titles, texts;
    Int16 count;
  } cases[] = {
      {"no messages left after a load", {}, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    d.store.messageTitles = c.titles;
    d.store.messageTexts = c.texts;
    d.store.messageCount = c.count;
    d.messageIndex = 0;
    rig.pages.clear();
    drawMessageScreen(d, true);
    EXPECT_EQ(rig.pages, std::vector<std::string>{"black"});
    EXPECT_EQ(test::pixel(rig.window.image(), 960, 540), colours::kBlack);
    EXPECT_EQ(d.screenPhase, 2);
  }
}

// A heading whose text is missing (line 10 empty, or with fewer parts than line 9) shows as "Heading|"
// with an empty text does: heading and rules, no black screen.
TEST_F(MessagePage, AMissingTextShowsLikeAnEmptyOne) {
  struct Case {
    const char* what;
    const char* headings;
    const char* texts;
    Int16 index;
    std::vector<std::string> shown;
  } cases[] = {
      {"an empty line 10", "Platform 2 closed", "", 0, {"Platform 2 closed"}},
      {"an empty text", "Platform 2 closed|", "|", 0, {"Platform 2 closed"}},
      {"line 10 one text short", "One|Two|Three", "First|Second", 2, {"Three"}},
      {"the texts there still show", "One|Two|Three", "First|Second", 1, {"Two", "Second"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rig.apply(test::document({{9, c.headings}, {10, c.texts}, {24, "10:00"}}));
    rig.pages.clear();
    RecordingSurface& rec = drawMessage(c.index);
    EXPECT_EQ(rig.pages, std::vector<std::string>{"message"});
    EXPECT_EQ(rec.texts(), c.shown);
    EXPECT_EQ(rec.ops(Kind::Line).size(), 2u);
  }
}

// The lines of a text with long words must stay above the rules: the size steps down while the
// last line would reach the first rule, and at 10 pt the lines that still do not fit are left out
// and said once in the log.
TEST_F(MessagePage, TextLinesStayAboveTheRules) {
  Surface& s = d.canvas();
  const Grid g = pageGrid(s);
  const MessageTextArea area = messageTextArea(g);
  const double ruleTop = std::floor(137 * g.unitY) - 1;
  // Words a little over half the wrapping width at a size: there every word takes a line of its
  // own, so the text needs twice the lines the area rule counts on.
  auto overHalfALine = [&](int size) {
    s.setFontSize(size);
    std::string word = "Wx";
    while (s.textWidth(word) <= area.wrapWidth * 0.52) word += "x";
    return word;
  };
  const std::string longWords = repeated(overHalfALine(20), 24);  // the area allows 20 pt
  const std::string fortyFiveLines = repeated(overHalfALine(10), 45);  // the area allows 10 pt

  struct Case {
    const char* what;
    std::string text;
    bool smallerThanTheArea;  // stepped below the size the area alone allows
    bool leftOut;
  } cases[] = {
      {"an ordinary text keeps the size of the area", kLongText, false, false},
      {"long words step the size down", longWords, true, false},
      {"too many lines even at 10 pt", fortyFiveLines, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int areaSize = fitMessageFontSize(s, c.text, area.targetArea);
    ASSERT_GT(areaSize, 0);
    const MessageTextLayout layout = layoutMessageText(s, c.text, area, ruleTop);
    EXPECT_EQ(layout.fontSize < areaSize, c.smallerThanTheArea) << layout.fontSize;
    EXPECT_EQ(layout.leftOut > 0, c.leftOut);
    if (c.leftOut) {
      EXPECT_EQ(layout.fontSize, 10);
    }
    ASSERT_FALSE(layout.lines.empty());
    const double lineHeight = round16(s.textHeight(c.text));
    for (const auto& [y, line] : layout.lines) EXPECT_LE(y + lineHeight, ruleTop) << line;
    EXPECT_EQ(layout.lines.size() + layout.leftOut, wrapMessageText(s, c.text, area.wrapWidth).size());
  }

  // On the page: drawn above the rules, and the cut said once however often the page shows.
  setMessages({"Notice"}, {fortyFiveLines});
  ::testing::internal::CaptureStderr();
  drawMessage(0);
  RecordingSurface& rec = drawMessage(0);
  const std::string log = ::testing::internal::GetCapturedStderr();
  for (const DrawOp& line : textLines(rec)) {
    s.setFontSize(line.fontSize);
    EXPECT_LE(line.y + round16(s.textHeight(line.text)), rec.ops(Kind::Line)[0].y);
  }
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
  EXPECT_NE(log.find("\"Notice\""), std::string::npos) << log;
  EXPECT_NE(log.find("left out"), std::string::npos) << log;
}

TEST_F(MessagePage, StartsPhaseTwoAndStopsTheStopsTimer) {
  d.screenPhase = 1;
  d.timerStops.setEnabled(true);
  drawMessageScreen(d, true);
  EXPECT_EQ(d.screenPhase, 2);
  EXPECT_FALSE(d.timerStops.enabled());
}

TEST_F(MessagePage, WithoutATrainDueTheSlideshowTakesItsPlace) {
  struct Case {
    const char* what;
    Int16 type;
    const char* mainTime;  // nullptr: no main train
    const char* domesticTime;
    bool picture;
    const char* shown;
  } cases[] = {
      {"main train in 61 minutes", 1, "11:01", nullptr, true, "picture"},
      {"main train in 60 minutes", 1, "11:00", nullptr, true, "message"},
      {"no picture either", 2, nullptr, nullptr, false, "black"},
      {"type 4 with a domestic train due", 4, nullptr, "10:30", true, "message"},
      {"type 4 with nothing due", 4, "10:05", nullptr, true, "picture"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    d.displayType = c.type;
    d.store.mainDepartures.clear();
    d.store.domesticDepartures.clear();
    if (c.mainTime) d.store.mainDepartures = {{"Airport Central", c.mainTime, 1, "Alpha"}};
    if (c.domesticTime) d.store.domesticDepartures = {{c.domesticTime, 3}};
    d.store.mainDepartureCount = static_cast<Int16>(d.store.mainDepartures.size());
    d.store.domesticDepartureCount = static_cast<Int16>(d.store.domesticDepartures.size());
    d.store.pictureFiles.clear();
    if (c.picture) d.store.pictureFiles = {test::resourcePath("pictures/vantrel-small.png")};
    d.store.pictureCount = static_cast<Int16>(d.store.pictureFiles.size());
    d.timerStops.setEnabled(true);
    rig.pages.clear();
    drawMessageScreen(d, true);
    EXPECT_EQ(rig.pages, std::vector<std::string>{c.shown});
    EXPECT_EQ(d.screenPhase, 2);  // the picture stays for the message's time
    EXPECT_FALSE(d.timerStops.enabled());
  }
}

class MessageGolden : public MessagePage {
 protected:
  MessageGolden() : MessagePage(1360, 770) {}
};

TEST_F(MessageGolden, TwoLineMessage) {
  setMessages({"Weekend track work"}, {kLongText});
  drawMessageScreen(d, true);
  ASSERT_EQ(rig.pages, std::vector<std::string>{"message"});
  // Glyph edges are anti-aliased and their coverage differs a little between FreeType builds;
  // the flat background and the rules must match. A moved line changes thousands of pixels.
  EXPECT_EQ(test::compareWithGolden(rig.window.image(), "message-page", 16, 500), "");
}

}  // namespace
}  // namespace plasma
