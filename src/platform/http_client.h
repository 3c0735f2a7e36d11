#pragma once
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace plasma {

struct HttpResponse {
  bool ok = false;      // a body arrived with a 2xx status
  long status = 0;      // the HTTP status, 0 when none arrived
  std::string body;
  std::string error;    // why it failed, for the log line
  // A conditional request answered 304: the copy the caller holds is current. ok stays false.
  bool notModified = false;
  // The validators of a 2xx answer, for the next conditional request; empty when the server sent
  // none.
  std::string etag{};
  std::string lastModified{};
};

// A GET with what a cache of pictures needs besides the URL.
struct HttpRequest {
  std::string url;
  // Sent as If-None-Match and If-Modified-Since when not empty.
  std::string ifNoneMatch;
  std::string ifModifiedSince;
  // Takes the body piece by piece instead of HttpResponse::body, so a large body need not be held
  // in memory; returning false ends the transfer as a failure.
  std::function<bool(const char* data, std::size_t size)> sink;
  // Ends the transfer soon after it turns true (a stop).
  const std::atomic<bool>* cancel = nullptr;
};

// One blocking GET of a full URL, bounded in time and size.
class HttpClient {
 public:
  virtual ~HttpClient() = default;
  virtual HttpResponse get(const std::string& url) = 0;
  // The same with validators, a sink and a cancel flag. A client that cannot send validators
  // answers in full, which is always correct; this default hands the body to the sink whole.
  virtual HttpResponse fetch(const HttpRequest& request);
};

// The libcurl client: redirects (at most 3, http and https only), 5 s to connect, 10 s in all,
// bodies above 1 MiB refused.
std::unique_ptr<HttpClient> makeCurlHttpClient();

// The same client with other bounds (tests use short time-outs).
struct CurlClientOptions {
  long connectTimeoutMs = 5000;
  long totalTimeoutMs = 10000;
  std::size_t maxBodyBytes = 1024 * 1024;
  long maxRedirects = 3;
  std::string userAgent;  // sent with every request when not empty
};
std::unique_ptr<HttpClient> makeCurlHttpClient(const CurlClientOptions& options);

enum class FetchMode { WorkerThread, Inline };

// Runs at most one GET at a time off the window thread and hands the response back to the loop.
class EventLoop;
class FetchWorker {
 public:
  FetchWorker(HttpClient& client, EventLoop& loop, FetchMode mode);
  ~FetchWorker();
  FetchWorker(const FetchWorker&) = delete;
  FetchWorker& operator=(const FetchWorker&) = delete;

  bool busy() const;
  FetchMode mode() const;
  // Waits up to ms for a fetch in flight to end; true when none runs any more.
  bool waitIdle(int ms);
  // Starts a GET; false (and nothing started) while one is still in flight. done runs on the
  // loop's thread.
  bool start(const std::string& url, std::function<void(HttpResponse)> done);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace plasma
