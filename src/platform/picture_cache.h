#pragma once
// Slideshow pictures a site serves over HTTP, kept on disk: fetched off the window thread,
// revalidated now and then, shown from disk while the server is away, and kept across restarts.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/http_client.h"

namespace plasma {

inline constexpr std::uint64_t kDefaultPictureCacheBytes = 256ULL * 1024 * 1024;

struct PictureCacheOptions {
  std::string folder;         // made (with its parents, for this user only) when first needed
  std::string folderProblem;  // why there is no folder, when `folder` is empty
  std::uint64_t capBytes = kDefaultPictureCacheBytes;
  // A copy is asked about again (If-None-Match / If-Modified-Since) once it is this old.
  int revalidateSeconds = 300;
  // A fetch that failed is tried again after this long at the earliest.
  int retrySeconds = 60;
};

// True for an http:// or https:// URL (the scheme in any case).
bool isPictureUrl(std::string_view entry);

// The on-disk copies: one file per URL (named by a hash of it) with a small description beside it
// (the URL, its validators, when it was stored and last checked). Every file is written under a
// temporary name and renamed, so a copy is either whole or absent. Above the cap the copies used
// least recently go first; copies of URLs the document no longer names go at once.
class PictureCache {
 public:
  // With FetchMode::WorkerThread every fetch runs on the cache's own thread, one at a time; with
  // Inline a copy that is missing or due is fetched at once by the caller of copy().
  PictureCache(PictureCacheOptions options, std::unique_ptr<HttpClient> client, FetchMode mode);
  // Returns within about a second: a transfer in flight is cancelled.
  ~PictureCache();
  PictureCache(const PictureCache&) = delete;
  PictureCache& operator=(const PictureCache&) = delete;

  struct Copy {
    std::string file;     // the copy on disk, empty when there is none
    std::string problem;  // why there is none, for the log line
  };
  // The copy of a picture the slideshow is about to show. A missing or old copy is fetched, ahead
  // of those that are only named.
  Copy copy(const std::string& url);
  // Every URL the document names: those without a copy, or due to be asked about again, are
  // fetched; copies of the others are removed.
  void named(const std::vector<std::string>& urls);
  // Runs on the cache's thread after a fetch stored a new copy; nullptr stops it.
  void onChanged(std::function<void()> changed);

  // Tests: waits up to ms until nothing is queued or in flight; true when so.
  bool waitIdle(int ms);
  std::uint64_t bytesKept() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace plasma
