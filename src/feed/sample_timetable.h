#pragma once
// Timetable documents of a made-up Vantrel airport line, as the sample timetable server sends
// them: live departures against a clock, two messages and the bundled pictures. Kept here, free of
// any server library, so tests can check every document it makes with the real parser.
#include <string>
#include <string_view>
#include <vector>

namespace plasma::sample {

enum class Scenario {
  Normal,    // trains every few minutes on every list
  Quiet,     // nothing due within the hour: the displays show their slideshows
  Midnight,  // the clock starts at 23:50, trains after midnight are written 0:05 and so on
  Flaky,     // like Normal, but every third request fails (see flakyFault)
};

bool scenarioFromName(std::string_view name, Scenario& scenario);
const char* scenarioName(Scenario scenario);

inline constexpr int kCircuits = 7;  // display types 0 to 6
inline constexpr int kMidnightStart = 23 * 60 + 50;

struct DocumentOptions {
  Scenario scenario = Scenario::Normal;
  int pageSeconds = 0;  // 0: 20 s own page, 20 s board, 15 s messages; otherwise all three
  std::vector<std::string> pictures;
};

// The 25-line document (line feeds only) of one circuit when the clock reads clockMinutes.
std::string timetableDocument(int circuit, int clockMinutes, const DocumentOptions& options);

// What the flaky scenario does with its n-th request (counting from 1): every third request fails,
// in turn with each of these faults.
enum class Fault { None, ServerError, CutOffBody, LowerCaseOk, SlowAnswer };
Fault flakyFault(long requestNumber);
const char* faultName(Fault fault);
inline constexpr int kSlowAnswerSeconds = 15;

// The picture files of a folder (by extension), sorted, as absolute paths. A path holding "|"
// cannot be listed in a document and is left out.
std::vector<std::string> picturePaths(const std::string& dir);

// How the documents name the pictures: as the local paths they are, as URLs of the server's own
// copies, or as a Windows timetable server would (a UNC share and a drive letter, in turn, the
// drive's names with their extension in capitals as copies from such shares often have them).
enum class PictureStyle { Paths, Urls, Windows };
bool pictureStyleFromName(std::string_view name, PictureStyle& style);
inline constexpr const char* kWindowsShare = R"(\\plasmasim\pictures)";
inline constexpr const char* kWindowsDrive = R"(P:\Slides)";
// The picture list of the documents for the files (absolute paths); urlBase is "http://HOST:PORT"
// for PictureStyle::Urls, whose pictures are at urlBase/pictures/NAME.
std::vector<std::string> pictureEntries(const std::vector<std::string>& files, PictureStyle style,
                                        const std::string& urlBase = "");

// "HH:MM" (0:00 to 23:59) as minutes after midnight, or -1.
int parseClock(std::string_view text);
// Minutes after midnight (any count of days) as "H:MM" on the 24-hour clock.
std::string clockText(int minutes);

}  // namespace plasma::sample
