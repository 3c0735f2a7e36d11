// Pictures over HTTP, kept on disk: against a real server in the test program, with the libcurl
// client the display uses.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include "platform/picture_cache.h"

namespace plasma {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Serves /p/NAME with an ETag that changes with each new body, answers 304 to a matching
// If-None-Match, and counts what it sent. /slow/NAME trickles its body until released; /cut/NAME
// promises a body and sends half of it.
class PictureServer {
 public:
  PictureServer() {
    server_.Get(R"(/p/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard<std::mutex> lock(mutex_);
      agents.push_back(req.get_header_value("User-Agent"));
      const auto it = pictures_.find(req.matches[1]);
      if (it == pictures_.end()) {
        res.status = 404;
        return;
      }
      res.set_header("ETag", it->second.etag);
      res.set_header("Last-Modified", "Tue, 08 Dec 2026 10:00:00 GMT");
      if (req.get_header_value("If-None-Match") == it->second.etag) {
        ++notModified;
        res.status = 304;
        return;
      }
      ++bodies;
      res.set_content(it->second.body, "image/png");
    });
    server_.Get(R"(/slow/([^/]+))", [this](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("image/png", [this](std::size_t, httplib::DataSink& sink) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (released_.wait_for(lock, 100ms, [this] { return released; })) return false;
        return sink.write("x", 1);
      });
    });
    server_.Get(R"(/cut/([^/]+))", [](const httplib::Request&, httplib::Response& res) {
      auto body = std::make_shared<std::string>(10000, 'c');
      res.set_content_provider(body->size(), "image/png", [body](std::size_t, std::size_t, httplib::DataSink& sink) {
        sink.write(body->data(), body->size() / 2);
        return false;
      });
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(1ms);
  }
  ~PictureServer() { stop(); }
  void stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      released = true;
    }
    released_.notify_all();
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }
  void put(const std::string& name, const std::string& body) {
    std::lock_guard<std::mutex> lock(mutex_);
    pictures_[name] = {body, "\"v" + std::to_string(++versions_) + "\""};
  }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  int count(const int& n) {
    std::lock_guard<std::mutex> lock(mutex_);
    return n;
  }

  int bodies = 0, notModified = 0;
  std::vector<std::string> agents;
  bool released = false;

 private:
  struct Picture {
    std::string body, etag;
  };
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable released_;
  std::map<std::string, Picture> pictures_;
  int versions_ = 0;
};

struct CacheFolder {
  CacheFolder() : path(fs::temp_directory_path() / ("plasma-picture-cache-" + std::to_string(::getpid())) / "pictures-3-1") {}
  ~CacheFolder() { fs::remove_all(path.parent_path()); }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(path, ec)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
  fs::path path;
};

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

ino_t inode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

std::unique_ptr<PictureCache> makeCache(const CacheFolder& f, PictureCacheOptions o = {},
                                        CurlClientOptions http = {}) {
  o.folder = f.path.string();
  http.maxBodyBytes = 64 * 1024 * 1024;
  if (http.userAgent.empty()) http.userAgent = "plasma-display/test (instance 3-1)";
  return std::make_unique<PictureCache>(o, makeCurlHttpClient(http), FetchMode::WorkerThread);
}

PictureCacheOptions alwaysDue() {
  PictureCacheOptions o;
  o.revalidateSeconds = 0;
  o.retrySeconds = 0;
  return o;
}

TEST(PictureCache, FetchesOnceAsksAgainWithItsValidatorsAndTakesAChangedPicture) {
  PictureServer server;
  server.put("a.png", "first body");
  CacheFolder f;
  auto cache = makeCache(f, alwaysDue());
  std::atomic<int> changes{0};
  cache->onChanged([&] { ++changes; });
  const std::string url = server.url("/p/a.png");

  // Not there yet: a black page's reason, and a fetch on the cache's thread.
  const PictureCache::Copy none = cache->copy(url);
  EXPECT_TRUE(none.file.empty());
  EXPECT_NE(none.problem.find("not in the picture cache yet"), std::string::npos) << none.problem;
  ASSERT_TRUE(cache->waitIdle(5000));
  EXPECT_EQ(changes, 1);
  const PictureCache::Copy first = cache->copy(url);
  ASSERT_FALSE(first.file.empty()) << first.problem;
  EXPECT_EQ(readAll(first.file), "first body");

  // Asked again (every time, here): 304, no body, the same file.
  const ino_t before = inode(first.file);
  ASSERT_TRUE(cache->waitIdle(5000));
  EXPECT_EQ(server.count(server.notModified), 1);
  EXPECT_EQ(server.count(server.bodies), 1);
  EXPECT_EQ(inode(cache->copy(url).file), before);
  EXPECT_EQ(changes, 1);

  // A new picture on the server replaces the copy whole, and says so.
  ASSERT_TRUE(cache->waitIdle(5000));
  server.put("a.png", "second body");
  cache->copy(url);
  ASSERT_TRUE(cache->waitIdle(5000));
  EXPECT_EQ(readAll(cache->copy(url).file), "second body");
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(server.count(server.bodies), 2);
  // Once nothing is in flight, no temporary is left behind.
  ASSERT_TRUE(cache->waitIdle(5000));
  for (const std::string& name : f.names()) EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name;
}

TEST(PictureCache, ShowsItsCopyWhileTheServerIsAwayAndSaysSoOnce) {
  auto server = std::make_unique<PictureServer>();
  server->put("a.png", "body");
  CacheFolder f;
  auto cache = makeCache(f, alwaysDue());
  const std::string url = server->url("/p/a.png");
  cache->copy(url);
  ASSERT_TRUE(cache->waitIdle(5000));
  server.reset();

  testing::internal::CaptureStderr();
  for (int i = 0; i < 3; ++i) {
    const PictureCache::Copy c = cache->copy(url);
    ASSERT_FALSE(c.file.empty()) << c.problem;
    EXPECT_EQ(readAll(c.file), "body");
    ASSERT_TRUE(cache->waitIdle(5000));
  }
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
  EXPECT_NE(log.find("could not be fetched"), std::string::npos) << log;
  EXPECT_NE(log.find("is shown meanwhile"), std::string::npos) << log;
}

TEST(PictureCache, ABodyOverEitherCapOrCutShortIsNeverACopy) {
  PictureServer server;
  server.put("big.png", std::string(100 * 1024, 'b'));
  CacheFolder f;
  struct Case {
    const char* name;
    std::uint64_t cacheCap;
    std::size_t clientCap;
    std::string path;
    const char* reason;
  };
  const Case cases[] = {
      {"over the transfer's cap", kDefaultPictureCacheBytes, 64 * 1024, "/p/big.png", "larger than 65536 bytes"},
      {"over the cache's cap", 64 * 1024, 64 * 1024 * 1024, "/p/big.png", "more than the picture cache's cap"},
      {"cut short", kDefaultPictureCacheBytes, 64 * 1024 * 1024, "/cut/c.png", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PictureCacheOptions o;
    o.capBytes = c.cacheCap;
    CurlClientOptions http;
    http.maxBodyBytes = c.clientCap;
    http.userAgent = "test";
    o.folder = f.path.string();
    PictureCache cache(o, makeCurlHttpClient(http), FetchMode::WorkerThread);
    testing::internal::CaptureStderr();
    cache.copy(server.url(c.path));
    ASSERT_TRUE(cache.waitIdle(5000));
    const std::string log = testing::internal::GetCapturedStderr();
    const PictureCache::Copy after = cache.copy(server.url(c.path));
    EXPECT_TRUE(after.file.empty());
    EXPECT_NE(after.problem.find("the last fetch failed"), std::string::npos) << after.problem;
    EXPECT_NE(log.find(c.reason), std::string::npos) << log;
    EXPECT_EQ(f.names(), std::vector<std::string>{});
  }
}

TEST(PictureCache, DropsTheOldestAboveTheCapAndWhatTheDocumentNoLongerNames) {
  PictureServer server;
  for (const char* n : {"a.png", "b.png", "c.png"}) server.put(n, std::string(100 * 1024, n[0]));
  CacheFolder f;
  PictureCacheOptions o;
  o.capBytes = 250 * 1024;
  auto cache = makeCache(f, o);
  const std::string a = server.url("/p/a.png"), b = server.url("/p/b.png"), c = server.url("/p/c.png");
  testing::internal::CaptureStderr();
  cache->named({a, b, c});
  ASSERT_TRUE(cache->waitIdle(10000));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("is full"), std::string::npos) << log;
  EXPECT_TRUE(cache->copy(b).file.size() > 0 && cache->copy(c).file.size() > 0);
  EXPECT_LE(cache->bytesKept(), o.capBytes);
  EXPECT_EQ(f.names().size(), 4u);  // two copies, each with its description
  // The dropped one is not fetched ahead again on the next load; only when its page comes.
  cache->named({a, b, c});
  ASSERT_TRUE(cache->waitIdle(5000));
  EXPECT_EQ(server.count(server.bodies), 3);

  cache->named({c});
  EXPECT_EQ(f.names().size(), 2u);
  EXPECT_EQ(cache->bytesKept(), 100u * 1024);
  EXPECT_FALSE(cache->copy(c).file.empty());
}

TEST(PictureCache, AWarmCacheServesAfterARestartWithoutAskingTheServer) {
  CacheFolder f;
  std::string url;
  {
    PictureServer server;
    server.put("a.png", "kept");
    url = server.url("/p/a.png");
    auto cache = makeCache(f);
    cache->named({url});
    ASSERT_TRUE(cache->waitIdle(5000));
  }
  // What a crash can leave: a temporary, and a copy without its description.
  std::ofstream(f.path / "0123456789abcdef.pic.tmp-1") << "half";
  std::ofstream(f.path / "fedcba9876543210.pic") << "orphan";

  auto cache = makeCache(f);  // the server is gone
  const PictureCache::Copy c = cache->copy(url);
  ASSERT_FALSE(c.file.empty()) << c.problem;
  EXPECT_EQ(readAll(c.file), "kept");
  EXPECT_EQ(f.names().size(), 2u);
}

TEST(PictureCache, LogsUrlsMaskedAndEscapedSendsTheUserAgentAndStopsWithinASecond) {
  PictureServer server;
  CacheFolder f;
  CurlClientOptions http;
  http.userAgent = "plasma-display/9.9 (instance 3-1)";
  auto cache = makeCache(f, {}, http);
  const std::string url = "http://operator:s3cret@" + server.url("/p/missing%1b.png").substr(7);
  testing::internal::CaptureStderr();
  cache->copy(url);
  ASSERT_TRUE(cache->waitIdle(5000));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(log.find("s3cret"), std::string::npos) << log;
  EXPECT_NE(log.find("operator:***@"), std::string::npos) << log;
  EXPECT_NE(log.find("HTTP 404"), std::string::npos) << log;
  ASSERT_FALSE(server.agents.empty());
  EXPECT_EQ(server.agents.back(), "plasma-display/9.9 (instance 3-1)");
  EXPECT_NE(cache->copy("http://host/a\x1b[2J.png").problem.find("not a usable URL"), std::string::npos);

  // A body that trickles in is cancelled when the cache goes.
  cache->copy(server.url("/slow/s.png"));
  std::this_thread::sleep_for(300ms);
  const auto start = std::chrono::steady_clock::now();
  cache.reset();
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.6);
}

}  // namespace
}  // namespace plasma
