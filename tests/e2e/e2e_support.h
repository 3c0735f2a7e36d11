#pragma once
// Running the real programs from a test: child processes with their own environment and logs, the
// sample timetable server, the status file, frames and a fake service manager.
#include <cairo.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace plasma::e2e {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

fs::path binDir();
fs::path sourceDir();

struct TempFolder {
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  fs::path path;
};

// Environment changes for a child: a value sets the variable, nullopt removes it.
using Environment = std::map<std::string, std::optional<std::string>>;

// What every child starts without: no window system, no service manager, no test-run settings.
Environment cleanEnvironment();

// A child process whose output goes to files. It is killed (SIGKILL) and reaped if still running
// when the object goes.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const Environment& env, const fs::path& logPrefix,
        int keepFd = -1);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  bool running();
  void signal(int sig);
  // The exit status (128 + signal when killed by one), or nullopt when still running after limit.
  std::optional<int> wait(milliseconds limit);
  std::string out() const;
  std::string err() const;

 private:
  bool reap(int options);
  pid_t pid_ = -1;
  std::optional<int> status_;
  fs::path outPath_, errPath_;
};

// Polls cond every step until it holds or the limit passes.
bool eventually(const std::function<bool()>& cond, milliseconds limit, milliseconds step = milliseconds(50));

// timetable-sim on 127.0.0.1 (port 0: a free one).
struct Sim {
  Sim(const fs::path& logPrefix, int port, const std::vector<std::string>& extra = {});
  Child child;
  int port = 0;
  std::string url;
};

// A field of the status file as text: a string without quotes, a number, or "null".
std::optional<std::string> jsonField(const std::string& json, const std::string& name);
std::string readText(const fs::path& path);

// The PNG (nullptr when it cannot be read); the caller destroys it.
cairo_surface_t* loadPng(const fs::path& path);
int frameCount(const fs::path& dir);
fs::path framePath(const fs::path& dir, int number);

// A screenshot of an X screen taken with xwd, read back: width, height and 0xRRGGBB pixels.
struct XImage {
  int width = 0, height = 0;
  std::vector<std::uint32_t> pixels;
  std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};
std::optional<XImage> readXwd(const fs::path& path, std::string* why);

// A service manager's notification socket: a bound datagram socket to name in NOTIFY_SOCKET.
class FakeServiceManager {
 public:
  explicit FakeServiceManager(const fs::path& path);
  ~FakeServiceManager();
  const std::string& path() const { return path_; }
  // Every message that arrived since the last call.
  std::vector<std::string> drain();

 private:
  int fd_ = -1;
  std::string path_;
};

// Runs a command line through the shell and returns its standard output ("" when it failed).
std::string capture(const std::string& command, int* exitStatus = nullptr);

}  // namespace plasma::e2e
