#pragma once
#include <cstdint>
#include <string>

namespace plasma {

// Tells a service manager (systemd, through $NOTIFY_SOCKET) that the display is up, that its event
// loop still turns, and what it shows. Without a manager every call does nothing.
class ServiceNotifier {
 public:
  // Reads $NOTIFY_SOCKET and the watchdog settings ($WATCHDOG_USEC, $WATCHDOG_PID) once.
  ServiceNotifier();

  // True when a manager listens.
  bool active() const { return active_; }
  // How often the loop should ping: half the manager's watchdog time, at most 10 s; 0 when the
  // manager has no watchdog.
  std::int64_t watchdogPingUs() const { return pingUs_; }

  void ready(const std::string& status);
  void watchdog();
  void status(const std::string& text);
  void stopping();

  // Sends one raw notification ("READY=1\nSTATUS=...") when a manager listens; false when the
  // manager could not be reached.
  bool send(const std::string& message);

 private:
  bool active_ = false;
  std::int64_t pingUs_ = 0;
};

}  // namespace plasma
