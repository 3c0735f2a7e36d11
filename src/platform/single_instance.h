#pragma once
#include <functional>
#include <memory>
#include <string>

namespace plasma {

// Keeps one running display per user and instance name. The first process holds an flock on a
// lock file and listens on a Unix socket beside it; a second process finds the lock taken, asks
// the first over the socket to come to the front, and ends. The kernel drops the lock when a
// process dies, so a crashed instance never blocks the next start; its socket file is replaced.
class SingleInstance {
 public:
  enum class Role { First, Second };

  // instanceName separates displays that share a user (one per screen); "" means the default.
  explicit SingleInstance(const std::string& instanceName);
  ~SingleInstance();

  Role role() const { return role_; }
  // Second: ask the running instance to raise its window. True when it answered.
  bool activateRunning();
  // First: the listening socket to watch, and what to do on a request.
  int listenFd() const { return listenFd_; }
  void acceptRequests(const std::function<void()>& onRaise);
  const std::string& lockPath() const { return lockPath_; }

 private:
  Role role_ = Role::First;
  int lockFd_ = -1;
  int listenFd_ = -1;
  std::string lockPath_;
  std::string socketPath_;
};

// The folder for the lock, socket and status: $XDG_RUNTIME_DIR/plasma-display, or
// /tmp/plasma-display-<uid> when there is no runtime folder.
std::string runtimeFolder();

}  // namespace plasma
