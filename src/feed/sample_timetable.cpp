#include "feed/sample_timetable.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace plasma::sample {

namespace {

constexpr int kMinutesPerDay = 24 * 60;
constexpr int kSlots = 4;
constexpr int kDueWithin = 60;

// A service pattern: a departure every `period` minutes at `offset` past each period, trains
// alternating between the routes (and with them platforms 1 and 2).
struct Route {
  const char* destination;
  int platform;
  const char* stops;
};

struct Service {
  int period;
  int offset;
  std::array<Route, 4> routes;  // taken in turn, train by train
};

// The airport line: more than 8 stops on the all-stations trains, so their pages scroll.
constexpr Service kMainLine{
    10, 3,
    {{{"Airport Terminal 1", 1,
       "Morrow Street,Quayside,Fenwick Park,Aldergate,Linden Cross,Holt Road,Saltmarsh,"
       "Cargo Terminal,Airport Terminal 2,Airport Terminal 1"},
      {"Vantrel Central", 2,
       "Saltmarsh,Holt Road,Linden Cross,Aldergate,Fenwick Park,Quayside,Morrow Street,"
       "Cathedral Square,Vantrel Central"},
      {"Airport Terminal 1", 1, "Linden Cross,Airport Terminal 2,Airport Terminal 1"},
      {"Vantrel Central", 2, "Linden Cross,Quayside,Cathedral Square,Vantrel Central"}}}};

constexpr Service kOtherLine{
    15, 7,
    {{{"Harbour Point", 1,
       "Dockside,Ferry Lane,Brackwater,Old Mill,Sandy Bay,Gull Rock,Lighthouse Road,"
       "Harbour Market,Harbour Point"},
      {"Kessing Valley", 2, "Orchard Hill,Fernley,Kessing Bridge,Upper Kessing,Valley Green,Kessing Valley"},
      {"Harbour Point", 1, "Dockside,Brackwater,Sandy Bay,Harbour Point"},
      {"Kessing Valley", 2, "Fernley,Upper Kessing,Kessing Valley"}}}};

// Shuttles to the domestic terminal; only time and platform go into the document.
constexpr Service kDomesticShuttle{12, 5, {{{"", 1, ""}, {"", 2, ""}, {"", 1, ""}, {"", 2, ""}}}};

struct Departure {
  int minute;  // minutes after the clock's midnight; past 1439 for trains after midnight
  const Route* route;
};

// The next four departures at or after `from`. Quiet timetables stop at midnight: a train written
// as 0:05 against a clock before midnight would count as due at once.
std::vector<Departure> nextDepartures(const Service& s, int from, bool stopAtMidnight) {
  std::vector<Departure> out;
  int n = (from - s.offset + s.period - 1) / s.period;  // first train number not yet gone
  if (from - s.offset <= 0) n = 0;
  for (; static_cast<int>(out.size()) < kSlots; ++n) {
    const int minute = s.offset + n * s.period;
    if (stopAtMidnight && minute >= kMinutesPerDay) break;
    out.push_back({minute, &s.routes[static_cast<std::size_t>(n % 4)]});
  }
  return out;
}

void trainLines(std::vector<std::string>& lines, const std::vector<Departure>& trains) {
  for (int k = 0; k < kSlots; ++k) {
    if (k < static_cast<int>(trains.size())) {
      const Departure& t = trains[static_cast<std::size_t>(k)];
      lines.push_back(std::string(t.route->destination) + "|" + clockText(t.minute) + "|" +
                      std::to_string(t.route->platform) + "|" + t.route->stops);
    } else {
      lines.push_back("|||");
    }
  }
}

void domesticLines(std::vector<std::string>& lines, const std::vector<Departure>& trains) {
  for (int k = 0; k < kSlots; ++k) {
    if (k < static_cast<int>(trains.size())) {
      const Departure& t = trains[static_cast<std::size_t>(k)];
      lines.push_back(clockText(t.minute) + "|" + std::to_string(t.route->platform));
    } else {
      lines.push_back("|");
    }
  }
}

std::string joined(const std::vector<std::string>& parts) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? "|" : "") + parts[i];
  return out;
}

}  // namespace

bool scenarioFromName(std::string_view name, Scenario& scenario) {
  for (Scenario s : {Scenario::Normal, Scenario::Quiet, Scenario::Midnight, Scenario::Flaky}) {
    if (name == scenarioName(s)) {
      scenario = s;
      return true;
    }
  }
  return false;
}

const char* scenarioName(Scenario scenario) {
  switch (scenario) {
    case Scenario::Normal: return "normal";
    case Scenario::Quiet: return "quiet";
    case Scenario::Midnight: return "midnight";
    case Scenario::Flaky: return "flaky";
  }
  return "normal";
}

std::string timetableDocument(int circuit, int clockMinutes, const DocumentOptions& options) {
  const int clock = ((clockMinutes % kMinutesPerDay) + kMinutesPerDay) % kMinutesPerDay;
  const bool quiet = options.scenario == Scenario::Quiet;
  // Quiet: the first trains leave just over an hour from now.
  const int from = quiet ? clock + kDueWithin + 1 : clock;

  std::vector<std::string> lines;
  lines.push_back("OK");
  const int page = options.pageSeconds;
  lines.push_back(std::to_string(page > 0 ? page : 20));  // the display type's own page
  lines.push_back(std::to_string(page > 0 ? page : 20));  // departure board
  lines.push_back(std::to_string(page > 0 ? page : 15));  // each message
  lines.push_back(std::to_string(circuit % 4));             // colour scheme
  lines.push_back(circuit < 4 ? "0" : "2");                 // blue bands on the airport line
  lines.push_back("0");
  lines.push_back("4");  // wipe strips
  lines.push_back("1");  // scroller pacing
  lines.push_back("Welcome to the Vantrel Airport Line|Tickets");
  lines.push_back(
      "Trains to both airport terminals every 10 minutes, day and night.|"
      "Buy your ticket before you board: the machines on every platform take cards and coins.");
  domesticLines(lines, nextDepartures(kDomesticShuttle, from, quiet));
  trainLines(lines, nextDepartures(kMainLine, from, quiet));
  trainLines(lines, nextDepartures(kOtherLine, from, quiet));
  lines.push_back(joined(options.pictures));
  lines.push_back(clockText(clock));

  std::string doc;
  for (const std::string& line : lines) doc += line + "\n";
  return doc;
}

Fault flakyFault(long requestNumber) {
  if (requestNumber <= 0 || requestNumber % 3 != 0) return Fault::None;
  constexpr Fault kInTurn[] = {Fault::ServerError, Fault::CutOffBody, Fault::LowerCaseOk,
                               Fault::SlowAnswer};
  return kInTurn[(requestNumber / 3 - 1) % 4];
}

const char* faultName(Fault fault) {
  switch (fault) {
    case Fault::None: return "none";
    case Fault::ServerError: return "server error";
    case Fault::CutOffBody: return "cut-off body";
    case Fault::LowerCaseOk: return "line 0 \"ok\"";
    case Fault::SlowAnswer: return "15 s delay";
  }
  return "none";
}

std::vector<std::string> picturePaths(const std::string& dir) {
  namespace fs = std::filesystem;
  std::vector<std::string> out;
  std::error_code ec;
  const fs::path root = fs::absolute(dir, ec);
  if (ec) return out;
  for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    std::string ext = it->path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ext != ".jpg" && ext != ".jpeg" && ext != ".png" && ext != ".bmp" && ext != ".gif") continue;
    const std::string path = it->path().lexically_normal().string();
    if (path.find('|') == std::string::npos) out.push_back(path);
  }
  std::sort(out.begin(), out.end());
  return out;
}

bool pictureStyleFromName(std::string_view name, PictureStyle& style) {
  if (name == "paths") style = PictureStyle::Paths;
  else if (name == "urls") style = PictureStyle::Urls;
  else if (name == "windows") style = PictureStyle::Windows;
  else return false;
  return true;
}

std::vector<std::string> pictureEntries(const std::vector<std::string>& files, PictureStyle style,
                                        const std::string& urlBase) {
  namespace fs = std::filesystem;
  std::vector<std::string> out;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const fs::path file(files[i]);
    switch (style) {
      case PictureStyle::Paths:
        out.push_back(files[i]);
        break;
      case PictureStyle::Urls:
        out.push_back(urlBase + "/pictures/" + file.filename().string());
        break;
      case PictureStyle::Windows:
        if (i % 2 == 0) {
          out.push_back(std::string(kWindowsShare) + "\\" + file.filename().string());
        } else {
          std::string ext = file.extension().string();
          std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::toupper(c); });
          out.push_back(std::string(kWindowsDrive) + "\\" + file.stem().string() + ext);
        }
        break;
    }
  }
  return out;
}

int parseClock(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0 || colon > 2 || text.size() - colon != 3) return -1;
  int hours = 0;
  for (char c : text.substr(0, colon)) {
    if (c < '0' || c > '9') return -1;
    hours = hours * 10 + (c - '0');
  }
  const char m1 = text[colon + 1];
  const char m2 = text[colon + 2];
  if (m1 < '0' || m1 > '5' || m2 < '0' || m2 > '9') return -1;
  if (hours > 23) return -1;
  return hours * 60 + (m1 - '0') * 10 + (m2 - '0');
}

std::string clockText(int minutes) {
  const int m = ((minutes % kMinutesPerDay) + kMinutesPerDay) % kMinutesPerDay;
  const int mm = m % 60;
  return std::to_string(m / 60) + ":" + (mm < 10 ? "0" : "") + std::to_string(mm);
}

}  // namespace plasma::sample
