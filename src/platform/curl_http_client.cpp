// The timetable's HTTP client on libcurl. Every transfer is bounded: a connect time-out, a total
// time-out that also ends a body trickling in byte by byte, a body size cap, and redirects that may
// only lead to http or https, never to a local file or another protocol.
#include <curl/curl.h>

#include <memory>
#include <mutex>
#include <string_view>

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
  const std::function<bool(const char*, std::size_t)>* to = nullptr;  // instead of body
  std::size_t received = 0;
  bool overflow = false;
  bool refused = false;  // the caller's sink gave up
};

std::size_t writeBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* sink = static_cast<BodySink*>(user);
  const std::size_t n = size * count;
  if (sink->received + n > sink->cap) {
    // Returning less than was handed over aborts the transfer.
    sink->overflow = true;
    return 0;
  }
  sink->received += n;
  if (sink->to && *sink->to) {
    if (!(*sink->to)(data, n)) {
      sink->refused = true;
      return 0;
    }
    return n;
  }
  sink->body->append(data, n);
  return n;
}

int checkCancel(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* cancel = static_cast<const std::atomic<bool>*>(user);
  return cancel->load(std::memory_order_relaxed) ? 1 : 0;
}

// A validator from the server goes back to it in a header line: a line break in it would add a
// header of the server's choosing.
bool fitsOneHeaderLine(std::string_view value) {
  for (const char c : value) {
    if (c == '\r' || c == '\n' || c == '\0') return false;
  }
  return true;
}

std::string lastHeader(CURL* h, const char* name) {
  curl_header* header = nullptr;
  if (curl_easy_header(h, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK || !header || !header->value) return {};
  return header->value;
}

class CurlHttpClient final : public HttpClient {
 public:
  explicit CurlHttpClient(const CurlClientOptions& options) : options_(options) {}

  HttpResponse get(const std::string& url) override {
    HttpRequest request;
    request.url = url;
    return fetch(request);
  }

  HttpResponse fetch(const HttpRequest& request) override {
    const std::string& url = request.url;
    HttpResponse r;
    // One handle per transfer keeps the client safe to use from any thread.
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), curl_easy_cleanup);
    if (!handle) {
      r.error = "curl could not start a transfer";
      return r;
    }
    CURL* h = handle.get();
    BodySink sink{options_.maxBodyBytes, &r.body};
    if (request.sink) sink.to = &request.sink;
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
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(nullptr, curl_slist_free_all);
    const bool conditional = addValidator(headers, "If-None-Match: ", request.ifNoneMatch) |
                             addValidator(headers, "If-Modified-Since: ", request.ifModifiedSince);
    if (headers) curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    if (request.cancel) {
      // Called at least once a second, also while connecting or resolving, so a stop ends a
      // transfer within about a second.
      curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
      curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, checkCancel);
      curl_easy_setopt(h, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(request.cancel));
    }

    const CURLcode rc = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &r.status);
    if (sink.overflow || rc == CURLE_FILESIZE_EXCEEDED) {
      return failed(r, "body larger than " + sizeText(options_.maxBodyBytes));
    }
    if (sink.refused) return failed(r, "the body could not be stored");
    if (rc == CURLE_ABORTED_BY_CALLBACK) return failed(r, "cancelled");
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
    if (conditional && r.status == 304) {
      r.ok = false;
      r.body.clear();
      r.notModified = true;
      return r;
    }
    // Only a success carries the document: a redirect curl could not follow (no Location) or a
    // 1xx/3xx answer with a body is a server's mistake, not a timetable.
    if (r.status < 200 || r.status > 299) {
      const bool redirect = r.status >= 300 && r.status <= 399;
      return failed(r, "HTTP " + std::to_string(r.status) + (redirect ? " not followed (no usable Location)" : ""));
    }
    if (sink.received == 0) return failed(r, "empty body (HTTP " + std::to_string(r.status) + ")");
    r.etag = lastHeader(h, "ETag");
    r.lastModified = lastHeader(h, "Last-Modified");
    r.ok = true;
    return r;
  }

 private:
  static bool addValidator(std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>& list, const char* name,
                           const std::string& value) {
    if (value.empty() || !fitsOneHeaderLine(value)) return false;
    curl_slist* grown = curl_slist_append(list.get(), (name + value).c_str());
    if (!grown) return false;
    list.release();
    list.reset(grown);
    return true;
  }

  static HttpResponse failed(HttpResponse& r, std::string why) {
    r.ok = false;
    r.body.clear();
    r.error = std::move(why);
    return r;
  }

  CurlClientOptions options_;
};

}  // namespace

HttpResponse HttpClient::fetch(const HttpRequest& request) {
  HttpResponse r = get(request.url);
  if (r.ok && request.sink) {
    if (!request.sink(r.body.data(), r.body.size())) {
      r.ok = false;
      r.error = "the body could not be stored";
    }
    r.body.clear();
  }
  return r;
}

std::unique_ptr<HttpClient> makeCurlHttpClient(const CurlClientOptions& options) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  return std::make_unique<CurlHttpClient>(options);
}

std::unique_ptr<HttpClient> makeCurlHttpClient() { return makeCurlHttpClient(CurlClientOptions{}); }

}  // namespace plasma
