#pragma once
#include <functional>
#include <memory>
#include <string>

#include "platform/private_folder.h"

namespace plasma {

// Keeps one running display per user and instance name. The first process holds an flock on a
// lock file and listens on a Unix socket beside it; a second process finds the lock taken, asks
// the first over the socket to come to the front, waits about a second for its answer, and ends.
// The kernel drops the lock when a process dies, so a crashed instance never blocks the next
// start; its socket file is replaced. Without a usable folder there is no check at all.
class SingleInstance {
 public:
  enum class Role { First, Second };
  // What a second start learned from the running instance.
  enum class Answer { Raised, Silent, Unreachable };

  // instanceName separates displays that share a user (one per screen); "" means the default.
  SingleInstance(PrivateFolder& folder, const std::string& instanceName);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  Role role() const { return role_; }
  // Second: ask the running instance to raise its window, waiting at most timeoutMs in all.
  Answer activateRunning(int timeoutMs = 1000);
  // Second: the pid the running instance wrote into the lock, or 0.
  int holderPid() const;
  // First: the listening socket to watch, and what to do on a request.
  int listenFd() const { return listenFd_; }
  void acceptRequests(const std::function<void()>& onRaise);
  // First: when the folder was removed or replaced under the running display, take the lock and
  // the socket again in a new one, so that a later start still finds this instance. True when it
  // had to; the listening socket may then have changed.
  bool reclaimIfLost();
  const std::string& lockPath() const { return lockPath_; }

 private:
  void take();
  void release();
  PrivateFolder& folder_;
  std::string lockName_;
  std::string socketName_;
  std::string lockPath_;
  Role role_ = Role::First;
  int lockFd_ = -1;
  int listenFd_ = -1;
};

}  // namespace plasma
