#include "e2e_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

extern char** environ;

namespace plasma::e2e {

fs::path binDir() { return PLASMA_BIN_DIR; }
fs::path sourceDir() { return PLASMA_SOURCE_DIR; }

TempFolder::TempFolder() {
  char name[] = "/tmp/plasma-e2e-XXXXXX";
  path = ::mkdtemp(name);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

Environment cleanEnvironment() {
  Environment env;
  for (const char* name :
       {"DISPLAY", "WAYLAND_DISPLAY", "NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID", "STATE_DIRECTORY",
        "SDL_VIDEODRIVER", "PLASMA_HEADLESS", "PLASMA_FRAME_DIR", "PLASMA_INSTANCE", "PLASMA_STALE_SECONDS",
        "PLASMA_BASE_URL", "PLASMA_BUILD_DIR", "DEMO_TYPE", "DEMO_SECONDS", "DEMO_PAGE_SECONDS",
        "DEMO_FRAME_DIR", "INVOCATION_ID", "JOURNAL_STREAM", "PLASMA_PICTURE_PATHS", "PLASMA_PICTURE_CACHE_MB",
        "CACHE_DIRECTORY", "PLASMA_DISPLAY_SERVER", "PLASMA_DRM_DEVICE"}) {
    env[name] = std::nullopt;
  }
  return env;
}

Child::Child(const std::vector<std::string>& argv, const Environment& env, const fs::path& logPrefix,
             int keepFd)
    : outPath_(logPrefix.string() + ".out"), errPath_(logPrefix.string() + ".err") {
  // Everything the child needs is prepared before fork: only async-signal-safe calls after it.
  std::map<std::string, std::string> vars;
  for (char** e = environ; *e; ++e) {
    const std::string kv = *e;
    const auto eq = kv.find('=');
    if (eq != std::string::npos) vars[kv.substr(0, eq)] = kv.substr(eq + 1);
  }
  for (const auto& [name, value] : env) {
    if (value) {
      vars[name] = *value;
    } else {
      vars.erase(name);
    }
  }
  std::vector<std::string> envStrings;
  for (const auto& [name, value] : vars) envStrings.push_back(name + "=" + value);
  std::vector<char*> envp, args;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argCopy = argv;
  for (auto& s : argCopy) args.push_back(s.data());
  args.push_back(nullptr);
  const std::string outName = outPath_.string(), errName = errPath_.string();

  pid_ = ::fork();
  if (pid_ == 0) {
    // Its own process group, so that whatever it starts can be stopped with it.
    ::setpgid(0, 0);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const int out = ::open(outName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(errName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = ::open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (keepFd >= 0) ::fcntl(keepFd, F_SETFD, 0);
    ::execve(args[0], args.data(), envp.data());
    ::_exit(127);
  }
}

Child::~Child() {
  if (pid_ <= 0) return;
  ::kill(-pid_, SIGKILL);
  if (!status_) reap(0);
}

bool Child::reap(int options) {
  if (status_) return true;
  int st = 0;
  const pid_t r = ::waitpid(pid_, &st, options);
  if (r != pid_) return false;
  status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return true;
}

bool Child::running() { return !reap(WNOHANG); }

void Child::signal(int sig) {
  if (!status_) ::kill(pid_, sig);
}

std::optional<int> Child::wait(milliseconds limit) {
  eventually([this] { return !running(); }, limit, milliseconds(10));
  return status_;
}

std::string Child::out() const { return readText(outPath_); }
std::string Child::err() const { return readText(errPath_); }

bool eventually(const std::function<bool()>& cond, milliseconds limit, milliseconds step) {
  const auto end = Clock::now() + limit;
  while (true) {
    if (cond()) return true;
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(step);
  }
}

Sim::Sim(const fs::path& logPrefix, int wantedPort, const std::vector<std::string>& extra)
    : child(
          [&] {
            std::vector<std::string> a = {(binDir() / "timetable-sim").string(), "--port",
                                          std::to_string(wantedPort), "--bind", "127.0.0.1"};
            a.insert(a.end(), extra.begin(), extra.end());
            return a;
          }(),
          cleanEnvironment(), logPrefix) {
  static const std::regex first(R"(^timetable-sim listening on (http://127\.0\.0\.1:(\d+))\n)");
  eventually(
      [&] {
        std::smatch m;
        const std::string out = child.out();
        if (!std::regex_search(out, m, first)) return !child.running();
        url = m[1];
        port = std::stoi(m[2]);
        return true;
      },
      milliseconds(10000));
}

std::optional<std::string> jsonField(const std::string& json, const std::string& name) {
  const std::regex field("\"" + name + R"re(": ("((?:[^"\\]|\\.)*)"|[^,\n]*))re");
  std::smatch m;
  if (!std::regex_search(json, m, field)) return std::nullopt;
  return m[2].matched ? m[2].str() : m[1].str();
}

std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

cairo_surface_t* loadPng(const fs::path& path) {
  cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return nullptr;
  }
  return s;
}

int frameCount(const fs::path& dir) {
  int n = 0;
  while (fs::exists(framePath(dir, n))) ++n;
  return n;
}

fs::path framePath(const fs::path& dir, int number) {
  char name[32];
  std::snprintf(name, sizeof name, "frame-%06d.png", number);
  return dir / name;
}

std::optional<XImage> readXwd(const fs::path& path, std::string* why) {
  const std::string data = readText(path);
  const auto card = [&](std::size_t index) -> std::uint32_t {
    const auto* p = reinterpret_cast<const unsigned char*>(data.data()) + index * 4;
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
  };
  if (data.size() < 100) {
    *why = "the xwd file has no header";
    return std::nullopt;
  }
  // The header is big-endian CARD32s: size, version, format, depth, width, height, xoffset, byte
  // order, bitmap unit, bit order, pad, bits per pixel, bytes per line, visual class, the three
  // colour masks, bits per rgb, colormap entries, ncolors, ...
  const std::uint32_t headerSize = card(0), version = card(1), format = card(2), width = card(4),
                      height = card(5), byteOrder = card(7), bitsPerPixel = card(11), bytesPerLine = card(12),
                      redMask = card(14), greenMask = card(15), blueMask = card(16), ncolors = card(19);
  if (version != 7 || format != 2 || bitsPerPixel != 32) {
    *why = "xwd image is not a 32-bit ZPixmap (version " + std::to_string(version) + ", format " +
           std::to_string(format) + ", " + std::to_string(bitsPerPixel) + " bits)";
    return std::nullopt;
  }
  const std::size_t start = headerSize + std::size_t{ncolors} * 12;
  if (data.size() < start + std::size_t{bytesPerLine} * height) {
    *why = "the xwd file is cut short";
    return std::nullopt;
  }
  const auto channel = [](std::uint32_t v, std::uint32_t mask) {
    if (mask == 0) return 0u;
    while (!(mask & 1)) mask >>= 1, v >>= 1;
    return v & mask & 0xFF;
  };
  XImage img;
  img.width = static_cast<int>(width);
  img.height = static_cast<int>(height);
  img.pixels.resize(std::size_t{width} * height);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const auto* p = reinterpret_cast<const unsigned char*>(data.data()) + start + y * bytesPerLine + x * 4;
      const std::uint32_t v = byteOrder == 0
                                  ? (std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0])
                                  : (std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3]);
      img.pixels[std::size_t{y} * width + x] =
          channel(v, redMask) << 16 | channel(v, greenMask) << 8 | channel(v, blueMask);
    }
  }
  return img;
}

FakeServiceManager::FakeServiceManager(const fs::path& path) : path_(path.string()) {
  fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path_.c_str(), sizeof addr.sun_path - 1);
  ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
}

FakeServiceManager::~FakeServiceManager() {
  ::close(fd_);
  ::unlink(path_.c_str());
}

std::vector<std::string> FakeServiceManager::drain() {
  std::vector<std::string> got;
  char buf[4096];
  ssize_t n;
  while ((n = ::recv(fd_, buf, sizeof buf, 0)) > 0) got.emplace_back(buf, static_cast<std::size_t>(n));
  return got;
}

std::string capture(const std::string& command, int* exitStatus) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int st = ::pclose(p);
  if (exitStatus) *exitStatus = WIFEXITED(st) ? WEXITSTATUS(st) : 128;
  return out;
}

}  // namespace plasma::e2e
