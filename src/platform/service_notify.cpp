#include "platform/service_notify.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "support/log.h"

#ifdef PLASMA_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#else
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace plasma {

namespace {

constexpr std::int64_t kLongestPingUs = 10'000'000;

// A notification is a set of lines; a status text must stay one line.
std::string oneLine(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return out;
}

#ifndef PLASMA_HAVE_SYSTEMD
// The notification protocol without libsystemd: one datagram to the socket in $NOTIFY_SOCKET (a
// path, or an abstract name written with a leading '@').
int sendDatagram(const char* socketName, const std::string& message) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::size_t n = std::strlen(socketName);
  if (n == 0 || n >= sizeof addr.sun_path) return -EINVAL;
  std::memcpy(addr.sun_path, socketName, n);
  if (addr.sun_path[0] == '@') addr.sun_path[0] = '\0';
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -errno;
  const ssize_t sent = ::sendto(fd, message.data(), message.size(), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&addr),
                                static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + n));
  const int err = sent < 0 ? -errno : 1;
  ::close(fd);
  return err;
}

// The watchdog time in microseconds when it applies to this process, else 0.
std::int64_t watchdogUsFromEnvironment() {
  const char* usec = std::getenv("WATCHDOG_USEC");
  if (!usec || !*usec) return 0;
  char* end = nullptr;
  const long long v = std::strtoll(usec, &end, 10);
  if (*end != '\0' || v <= 0) return 0;
  if (const char* pid = std::getenv("WATCHDOG_PID"); pid && *pid) {
    if (std::strtoll(pid, nullptr, 10) != static_cast<long long>(::getpid())) return 0;
  }
  return v;
}
#endif

}  // namespace

ServiceNotifier::ServiceNotifier() {
  const char* socketName = std::getenv("NOTIFY_SOCKET");
  active_ = socketName && *socketName;
  if (!active_) return;
  std::int64_t watchdogUs = 0;
#ifdef PLASMA_HAVE_SYSTEMD
  std::uint64_t usec = 0;
  if (sd_watchdog_enabled(0, &usec) > 0) watchdogUs = static_cast<std::int64_t>(usec);
#else
  watchdogUs = watchdogUsFromEnvironment();
#endif
  if (watchdogUs > 0) pingUs_ = std::min(kLongestPingUs, std::max<std::int64_t>(watchdogUs / 2, 1000));
}

bool ServiceNotifier::send(const std::string& message) {
  if (!active_) return false;
#ifdef PLASMA_HAVE_SYSTEMD
  const int r = sd_notify(0, message.c_str());
#else
  const int r = sendDatagram(std::getenv("NOTIFY_SOCKET"), message);
#endif
  if (r > 0) return true;
  static bool reported = false;
  if (!reported) {
    reported = true;
    logLine(std::string("cannot notify the service manager at $NOTIFY_SOCKET: ") +
            (r < 0 ? std::strerror(-r) : "no socket"));
  }
  return false;
}

void ServiceNotifier::ready(const std::string& statusText) {
  send("READY=1\nSTATUS=" + oneLine(statusText));
}

void ServiceNotifier::watchdog() { send("WATCHDOG=1"); }

void ServiceNotifier::status(const std::string& text) { send("STATUS=" + oneLine(text)); }

void ServiceNotifier::stopping() { send("STOPPING=1"); }

}  // namespace plasma
