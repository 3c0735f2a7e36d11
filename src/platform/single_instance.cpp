#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"
#include "support/log.h"

namespace plasma {

std::string runtimeFolder() {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  std::string dir = (xdg && *xdg) ? std::string(xdg) + "/plasma-display"
                                  : "/tmp/plasma-display-" + std::to_string(::getuid());
  ::mkdir(dir.c_str(), 0700);
  return dir;
}

namespace {
bool socketAddress(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

SingleInstance::SingleInstance(const std::string& instanceName) {
  const std::string base = runtimeFolder() + "/" + safeInstanceName(instanceName);
  lockPath_ = base + ".lock";
  socketPath_ = base + ".sock";
  lockFd_ = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd_ < 0) {
    logLine("cannot open the instance lock " + lockPath_ + ": " + std::strerror(errno) +
            "; starting without the single-instance check");
    return;
  }
  if (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
    role_ = Role::Second;
    return;
  }
  // We hold the lock, so any socket file left is a dead instance's.
  ::unlink(socketPath_.c_str());
  sockaddr_un addr;
  if (!socketAddress(socketPath_, addr)) return;
  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listenFd_, 4) != 0) {
    logLine("cannot listen on " + socketPath_ + ": " + std::strerror(errno));
    if (listenFd_ >= 0) ::close(listenFd_);
    listenFd_ = -1;
  }
}

SingleInstance::~SingleInstance() {
  if (listenFd_ >= 0) {
    ::close(listenFd_);
    ::unlink(socketPath_.c_str());
  }
  if (lockFd_ >= 0) ::close(lockFd_);
}

bool SingleInstance::activateRunning() {
  sockaddr_un addr;
  if (!socketAddress(socketPath_, addr)) return false;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  // The running instance acts on the connection itself and may close it before the request
  // arrives: a failed send is no failure, and must not raise SIGPIPE.
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  if (ok) (void)::send(fd, "raise\n", 6, MSG_NOSIGNAL);
  ::close(fd);
  return ok;
}

void SingleInstance::acceptRequests(const std::function<void()>& onRaise) {
  while (true) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    char buf[16];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    // A request may arrive before its bytes; any connection means "come to the front".
    (void)n;
    onRaise();
  }
}

}  // namespace plasma
