// The timetable's HTTP client on libcurl. Every transfer is bounded: a connect time-out, a total
// time-out that also ends a body trickling in byte by byte, a body size cap, and redirects that may
// only lead to http or https, never to a local file or another protocol.
#include <curl/curl.h>

#include <memory>
#include <mutex>

#include "platform/http_client.h"
#include "support/legacy.h"

namespace plasma {

namespace {

std::string sizeText(std::size_t bytes) {
  if (bytes % (1024 * 1024) == 0) return std::to_string(bytes / (1024 * 1024)) + " MiB";
  return std::to_string(bytes) + " bytes";
}

struct BodySink {
  std::size_t cap;
  std::string* body;
  bool overflow = false;
};

std::size_t writeBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* sink = static_cast<BodySink*>(user);
  const std::size_t n = size * count;
  if (sink->body->size() + n > sink->cap) {
    // Returning less than was handed over aborts the transfer.
    sink->overflow = true;
    return 0;
  }
  sink->body->append(data, n);
  return n;
}

class CurlHttpClient final : public HttpClient {
 public:
  explicit CurlHttpClient(const CurlClientOptions& options) : options_(options) {}

  HttpResponse get(const std::string& url) override {
    HttpResponse r;
    // One handle per transfer keeps the client safe to use from any thread.
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), curl_easy_cleanup);
    if (!handle) {
      r.error = "curl could not start a transfer";
      return r;
    }
    CURL* h = handle.get();
    BodySink sink{options_.maxBodyBytes, &r.body};
    char reason[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, options_.maxRedirects);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, options_.connectTimeoutMs);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, options_.totalTimeoutMs);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    // A name server that never answers keeps the resolver thread for half a minute after the
    // time-out; without this the clean-up of the transfer would wait for it.
    curl_easy_setopt(h, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options_.maxBodyBytes));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, reason);
    if (!options_.userAgent.empty()) curl_easy_setopt(h, CURLOPT_USERAGENT, options_.userAgent.c_str());

    const CURLcode rc = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &r.status);
    if (sink.overflow || rc == CURLE_FILESIZE_EXCEEDED) {
      return failed(r, "body larger than " + sizeText(options_.maxBodyBytes));
    }
    if (rc == CURLE_OUT_OF_MEMORY) {
      // curl says no more than "Out of memory" when a server sends a header line it will not
      // hold (over 100 KiB); the operator should not go looking for a shortage of memory first.
      return failed(r, "curl gave up: a response header line over 100 KiB, or out of memory");
    }
    if (rc != CURLE_OK) {
      // curl's own detail ("Failed to connect to host port 80 after 3 ms: ...") says more than
      // the text of the code.
      // It can quote what a server sent (a redirect target), so it is escaped like the document.
      return failed(r, reason[0] != '\0' ? escapeForLog(reason, 200) : std::string(curl_easy_strerror(rc)));
    }
    // Only a success carries the document: a redirect curl could not follow (no Location) or a
    // 1xx/3xx answer with a body is a server's mistake, not a timetable.
    if (r.status < 200 || r.status > 299) {
      const bool redirect = r.status >= 300 && r.status <= 399;
      return failed(r, "HTTP " + std::to_string(r.status) + (redirect ? " not followed (no usable Location)" : ""));
    }
    if (r.body.empty()) return failed(r, "empty body (HTTP " + std::to_string(r.status) + ")");
    r.ok = true;
    return r;
  }

 private:
  static HttpResponse failed(HttpResponse& r, std::string why) {
    r.ok = false;
    r.body.clear();
    r.error = std::move(why);
    return r;
  }

  CurlClientOptions options_;
};

}  // namespace

std::unique_ptr<HttpClient> makeCurlHttpClient(const CurlClientOptions& options) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  return std::make_unique<CurlHttpClient>(options);
}

std::unique_ptr<HttpClient> makeCurlHttpClient() { return makeCurlHttpClient(CurlClientOptions{}); }

}  // namespace plasma
