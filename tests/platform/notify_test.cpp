// The service manager's side of the notification protocol, played by a datagram socket the test
// binds and names in $NOTIFY_SOCKET.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/service_notify.h"

namespace plasma {
namespace {

// Sets environment variables for one test and puts the old values back afterwards.
class ScopedEnvironment {
 public:
  void set(const char* name, const std::optional<std::string>& value) {
    const char* old = std::getenv(name);
    saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
    apply(name, value);
  }
  ~ScopedEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) apply(it->first.c_str(), it->second);
  }

 private:
  static void apply(const char* name, const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A fake service manager: a bound datagram socket, path-named or abstract.
class FakeManager {
 public:
  explicit FakeManager(bool abstract) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string unique = "plasma-notify-test-" + std::to_string(::getpid());
    socklen_t len;
    if (abstract) {
      name_ = "@" + unique;
      std::memcpy(addr.sun_path + 1, unique.data(), unique.size());
      len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + unique.size());
    } else {
      char dir[] = "/tmp/plasma-notify-XXXXXX";
      dir_ = ::mkdtemp(dir);
      name_ = dir_ + "/notify";
      std::memcpy(addr.sun_path, name_.c_str(), name_.size() + 1);
      len = sizeof addr;
    }
    bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) == 0;
    timeval tv{2, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~FakeManager() {
    ::close(fd_);
    if (!dir_.empty()) {
      ::unlink(name_.c_str());
      ::rmdir(dir_.c_str());
    }
  }
  bool bound() const { return bound_; }
  const std::string& name() const { return name_; }
  // The next datagram, or "" after two seconds without one.
  std::string receive() {
    char buf[4096];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "";
  }

 private:
  int fd_ = -1;
  bool bound_ = false;
  std::string name_;
  std::string dir_;
};

class NotifyTest : public ::testing::TestWithParam<bool> {};

TEST_P(NotifyTest, ManagerReceivesReadyStatusWatchdogAndStopping) {
  FakeManager manager(GetParam());
  ASSERT_TRUE(manager.bound()) << manager.name();
  ScopedEnvironment env;
  env.set("NOTIFY_SOCKET", manager.name());
  env.set("WATCHDOG_USEC", "30000000");
  env.set("WATCHDOG_PID", std::nullopt);

  ServiceNotifier notifier;
  ASSERT_TRUE(notifier.active());
  EXPECT_EQ(notifier.watchdogPingUs(), 10'000'000);

  notifier.ready("type 3 on screen 0: type3\nsecond line");
  EXPECT_EQ(manager.receive(), "READY=1\nSTATUS=type 3 on screen 0: type3 second line");
  notifier.watchdog();
  EXPECT_EQ(manager.receive(), "WATCHDOG=1");
  notifier.status("board");
  EXPECT_EQ(manager.receive(), "STATUS=board");
  notifier.stopping();
  EXPECT_EQ(manager.receive(), "STOPPING=1");
}

INSTANTIATE_TEST_SUITE_P(PathAndAbstractSockets, NotifyTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Abstract" : "Path"; });

TEST(NotifyWatchdog, PingIntervalFollowsTheManagersWatchdog) {
  FakeManager manager(false);
  ASSERT_TRUE(manager.bound());
  const std::string ownPid = std::to_string(::getpid());
  struct Case {
    std::optional<std::string> usec, pid;
    std::int64_t pingUs;
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt, 0},          // no watchdog: no pings
      {"3000000", std::nullopt, 1'500'000},     // half the watchdog time
      {"60000000", std::nullopt, 10'000'000},   // but at most every 10 s
      {"30000000", ownPid, 10'000'000},         // the watchdog is meant for this process
      {"30000000", "1", 0},                     // ... or for another one
      {"many", std::nullopt, 0},                // nonsense is no watchdog
  };
  for (const Case& c : cases) {
    ScopedEnvironment env;
    env.set("NOTIFY_SOCKET", manager.name());
    env.set("WATCHDOG_USEC", c.usec);
    env.set("WATCHDOG_PID", c.pid);
    ServiceNotifier notifier;
    EXPECT_EQ(notifier.watchdogPingUs(), c.pingUs) << c.usec.value_or("unset") << " pid " << c.pid.value_or("unset");
  }
}

TEST(NotifyWithoutManager, EverythingIsANoOp) {
  ScopedEnvironment env;
  env.set("NOTIFY_SOCKET", std::nullopt);
  env.set("WATCHDOG_USEC", "30000000");
  ServiceNotifier notifier;
  EXPECT_FALSE(notifier.active());
  EXPECT_EQ(notifier.watchdogPingUs(), 0);
  EXPECT_FALSE(notifier.send("READY=1"));
}

TEST(NotifyWithoutManager, AManagerThatIsGoneIsReportedNotFatal) {
  ScopedEnvironment env;
  env.set("NOTIFY_SOCKET", "/nonexistent/plasma-notify");
  ServiceNotifier notifier;
  EXPECT_TRUE(notifier.active());
  EXPECT_FALSE(notifier.send("WATCHDOG=1"));
}

}  // namespace
}  // namespace plasma
