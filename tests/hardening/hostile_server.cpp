#include "hostile_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace plasma::hardening {

bool HostileServer::Connection::send(const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    if (stopping_) return false;
    pollfd p{fd_, POLLOUT, 0};
    if (::poll(&p, 1, 50) <= 0) continue;  // a full socket buffer: try again unless stopping
    const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

bool HostileServer::Connection::sendResponse(int status, const std::string& body,
                                             const std::string& extraHeaders) {
  return send("HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Type: text/plain\r\nContent-Length: " +
              std::to_string(body.size()) + "\r\nConnection: close\r\n" + extraHeaders + "\r\n" + body);
}

bool HostileServer::Connection::pause(int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (stopping_) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return !stopping_;
}

void HostileServer::Connection::reset() {
  linger l{1, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

HostileServer::HostileServer() {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listenFd_, 16) != 0) {
    throw std::runtime_error("hostile server: cannot listen on 127.0.0.1");
  }
  socklen_t len = sizeof a;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  acceptor_ = std::thread([this] { acceptLoop(); });
}

HostileServer::~HostileServer() {
  stopping_ = true;
  acceptor_.join();
  ::close(listenFd_);
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::thread& t : workers_) t.join();
}

void HostileServer::on(const std::string& segment, Behaviour behaviour) {
  std::lock_guard<std::mutex> lock(mutex_);
  behaviours_[segment] = std::move(behaviour);
}

std::string HostileServer::base(const std::string& segment) const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/" + segment;
}

void HostileServer::acceptLoop() {
  while (!stopping_) {
    pollfd p{listenFd_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    workers_.emplace_back([this, fd] { serve(fd); });
  }
}

void HostileServer::serve(int fd) {
  // The request head, read until its blank line (or the server stops).
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536 && !stopping_) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    head.append(buffer, static_cast<std::size_t>(n));
  }
  ++requests_;
  // "GET /segment/rest HTTP/1.1"
  const std::size_t start = head.find(' ');
  const std::size_t end = start == std::string::npos ? start : head.find(' ', start + 1);
  const std::string target = end == std::string::npos ? "" : head.substr(start + 1, end - start - 1);
  const std::size_t slash = target.find('/', 1);
  const std::string segment = target.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
  Behaviour behaviour;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = behaviours_.find(segment);
    if (it != behaviours_.end()) behaviour = it->second;
  }
  Connection c(fd, stopping_);
  if (behaviour) {
    behaviour(c, target);
  } else {
    c.sendResponse(404, "no such behaviour\n");
  }
  ::close(fd);
}

}  // namespace plasma::hardening
