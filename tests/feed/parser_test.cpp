#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "feed/timetable.h"
#include "test_support/rig.h"

namespace plasma {
namespace {

using test::document;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Rejected {
  const char* name;
  std::string body;
  ErrorKind kind;
  const char* message;  // the whole what() of the error
};

TEST(ParseTimetable, RejectsWithTheLineAndTheReason) {
  std::string crlf = document();
  for (std::size_t i = 0; (i = crlf.find('\n', i)) != std::string::npos; i += 2) crlf.insert(i, "\r");
  const std::string twelveLines = "OK\n1\n2\n3\n4\n5\n6\n7\n8\n\n\n|\n";
  const Rejected cases[] = {
      {"lower-case ok", document({{0, "ok"}}), ErrorKind::BadDocument,
       "bad document: line 0 is not OK: \"ok\""},
      {"OK and a space", document({{0, "OK "}}), ErrorKind::BadDocument,
       "bad document: line 0 is not OK: \"OK \""},
      {"CRLF line ends", crlf, ErrorKind::BadDocument, "bad document: line 0 is not OK: \"OK\\r\""},
      {"an HTML page", "<html>\n<body>Not found</body>\n", ErrorKind::BadDocument,
       "bad document: line 0 is not OK: \"<html>\""},
      {"empty body", "", ErrorKind::BadDocument, "bad document: the document is empty"},
      {"twelve lines", twelveLines, ErrorKind::SubscriptOutOfRange,
       "subscript out of range: document has 12 lines, 25 needed"},
      {"the last two lines missing", document().substr(0, document().rfind("\n\n10:00") + 1),
       ErrorKind::SubscriptOutOfRange, "subscript out of range: document has 23 lines, 25 needed"},
      {"setting not a number", document({{3, "abc"}}), ErrorKind::TypeMismatch,
       "type mismatch: line 3: \"abc\" is not a number"},
      {"setting empty", document({{8, ""}}), ErrorKind::TypeMismatch,
       "type mismatch: line 8: \"\" is not a number"},
      {"setting above 16 bits", document({{1, "40000"}}), ErrorKind::Overflow,
       "overflow: line 1: \"40000\" is outside the 16-bit range"},
      {"setting below 16 bits", document({{7, "-32769"}}), ErrorKind::Overflow,
       "overflow: line 7: \"-32769\" is outside the 16-bit range"},
      {"train with three parts", document({{15, "Airport|10:05|1"}}), ErrorKind::SubscriptOutOfRange,
       "subscript out of range: line 15: \"Airport|10:05|1\" has 3 of its 4 fields"},
      {"domestic train without platform", document({{12, "10:05"}}), ErrorKind::SubscriptOutOfRange,
       "subscript out of range: line 12: \"10:05\" has 1 of its 2 fields"},
      {"empty domestic line is not the marker", document({{11, ""}}), ErrorKind::SubscriptOutOfRange,
       "subscript out of range: line 11: \"\" has 0 of its 2 fields"},
      {"other train with a bad platform", document({{20, "Harbour|10:05|x|A"}}), ErrorKind::TypeMismatch,
       "type mismatch: line 20: \"x\" is not a number"},
      {"domestic marker with a space", document({{13, "| "}}), ErrorKind::TypeMismatch,
       "type mismatch: line 13: \" \" is not a number"},
      {"clock without colon", document({{24, "1000"}}), ErrorKind::SubscriptOutOfRange,
       "subscript out of range: line 24 has no ':'"},
      {"clock empty", document({{24, ""}}), ErrorKind::SubscriptOutOfRange,
       "subscript out of range: line 24 has no ':'"},
      {"clock past 16 bits", document({{24, "999:00"}}), ErrorKind::Overflow,
       "overflow: line 24: \"999:00\" is outside the 16-bit range"},
  };
  for (const Rejected& c : cases) {
    try {
      parseTimetable(c.body);
      ADD_FAILURE() << c.name << ": accepted";
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.kind(), c.kind) << c.name;
      EXPECT_STREQ(e.what(), c.message) << c.name;
    }
  }
}

TEST(ParseTimetable, ReadsEveryLineOfAGoodDocument) {
  const ParsedTimetable t = parseTimetable(document({{1, "25"}, {2, " 30 "}, {3, "12"}, {4, "3"},
                                                     {5, "2"}, {6, "-7"}, {7, "6"}, {8, "2"},
                                                     {11, "10:07|2"},
                                                     {19, "Harbour Point|10:12| 1 |Dockside,Gull Rock|x"},
                                                     {23, "/p/a.jpg|/p/b.png"}, {24, "10:00"}}));
  const DocumentSettings& s = t.settings;
  EXPECT_EQ(s.mainPageSeconds, 25);
  EXPECT_EQ(s.boardSeconds, 30);
  EXPECT_EQ(s.messageSeconds, 12);
  EXPECT_EQ(s.colourScheme, 3);
  EXPECT_EQ(s.boardOption, 2);
  EXPECT_EQ(s.spareSetting, -7);
  EXPECT_EQ(s.wipeSteps, 6);
  EXPECT_EQ(s.scrollDelay, 2);
  const TimetableStore& st = t.store;
  EXPECT_EQ(st.messageCount, 2);
  EXPECT_EQ(st.messageTitles, (std::vector<std::string>{"Heading one", "Heading two"}));
  ASSERT_EQ(st.domesticDepartureCount, 1);
  EXPECT_EQ(st.domesticDepartures[0].departTime, "10:07");
  EXPECT_EQ(st.domesticDepartures[0].platform, 2);
  ASSERT_EQ(st.mainDepartureCount, 1);
  EXPECT_EQ(st.mainDepartures[0].destination, "Airport Central");
  EXPECT_EQ(st.mainDepartures[0].stops, "Alpha,Beta,Gamma");
  ASSERT_EQ(st.otherDepartureCount, 1);  // a fifth part is ignored, the platform may carry spaces
  EXPECT_EQ(st.otherDepartures[0].platform, 1);
  EXPECT_EQ(st.otherDepartures[0].stops, "Dockside,Gull Rock");
  EXPECT_EQ(st.pictureCount, 2);
  EXPECT_EQ(st.pictureFiles[1], "/p/b.png");
  EXPECT_EQ(st.clockMinutes, 600);
}

TEST(ParseTimetable, RecordSlotsFollowTheirLines) {
  // Empty markers leave their slot unfilled; the count is the last filled slot + 1.
  struct Case {
    const char* name;
    std::vector<std::pair<int, std::string>> lines;
    Int16 mainCount;
    Int16 domesticCount;
    std::vector<std::string> mainTimes;  // departTime of each main slot
  };
  const Case cases[] = {
      {"all lists empty", {{15, "|||"}}, 0, 0, {}},
      {"empty slot before a filled one", {{15, "|||"}, {16, "B|10:20|2|S"}}, 2, 0, {"", "10:20"}},
      {"only the last slot", {{15, "|||"}, {18, "D|10:40|1|S"}}, 4, 0, {"", "", "", "10:40"}},
      {"four trains", {{16, "B|10:15|2|S"}, {17, "C|10:25|1|S"}, {18, "D|10:35|2|S"}}, 4, 0,
       {"10:05", "10:15", "10:25", "10:35"}},
      {"domestic gap", {{12, "10:09|1"}, {14, "10:33|2"}}, 1, 4, {"10:05"}},
  };
  for (const Case& c : cases) {
    const TimetableStore s = parseTimetable(document(c.lines)).store;
    EXPECT_EQ(s.mainDepartureCount, c.mainCount) << c.name;
    EXPECT_EQ(s.mainDepartures.size(), static_cast<std::size_t>(c.mainCount)) << c.name;
    EXPECT_EQ(s.domesticDepartureCount, c.domesticCount) << c.name;
    EXPECT_EQ(s.domesticDepartures.size(), static_cast<std::size_t>(c.domesticCount)) << c.name;
    for (std::size_t k = 0; k < c.mainTimes.size() && k < s.mainDepartures.size(); ++k) {
      EXPECT_EQ(s.mainDepartures[k].departTime, c.mainTimes[k]) << c.name << " slot " << k;
    }
  }
  const TimetableStore gap = parseTimetable(document({{12, "10:09|1"}, {14, "10:33|2"}})).store;
  EXPECT_EQ(gap.domesticDepartures[0].departTime, "");  // skipped slot: an empty record
  EXPECT_EQ(gap.domesticDepartures[0].platform, 0);
  EXPECT_EQ(gap.domesticDepartures[2].platform, 0);
}

TEST(ParseTimetable, MessagesAndPictures) {
  struct Case {
    const char* name;
    std::string line9, line10, line23;
    Int16 messages;
    std::size_t texts;
    Int16 pictures;
  };
  const Case cases[] = {
      {"headings empty, texts not", "", "Stray text", "", 0, 0, 0},
      {"three headings, two texts", "A|B|C", "a|b", "", 3, 2, 0},
      {"one heading, no text", "A", "", "", 1, 0, 0},
      {"empty headings kept", "A||", "a||", "/x.png", 3, 3, 1},
      {"trailing separator makes a picture", "", "", "/a.png|/b.png|", 0, 0, 3},
  };
  for (const Case& c : cases) {
    const TimetableStore s = parseTimetable(document({{9, c.line9}, {10, c.line10}, {23, c.line23}})).store;
    EXPECT_EQ(s.messageCount, c.messages) << c.name;
    EXPECT_EQ(s.messageTitles.size(), static_cast<std::size_t>(c.messages)) << c.name;
    EXPECT_EQ(s.messageTexts.size(), c.texts) << c.name;
    EXPECT_EQ(s.pictureCount, c.pictures) << c.name;
    EXPECT_EQ(s.pictureFiles.size(), static_cast<std::size_t>(c.pictures)) << c.name;
  }
}

TEST(ParseTimetable, ClockLineIsReadLeniently) {
  const std::pair<const char*, Int16> cases[] = {
      {"0:00", 0},   {"23:59", 1439}, {"7:05", 425},  {" 7: 05", 425}, {"07:5x", 425},
      {"x:y", 0},    {":30", 30},     {"7:", 420},    {"7:30.5", 450},  {"7:31.5", 452},
      {"1:2:3", 62}, {"-1:30", -30},  {"10:00\r", 600}};
  for (const auto& [line, minutes] : cases) {
    EXPECT_EQ(parseTimetable(document({{24, line}})).store.clockMinutes, minutes) << line;
  }
}

TEST(ParseTimetable, LinesAfter24AreIgnored) {
  const ParsedTimetable t = parseTimetable(document() + "not a document line\nOK\n");
  EXPECT_EQ(t.store.clockMinutes, 600);
  // 25 lines without a final line feed are a whole document too.
  const std::string doc = document();
  EXPECT_EQ(parseTimetable(doc.substr(0, doc.size() - 1)).store.clockMinutes, 600);
}

TEST(ParseTimetable, FixtureDocuments) {
  const ParsedTimetable example = parseTimetable(readFile(test::fixturePath("documents/circuit-3.txt")));
  EXPECT_EQ(example.settings.colourScheme, 2);
  EXPECT_EQ(example.store.mainDepartureCount, 1);
  EXPECT_EQ(example.store.mainDepartures[0].platform, 2);
  EXPECT_EQ(example.store.pictureCount, 2);
  EXPECT_EQ(example.store.clockMinutes, 451);
  EXPECT_EQ(parseTimetable(readFile(test::fixturePath("documents/circuit-0.txt"))).store.mainDepartureCount, 4);
  for (const char* rejected : {"documents/circuit-5.txt", "documents/circuit-6.txt"}) {
    EXPECT_THROW(parseTimetable(readFile(test::fixturePath(rejected))), RuntimeError) << rejected;
  }
  const ParsedTimetable cp1252 =
      parseTimetable(decodeDocumentText(readFile(test::fixturePath("documents/circuit-4.txt"))));
  EXPECT_EQ(cp1252.store.messageTitles[0], "Zürich");
  EXPECT_EQ(cp1252.store.messageTexts[0], "Direkte Züge nach Zürich und Malmö ab Gleis 1 – täglich");
  EXPECT_EQ(cp1252.store.otherDepartures[1].destination, "Malmö");
  EXPECT_EQ(cp1252.store.domesticDepartureCount, 3);
}

TEST(DecodeDocumentText, KeepsUtf8AndReadsEverythingElseAsWindows1252) {
  const std::pair<std::string, std::string> cases[] = {
      {"Z\xfcrich", "Zürich"},
      {"Malm\xf6", "Malmö"},
      {"Zürich", "Zürich"},                                  // valid UTF-8 stays as it is
      {"\x80 \x85 \x8a \x96 \x99 \x9f", "€ … Š – ™ Ÿ"},       // the 0x80..0x9F table
      {"\x81\x8d\x8f\x90\x9d", "\xc2\x81\xc2\x8d\xc2\x8f\xc2\x90\xc2\x9d"},  // undefined: C1 codes
      {"\xa0\xff", "\xc2\xa0ÿ"},
      {"\xc0\xaf", "À¯"},                                    // an overlong form is not UTF-8
      {"\xed\xa0\x80", "í\xc2\xa0€"},                        // nor is a surrogate
      {"Zürich \xfc", "ZÃ¼rich ü"},                          // one stray byte: all of it is 1252
      {"OK\n", "OK\n"},
  };
  for (const auto& [raw, utf8] : cases) EXPECT_EQ(decodeDocumentText(raw), utf8) << raw;
}

}  // namespace
}  // namespace plasma
