// The real libcurl client and the off-thread fetch against HTTP servers inside the test program.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "test_support/rig.h"

namespace plasma {
namespace {

using namespace std::chrono_literals;

// A server on 127.0.0.1 and a free port, with answers that misbehave in every way a timetable
// server can. Handlers that hold a connection open wait for release(), so teardown is quick.
class TestServer {
 public:
  TestServer() {
    const std::string doc = test::document({{15, "Airport Terminal 1|10:05|1|Linden Cross"}});
    server_.Get("/good/tabs/plasmatimetable.php", [doc](const httplib::Request&, httplib::Response& res) {
      res.set_content(doc, "text/plain");
    });
    server_.Get("/status500/tabs/plasmatimetable.php", [](const httplib::Request&, httplib::Response& res) {
      res.status = 500;
      res.set_content("Internal Server Error\n", "text/plain");
    });
    // Statuses that come with a body a careless client would take for the document.
    server_.Get(R"(/status/(\d+))", [doc](const httplib::Request& req, httplib::Response& res) {
      res.status = std::stoi(req.matches[1]);
      res.set_content(doc, "text/plain");
    });
    server_.Get("/empty", [](const httplib::Request&, httplib::Response& res) { res.set_content("", "text/plain"); });
    server_.Get("/slow/tabs/plasmatimetable.php", [this, doc](const httplib::Request&, httplib::Response& res) {
      waitForRelease(5s);
      res.set_content(doc, "text/plain");
    });
    server_.Get("/trickle", [this](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("text/plain", [this](std::size_t, httplib::DataSink& sink) {
        if (waitForRelease(100ms)) return false;
        return sink.write("x", 1);
      });
    });
    server_.Get("/cutoff", [doc](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(doc.size(), "text/plain", [doc](std::size_t, std::size_t, httplib::DataSink& sink) {
        sink.write(doc.data(), doc.size() / 2);
        return false;
      });
    });
    server_.Get(R"(/bytes/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content(std::string(std::stoul(req.matches[1]), 'x'), "text/plain");
    });
    server_.Get("/chunked-big", [](const httplib::Request&, httplib::Response& res) {
      // No length announced: the cap has to hold while the body streams in.
      res.set_chunked_content_provider("text/plain", [](std::size_t offset, httplib::DataSink& sink) {
        if (offset >= 4 * 1024 * 1024) {
          sink.done();
          return true;
        }
        const std::string chunk(64 * 1024, 'x');
        return sink.write(chunk.data(), chunk.size());
      });
    });
    server_.Get("/redirect/tabs/plasmatimetable.php", [](const httplib::Request&, httplib::Response& res) {
      res.set_redirect("/good/tabs/plasmatimetable.php");
    });
    server_.Get("/to-file", [](const httplib::Request&, httplib::Response& res) {
      res.set_redirect("file:///etc/passwd");
    });
    server_.Get("/to-ftp", [this](const httplib::Request&, httplib::Response& res) {
      res.set_redirect("ftp://127.0.0.1:" + std::to_string(port_) + "/x");
    });
    server_.Get(R"(/hop/(\d))", [](const httplib::Request& req, httplib::Response& res) {
      const int n = std::stoi(req.matches[1]);
      if (n == 0) res.set_content(test::document(), "text/plain");
      else res.set_redirect("/hop/" + std::to_string(n - 1));
    });
    server_.Get("/cp1252/tabs/plasmatimetable.php", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(test::document({{15, "Z\xfcrich|10:05|1|Malm\xf6"}}), "text/plain");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(1ms);
  }

  ~TestServer() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      released_ = true;
    }
    wake_.notify_all();
    server_.stop();
    thread_.join();
  }

  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

 private:
  // True once the test is over.
  bool waitForRelease(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return wake_.wait_for(lock, limit, [this] { return released_; });
  }

  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool released_ = false;
};

// A port on 127.0.0.1 that nobody listens on.
int closedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

CurlClientOptions shortTimeouts() {
  CurlClientOptions o;
  o.connectTimeoutMs = 1000;
  o.totalTimeoutMs = 1000;
  return o;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(CurlHttpClient, AnswersAndFailures) {
  TestServer server;
  auto client = makeCurlHttpClient(shortTimeouts());
  struct Case {
    const char* name;
    std::string url;
    bool ok;
    const char* error;  // a part of the reason
  };
  const Case cases[] = {
      {"good document", server.url("/good/tabs/plasmatimetable.php?Circuit=3"), true, ""},
      {"server error", server.url("/status500/tabs/plasmatimetable.php"), false, "HTTP 500"},
      {"not found", server.url("/nothing/here"), false, "HTTP 404"},
      {"empty body", server.url("/empty"), false, "empty body"},
      {"203 with the document", server.url("/status/203"), true, ""},
      {"302 without a Location", server.url("/status/302"), false, "HTTP 302 not followed"},
      {"300 with a body", server.url("/status/300"), false, "HTTP 300"},
      {"399 with a body", server.url("/status/399"), false, "HTTP 399"},
      {"cut-off body", server.url("/cutoff"), false, "transfer closed with"},
      {"exactly 1 MiB", server.url("/bytes/1048576"), true, ""},
      {"over 1 MiB", server.url("/bytes/1048577"), false, "body larger than 1 MiB"},
      {"over 1 MiB without a length", server.url("/chunked-big"), false, "body larger than 1 MiB"},
      {"redirect followed", server.url("/redirect/tabs/plasmatimetable.php"), true, ""},
      {"three redirects", server.url("/hop/3"), true, ""},
      {"four redirects", server.url("/hop/4"), false, "redirects"},
      {"redirect to a local file", server.url("/to-file"), false, "file"},
      {"redirect to ftp", server.url("/to-ftp"), false, "ftp"},
      {"file base URL", "file:///etc/passwd", false, "file"},
      {"refused connection", "http://127.0.0.1:" + std::to_string(closedPort()) + "/", false,
       "Couldn't connect"},
  };
  for (const Case& c : cases) {
    const HttpResponse r = client->get(c.url);
    EXPECT_EQ(r.ok, c.ok) << c.name << ": " << r.error;
    EXPECT_NE(r.error.find(c.error), std::string::npos) << c.name << ": " << r.error;
    EXPECT_EQ(r.body.empty(), !c.ok) << c.name;  // a failure carries no body
  }
  EXPECT_EQ(client->get(server.url("/redirect/tabs/plasmatimetable.php")).body.substr(0, 3), "OK\n");
  EXPECT_EQ(client->get(server.url("/status500/tabs/plasmatimetable.php")).status, 500);
}

TEST(CurlHttpClient, TheTotalTimeOutEndsSlowAndTricklingAnswers) {
  TestServer server;
  auto client = makeCurlHttpClient(shortTimeouts());
  for (const char* path : {"/slow/tabs/plasmatimetable.php", "/trickle"}) {
    const auto start = std::chrono::steady_clock::now();
    const HttpResponse r = client->get(server.url(path));
    EXPECT_FALSE(r.ok) << path;
    EXPECT_NE(r.error.find("timed out"), std::string::npos) << path << ": " << r.error;
    EXPECT_LT(secondsSince(start), 3.0) << path;
  }
}

// A Display on the real loop with the real client: the fetch runs on the worker thread while the
// window thread goes on.
struct LiveDisplay {
  explicit LiveDisplay(const CurlClientOptions& options)
      : window(1360, 770),
        client(makeCurlHttpClient(options)),
        images(makePictureFileLoader()),
        display(window, loop, *client, *images, FetchMode::WorkerThread, screenCycle()) {
    display.loadStep();
    display.timerDisplay.setEnabled(false);
    display.timerDatabase.setEnabled(false);
  }

  // Starts one timer load and runs the loop until it is applied; counts 50 ms ticks meanwhile.
  int loadAndCountTicks(const std::string& baseUrl) {
    display.serverBaseUrl = baseUrl;
    int ticks = 0;
    const long before = display.feed.loads;
    loop.createTimer("probe", 50, true, [&] {
      ++ticks;
      if (display.feed.loads > before) loop.quit();
    });
    loop.createTimer("limit", 8000, true, [&] { loop.quit(); });
    display.startTimetableLoad();
    loop.run();
    return ticks;
  }

  RealEventLoop loop;
  HeadlessWindow window;
  std::unique_ptr<HttpClient> client;
  std::unique_ptr<ImageLoader> images;
  Display display;
};

TEST(FetchOffTheWindowThread, AGoodLoadArrivesAndIsApplied) {
  TestServer server;
  LiveDisplay live(shortTimeouts());
  live.display.displayType = 3;
  live.loadAndCountTicks(server.url("/good"));
  EXPECT_EQ(live.display.feed.loads, 1);
  EXPECT_EQ(live.display.feed.failures, 0);
  ASSERT_EQ(live.display.store.mainDepartureCount, 1);
  EXPECT_EQ(live.display.store.mainDepartures[0].destination, "Airport Terminal 1");
}

TEST(FetchOffTheWindowThread, TheWindowThreadKeepsTickingThroughATimeOut) {
  TestServer server;
  LiveDisplay live(shortTimeouts());
  testing::internal::CaptureStderr();
  const auto start = std::chrono::steady_clock::now();
  const int ticks = live.loadAndCountTicks(server.url("/slow"));
  const double seconds = secondsSince(start);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(live.display.feed.failures, 1);
  EXPECT_NE(live.display.feed.lastFailure.find("timed out"), std::string::npos) << live.display.feed.lastFailure;
  EXPECT_GE(seconds, 0.9);
  EXPECT_GE(ticks, 10);  // about 20 ticks of 50 ms during the 1 s fetch
  EXPECT_NE(log.find(server.url("/slow/tabs/plasmatimetable.php?Circuit=0")), std::string::npos) << log;
  EXPECT_EQ(live.display.currentPage(), PageName::Black);
}

TEST(FetchOffTheWindowThread, AWindows1252DocumentIsReadAsSuch) {
  TestServer server;
  LiveDisplay live(shortTimeouts());
  live.loadAndCountTicks(server.url("/cp1252"));
  ASSERT_EQ(live.display.store.mainDepartureCount, 1);
  EXPECT_EQ(live.display.store.mainDepartures[0].destination, "Zürich");
  EXPECT_EQ(live.display.store.mainDepartures[0].stops, "Malmö");
}

}  // namespace
}  // namespace plasma
