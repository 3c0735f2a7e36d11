// Writes the seed documents of the timetable fuzz target into a folder: the sample server's
// documents of every circuit and scenario at a few clocks, and documents at the edges of the
// format. The fuzzer starts from these, so every section of a real document is reached at once.
//   fuzz_seeds DIR
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "feed/sample_timetable.h"

namespace {

using namespace plasma::sample;

bool write(const std::string& dir, const std::string& name, const std::string& body) {
  std::ofstream out(dir + "/" + name, std::ios::binary | std::ios::trunc);
  out << body;
  return static_cast<bool>(out);
}

std::vector<std::string> lines(const std::string& doc) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i < doc.size(); ++i) {
    if (doc[i] == '\n') {
      out.push_back(doc.substr(start, i - start));
      start = i + 1;
    }
  }
  return out;
}

std::string joined(const std::vector<std::string>& l, const char* end = "\n") {
  std::string doc;
  for (const std::string& s : l) doc += s + end;
  return doc;
}

// A normal document of a circuit with some lines replaced.
std::string edited(int circuit, const std::vector<std::pair<int, std::string>>& changes) {
  DocumentOptions o;
  o.pictures = {"/nonexistent/one.jpg", "/nonexistent/two.png"};
  std::vector<std::string> l = lines(timetableDocument(circuit, 7 * 60 + 31, o));
  for (const auto& [n, text] : changes) l.at(static_cast<std::size_t>(n)) = text;
  return joined(l);
}

std::string repeated(const std::string& part, int times, const std::string& separator) {
  std::string out;
  for (int i = 0; i < times; ++i) out += (i ? separator : "") + part;
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  int written = 0;
  bool ok = true;
  auto put = [&](const std::string& name, const std::string& body) {
    ok = write(dir, name, body) && ok;
    ++written;
  };

  const int clocks[] = {7 * 60 + 31, 23 * 60 + 55, 2};
  for (Scenario s : {Scenario::Normal, Scenario::Quiet, Scenario::Midnight, Scenario::Flaky}) {
    for (int circuit = 0; circuit < kCircuits; ++circuit) {
      for (const int clock : clocks) {
        DocumentOptions o;
        o.scenario = s;
        o.pictures = {"/nonexistent/welcome.jpg", "/nonexistent/tickets.jpg", "/nonexistent/night.jpg"};
        if (clock == 2) o.pageSeconds = 1;  // every tick a new page
        const int at = s == Scenario::Midnight ? kMidnightStart + clock % 20 : clock;
        put("sample-" + std::string(scenarioName(s)) + "-circuit" + std::to_string(circuit) + "-" +
                std::to_string(at) + ".txt",
            timetableDocument(circuit, at, o));
      }
    }
  }

  const std::vector<std::pair<std::string, std::string>> edges = {
      {"edge-no-trains", edited(3, {{11, "|"}, {12, "|"}, {13, "|"}, {14, "|"}, {15, "|||"}, {16, "|||"},
                                    {17, "|||"}, {18, "|||"}, {19, "|||"}, {20, "|||"}, {21, "|||"}, {22, "|||"}})},
      {"edge-gap-before-train", edited(1, {{15, "|||"}, {16, "Airport Terminal 1|7:40|1|A,B"}})},
      {"edge-last-train", edited(1, {{12, "|"}, {13, "|"}, {14, "|"}, {16, "|||"}, {17, "|||"}, {18, "|||"},
                                     {20, "|||"}, {21, "|||"}, {22, "|||"}})},
      {"edge-last-trains", edited(5, {{13, "|"}, {14, "|"}, {17, "|||"}, {18, "|||"}, {21, "|||"}, {22, "|||"}})},
      {"edge-three-titles-two-texts", edited(2, {{9, "One|Two|Three"}, {10, "First|Second"}})},
      {"edge-no-messages-but-text", edited(4, {{9, ""}, {10, "orphan text"}})},
      {"edge-settings-extremes", edited(5, {{1, "32767"}, {2, "-32768"}, {3, "0"}, {4, "-1"}, {5, "99"},
                                            {6, "-32768"}, {7, "0"}, {8, "-5"}})},
      {"edge-settings-spaces", edited(0, {{1, " 20 "}, {7, "  4"}})},
      {"edge-clock-extremes", edited(0, {{24, "546:7"}, {15, "0:00|0:00|32767|"}})},
      {"edge-clock-fractions", edited(6, {{24, "7.5:30.25"}, {11, "7.5:31|2"}, {19, "X|-0:99|-32768|A"}})},
      {"edge-times-garbage", edited(1, {{15, "Airport|abc|1|A"}, {16, "Airport|:|1|A"}, {17, "Airport|1e9:3|1|"}})},
      {"edge-many-stops", edited(2, {{15, "Airport Terminal 1|7:35|1|" + repeated("Stop", 60, ",")}})},
      {"edge-empty-stop-names", edited(3, {{15, "Airport Terminal 1|7:35|1|,,,,,,,,,,"}})},
      {"edge-long-names", edited(4, {{19, repeated("Harbour Point ", 30, "") + "|7:40|1|" +
                                               repeated("Lighthouse Road", 12, ",")}})},
      {"edge-long-message", edited(1, {{9, "Notice"}, {10, repeated("word", 400, " ")}})},
      {"edge-long-word-message", edited(1, {{9, "Notice"}, {10, repeated("x", 2000, "")}})},
      {"edge-many-pictures", edited(0, {{23, repeated("/nonexistent/p.jpg", 80, "|")}})},
      {"edge-domestic-stop", edited(4, {{19, "Domestic Airport|7:33|3|Domestic Terminal"}})},
      {"edge-type6-domestic-only", edited(6, {{19, "|||"}, {20, "|||"}, {21, "|||"}, {22, "|||"}})},
      {"edge-utf8", edited(3, {{15, "Z\xc3\xbcrich \xe2\x82\xac|7:40|1|Malm\xc3\xb6,\xe6\x9d\xb1\xe4\xba\xac"}})},
      {"edge-cp1252", edited(3, {{15, "Z\xfcrich \x80|7:40|1|Malm\xf6,\x81\x8d"}})},
      {"edge-nul-bytes", edited(2, {{15, std::string("Air\0port|7:40|1|A\0B", 20)}, {9, std::string("\0", 1)}})},
      {"edge-crlf", joined(lines(edited(3, {})), "\r\n")},
      {"edge-lower-ok", edited(3, {{0, "ok"}})},
      {"edge-24-lines", [] {
         std::vector<std::string> l = lines(edited(3, {}));
         l.pop_back();
         return joined(l);
       }()},
      {"edge-no-final-newline", [] {
         std::string d = edited(3, {});
         d.pop_back();
         return d;
       }()},
      {"edge-overflow-setting", edited(3, {{7, "32768"}})},
      {"edge-short-record", edited(3, {{15, "Airport|7:40|1"}})},
      {"edge-clock-no-colon", edited(3, {{24, "731"}})},
      {"edge-empty", ""},
  };
  for (const auto& [name, body] : edges) put(name + ".txt", body);

  std::printf("fuzz_seeds: %d documents in %s\n", written, dir.c_str());
  return ok ? 0 : 1;
}
