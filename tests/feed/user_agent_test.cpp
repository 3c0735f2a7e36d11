// Every request names the display: the timetable server sees "plasma-display/VERSION (instance
// NAME)" on the first request and on each redirect, and a name from the environment can never add
// a header of its own.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/http_client.h"
#include "platform/user_agent.h"

namespace plasma {
namespace {

class AgentRecorder {
 public:
  AgentRecorder() {
    server_.Get("/first", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/second"); });
    server_.Get("/second", [this](const httplib::Request& req, httplib::Response& res) {
      record(req);
      res.set_content("OK\n", "text/plain");
    });
    server_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
      if (req.path == "/first") record(req);
      return httplib::Server::HandlerResponse::Unhandled;
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~AgentRecorder() {
    server_.stop();
    thread_.join();
  }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  std::vector<std::string> agents() {
    std::lock_guard<std::mutex> lock(mutex_);
    return agents_;
  }
  bool sawInjectedHeader() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sawInjected_;
  }

 private:
  void record(const httplib::Request& req) {
    std::lock_guard<std::mutex> lock(mutex_);
    agents_.push_back(req.get_header_value("User-Agent"));
    if (req.has_header("X-Injected")) sawInjected_ = true;
  }
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> agents_;
  bool sawInjected_ = false;
};

TEST(UserAgent, EveryRequestAndEveryRedirectNamesTheDisplay) {
  AgentRecorder server;
  CurlClientOptions options;
  options.userAgent = userAgentText("5.0.0", "3-1");
  auto client = makeCurlHttpClient(options);
  const HttpResponse r = client->get(server.url("/first"));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(server.agents(), (std::vector<std::string>{"plasma-display/5.0.0 (instance 3-1)",
                                                       "plasma-display/5.0.0 (instance 3-1)"}));
}

TEST(UserAgent, AHostileInstanceNameStaysInsideTheHeader) {
  EXPECT_EQ(userAgentText("5.0.0", ""), "plasma-display/5.0.0 (instance default)");
  const std::string hostile = "3-1\r\nX-Injected: yes";
  const std::string agent = userAgentText("5.0.0", hostile);
  EXPECT_EQ(agent.find_first_of("\r\n"), std::string::npos) << agent;

  AgentRecorder server;
  CurlClientOptions options;
  options.userAgent = agent;
  ASSERT_TRUE(makeCurlHttpClient(options)->get(server.url("/second")).ok);
  EXPECT_FALSE(server.sawInjectedHeader());
  ASSERT_EQ(server.agents().size(), 1u);
  EXPECT_EQ(server.agents()[0], agent);
}

}  // namespace
}  // namespace plasma
