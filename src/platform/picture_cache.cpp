#include "platform/picture_cache.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "platform/files.h"
#include "support/legacy.h"
#include "support/log.h"

namespace plasma {

namespace {

constexpr const char* kPictureSuffix = ".pic";
constexpr const char* kAboutSuffix = ".meta";
constexpr const char* kTemporaryMark = ".tmp-";
// A validator longer than this is not worth keeping (servers send a few dozen bytes).
constexpr std::size_t kValidatorBytes = 1024;

// Names a copy after its URL: FNV-1a, 64 bits. Two URLs with the same name are told apart by the
// URL kept in the description, so a clash costs a fetch, never a wrong picture.
std::string fileStem(const std::string& url) {
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (const unsigned char c : url) {
    h ^= c;
    h *= 0x100000001b3ULL;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

bool endsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// A URL goes into the one-line description and into a request: control bytes and spaces would
// break both, and no server needs them.
bool usableUrl(std::string_view url) {
  return std::none_of(url.begin(), url.end(), [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == 0x7F; });
}

std::string cleanValidator(std::string_view v) {
  if (v.size() > kValidatorBytes) return {};
  std::string out;
  for (const char c : v) {
    if (static_cast<unsigned char>(c) >= ' ' && c != 0x7F) out += c;
  }
  return out;
}

std::int64_t wallSeconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::string mebibytes(std::uint64_t bytes) {
  const std::uint64_t mib = 1024 * 1024;
  if (bytes % mib == 0) return std::to_string(bytes / mib) + " MiB";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / mib);
  return text;
}

std::string clockText(std::int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return text;
}

// Makes the folder and any missing parents, for this user alone (a cache under $HOME is nobody
// else's business; the service manager makes its own folder itself).
bool makeFolders(const std::string& path, std::string& why) {
  for (std::size_t i = 1; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '/') continue;
    const std::string at = path.substr(0, i);
    if (::mkdir(at.c_str(), 0700) != 0 && errno != EEXIST) {
      why = "cannot make " + at + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

}  // namespace

bool isPictureUrl(std::string_view entry) {
  const auto startsWith = [&](std::string_view scheme) {
    if (entry.size() < scheme.size()) return false;
    for (std::size_t i = 0; i < scheme.size(); ++i) {
      if (std::tolower(static_cast<unsigned char>(entry[i])) != scheme[i]) return false;
    }
    return true;
  };
  return startsWith("http://") || startsWith("https://");
}

struct PictureCache::State {
  PictureCacheOptions options;
  std::unique_ptr<HttpClient> client;
  const FetchMode mode;

  struct Entry {
    std::string etag;
    std::string lastModified;
    std::uint64_t size = 0;
    std::int64_t storedAt = 0;   // wall-clock seconds
    std::int64_t checkedAt = 0;  // wall-clock seconds of the last answer from the server
    std::uint64_t used = 0;      // order of last use, for the cap
  };
  struct Attempt {
    std::chrono::steady_clock::time_point at;
    std::string failure;  // the last failure; empty after a success
    bool permanent = false;  // a failure that asking again soon would only repeat (too large)
    bool dropped = false;    // its copy went for the cap: fetched again only when wanted
  };

  mutable std::mutex mutex;
  std::condition_variable wake;
  std::condition_variable idle;
  bool stop = false;
  bool exited = false;
  bool busy = false;
  std::atomic<bool> cancel{false};
  std::deque<std::string> queue;
  std::set<std::string> urgent;  // queued because a page is about to show them
  std::map<std::string, Entry> entries;
  std::map<std::string, Attempt> attempts;
  std::optional<std::set<std::string>> named;  // the document's URLs, once known
  std::uint64_t useCounter = 0;
  std::uint64_t bytes = 0;
  int dirFd = -1;
  std::string folderProblem;
  bool capLogged = false;
  std::function<void()> changed;

  State(PictureCacheOptions o, std::unique_ptr<HttpClient> c, FetchMode m)
      : options(std::move(o)), client(std::move(c)), mode(m) {
    folderProblem = options.folder.empty() ? options.folderProblem : std::string();
  }
  ~State() {
    if (dirFd >= 0) ::close(dirFd);
  }

  std::string shownFolder() const { return escapeForLog(options.folder, 200); }

  // The folder, opened once; made when `make`. -1 (with folderProblem set) when it cannot be had.
  int folder(bool make) {
    if (dirFd >= 0 || options.folder.empty()) return dirFd;
    dirFd = ::open(options.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0 && errno == ENOENT && make) {
      std::string why;
      if (!makeFolders(options.folder, why)) {
        folderProblem = "the picture cache " + shownFolder() + " cannot be made: " + why;
        return -1;
      }
      dirFd = ::open(options.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (dirFd < 0 && (make || errno != ENOENT)) {
      folderProblem = "the picture cache " + shownFolder() + " cannot be opened: " + std::strerror(errno);
    } else if (dirFd >= 0) {
      folderProblem.clear();
    }
    return dirFd;
  }

  std::string filePath(const std::string& url) const { return options.folder + "/" + fileStem(url) + kPictureSuffix; }

  void removeFiles(const std::string& stem) {
    if (dirFd < 0) return;
    ::unlinkat(dirFd, (stem + kPictureSuffix).c_str(), 0);
    ::unlinkat(dirFd, (stem + kAboutSuffix).c_str(), 0);
  }

  void forget(std::map<std::string, Entry>::iterator it) {
    bytes -= std::min(bytes, it->second.size);
    removeFiles(fileStem(it->first));
    entries.erase(it);
  }

  bool writeAbout(const std::string& url, const Entry& e, std::string& why) {
    std::ostringstream text;
    text << "url " << url << "\n"
         << "size " << e.size << "\n"
         << "stored " << e.storedAt << "\n"
         << "checked " << e.checkedAt << "\n";
    if (!e.etag.empty()) text << "etag " << e.etag << "\n";
    if (!e.lastModified.empty()) text << "last-modified " << e.lastModified << "\n";
    return writeTextAtomicAt(dirFd, options.folder, fileStem(url) + kAboutSuffix, text.str(), &why);
  }

  // What the folder holds from earlier runs: copies whose description and file agree; anything
  // else of ours (a temporary left by a crash, a file without its description) is removed.
  void readFolder() {
    if (folder(false) < 0) return;
    const int listFd = ::dup(dirFd);
    DIR* dir = listFd < 0 ? nullptr : ::fdopendir(listFd);
    if (!dir) {
      if (listFd >= 0) ::close(listFd);
      return;
    }
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir)) names.emplace_back(e->d_name);
    ::closedir(dir);
    std::set<std::string> keptStems;
    std::vector<std::pair<std::int64_t, std::string>> byAge;
    for (const std::string& name : names) {
      if (name.find(kTemporaryMark) != std::string::npos) {
        ::unlinkat(dirFd, name.c_str(), 0);
        continue;
      }
      if (!endsWith(name, kAboutSuffix)) continue;
      const std::string stem = name.substr(0, name.size() - std::strlen(kAboutSuffix));
      std::string url;
      Entry e;
      if (readAbout(name, url, e) && fileStem(url) == stem && !entries.count(url)) {
        struct stat st {};
        const std::string file = stem + kPictureSuffix;
        if (::fstatat(dirFd, file.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            static_cast<std::uint64_t>(st.st_size) == e.size) {
          entries[url] = e;
          bytes += e.size;
          keptStems.insert(stem);
          byAge.emplace_back(e.storedAt, url);
          continue;
        }
      }
      removeFiles(stem);
    }
    for (const std::string& name : names) {
      if (endsWith(name, kPictureSuffix) &&
          !keptStems.count(name.substr(0, name.size() - std::strlen(kPictureSuffix)))) {
        ::unlinkat(dirFd, name.c_str(), 0);
      }
    }
    std::sort(byAge.begin(), byAge.end());
    for (const auto& [at, url] : byAge) entries[url].used = ++useCounter;
  }

  bool readAbout(const std::string& name, std::string& url, Entry& e) {
    const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 && text.size() < 16384) text.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    std::istringstream in(text);
    std::string line;
    bool sized = false;
    while (std::getline(in, line)) {
      const std::size_t space = line.find(' ');
      if (space == std::string::npos) continue;
      const std::string key = line.substr(0, space), value = line.substr(space + 1);
      try {
        if (key == "url") url = value;
        if (key == "size") e.size = std::stoull(value), sized = true;
        if (key == "stored") e.storedAt = std::stoll(value);
        if (key == "checked") e.checkedAt = std::stoll(value);
      } catch (const std::exception&) {
        return false;
      }
      if (key == "etag") e.etag = value;
      if (key == "last-modified") e.lastModified = value;
    }
    return sized && !url.empty();
  }

  // Whether url should be fetched now: no copy and not tried lately, or a copy due to be asked
  // about again.
  bool due(const std::string& url) const {
    const auto a = attempts.find(url);
    const auto now = std::chrono::steady_clock::now();
    if (a != attempts.end() && !a->second.failure.empty()) {
      const int wait = a->second.permanent ? options.revalidateSeconds : options.retrySeconds;
      if (now - a->second.at < std::chrono::seconds(wait)) return false;
    }
    const auto e = entries.find(url);
    if (e == entries.end()) return true;
    const std::int64_t age = wallSeconds() - e->second.checkedAt;
    // A check dated in the future means the clock went back: asked about again.
    return age >= options.revalidateSeconds || age < -60;
  }

  void enqueue(const std::string& url, bool first) {
    if (first) urgent.insert(url);
    const auto at = std::find(queue.begin(), queue.end(), url);
    if (at != queue.end()) {
      if (!first) return;
      queue.erase(at);
    }
    if (first) {
      queue.push_front(url);
    } else {
      queue.push_back(url);
    }
    wake.notify_all();
  }

  // One line when a picture's fetches start failing, not one per retry: the reason is kept for
  // the line its black page writes, and the end of the failures is logged.
  void logFailure(const std::string& url, Attempt& a, const std::string& why, bool permanent) {
    a.permanent = permanent;
    const bool first = a.failure.empty();
    a.failure = why;
    if (!first) return;
    const auto e = entries.find(url);
    logLine("picture " + urlForLog(url) + " could not be fetched: " + why +
            (e != entries.end() ? "; the copy from " + clockText(e->second.storedAt) + " is shown meanwhile"
                                : "; its page stays black until it arrives"));
  }

  void noteSuccess(const std::string& url, Attempt& a) {
    if (!a.failure.empty()) logLine(LogPriority::Notice, "picture " + urlForLog(url) + " is fetched again");
    a.failure.clear();
    a.permanent = false;
  }

  // Keeps the copies within the cap, dropping those used least recently (never `keep`).
  void holdCap(const std::string& keep) {
    while (bytes > options.capBytes) {
      auto oldest = entries.end();
      for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it->first != keep && (oldest == entries.end() || it->second.used < oldest->second.used)) oldest = it;
      }
      if (oldest == entries.end()) return;
      if (!capLogged) {
        capLogged = true;
        logLine("the picture cache " + shownFolder() + " is full (" + mebibytes(options.capBytes) +
                ", PLASMA_PICTURE_CACHE_MB): the pictures used longest ago are dropped and fetched again when "
                "their page comes");
      }
      attempts[oldest->first].dropped = true;
      forget(oldest);
    }
  }

  // One fetch, the lock not held; returns true when a new copy was stored.
  bool fetch(std::unique_lock<std::mutex>& lock, const std::string& url, bool wanted) {
    Attempt& attempt = attempts[url];
    attempt.at = std::chrono::steady_clock::now();
    if (folder(true) < 0) {
      logFailure(url, attempt, folderProblem, true);
      return false;
    }
    const int dir = dirFd;
    const std::string stem = fileStem(url);
    const std::string temporary = stem + kPictureSuffix + kTemporaryMark + std::to_string(::getpid());
    HttpRequest request;
    request.url = url;
    request.cancel = &cancel;
    if (const auto e = entries.find(url); e != entries.end()) {
      request.ifNoneMatch = e->second.etag;
      request.ifModifiedSince = e->second.lastModified;
    }
    const std::uint64_t cap = options.capBytes;
    lock.unlock();

    ::unlinkat(dir, temporary.c_str(), 0);
    const int fd = ::openat(dir, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    std::uint64_t written = 0;
    int writeError = 0;
    bool overCap = false;
    request.sink = [&](const char* data, std::size_t size) {
      if (written + size > cap) {
        overCap = true;
        return false;
      }
      std::size_t done = 0;
      while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
          writeError = n == 0 ? ENOSPC : errno;
          return false;
        }
        done += static_cast<std::size_t>(n);
      }
      written += size;
      return true;
    };
    HttpResponse r;
    if (fd < 0) {
      writeError = errno;
    } else {
      r = client->fetch(request);
    }
    // On disk before it takes the copy's name, so a power cut cannot leave a named, empty file.
    if (fd >= 0 && r.ok && ::fsync(fd) != 0) writeError = errno;
    if (fd >= 0 && ::close(fd) != 0 && r.ok && writeError == 0) writeError = errno;

    lock.lock();
    Attempt& a = attempts[url];
    const auto discard = [&] { ::unlinkat(dir, temporary.c_str(), 0); };
    if (stop) {
      discard();
      return false;
    }
    if (r.notModified) {
      discard();
      const auto e = entries.find(url);
      if (e != entries.end()) {
        e->second.checkedAt = wallSeconds();
        std::string why;
        if (!writeAbout(url, e->second, why)) logLine("the picture cache " + shownFolder() + ": " + why);
      }
      noteSuccess(url, a);
      return false;
    }
    if (overCap) {
      discard();
      logFailure(url, a, "more than the picture cache's cap of " + mebibytes(cap) + " (PLASMA_PICTURE_CACHE_MB)", true);
      return false;
    }
    if (writeError != 0) {
      discard();
      logFailure(url, a, "cannot store it in " + shownFolder() + ": " + std::strerror(writeError), false);
      return false;
    }
    if (!r.ok) {
      discard();
      logFailure(url, a, r.error.empty() ? "no response" : r.error, r.error.find("larger than") != std::string::npos);
      return false;
    }
    if (named && !named->count(url) && !wanted) {
      discard();  // the document stopped naming it while it came
      return false;
    }
    if (::renameat(dir, temporary.c_str(), dir, (stem + kPictureSuffix).c_str()) != 0) {
      const int e = errno;
      discard();
      logFailure(url, a, "cannot store it in " + shownFolder() + ": " + std::strerror(e), false);
      return false;
    }
    // Another URL with the same file name loses its copy (see fileStem).
    for (auto it = entries.begin(); it != entries.end(); ++it) {
      if (it->first != url && fileStem(it->first) == stem) {
        bytes -= std::min(bytes, it->second.size);
        entries.erase(it);
        break;
      }
    }
    Entry& e = entries[url];
    bytes -= std::min(bytes, e.size);
    e.size = written;
    e.etag = cleanValidator(r.etag);
    e.lastModified = cleanValidator(r.lastModified);
    e.storedAt = e.checkedAt = wallSeconds();
    e.used = ++useCounter;
    bytes += written;
    std::string why;
    if (!writeAbout(url, e, why)) {
      // Without its description the copy would not be found after a restart: better none.
      forget(entries.find(url));
      logFailure(url, a, why, false);
      return false;
    }
    a.dropped = false;
    noteSuccess(url, a);
    holdCap(url);
    return true;
  }

  void notifyChanged(std::unique_lock<std::mutex>& lock) {
    const std::function<void()> callback = changed;
    lock.unlock();
    if (callback) callback();
    lock.lock();
  }

  static void work(const std::shared_ptr<State>& s) {
    std::unique_lock<std::mutex> lock(s->mutex);
    while (!s->stop) {
      s->wake.wait(lock, [&] { return s->stop || !s->queue.empty(); });
      if (s->stop) break;
      const std::string url = s->queue.front();
      s->queue.pop_front();
      const bool wanted = s->urgent.erase(url) > 0;
      if (!s->due(url) || (!wanted && s->named && !s->named->count(url))) continue;
      s->busy = true;
      const bool stored = s->fetch(lock, url, wanted);
      s->busy = false;
      if (stored && !s->stop) s->notifyChanged(lock);
      s->idle.notify_all();
    }
    s->exited = true;
    s->idle.notify_all();
  }
};

PictureCache::PictureCache(PictureCacheOptions options, std::unique_ptr<HttpClient> client, FetchMode mode)
    : state_(std::make_shared<State>(std::move(options), std::move(client), mode)) {
  state_->readFolder();
  if (mode == FetchMode::WorkerThread) {
    std::thread([s = state_] { State::work(s); }).detach();
  } else {
    state_->exited = true;
  }
}

PictureCache::~PictureCache() {
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->stop = true;
  state_->cancel = true;
  state_->changed = nullptr;
  state_->wake.notify_all();
  // The transfer sees the cancel within about a second; a thread that still does not end (a file
  // system that hangs) is left to end with the process, holding its own share of the state.
  state_->idle.wait_for(lock, std::chrono::milliseconds(1500), [&] { return state_->exited; });
}

PictureCache::Copy PictureCache::copy(const std::string& url) {
  State& s = *state_;
  std::unique_lock<std::mutex> lock(s.mutex);
  if (!usableUrl(url)) return {{}, "not a usable URL (a space or a control character in it)"};
  if (s.options.folder.empty()) return {{}, s.folderProblem};
  if (s.due(url)) {
    if (s.mode == FetchMode::Inline) {
      s.fetch(lock, url, true);
    } else {
      s.enqueue(url, true);
    }
  }
  const auto e = s.entries.find(url);
  if (e != s.entries.end()) {
    e->second.used = ++s.useCounter;
    return {s.filePath(url), {}};
  }
  const auto a = s.attempts.find(url);
  if (!s.folderProblem.empty()) return {{}, s.folderProblem};
  if (a != s.attempts.end() && !a->second.failure.empty()) {
    return {{}, "not in the picture cache (the last fetch failed: " + a->second.failure + ")"};
  }
  return {{}, "not in the picture cache yet; it is being fetched"};
}

void PictureCache::named(const std::vector<std::string>& urls) {
  State& s = *state_;
  std::unique_lock<std::mutex> lock(s.mutex);
  std::set<std::string> now;
  for (const std::string& url : urls) {
    if (usableUrl(url)) now.insert(url);
  }
  for (auto it = s.entries.begin(); it != s.entries.end();) {
    if (now.count(it->first)) {
      ++it;
      continue;
    }
    s.folder(false);
    const auto next = std::next(it);
    s.forget(it);
    it = next;
  }
  for (auto it = s.attempts.begin(); it != s.attempts.end();) {
    it = now.count(it->first) ? std::next(it) : s.attempts.erase(it);
  }
  s.named = now;
  if (s.options.folder.empty() || s.mode == FetchMode::Inline) return;
  // In the document's order, so the slideshow's first pictures come first.
  for (const std::string& url : urls) {
    if (!now.count(url)) continue;
    const auto a = s.attempts.find(url);
    if (a != s.attempts.end() && a->second.dropped) continue;  // only when its page comes
    if (s.due(url)) s.enqueue(url, false);
  }
}

void PictureCache::onChanged(std::function<void()> changed) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->changed = std::move(changed);
}

bool PictureCache::waitIdle(int ms) {
  std::unique_lock<std::mutex> lock(state_->mutex);
  return state_->idle.wait_for(lock, std::chrono::milliseconds(ms), [&] {
    return state_->exited || (state_->queue.empty() && !state_->busy);
  });
}

std::uint64_t PictureCache::bytesKept() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->bytes;
}

}  // namespace plasma
