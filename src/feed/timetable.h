#pragma once
// The timetable store and the parsed form of one timetable document.
#include <string>
#include <string_view>
#include <vector>

#include "support/legacy.h"

namespace plasma {

struct TrainRecord {
  std::string destination;
  std::string departTime;  // "H:M", kept as text; pages convert it when they read it
  Int16 platform = 0;
  std::string stops;  // names separated by ","
};

// A train to the fixed destination "Domestic Airport".
struct DomesticRecord {
  std::string departTime;
  Int16 platform = 0;
};

inline constexpr const char* kDomesticDestination = "Domestic Airport";
inline constexpr const char* kDomesticStop = "Domestic Terminal";

// What every page reads. Each count equals its list's size; a slot below the count may be empty
// when the document had an empty marker before a filled line.
struct TimetableStore {
  Int16 clockMinutes = 0;
  std::vector<TrainRecord> mainDepartures;
  Int16 mainDepartureCount = 0;
  std::vector<TrainRecord> otherDepartures;
  Int16 otherDepartureCount = 0;
  std::vector<DomesticRecord> domesticDepartures;
  Int16 domesticDepartureCount = 0;
  std::vector<std::string> messageTitles;
  std::vector<std::string> messageTexts;
  Int16 messageCount = 0;
  std::vector<std::string> pictureFiles;
  Int16 pictureCount = 0;
  Int16 pictureIndex = 0;  // not loaded: kept across loads
};

// Lines 1 to 8 of a document: timing and style settings of the display state.
struct DocumentSettings {
  Int16 mainPageSeconds = 0;
  Int16 boardSeconds = 0;
  Int16 messageSeconds = 0;
  Int16 colourScheme = 0;
  Int16 boardOption = 0;
  Int16 spareSetting = 0;
  Int16 wipeSteps = 0;
  Int16 scrollDelay = 0;
};

struct ParsedTimetable {
  DocumentSettings settings;
  TimetableStore store;  // pictureIndex unused
};

// Parses a whole document (already decoded to UTF-8). Throws RuntimeError naming the line that
// failed and why; nothing is half-parsed.
ParsedTimetable parseTimetable(std::string_view body);

// A document as UTF-8: kept as it is when it is valid UTF-8, otherwise read as Windows-1252.
std::string decodeDocumentText(std::string_view raw);

}  // namespace plasma
