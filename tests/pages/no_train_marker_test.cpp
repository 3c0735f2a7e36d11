// 9999 is the minute of day that stands for "no train" where a list has none. A real train can
// leave at or after minute 9999 (166:39), and the clock can stand within the hour before it: the
// pages must still show the train that exists and never read a record that does not.
#include <gtest/gtest.h>

#include <algorithm>

#include "test_support/rig.h"

namespace plasma::test {
namespace {

// True when every text of `wanted` was printed, in this order.
bool printedInOrder(const RecordingSurface& r, const std::vector<std::string>& wanted) {
  const std::vector<std::string> texts = r.texts();
  auto at = texts.begin();
  for (const std::string& w : wanted) {
    at = std::find(at, texts.end(), w);
    if (at == texts.end()) return false;
    ++at;
  }
  return true;
}

enum class Page { Own, Board };

struct Case {
  const char* name;
  Int16 displayType;
  Page page;
  std::vector<std::pair<int, std::string>> lines;
  const char* shown;
  std::vector<std::string> texts;
};

TEST(NoTrainMarker, AnExistingTrainAlwaysWinsOverAListWithout) {
  const std::string picture = resourcePath("pictures/vantrel-small.png");
  const Case cases[] = {
      {"type 4: the only train is domestic, at 9999", 4, Page::Own,
       {{11, "166:39|1"}, {24, "166:30"}}, "type4", {"Domestic Airport", "9"}},
      {"type 5: domestic past 9999, the other train on the other platform", 5, Page::Own,
       {{11, "166:45|2"}, {19, "Harbour Point|166:35|1|Dockside,Brackwater"}, {24, "166:30"}},
       "type5", {"Domestic Airport", "15"}},
      {"type 4: the only train is an other train, at 9999", 4, Page::Own,
       {{19, "Harbour Point|166:39|1|Dockside,Brackwater"}, {24, "166:30"}}, "type4",
       {"Harbour Point", "9"}},
      {"board: other trains at and past 9999 after the last domestic train", 5, Page::Board,
       {{11, "166:35|2"}, {19, "Harbour Point|166:39|1|A"}, {20, "Kessing Valley|166:50|2|A"},
        {24, "166:30"}},
       "board", {"Domestic Airport", "5", "Harbour Point", "9", "Kessing Valley", "20"}},
      {"board: domestic trains at and past 9999, no other train", 4, Page::Board,
       {{11, "166:35|2"}, {12, "166:39|1"}, {13, "167:00|1"}, {24, "166:30"}},
       "board", {"Domestic Airport", "5", "Domestic Airport", "9", "Domestic Airport", "30"}},
      {"an empty list is not due because the clock is an hour before 9999", 4, Page::Own,
       {{11, "200:00|1"}, {23, picture}, {24, "166:00"}}, "picture", {}},
      {"the board agrees", 4, Page::Board, {{11, "200:00|1"}, {23, picture}, {24, "166:00"}},
       "picture", {}},
      {"a clock at the 16-bit minimum is no overflow against an empty list", 5, Page::Own,
       {{11, "-546:-6|2"}, {24, "-546:-8"}}, "type5", {"Domestic Airport", "2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.d().timerDatabase.setEnabled(false);
    std::vector<std::string> errors;
    rig.d().onTrappedError = [&](const std::string& e) { errors.push_back(e); };
    std::vector<std::pair<int, std::string>> lines = c.lines;
    lines.insert(lines.begin(), {15, "|||"});  // no main trains
    rig.apply(document(lines));
    rig.d().displayType = c.displayType;
    rig.d().layoutVariant = 1;
    RecordingSurface& r = rig.record();
    if (c.page == Page::Own) {
      showNextScreen(rig.d(), true);
    } else {
      rig.d().trapped("drawDepartureBoard", [&] { drawDepartureBoard(rig.d(), true); });
    }
    EXPECT_TRUE(errors.empty()) << errors.front();
    ASSERT_FALSE(rig.pages.empty());
    EXPECT_EQ(rig.pages.back(), c.shown);
    EXPECT_TRUE(printedInOrder(r, c.texts)) << ::testing::PrintToString(r.texts());
  }
}

// A page that fails on a record says which one: the page, the list, the slot and the text, so an
// operator can find the line of the document to mend.
TEST(NoTrainMarker, ALogLineNamesThePageTheListTheSlotAndTheText) {
  struct Failure {
    const char* name;
    Int16 displayType;
    Page page;
    std::vector<std::pair<int, std::string>> lines;
    std::vector<std::string> mentions;
  };
  const Failure failures[] = {
      {"a main time without a colon", 1, Page::Own,
       {{15, "Airport Central|1005|1|Alpha"}},
       {"showNextScreen: ", "mainDepartures slot 0", "\"1005\"", "no minute part"}},
      {"an empty second slot before a train", 5, Page::Board,
       {{19, "Harbour Point|10:05|1|A"}, {21, "Kessing Valley|10:20|2|A"}},
       {"drawDepartureBoard: ", "otherDepartures slot 1", "departTime \"\""}},
      {"a domestic time past the 16-bit range", 4, Page::Own,
       {{11, "600:00|1"}, {19, "Harbour Point|10:05|2|A"}},
       {"domesticDepartures slot 0", "\"600:00\"", "16-bit"}},
      {"a train without stops", 2, Page::Own,
       {{15, "Airport Central|10:05|1|"}},
       {"drawType2Screen: ", "mainDepartures slot 0", "stops \"\""}},
  };
  for (const Failure& f : failures) {
    SCOPED_TRACE(f.name);
    Rig rig;
    rig.d().timerDatabase.setEnabled(false);
    std::vector<std::string> errors;
    rig.d().onTrappedError = [&](const std::string& e) { errors.push_back(e); };
    rig.apply(document(f.lines));
    rig.d().displayType = f.displayType;
    rig.d().layoutVariant = 1;
    if (f.page == Page::Own) {
      showNextScreen(rig.d(), true);
    } else {
      rig.d().trapped("drawDepartureBoard", [&] { drawDepartureBoard(rig.d(), true); });
    }
    EXPECT_EQ(rig.pages.back(), "black");
    ASSERT_EQ(errors.size(), 1u);
    for (const std::string& m : f.mentions) EXPECT_NE(errors[0].find(m), std::string::npos) << errors[0];
  }
}

}  // namespace
}  // namespace plasma::test
