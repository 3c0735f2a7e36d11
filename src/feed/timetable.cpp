// The timetable document: line-oriented text, 25 lines, parsed whole before anything is applied.
#include "feed/timetable.h"

#include <cstdint>

#include "support/utf8.h"

namespace plasma {

namespace {

constexpr std::size_t kLinesNeeded = 25;
constexpr int kFirstDomesticLine = 11;
constexpr int kFirstMainLine = 15;
constexpr int kFirstOtherLine = 19;
constexpr int kSlotsPerList = 4;
constexpr int kPicturesLine = 23;
constexpr int kClockLine = 24;

// The message of a RuntimeError without the "kind: " prefix that what() carries.
std::string bareMessage(const RuntimeError& e) {
  const std::string what = e.what();
  const std::string prefix = std::string(errorKindName(e.kind())) + ": ";
  return what.compare(0, prefix.size(), prefix) == 0 ? what.substr(prefix.size()) : what;
}

[[noreturn]] void lineError(ErrorKind kind, int line, const std::string& why) {
  throw RuntimeError(kind, "line " + std::to_string(line) + why);
}

[[noreturn]] void outOfRange(int line, const std::string& text) {
  lineError(ErrorKind::Overflow, line, ": \"" + escapeForLog(text) + "\" is outside the 16-bit range");
}

Int16 lineInteger(const std::string& text, int line) {
  try {
    return strictInt16(text);
  } catch (const RuntimeError& e) {
    if (e.kind() == ErrorKind::Overflow) outOfRange(line, text);
    lineError(e.kind(), line, ": " + bareMessage(e));
  }
}

Int16 partCount(const std::vector<std::string>& parts, int line) {
  if (parts.size() > 32767) {
    lineError(ErrorKind::Overflow, line, " has " + std::to_string(parts.size()) + " parts, more than 32767");
  }
  return static_cast<Int16>(parts.size());
}

// The fields of one record line; a line with fewer parts than the record has fields is a subscript
// error (extra parts are ignored).
std::vector<std::string> recordParts(const std::string& text, int line, std::size_t fields) {
  std::vector<std::string> parts = split(text, '|');
  if (parts.size() < fields) {
    lineError(ErrorKind::SubscriptOutOfRange, line,
              ": \"" + escapeForLog(text) + "\" has " + std::to_string(parts.size()) + " of its " +
                  std::to_string(fields) + " fields");
  }
  return parts;
}

// Four record lines fill slots 0..3; an empty marker leaves its slot unfilled, a skipped slot below
// a filled one stays an empty record, and the count is the last filled slot + 1.
template <typename Record, typename Fill>
void readRecords(const std::vector<std::string>& lines, int first, const char* emptyMarker,
                 std::vector<Record>& list, Int16& count, Fill fill) {
  list.clear();
  count = 0;
  for (int k = 0; k < kSlotsPerList; ++k) {
    const int line = first + k;
    const std::string& text = lines[static_cast<std::size_t>(line)];
    if (text == emptyMarker) continue;
    list.resize(static_cast<std::size_t>(k) + 1);
    fill(list[static_cast<std::size_t>(k)], text, line);
    count = static_cast<Int16>(k + 1);
  }
}

void fillTrain(TrainRecord& r, const std::string& text, int line) {
  const auto parts = recordParts(text, line, 4);
  r.destination = parts[0];
  r.departTime = parts[1];
  r.platform = lineInteger(parts[2], line);
  r.stops = parts[3];
}

void fillDomestic(DomesticRecord& r, const std::string& text, int line) {
  const auto parts = recordParts(text, line, 2);
  r.departTime = parts[0];
  r.platform = lineInteger(parts[1], line);
}

Int16 clockLine(const std::string& text) {
  const auto parts = split(text, ':');
  if (parts.size() < 2) lineError(ErrorKind::SubscriptOutOfRange, kClockLine, " has no ':'");
  try {
    return round16(lenientValue(parts[0]) * 60.0 + lenientValue(parts[1]));
  } catch (const RuntimeError&) {
    outOfRange(kClockLine, text);
  }
}

// Lines as people count them: a final line feed does not start another line.
std::size_t humanLineCount(const std::vector<std::string>& lines) {
  return !lines.empty() && lines.back().empty() ? lines.size() - 1 : lines.size();
}

}  // namespace

ParsedTimetable parseTimetable(std::string_view body) {
  // Line feeds alone separate lines: a carriage return stays part of its line, so a CRLF document
  // fails on line 0, as it always has.
  const std::vector<std::string> lines = split(body, '\n');
  if (lines.empty()) throw RuntimeError(ErrorKind::BadDocument, "the document is empty");
  if (lines[0] != "OK") {
    throw RuntimeError(ErrorKind::BadDocument, "line 0 is not OK: \"" + escapeForLog(lines[0]) + "\"");
  }
  if (lines.size() < kLinesNeeded) {
    throw RuntimeError(ErrorKind::SubscriptOutOfRange,
                       "document has " + std::to_string(humanLineCount(lines)) + " lines, 25 needed");
  }

  ParsedTimetable t;
  DocumentSettings& s = t.settings;
  Int16* const settings[] = {&s.mainPageSeconds, &s.boardSeconds, &s.messageSeconds,
                             &s.colourScheme,    &s.boardOption,  &s.spareSetting,
                             &s.wipeSteps,       &s.scrollDelay};
  for (int line = 1; line <= 8; ++line) {
    *settings[line - 1] = lineInteger(lines[static_cast<std::size_t>(line)], line);
  }

  TimetableStore& store = t.store;
  if (!lines[9].empty()) {
    store.messageTitles = split(lines[9], '|');
    store.messageTexts = split(lines[10], '|');
    store.messageCount = partCount(store.messageTitles, 9);
  }

  readRecords(lines, kFirstDomesticLine, "|", store.domesticDepartures, store.domesticDepartureCount,
              fillDomestic);
  readRecords(lines, kFirstMainLine, "|||", store.mainDepartures, store.mainDepartureCount, fillTrain);
  readRecords(lines, kFirstOtherLine, "|||", store.otherDepartures, store.otherDepartureCount,
              fillTrain);

  store.pictureFiles = split(lines[kPicturesLine], '|');
  store.pictureCount = partCount(store.pictureFiles, kPicturesLine);

  store.clockMinutes = clockLine(lines[kClockLine]);
  return t;
}

namespace {

// Windows-1252 bytes 0x80..0x9F; the five bytes the code page leaves undefined keep their C1
// control code points, as Windows itself decodes them.
constexpr std::uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void appendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::string decodeDocumentText(std::string_view raw) {
  if (isValidUtf8(raw)) return std::string(raw);
  // Older timetable servers write the Windows code page of their machine.
  std::string out;
  out.reserve(raw.size() + raw.size() / 4);
  for (const char ch : raw) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) out += ch;
    else if (c < 0xA0) appendUtf8(out, kCp1252High[c - 0x80]);
    else appendUtf8(out, c);
  }
  return out;
}

}  // namespace plasma
