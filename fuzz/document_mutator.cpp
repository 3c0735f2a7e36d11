#include "document_mutator.h"

#include <array>
#include <cmath>
#include <vector>

#include "support/legacy.h"

namespace plasma::fuzz {
namespace {

constexpr int kNoTrain = 9999;
constexpr std::size_t kDocumentLines = 25;
constexpr std::size_t kClockLine = 24;

// The three record lists: first line, empty marker, fields per record, field of the time and of
// the platform.
struct ListShape {
  std::size_t firstLine;
  const char* marker;
  std::size_t fields;
  std::size_t timeField;
  std::size_t platformField;
};
constexpr ListShape kDomestic{11, "|", 2, 0, 1};
constexpr ListShape kMain{15, "|||", 4, 1, 2};
constexpr ListShape kOther{19, "|||", 4, 1, 2};
constexpr std::array<ListShape, 3> kLists{kDomestic, kMain, kOther};

using Lines = std::vector<std::string>;
using Random = std::minstd_rand;

template <typename T, std::size_t N>
const T& pick(const std::array<T, N>& values, Random& r) {
  return values[r() % N];
}

int between(Random& r, int low, int high) {
  return low + static_cast<int>(r() % static_cast<unsigned>(high - low + 1));
}

Lines splitLines(const std::string& text) {
  Lines lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\n') {
      lines.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return lines;
}

std::string joinLines(const Lines& lines) {
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) out += (i ? "\n" : "") + lines[i];
  return out;
}

std::vector<std::string> fields(const std::string& line) {
  std::vector<std::string> f;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= line.size(); ++i) {
    if (i == line.size() || line[i] == '|') {
      f.push_back(line.substr(start, i - start));
      start = i + 1;
    }
  }
  return f;
}

std::string joinFields(const std::vector<std::string>& f) {
  std::string out;
  for (std::size_t i = 0; i < f.size(); ++i) out += (i ? "|" : "") + f[i];
  return out;
}

// A minute of day written as the server writes times, or as hours 0 and a long minute part.
std::string timeText(int minute, Random& r) {
  if (r() % 4 == 0) return "0:" + std::to_string(minute);
  const int hours = minute / 60;
  const int minutes = std::abs(minute % 60);
  const std::string sign = minute < 0 && hours == 0 ? "-" : "";
  return sign + std::to_string(hours) + ":" + (minutes < 10 ? "0" : "") + std::to_string(minutes);
}

// The minute of day a page would read from a time, or nothing when it has none.
bool minuteOf(const std::string& time, int& minute) {
  try {
    const double m = minuteOfDayExact(time);
    if (!std::isfinite(m) || std::fabs(m) > 1e6) return false;
    minute = static_cast<int>(std::lround(m));
    return true;
  } catch (const RuntimeError&) {
    return false;
  }
}

int clockOf(const Lines& l) {
  int m = 0;
  return minuteOf(l[kClockLine], m) ? m : 0;
}

// Minutes on either side of the hour boundary, of "departing" (under 2) and of equal times.
constexpr std::array<int, 10> kNearOffsets{-61, -60, -59, -2, -1, 0, 1, 2, 60, 61};
constexpr std::array<int, 9> kLimits{32767, 32766, 32768, -32768, -32767, -32769, 0, 1439, 1440};

int interestingMinute(const Lines& l, Random& r) {
  switch (r() % 3) {
    case 0: return kNoTrain + pick(kNearOffsets, r);
    case 1: return clockOf(l) + pick(kNearOffsets, r);
    default: return pick(kLimits, r);
  }
}

std::string& recordLine(Lines& l, const ListShape& list, std::size_t slot) {
  return l[list.firstLine + slot];
}

std::string templateRecord(const ListShape& list, int platform, int minute, Random& r) {
  if (list.fields == 2) return timeText(minute, r) + "|" + std::to_string(platform);
  return "Harbour Point|" + timeText(minute, r) + "|" + std::to_string(platform) + "|Dockside,Brackwater";
}

// The record of a slot as fields, a filled template when the slot is an empty marker or short.
std::vector<std::string> recordFields(Lines& l, const ListShape& list, std::size_t slot, Random& r) {
  std::vector<std::string> f = fields(recordLine(l, list, slot));
  if (f.size() < list.fields || recordLine(l, list, slot) == list.marker) {
    f = fields(templateRecord(list, between(r, 1, 2), clockOf(l) + between(r, 0, 70), r));
  }
  return f;
}

void setField(Lines& l, const ListShape& list, std::size_t slot, std::size_t field,
              const std::string& value, Random& r) {
  std::vector<std::string> f = recordFields(l, list, slot, r);
  f[field] = value;
  recordLine(l, list, slot) = joinFields(f);
}

std::string stopNames(int n, Random& r) {
  std::string s = r() % 4 == 0 ? "Domestic Terminal" : "";
  for (int i = s.empty() ? 0 : 1; i < n; ++i) s += (i ? "," : "") + std::string("Stop ") + std::to_string(i);
  return s;
}

std::string repeated(const std::string& part, int times, const std::string& separator) {
  std::string out;
  for (int i = 0; i < times; ++i) out += (i ? separator : "") + part;
  return out;
}

// The marker meets a real train: the first train of the other or the domestic list at or just past
// minute 9999, the list it is merged with holding no train on its platform, the clock within the
// hour before it. Every comparison against the marker then meets a train that exists. Given twice
// the weight of the other edits: it is the one byte flips never make.
void markerMeetsATrain(Lines& l, Random& r) {
  const bool domesticFirst = r() % 2;
  const ListShape& list = domesticFirst ? kDomestic : kOther;
  const ListShape& without = domesticFirst ? kOther : kDomestic;
  const int platform = between(r, 1, 2);
  recordLine(l, list, 0) = templateRecord(list, platform, kNoTrain + between(r, -1, 2), r);
  for (std::size_t s = 0; s < 4; ++s) {
    if (r() % 2 || recordLine(l, without, s) == without.marker) {
      recordLine(l, without, s) = without.marker;
    } else {
      setField(l, without, s, without.platformField, std::to_string(3 - platform), r);
    }
  }
  l[kClockLine] = timeText(kNoTrain - between(r, 0, 61), r);
}

void mutateOnce(Lines& l, Random& r) {
  const ListShape& list = pick(kLists, r);
  const std::size_t slot = r() % 4;
  switch (r() % 14) {
    case 0:  // a departure time near 9999, near the clock or at a 16-bit limit
      setField(l, list, slot, list.timeField, timeText(interestingMinute(l, r), r), r);
      break;
    case 1: {  // the clock within a minute or an hour of a train
      int minute = 0;
      const std::vector<std::string> f = recordFields(l, list, slot, r);
      if (minuteOf(f[list.timeField], minute)) l[kClockLine] = timeText(minute + pick(kNearOffsets, r), r);
      break;
    }
    case 2:  // the clock near 9999 or at a limit
      l[kClockLine] = timeText(r() % 2 ? kNoTrain + pick(kNearOffsets, r) : pick(kLimits, r), r);
      break;
    case 3:
    case 13:
      markerMeetsATrain(l, r);
      break;
    case 4:
      recordLine(l, list, slot) = list.marker;
      break;
    case 5:
      recordLine(l, list, slot) = templateRecord(list, between(r, 1, 2), interestingMinute(l, r), r);
      break;
    case 6:  // a list with no train at all, or all four slots filled
      for (std::size_t s = 0; s < 4; ++s) {
        recordLine(l, list, s) =
            r() % 2 ? std::string(list.marker) : templateRecord(list, between(r, 1, 2), clockOf(l) + 10 * int(s), r);
      }
      break;
    case 7: {  // platforms: the other platform, none, or the limits; one slot or the whole list
      constexpr std::array<int, 7> kPlatforms{1, 2, 0, -1, 3, 32767, -32768};
      const std::string p = std::to_string(pick(kPlatforms, r));
      if (r() % 2) {
        setField(l, list, slot, list.platformField, p, r);
      } else {
        for (std::size_t s = 0; s < 4; ++s) {
          if (recordLine(l, list, s) != list.marker) setField(l, list, s, list.platformField, p, r);
        }
      }
      break;
    }
    case 8: {  // settings lines at their edges
      constexpr std::array<int, 12> kSettings{0, 1, 2, 3, 4, 5, -1, 8, 60, 32767, -32768, 32768};
      l[static_cast<std::size_t>(between(r, 1, 8))] = std::to_string(pick(kSettings, r));
      break;
    }
    case 9: {  // stops lists around the eight rows of the list area
      constexpr std::array<int, 7> kStops{0, 1, 7, 8, 9, 10, 40};
      const ListShape& trains = r() % 2 ? kMain : kOther;
      setField(l, trains, slot, 3, stopNames(pick(kStops, r), r), r);
      break;
    }
    case 10: {  // headings and texts that do not pair up, empty texts, a word longer than a line
      const int titles = between(r, 0, 3);
      const int texts = between(r, 0, 3);
      l[9] = repeated("Notice", titles, "|");
      l[10] = r() % 3 == 0 ? repeated("W", between(r, 1, 400), "") : repeated("Some text here", texts, "|");
      break;
    }
    case 11:
      l[23] = repeated("/nonexistent/p.png", between(r, 0, 3), "|");
      break;
    default:  // two slots exchanged: a filled slot after an empty one, or trains out of order
      std::swap(recordLine(l, list, slot), recordLine(l, list, r() % 4));
      break;
  }
}

}  // namespace

std::string mutateDocument(const std::string& document, Random& random) {
  Lines l = splitLines(document);
  if (l.size() < kDocumentLines || l[0] != "OK") return document;
  const int edits = between(random, 1, 3);
  for (int i = 0; i < edits; ++i) mutateOnce(l, random);
  return joinLines(l);
}

}  // namespace plasma::fuzz
