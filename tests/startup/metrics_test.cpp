// The metrics file as node_exporter's textfile collector and a Prometheus alert read it: written
// with the status, every series described and labelled with its display, and the same figures as
// the status file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "startup/metrics.h"
#include "startup/status_report.h"
#include "test_support/rig.h"

namespace plasma {
namespace {

namespace fs = std::filesystem;

struct Sample {
  std::string labels;
  std::string value;
};

// The text exposition format, strictly: HELP and TYPE before a metric's samples, one sample per
// line, "name{label="value",...} number". Anything else fails the test.
std::map<std::string, Sample> parseExposition(const std::string& text) {
  static const std::regex help(R"(# HELP ([a-z_]+) \S.*)");
  static const std::regex type(R"(# TYPE ([a-z_]+) (gauge|counter))");
  static const std::regex sample(R"re(([a-z_]+)\{((?:[a-z_]+="(?:[^"\\\n]|\\[\\"n])*",?)+)\} (-?[0-9]+))re");
  std::map<std::string, Sample> samples;
  std::set<std::string> described, typed;
  std::istringstream in(text);
  std::string line;
  std::smatch m;
  while (std::getline(in, line)) {
    if (std::regex_match(line, m, help)) {
      described.insert(m[1]);
    } else if (std::regex_match(line, m, type)) {
      typed.insert(m[1]);
      if (m[2] == "counter") {
        EXPECT_TRUE(m[1].str().ends_with("_total")) << line;
      }
    } else if (std::regex_match(line, m, sample)) {
      EXPECT_TRUE(described.count(m[1]) && typed.count(m[1])) << "no HELP or TYPE before " << line;
      EXPECT_FALSE(samples.count(m[1])) << "twice: " << line;
      samples[m[1]] = {m[2], m[3]};
    } else {
      ADD_FAILURE() << "not exposition format: \"" << line << "\"";
    }
  }
  EXPECT_TRUE(text.ends_with("\n"));
  return samples;
}

struct TempFolder {
  TempFolder() {
    char name[] = "/tmp/plasma-metrics-XXXXXX";
    path = ::mkdtemp(name);
  }
  ~TempFolder() { fs::remove_all(path); }
  fs::path path;
};

std::string readFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(Metrics, WrittenWithTheStatusAndTellingTheSameStory) {
  TempFolder folder;
  test::Rig rig;
  rig.d().screenIndex = 1;
  StatusPublisher publisher(rig.d(), "3-1", folder.path.string());
  EXPECT_EQ(fs::path(publisher.metricsPath()), folder.path / "plasma-display-3-1.prom");

  rig.http.pushDocument(test::document({{15, "Airport Central|10:05|2|Alpha,Beta"}}));
  rig.d().setDisplayType(3);
  publisher.notePageChange();
  rig.http.responses.clear();
  rig.http.pushFailure("HTTP 500");
  for (int i = 0; i < 2; ++i) {
    rig.d().startTimetableLoad();
    rig.loop.settle();
    publisher.notePageChange();
  }
  ASSERT_TRUE(publisher.write());
  auto m = parseExposition(readFile(publisher.metricsPath()));
  const StatusReport r = publisher.report();

  for (const auto& [name, sample] : m) {
    EXPECT_TRUE(sample.labels.starts_with("display=\"3-1\"")) << name << "{" << sample.labels << "}";
  }
  EXPECT_EQ(m["plasma_display_up"].value, "1");
  EXPECT_EQ(m["plasma_display_build_info"].labels,
            "display=\"3-1\",version=\"" PLASMA_VERSION "\",type=\"3\",screen=\"1\"");
  ASSERT_GT(r.lastGoodLoadWall, 0);
  EXPECT_EQ(m["plasma_display_last_good_load_timestamp_seconds"].value, std::to_string(r.lastGoodLoadWall));
  EXPECT_EQ(m["plasma_display_load_failures_in_a_row"].value, "2");
  EXPECT_EQ(m["plasma_display_loads_total"].value, "3");
  EXPECT_EQ(m["plasma_display_load_failures_total"].value, "2");
  EXPECT_EQ(m["plasma_display_page_changes_total"].value, "3");
  EXPECT_EQ(m["plasma_display_page"].labels, "display=\"3-1\",page=\"black\"");
  EXPECT_NEAR(std::stoll(m["plasma_display_start_time_seconds"].value), r.writtenWall - r.uptimeSeconds, 1);
  EXPECT_FALSE(fs::exists(publisher.metricsPath() + ".tmp"));
}

// Monitoring counts each change of the start time as a restart, so it must hold still for the
// whole run, however the wall clock's and the loop's seconds fall against each other.
TEST(Metrics, StartTimeHoldsStillWhileTheDisplayRuns) {
  TempFolder folder;
  test::Rig rig;
  rig.loop.advanceMs(1700);
  StatusPublisher publisher(rig.d(), "3-1", folder.path.string());
  const auto startTime = [&] {
    return parseExposition(prometheusText(publisher.report()))["plasma_display_start_time_seconds"].value;
  };
  const std::string first = startTime();
  EXPECT_NEAR(std::stoll(first), std::time(nullptr) - 1.7, 1);
  for (int step = 1; step <= 12; ++step) {
    rig.loop.advanceMs(300);
    ASSERT_EQ(startTime(), first) << "after " << 1700 + step * 300 << " ms of the loop's clock";
  }
}

TEST(Metrics, BeforeTheFirstLoadAndWithAnAwkwardName) {
  StatusReport r;
  r.instance = "a\"b\\c\nd";
  r.version = PLASMA_VERSION;
  r.page = "black";
  auto m = parseExposition(prometheusText(r));
  EXPECT_EQ(m["plasma_display_last_good_load_timestamp_seconds"].value, "0");
  EXPECT_TRUE(m["plasma_display_up"].labels.starts_with(R"(display="a\"b\\c\nd")")) << m["plasma_display_up"].labels;
}

}  // namespace
}  // namespace plasma
