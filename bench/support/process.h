#pragma once
// Child processes for whole-program figures: start with a changed environment, read their output,
// and read what the kernel counts for them (CPU time, peak resident memory).
#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace plasma::bench {

using EnvChanges = std::vector<std::pair<std::string, std::optional<std::string>>>;

class ChildProcess {
 public:
  // Starts argv[0] (a path) with the environment changed as given (nullopt removes a variable).
  // With captureStdout the child's stdout is a pipe readLine() reads; stderr goes to errPath when
  // one is given, else to /dev/null.
  ChildProcess(const std::vector<std::string>& argv, const EnvChanges& env, bool captureStdout,
               const std::string& errPath = "");
  ~ChildProcess();  // SIGKILL and reap when still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  // One line of stdout (without the newline), or nullopt at the end or after timeoutMs.
  std::optional<std::string> readLine(int timeoutMs);
  // All of stdout until the child closes it.
  std::string readAll(int timeoutMs);
  // Sends a signal and waits up to timeoutMs; returns the exit status (128 + signal when killed).
  std::optional<int> stop(int sig, int timeoutMs);
  std::optional<int> wait(int timeoutMs);

 private:
  pid_t pid_ = -1;
  int outFd_ = -1;
  std::string buffer_;
  std::optional<int> status_;
};

// utime + stime of a process (all its threads, also those that ended), in seconds.
std::optional<double> cpuSeconds(pid_t pid);
// Peak resident set (VmHWM) in kB.
std::optional<long> peakResidentKb(pid_t pid);

// A datagram socket in the role of the service manager: the display sends READY=1 to it once its
// first page is on screen.
class NotifySocket {
 public:
  explicit NotifySocket(std::string path);
  ~NotifySocket();
  NotifySocket(const NotifySocket&) = delete;
  NotifySocket& operator=(const NotifySocket&) = delete;
  const std::string& path() const { return path_; }
  // Waits for a message holding `word`; returns the monotonic time (us) it was read, or nullopt.
  std::optional<double> waitFor(const std::string& word, int timeoutMs);

 private:
  std::string path_;
  int fd_ = -1;
};

// A fresh folder under $TMPDIR (or /tmp), removed with its content.
struct ScratchFolder {
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  std::string path;
};

}  // namespace plasma::bench
