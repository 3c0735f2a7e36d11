// The shipped Prometheus rules against the real chain: a headless display writes its metrics file,
// a link to it sits in node_exporter's textfile folder as an operator sets it up, Debian's
// node_exporter serves it and Debian's Prometheus scrapes it every second with the rules loaded.
// The test reads what Prometheus made of it through its HTTP API while the timetable server goes
// down and then the display is stopped. Every program listens on 127.0.0.1 on a port of its own
// and keeps its data in a temporary folder; the machine's own services are not touched. About
// 40 s: the display loads its timetable every 30 s, so its first failed load takes that long.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <memory>
#include <regex>

#include "e2e/e2e_support.h"
#include "platform/http_client.h"

namespace plasma::e2e {
namespace {

const fs::path kNodeExporter = "/usr/bin/prometheus-node-exporter";
const fs::path kPrometheus = "/usr/bin/prometheus";

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A port nobody listens on now. The programs take a port number only, so there is a moment
// between closing this socket and their binding it; a clash shows as a program that exits.
int freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    if (fd >= 0) ::close(fd);
    return 0;
  }
  ::close(fd);
  return ntohs(a.sin_port);
}

std::string urlEncode(const std::string& s) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

// The alerts of /api/v1/alerts, one JSON object each, as text: each begins with its labels.
std::vector<std::string> alertObjects(const std::string& body) {
  std::vector<std::string> alerts;
  const std::string start = "{\"labels\":";
  for (auto at = body.find(start); at != std::string::npos;) {
    const auto next = body.find(start, at + 1);
    alerts.push_back(body.substr(at, next == std::string::npos ? std::string::npos : next - at));
    at = next;
  }
  return alerts;
}

class Monitoring : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const fs::path& program : {kNodeExporter, kPrometheus}) {
      ASSERT_TRUE(fs::exists(program)) << program << " is missing: scripts/install-deps installs Debian's "
                                       << "prometheus and prometheus-node-exporter";
    }
    runtime_ = tmp_.path / "run";
    textfiles_ = tmp_.path / "textfile";
    fs::create_directories(runtime_);
    fs::permissions(runtime_, fs::perms::owner_all, fs::perm_options::replace);
    fs::create_directories(textfiles_);
    metrics_ = runtime_ / "plasma-display" / "plasma-display-1-0.prom";
    // As the README has it: a link to the display's file, made once; it dangles until the display
    // first writes and again once the display is stopped.
    fs::create_symlink(metrics_, textfiles_ / metrics_.filename());

    sim_ = std::make_unique<Sim>(tmp_.path / "sim", 0);
    ASSERT_FALSE(sim_->url.empty()) << sim_->child.err();

    nodePort_ = freePort();
    node_ = std::make_unique<Child>(
        std::vector<std::string>{kNodeExporter.string(), "--web.listen-address=127.0.0.1:" + std::to_string(nodePort_),
                                 "--collector.disable-defaults", "--collector.textfile",
                                 "--collector.textfile.directory=" + textfiles_.string()},
        cleanEnvironment(), tmp_.path / "node-exporter");
    target_ = "127.0.0.1:" + std::to_string(nodePort_);

    promPort_ = freePort();
    const fs::path config = tmp_.path / "prometheus.yml";
    std::ofstream(config) << "global:\n"
                             "  scrape_interval: 1s\n"
                             "  evaluation_interval: 1s\n"
                             "rule_files:\n"
                             "  - " << (sourceDir() / "packaging/prometheus/plasma-display.rules.yml").string() << "\n"
                             "scrape_configs:\n"
                             "  - job_name: node\n"
                             "    static_configs:\n"
                             "      - targets: ['" << target_ << "']\n";
    prometheus_ = std::make_unique<Child>(
        std::vector<std::string>{kPrometheus.string(), "--config.file=" + config.string(),
                                 "--storage.tsdb.path=" + (tmp_.path / "data").string(),
                                 "--web.listen-address=127.0.0.1:" + std::to_string(promPort_)},
        cleanEnvironment(), tmp_.path / "prometheus");
    api_ = "http://127.0.0.1:" + std::to_string(promPort_);
    ASSERT_TRUE(eventually([&] { return http_->get(api_ + "/-/ready").ok || !prometheus_->running(); },
                           milliseconds(20000)) &&
                prometheus_->running())
        << "Prometheus did not come up:\n" << prometheus_->err();
    ASSERT_TRUE(node_->running()) << "node_exporter did not start:\n" << node_->err();

    Environment env = cleanEnvironment();
    env["PLASMA_HEADLESS"] = "320x180";
    env["PLASMA_INSTANCE"] = "1-0";
    env["XDG_RUNTIME_DIR"] = runtime_.string();
    display_ = std::make_unique<Child>(
        std::vector<std::string>{(binDir() / "plasma-display").string(), "1", "0", sim_->url}, env,
        tmp_.path / "display");
  }

  void TearDown() override {
    for (Child* c : {display_.get(), prometheus_.get(), node_.get(), sim_ ? &sim_->child : nullptr}) {
      if (!c) continue;
      c->signal(SIGTERM);
      EXPECT_TRUE(c->wait(milliseconds(10000)).has_value()) << "a program did not end on SIGTERM";
    }
  }

  // The result of an instant query, as Prometheus's JSON.
  std::string query(const std::string& promql) {
    return http_->get(api_ + "/api/v1/query?query=" + urlEncode(promql)).body;
  }
  bool hasResult(const std::string& promql) { return contains(query(promql), "\"metric\":"); }
  // The alert of that name for the test's display, in the given state.
  bool alertIs(const std::string& name, const std::string& state) {
    for (const std::string& a : alertObjects(http_->get(api_ + "/api/v1/alerts").body)) {
      if (contains(a, "\"alertname\":\"" + name + "\"") && contains(a, "\"display\":\"1-0\"") &&
          contains(a, "\"instance\":\"" + target_ + "\"") && contains(a, "\"state\":\"" + state + "\"")) {
        lastAlert_ = a;
        return true;
      }
    }
    return false;
  }
  std::string logs() {
    return "\n--- display:\n" + display_->err() + "\n--- node_exporter:\n" + node_->err() +
           "\n--- Prometheus alerts: " + http_->get(api_ + "/api/v1/alerts").body;
  }

  TempFolder tmp_;
  fs::path runtime_, textfiles_, metrics_;
  std::unique_ptr<Sim> sim_;
  std::unique_ptr<Child> node_, prometheus_, display_;
  int nodePort_ = 0, promPort_ = 0;
  std::string target_, api_, lastAlert_;
  std::unique_ptr<HttpClient> http_ = [] {
    CurlClientOptions o;
    o.connectTimeoutMs = 1000;
    o.totalTimeoutMs = 5000;
    return makeCurlHttpClient(o);
  }();
};

TEST_F(Monitoring, TheDisplayItsFeedFailureAndItsStopReachTheAlerts) {
  // Up, named by its labels, with the recorded series the alerts join on.
  ASSERT_TRUE(eventually([&] { return hasResult("plasma_display_up{display=\"1-0\",job=\"node\"} == 1"); },
                         milliseconds(20000)))
      << logs();
  const std::string info = query("plasma_display_build_info{display=\"1-0\"}");
  for (const std::string& label : std::vector<std::string>{"\"version\":\"" PLASMA_VERSION "\"", "\"type\":\"1\"",
                                                          "\"screen\":\"0\"", "\"instance\":\"" + target_ + "\""}) {
    EXPECT_TRUE(contains(info, label)) << label << " not in " << info;
  }
  EXPECT_TRUE(eventually(
      [&] {
        return hasResult("changes(plasma_display:metrics_file_mtime_seconds{display=\"1-0\",file=\"" +
                         (textfiles_ / metrics_.filename()).string() + "\"}[10s]) > 0");
      },
      milliseconds(15000)))
      << "the file's time, read through the link, is not rewritten: "
      << query("plasma_display:metrics_file_mtime_seconds");
  EXPECT_TRUE(hasResult("plasma_display:seconds_since_last_good_load{display=\"1-0\"} < 60"))
      << query("plasma_display:seconds_since_last_good_load");
  EXPECT_FALSE(alertIs("PlasmaDisplayLoadsFailing", "pending")) << lastAlert_;

  // The server fails: the next load (within 30 s) fails, and the alert is pending at once; it
  // fires only after two minutes of failures, longer than this test.
  sim_->child.signal(SIGTERM);
  ASSERT_TRUE(sim_->child.wait(milliseconds(5000)).has_value());
  ASSERT_TRUE(eventually([&] { return alertIs("PlasmaDisplayLoadsFailing", "pending"); }, milliseconds(45000)))
      << logs();
  EXPECT_TRUE(std::regex_search(lastAlert_, std::regex("\"summary\":\"Plasma display 1-0 on " + target_ +
                                                        ": timetable loads failing \\([0-9]+ in a row\\)\"")))
      << lastAlert_;

  // Its start time held still through some twenty rewrites of the file: no restart to count.
  EXPECT_FALSE(hasResult("changes(plasma_display_start_time_seconds{display=\"1-0\"}[1m]) > 0"))
      << query("plasma_display_start_time_seconds[1m]");

  // Stopped as its unit stops it: the program ends and the unit removes the file. The link
  // dangles, node_exporter says so, and the display's series vanish.
  display_->signal(SIGTERM);
  ASSERT_EQ(display_->wait(milliseconds(10000)), 0) << display_->err();
  ASSERT_TRUE(fs::remove(metrics_));
  EXPECT_TRUE(eventually([&] { return alertIs("PlasmaDisplayDown", "pending"); }, milliseconds(15000))) << logs();
  EXPECT_TRUE(contains(lastAlert_, "\"summary\":\"Plasma display 1-0 on " + target_ + " is down\"")) << lastAlert_;
  EXPECT_FALSE(hasResult("plasma_display_up{display=\"1-0\"}")) << query("plasma_display_up");
  EXPECT_TRUE(hasResult("node_textfile_scrape_error{job=\"node\"} == 1")) << query("node_textfile_scrape_error");
  EXPECT_FALSE(alertIs("PlasmaDisplayLoadsFailing", "pending")) << lastAlert_;
  EXPECT_FALSE(alertIs("PlasmaDisplayMetricsStale", "pending")) << lastAlert_;
}

}  // namespace
}  // namespace plasma::e2e
