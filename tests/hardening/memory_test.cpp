// Memory under hostile bodies: a display fed an hour's loads of garbage, oversized and huge
// documents, with a good one in between, must hold no more memory at the end than after its first
// good load. PLASMA_SOAK_HOURS sets the hours of loads (120 an hour; default 1, which takes well
// under a minute because the loads run back to back instead of every 30 s).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>

#include "hostile_server.h"
#include "live_display.h"
#include "test_support/rig.h"

namespace plasma::hardening {
namespace {

long residentKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

int hours() {
  const char* v = std::getenv("PLASMA_SOAK_HOURS");
  const int h = v ? std::atoi(v) : 0;
  return h > 0 ? h : 1;
}

// The hostile server in a process of its own, so that its threads and buffers do not count as
// the display's memory.
class ServerProcess {
 public:
  explicit ServerProcess(const std::function<void(HostileServer&)>& install) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(fds[0]);
      HostileServer server;
      install(server);
      const int port = server.port();
      // A short write leaves the parent's read short, which it already treats as no server.
      if (::write(fds[1], &port, sizeof port) != sizeof port) ::_exit(1);
      while (true) ::pause();
    }
    ::close(fds[1]);
    if (::read(fds[0], &port_, sizeof port_) != sizeof port_) port_ = 0;
    ::close(fds[0]);
  }
  ~ServerProcess() {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  std::string base(const std::string& segment) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + segment;
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

TEST(HostileBodies, AnHourOfThemLeavesMemoryWhereTheFirstGoodLoadPutIt) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's quarantine holds freed memory";
#endif
  constexpr std::size_t kMiB = 1024 * 1024;
  const std::string good = test::document({{15, "Airport Terminal 1|10:05|2|Alpha,Beta,Gamma"}});
  // Within the cap and a valid document: a message of almost a mebibyte.
  const std::string huge = test::document({{9, "Notice"}, {10, std::string(kMiB - 4096, 'm')}});
  ServerProcess server([&](HostileServer& s) {
    s.on("good", [good](HostileServer::Connection& c, const std::string&) { c.sendResponse(200, good); });
    s.on("garbage", [](HostileServer::Connection& c, const std::string&) {
      static std::mt19937 random(7);
      std::string bytes(kMiB, '\0');
      for (char& b : bytes) b = static_cast<char>(random());
      c.sendResponse(200, bytes);
    });
    s.on("oversized", [](HostileServer::Connection& c, const std::string&) {
      c.sendResponse(200, "OK\n" + std::string(kMiB + 4096, '7'));
    });
    s.on("huge", [huge](HostileServer::Connection& c, const std::string&) { c.sendResponse(200, huge); });
  });
  const char* const rounds[] = {"garbage", "oversized", "huge", "good"};

  LiveDisplay live(CurlClientOptions{});
  live.loadFrom(server.base("good"));
  ASSERT_EQ(live.d->feed.failures, 0);
  live.runFor(1000);
  const long first = residentKiB();
  const int loads = hours() * 120;
  long peak = first;
  for (int i = 0; i < loads; ++i) {
    live.loadFrom(server.base(rounds[i % 4]));
    peak = std::max(peak, residentKiB());
  }
  live.loadFrom(server.base("good"));
  live.runFor(1000);
  const long last = residentKiB();
  std::printf("resident memory: %ld KiB after the first good load, %ld KiB after %d hostile loads (peak %ld)\n",
              first, last, loads, peak);
  EXPECT_EQ(live.d->feed.loads, loads + 2);
  EXPECT_LT(last - first, 5 * 1024) << "peak " << peak << " KiB";
}

}  // namespace
}  // namespace plasma::hardening
