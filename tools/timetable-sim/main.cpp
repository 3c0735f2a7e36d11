// timetable-sim: a sample timetable server for the display. It answers
// GET /tabs/plasmatimetable.php?Circuit=N (N = 0..6) with a live document of a made-up airport
// line, or serves documents from a folder verbatim, and can misbehave on purpose (--scenario flaky).
#include <httplib.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "feed/sample_timetable.h"
#include "support/legacy.h"

namespace {

using plasma::sample::Fault;
using plasma::sample::Scenario;

constexpr const char* kUsage =
    "usage: timetable-sim [--port 8080] [--bind 127.0.0.1] [--clock now|HH:MM]\n"
    "                     [--scenario normal|quiet|midnight|flaky] [--documents DIR]\n"
    "                     [--page-seconds N] [--pictures DIR] [--picture-style paths|urls|windows]\n"
    "                     [--version] [--help]\n"
    "\n"
    "Answers GET /tabs/plasmatimetable.php?Circuit=N for N = 0..6 with a live timetable document.\n"
    "  --port N          port to listen on (0: any free port; the line \"listening on\" names it)\n"
    "  --bind ADDR       address to listen on\n"
    "  --clock now|HH:MM the document's clock: the local time (default) or a fixed time\n"
    "  --scenario S      normal: trains every few minutes; quiet: nothing due within the hour;\n"
    "                    midnight: the clock starts at 23:50; flaky: every third request fails\n"
    "                    (HTTP 500, a cut-off body, line 0 \"ok\", a 15 s delay, in turn)\n"
    "  --documents DIR   serve DIR/circuit-N.txt verbatim instead (404 when missing)\n"
    "  --page-seconds N  seconds of each page (default 20 own page, 20 board, 15 messages)\n"
    "  --pictures DIR    the slideshow pictures named in the documents\n"
    "  --picture-style S how the documents name them: paths (local paths, the default); urls\n"
    "                    (served by this server at /pictures/NAME); windows (as a Windows\n"
    "                    server would: \\\\plasmasim\\pictures\\NAME and P:\\Slides\\NAME in turn)\n";

struct Options {
  int port = 8080;
  std::string bind = "127.0.0.1";
  int fixedClock = -1;  // minutes after midnight, or -1 for a running clock
  bool clockGiven = false;
  Scenario scenario = Scenario::Normal;
  std::string documentsDir;
  int pageSeconds = 0;
  std::string picturesDir;
  plasma::sample::PictureStyle pictureStyle = plasma::sample::PictureStyle::Paths;
};

[[noreturn]] void usageError(const std::string& why) {
  std::fprintf(stderr, "timetable-sim: %s\n\n%s", why.c_str(), kUsage);
  std::exit(2);
}

int numberArgument(const std::string& option, const std::string& text, int low, int high) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || v < low || v > high) {
    usageError(option + " needs a number from " + std::to_string(low) + " to " + std::to_string(high) +
               ", not \"" + text + "\"");
  }
  return static_cast<int>(v);
}

std::string defaultPicturesDir() {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path fromSource = fs::path(PLASMA_SOURCE_DIR) / "resources" / "pictures";
  if (fs::is_directory(fromSource, ec)) return fromSource.string();
  const fs::path installed = "/usr/share/plasma-display/pictures";
  if (fs::is_directory(installed, ec)) return installed.string();
  return "";
}

Options parseArguments(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) usageError(a + " needs a value");
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (a == "--version") {
      std::printf("timetable-sim %s\n", PLASMA_VERSION);
      std::exit(0);
    } else if (a == "--port") {
      o.port = numberArgument(a, value(), 0, 65535);
    } else if (a == "--bind") {
      o.bind = value();
    } else if (a == "--clock") {
      const std::string v = value();
      o.clockGiven = true;
      if (v != "now") {
        o.fixedClock = plasma::sample::parseClock(v);
        if (o.fixedClock < 0) usageError("--clock needs \"now\" or a time HH:MM, not \"" + v + "\"");
      }
    } else if (a == "--scenario") {
      const std::string v = value();
      if (!plasma::sample::scenarioFromName(v, o.scenario)) {
        usageError("--scenario needs normal, quiet, midnight or flaky, not \"" + v + "\"");
      }
    } else if (a == "--documents") {
      o.documentsDir = value();
      if (!std::filesystem::is_directory(o.documentsDir)) usageError(o.documentsDir + " is not a folder");
    } else if (a == "--page-seconds") {
      o.pageSeconds = numberArgument(a, value(), 1, 32767);
    } else if (a == "--picture-style") {
      const std::string v = value();
      if (!plasma::sample::pictureStyleFromName(v, o.pictureStyle)) {
        usageError("--picture-style needs paths, urls or windows, not \"" + v + "\"");
      }
    } else if (a == "--pictures") {
      o.picturesDir = value();
      if (!std::filesystem::is_directory(o.picturesDir)) usageError(o.picturesDir + " is not a folder");
    } else {
      usageError("unknown argument \"" + a + "\"");
    }
  }
  if (o.picturesDir.empty()) o.picturesDir = defaultPicturesDir();
  return o;
}

class Simulator {
 public:
  explicit Simulator(const Options& o) : options_(o), started_(std::chrono::steady_clock::now()) {
    documentOptions_.scenario = o.scenario;
    documentOptions_.pageSeconds = o.pageSeconds;
    if (!o.picturesDir.empty()) pictureFiles_ = plasma::sample::picturePaths(o.picturesDir);
    documentOptions_.pictures = plasma::sample::pictureEntries(pictureFiles_, o.pictureStyle);
  }

  void install(httplib::Server& server) {
    server.Get("/tabs/plasmatimetable.php",
               [this](const httplib::Request& req, httplib::Response& res) { answer(req, res); });
    server.Get(R"(/pictures/([^/]+))",
               [this](const httplib::Request& req, httplib::Response& res) { servePicture(req, res); });
    server.set_logger([this](const httplib::Request& req, const httplib::Response& res) { log(req, res); });
  }

  // Ends any delayed answer at once, so the server can stop.
  void stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
  }

  std::string describe() const {
    std::string clock = options_.fixedClock >= 0 ? plasma::sample::clockText(options_.fixedClock)
                        : midnightClock()        ? "from 23:50, running"
                                                 : "local time";
    if (!options_.documentsDir.empty()) return "serving documents from " + options_.documentsDir;
    return std::string("scenario ") + plasma::sample::scenarioName(options_.scenario) + ", clock " + clock +
           ", " + std::to_string(documentOptions_.pictures.size()) + " pictures" +
           (options_.picturesDir.empty() ? "" : " from " + options_.picturesDir) +
           (options_.pictureStyle == plasma::sample::PictureStyle::Urls ? ", named by their URLs here" : "");
  }

  // What a display needs to find the pictures the documents name as a Windows server would.
  std::string mappingHint() const {
    if (options_.pictureStyle != plasma::sample::PictureStyle::Windows || options_.picturesDir.empty()) return "";
    std::error_code ec;
    const std::string dir = std::filesystem::absolute(options_.picturesDir, ec).lexically_normal().string();
    return std::string("pictures named as ") + plasma::sample::kWindowsShare + "\\NAME and " +
           plasma::sample::kWindowsDrive + "\\NAME; a display finds them with PLASMA_PICTURE_PATHS='" +
           "//plasmasim/pictures=" + dir + ";P:/Slides=" + dir + "'";
  }

 private:
  bool midnightClock() const { return options_.scenario == Scenario::Midnight && !options_.clockGiven; }

  int clockMinutes() const {
    if (options_.fixedClock >= 0) return options_.fixedClock;
    if (midnightClock()) {
      const auto elapsed = std::chrono::steady_clock::now() - started_;
      return plasma::sample::kMidnightStart +
             static_cast<int>(std::chrono::duration_cast<std::chrono::minutes>(elapsed).count());
    }
    const time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    return local.tm_hour * 60 + local.tm_min;
  }

  static int circuitOf(const httplib::Request& req) {
    if (!req.has_param("Circuit")) return -1;
    const std::string v = req.get_param_value("Circuit");
    if (v.size() != 1 || v[0] < '0' || v[0] >= '0' + plasma::sample::kCircuits) return -1;
    return v[0] - '0';
  }

  void answer(const httplib::Request& req, httplib::Response& res) {
    const int circuit = circuitOf(req);
    if (circuit < 0) {
      res.status = 404;
      res.set_content("no such circuit\n", "text/plain");
      return;
    }
    if (!options_.documentsDir.empty()) {
      serveFile(circuit, res);
      return;
    }
    std::string doc;
    if (options_.pictureStyle == plasma::sample::PictureStyle::Urls) {
      // Named by the address the display used to reach this server, so they work from any PC.
      plasma::sample::DocumentOptions withUrls = documentOptions_;
      const std::string host = req.get_header_value("Host");
      withUrls.pictures = plasma::sample::pictureEntries(
          pictureFiles_, options_.pictureStyle,
          "http://" + (host.empty() ? options_.bind + ":" + std::to_string(options_.port) : host));
      doc = plasma::sample::timetableDocument(circuit, clockMinutes(), withUrls);
    } else {
      doc = plasma::sample::timetableDocument(circuit, clockMinutes(), documentOptions_);
    }
    const Fault fault = options_.scenario == Scenario::Flaky ? plasma::sample::flakyFault(++requests_)
                                                             : Fault::None;
    if (fault != Fault::None) note_ = std::string("flaky: ") + plasma::sample::faultName(fault);
    switch (fault) {
      case Fault::ServerError:
        res.status = 500;
        res.set_content("Internal Server Error\n", "text/plain");
        return;
      case Fault::CutOffBody: {
        // The header promises the whole document; half of it is sent, then the connection closes.
        auto body = std::make_shared<std::string>(std::move(doc));
        const std::size_t sent = body->size() / 2;
        res.set_content_provider(body->size(), "text/plain; charset=utf-8",
                                 [body, sent](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                   if (offset < sent) sink.write(body->data() + offset, sent - offset);
                                   return false;
                                 });
        return;
      }
      case Fault::LowerCaseOk:
        doc.replace(0, 2, "ok");
        break;
      case Fault::SlowAnswer: {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_for(lock, std::chrono::seconds(plasma::sample::kSlowAnswerSeconds),
                       [this] { return stopping_; });
        break;
      }
      case Fault::None:
        break;
    }
    res.set_content(doc, "text/plain; charset=utf-8");
  }

  // One of the pictures, with the validators a display's cache asks again with: ETag from the
  // file's size and time, Last-Modified, and 304 when either still holds.
  void servePicture(const httplib::Request& req, httplib::Response& res) {
    namespace fs = std::filesystem;
    const std::string name = req.matches[1];
    const auto file = std::find_if(pictureFiles_.begin(), pictureFiles_.end(),
                                   [&](const std::string& f) { return fs::path(f).filename() == name; });
    struct stat st {};
    if (file == pictureFiles_.end() || ::stat(file->c_str(), &st) != 0) {
      res.status = 404;
      res.set_content("no such picture\n", "text/plain");
      return;
    }
    char etag[64];
    std::snprintf(etag, sizeof etag, "\"%llx-%llx\"", static_cast<unsigned long long>(st.st_size),
                  static_cast<unsigned long long>(st.st_mtim.tv_sec) * 1000000000ULL + st.st_mtim.tv_nsec);
    char modified[64];
    tm utc{};
    gmtime_r(&st.st_mtim.tv_sec, &utc);
    std::strftime(modified, sizeof modified, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    res.set_header("ETag", etag);
    res.set_header("Last-Modified", modified);
    res.set_header("Cache-Control", "no-cache");
    if (req.get_header_value("If-None-Match") == etag ||
        (!req.has_header("If-None-Match") && req.get_header_value("If-Modified-Since") == modified)) {
      res.status = 304;
      return;
    }
    std::ifstream in(*file, std::ios::binary);
    std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string type = fs::path(name).extension().string();
    std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) { return std::tolower(c); });
    type = type == ".png" ? "image/png" : type == ".gif" ? "image/gif" : type == ".bmp" ? "image/bmp" : "image/jpeg";
    res.set_content(body, type);
  }

  void serveFile(int circuit, httplib::Response& res) {
    const std::string path = options_.documentsDir + "/circuit-" + std::to_string(circuit) + ".txt";
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      res.status = 404;
      res.set_content("no document " + path + "\n", "text/plain");
      note_ = "no " + path;
      return;
    }
    std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Served as it stands: the file may be in another character set, or broken on purpose.
    res.set_content(body, "text/plain");
  }

  void log(const httplib::Request& req, const httplib::Response& res) {
    const time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    char stamp[16];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    std::string what;
    const int circuit = req.path == "/tabs/plasmatimetable.php" ? circuitOf(req) : -1;
    if (circuit >= 0) {
      what = "circuit " + std::to_string(circuit);
    } else {
      what = req.method + " \"" + plasma::escapeForLog(req.target, 120) + "\"";
    }
    std::string line = std::string(stamp) + " " + what + " " + std::to_string(res.status);
    if (!note_.empty()) line += " (" + note_ + ")";
    note_.clear();
    // Which screen asked: displays name themselves in their User-Agent.
    if (const std::string agent = req.get_header_value("User-Agent"); !agent.empty()) {
      line += " [" + plasma::escapeForLog(agent, 120) + "]";
    }
    std::lock_guard<std::mutex> lock(printMutex_);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }

  Options options_;
  std::vector<std::string> pictureFiles_;
  plasma::sample::DocumentOptions documentOptions_;
  std::chrono::steady_clock::time_point started_;
  std::atomic<long> requests_{0};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::mutex printMutex_;
  // What the handler did beyond the status; the logger runs on the same thread right after it.
  static thread_local std::string note_;
};

thread_local std::string Simulator::note_;

}  // namespace

int main(int argc, char** argv) {
  const Options options = parseArguments(argc, argv);

  // Ctrl-C and SIGTERM are taken by one thread that stops the server; every other thread
  // (the server's workers included) has them blocked.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Simulator simulator(options);
  httplib::Server server;
  simulator.install(server);

  int port = options.port;
  if (port == 0) {
    port = server.bind_to_any_port(options.bind);
    if (port < 0) {
      std::fprintf(stderr, "timetable-sim: cannot listen on %s\n", options.bind.c_str());
      return 1;
    }
  } else if (!server.bind_to_port(options.bind, port)) {
    std::fprintf(stderr, "timetable-sim: cannot listen on %s port %d\n", options.bind.c_str(), port);
    return 1;
  }

  std::thread([&stopSignals, &server, &simulator] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    simulator.stop();
    server.stop();
  }).detach();

  const bool v6 = options.bind.find(':') != std::string::npos;
  std::printf("timetable-sim listening on http://%s%s%s:%d\n", v6 ? "[" : "", options.bind.c_str(),
              v6 ? "]" : "", port);
  std::printf("timetable-sim: %s\n", simulator.describe().c_str());
  if (const std::string hint = simulator.mappingHint(); !hint.empty()) std::printf("timetable-sim: %s\n", hint.c_str());
  std::fflush(stdout);

  const bool ok = server.listen_after_bind();
  std::printf("timetable-sim stopped\n");
  std::fflush(stdout);
  return ok ? 0 : 1;
}
