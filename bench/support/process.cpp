#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/measure.h"

extern char** environ;

namespace plasma::bench {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const EnvChanges& env,
                           bool captureStdout, const std::string& errPath) {
  if (argv.empty()) throw std::invalid_argument("no program to start");
  // Everything the child needs is built before fork: only async-signal-safe calls after it.
  std::vector<std::string> envText;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    bool changed = false;
    for (const auto& [n, v] : env) changed = changed || n == name;
    if (!changed) envText.push_back(entry);
  }
  for (const auto& [n, v] : env) {
    if (v) envText.push_back(n + "=" + *v);
  }
  std::vector<char*> envp, args;
  for (std::string& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argCopy = argv;
  for (std::string& a : argCopy) args.push_back(a.data());
  args.push_back(nullptr);

  int pipeFds[2] = {-1, -1};
  if (captureStdout && ::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const int errFd = ::open(errPath.empty() ? "/dev/null" : errPath.c_str(),
                           O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int nullFd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    ::dup2(nullFd, 0);
    ::dup2(captureStdout ? pipeFds[1] : nullFd, 1);
    ::dup2(errFd >= 0 ? errFd : nullFd, 2);
    ::execve(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  if (captureStdout) {
    ::close(pipeFds[1]);
    outFd_ = pipeFds[0];
  }
  if (errFd >= 0) ::close(errFd);
  if (nullFd >= 0) ::close(nullFd);
}

ChildProcess::~ChildProcess() {
  if (!status_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int st = 0;
    ::waitpid(pid_, &st, 0);
  }
  if (outFd_ >= 0) ::close(outFd_);
}

std::optional<std::string> ChildProcess::readLine(int timeoutMs) {
  const double end = monotonicUs() + timeoutMs * 1000.0;
  while (true) {
    const std::size_t nl = buffer_.find('\n');
    if (nl != std::string::npos) {
      std::string line = buffer_.substr(0, nl);
      buffer_.erase(0, nl + 1);
      return line;
    }
    if (outFd_ < 0) return std::nullopt;
    const double left = end - monotonicUs();
    if (left <= 0) return std::nullopt;
    pollfd p{outFd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left / 1000) + 1) <= 0) continue;
    char chunk[4096];
    const ssize_t n = ::read(outFd_, chunk, sizeof chunk);
    if (n <= 0) {
      ::close(outFd_);
      outFd_ = -1;
      if (buffer_.empty()) return std::nullopt;
      buffer_ += '\n';
      continue;
    }
    buffer_.append(chunk, static_cast<std::size_t>(n));
  }
}

std::string ChildProcess::readAll(int timeoutMs) {
  std::string all;
  const double end = monotonicUs() + timeoutMs * 1000.0;
  while (auto line = readLine(static_cast<int>(std::max(0.0, end - monotonicUs()) / 1000))) {
    all += *line + "\n";
  }
  return all;
}

std::optional<int> ChildProcess::wait(int timeoutMs) {
  if (status_) return status_;
  const double end = monotonicUs() + timeoutMs * 1000.0;
  while (true) {
    int st = 0;
    const pid_t r = ::waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
      status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      return status_;
    }
    if (monotonicUs() >= end) return std::nullopt;
    ::usleep(5000);
  }
}

std::optional<int> ChildProcess::stop(int sig, int timeoutMs) {
  if (!status_) ::kill(pid_, sig);
  return wait(timeoutMs);
}

std::optional<double> cpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The command name may hold spaces and parentheses: fields are counted after the last ')'.
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  // Field 3 (state) is the first after the name; utime and stime are fields 14 and 15.
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::strtoull(field.c_str(), nullptr, 10);
    if (i == 15) stime = std::strtoull(field.c_str(), nullptr, 10);
  }
  if (!fields) return std::nullopt;
  return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

std::optional<long> peakResidentKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return std::nullopt;
}

NotifySocket::NotifySocket(std::string path) : path_(std::move(path)) {
  fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (fd_ < 0 || path_.size() >= sizeof addr.sun_path) throw std::runtime_error("notify socket " + path_);
  std::memcpy(addr.sun_path, path_.c_str(), path_.size() + 1);
  ::unlink(path_.c_str());
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    throw std::runtime_error("cannot bind " + path_ + ": " + std::strerror(errno));
  }
}

NotifySocket::~NotifySocket() {
  if (fd_ >= 0) ::close(fd_);
  ::unlink(path_.c_str());
}

std::optional<double> NotifySocket::waitFor(const std::string& word, int timeoutMs) {
  const double end = monotonicUs() + timeoutMs * 1000.0;
  while (true) {
    const double left = end - monotonicUs();
    if (left <= 0) return std::nullopt;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left / 1000) + 1) <= 0) continue;
    const double at = monotonicUs();
    char message[4096];
    const ssize_t n = ::recv(fd_, message, sizeof message - 1, 0);
    if (n <= 0) continue;
    if (std::string(message, static_cast<std::size_t>(n)).find(word) != std::string::npos) return at;
  }
}

ScratchFolder::ScratchFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/plasma-perf-XXXXXX";
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a scratch folder");
  path = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

}  // namespace plasma::bench
