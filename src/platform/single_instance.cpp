#include "platform/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"
#include "support/log.h"

namespace plasma {

namespace {

bool socketAddress(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

std::int64_t nowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

SingleInstance::SingleInstance(PrivateFolder& folder, const std::string& instanceName)
    : folder_(folder),
      lockName_(safeInstanceName(instanceName) + ".lock"),
      socketName_(safeInstanceName(instanceName) + ".sock"),
      lockPath_(folder.path() + "/" + lockName_) {
  take();
}

SingleInstance::~SingleInstance() { release(); }

void SingleInstance::take() {
  role_ = Role::First;
  if (!folder_.usable()) return;
  const int dir = folder_.fd();
  lockFd_ = ::openat(dir, lockName_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  struct stat st;
  if (lockFd_ >= 0 && (::fstat(lockFd_, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(lockFd_);
    lockFd_ = -1;
    errno = EINVAL;
  }
  if (lockFd_ < 0) {
    logLine("cannot open the instance lock " + lockPath_ + ": " + std::strerror(errno) +
            "; starting without the single-instance check");
    return;
  }
  if (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
    role_ = Role::Second;
    return;
  }
  // The pid in the lock tells a second start (and an operator) who holds it.
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(lockFd_, 0) != 0 || ::pwrite(lockFd_, pid.data(), pid.size(), 0) < 0) {
    // Only informative.
  }
  // We hold the lock, so any socket file left is a dead instance's.
  ::unlinkat(dir, socketName_.c_str(), 0);
  sockaddr_un addr;
  if (!socketAddress(folder_.viaDescriptor(socketName_), addr)) return;
  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listenFd_, 4) != 0) {
    logLine("cannot listen on " + folder_.path() + "/" + socketName_ + ": " + std::strerror(errno));
    if (listenFd_ >= 0) ::close(listenFd_);
    listenFd_ = -1;
  }
}

void SingleInstance::release() {
  if (listenFd_ >= 0) {
    ::close(listenFd_);
    if (folder_.usable()) ::unlinkat(folder_.fd(), socketName_.c_str(), 0);
  }
  listenFd_ = -1;
  if (lockFd_ >= 0) ::close(lockFd_);
  lockFd_ = -1;
}

bool SingleInstance::reclaimIfLost() {
  if (role_ != Role::First || lockFd_ < 0) return false;
  struct stat held, named;
  const bool same = folder_.usable() && ::fstat(lockFd_, &held) == 0 &&
                    ::fstatat(folder_.fd(), lockName_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                    held.st_dev == named.st_dev && held.st_ino == named.st_ino;
  if (same && !folder_.reopenIfGone()) return false;
  // The old socket file may be gone with the folder; closing it here would unlink a new one.
  if (listenFd_ >= 0) ::close(listenFd_);
  listenFd_ = -1;
  ::close(lockFd_);
  lockFd_ = -1;
  folder_.reopenIfGone();
  if (!folder_.usable()) {
    logLine(folder_.problem() + "; the instance lock is lost");
    return true;
  }
  take();
  if (role_ == Role::Second) {
    logLine("the instance lock " + lockPath_ + " was removed and another display took it");
  } else {
    logLine("the instance lock " + lockPath_ + " was removed; taken again");
  }
  return true;
}

int SingleInstance::holderPid() const {
  if (lockFd_ < 0) return 0;
  char buf[24] = {};
  const ssize_t n = ::pread(lockFd_, buf, sizeof buf - 1, 0);
  return n > 0 ? std::atoi(buf) : 0;
}

SingleInstance::Answer SingleInstance::activateRunning(int timeoutMs) {
  sockaddr_un addr;
  if (!folder_.usable() || !socketAddress(folder_.viaDescriptor(socketName_), addr)) return Answer::Unreachable;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return Answer::Unreachable;
  const std::int64_t end = nowMs() + timeoutMs;
  // A full queue (an instance that stopped accepting) makes connect fail with EAGAIN rather than
  // wait: try again until the time is up.
  int rc = -1;
  while ((rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr)) != 0 && errno == EAGAIN &&
         nowMs() < end) {
    ::usleep(20000);
  }
  if (rc != 0) {
    const bool silent = errno == EAGAIN;
    ::close(fd);
    return silent ? Answer::Silent : Answer::Unreachable;
  }
  // The running instance acts on the connection itself and may close it before the request
  // arrives: a failed send is no failure, and must not raise SIGPIPE.
  (void)::send(fd, "raise\n", 6, MSG_NOSIGNAL);
  Answer answer = Answer::Silent;
  while (true) {
    const std::int64_t left = end - nowMs();
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buf[8];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    // An answer, or a close without one: an instance that closes is alive and acting.
    answer = Answer::Raised;
    break;
  }
  ::close(fd);
  return answer;
}

void SingleInstance::acceptRequests(const std::function<void()>& onRaise) {
  while (true) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    char buf[16];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    // A request may arrive before its bytes; any connection means "come to the front".
    (void)n;
    onRaise();
    (void)::send(fd, "ok\n", 3, MSG_NOSIGNAL | MSG_DONTWAIT);
    ::close(fd);
  }
}

}  // namespace plasma
