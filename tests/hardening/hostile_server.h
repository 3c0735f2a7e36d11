#pragma once
// A timetable server on 127.0.0.1 that misbehaves in every way a network can: raw sockets, so it
// can trickle, stall, reset and lie about lengths. The first path segment picks the behaviour
// (the display appends /tabs/plasmatimetable.php?Circuit=N to the base URL).
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace plasma::hardening {

class HostileServer {
 public:
  // What a behaviour may do with its connection.
  class Connection {
   public:
    explicit Connection(int fd, const std::atomic<bool>& stopping) : fd_(fd), stopping_(stopping) {}
    // False once the peer is gone or the server stops.
    bool send(const std::string& bytes);
    bool sendResponse(int status, const std::string& body, const std::string& extraHeaders = "");
    // Waits ms or until the server stops; false when it stops.
    bool pause(int ms);
    // Ends the connection with a reset instead of an orderly close.
    void reset();
    bool stopping() const { return stopping_; }

   private:
    int fd_;
    const std::atomic<bool>& stopping_;
  };
  using Behaviour = std::function<void(Connection&, const std::string& target)>;

  HostileServer();
  ~HostileServer();
  HostileServer(const HostileServer&) = delete;
  HostileServer& operator=(const HostileServer&) = delete;

  void on(const std::string& segment, Behaviour behaviour);
  int port() const { return port_; }
  std::string base(const std::string& segment) const;
  long requests() const { return requests_; }

 private:
  void acceptLoop();
  void serve(int fd);

  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<long> requests_{0};
  std::mutex mutex_;
  std::map<std::string, Behaviour> behaviours_;
  std::vector<std::thread> workers_;
  std::thread acceptor_;
};

}  // namespace plasma::hardening
