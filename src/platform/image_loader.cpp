#include "platform/image_loader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "platform/event_loop.h"
#include "support/legacy.h"

namespace plasma {
namespace {

PictureOutcome missing(std::string reason) { return {nullptr, true, std::move(reason)}; }

// Enough of a path to find the file; a longer one is cut in the log.
constexpr std::size_t kShownPathBytes = 200;

class PictureFileLoader final : public ImageLoader {
 public:
  std::string version(const std::string& path) override { return pictureFileVersion(path); }

  PictureOutcome read(const std::string& path, PictureLimits keep, const std::atomic<bool>& cancel) override {
    // The path comes from the server: escaped, so a decode error cannot forge or erase log lines.
    return readPictureFile(path, escapeForLog(path, kShownPathBytes), keep, cancel);
  }
};

}  // namespace

std::string pictureFileVersion(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return {};
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" + std::to_string(st.st_mode) + ":" +
         std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
         std::to_string(st.st_mtim.tv_nsec) + ":" + std::to_string(st.st_ctim.tv_nsec);
}

PictureOutcome readPictureFile(const std::string& path, const std::string& shown, PictureLimits keep,
                               const std::atomic<bool>& cancel) {
  // O_NONBLOCK so that a FIFO (or a path swapped for one) cannot block the worker; whatever was
  // opened is checked again before a byte is read.
  const int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR || path.empty()) return missing("not found");
    return missing(std::string("cannot be opened: ") + std::strerror(errno));
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return missing("not a regular file, not shown");
  }
  if (st.st_size > kMaxPictureFileBytes) {
    ::close(fd);
    return missing(std::to_string(st.st_size) + " bytes, larger than 64 MiB, not shown");
  }
  std::vector<unsigned char> bytes(static_cast<std::size_t>(st.st_size));
  std::size_t got = 0;
  // In slices, so a slow network file can still be given up between two of them.
  constexpr std::size_t kSlice = 1u << 20;
  while (got < bytes.size() && !cancel.load(std::memory_order_relaxed)) {
    const ssize_t n = ::read(fd, bytes.data() + got, std::min(kSlice, bytes.size() - got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  bytes.resize(got);
  try {
    return {decodePicture(bytes.data(), bytes.size(), shown, keep, &cancel), false, {}};
  } catch (const RuntimeError& e) {
    return {nullptr, false, e.what()};
  }
}

std::unique_ptr<ImageLoader> makePictureFileLoader() { return std::make_unique<PictureFileLoader>(); }

// Shared with the worker thread, which may outlive the PictureWorker when a decode is stuck.
struct PictureWorker::State {
  ImageLoader& loader;
  EventLoop& loop;
  const FetchMode mode;

  mutable std::mutex mutex;
  std::condition_variable cv;
  bool stop = false;
  bool exited = false;
  bool dirty = false;  // the wanted list changed or asks to be checked again
  std::vector<std::string> wanted;
  PictureLimits keep;
  struct Entry {
    std::string version;
    PictureLimits keep;
    PictureOutcome outcome;
  };
  std::map<std::string, Entry> done;
  std::string reading;  // the path the worker reads now
  std::atomic<bool> cancel{false};
  std::atomic<bool> busy{false};
  std::function<void(const std::string&)> onDecoded;  // loop thread only

  State(ImageLoader& l, EventLoop& lp, FetchMode m) : loader(l), loop(lp), mode(m) {}

  bool isWanted(const std::string& path) const {
    return std::find(wanted.begin(), wanted.end(), path) != wanted.end();
  }

  // Reads one path unless its outcome is still current; the lock is held on entry and on return.
  // True when a new outcome was stored.
  bool refresh(std::unique_lock<std::mutex>& lock, const std::string& path, PictureLimits limits) {
    lock.unlock();
    const std::string v = loader.version(path);
    lock.lock();
    const auto it = done.find(path);
    if (it != done.end() && it->second.version == v && it->second.keep == limits) return false;
    reading = path;
    cancel = false;
    lock.unlock();
    PictureOutcome outcome = loader.read(path, limits, cancel);
    lock.lock();
    reading.clear();
    if (stop || cancel || !isWanted(path) || !(keep == limits)) return false;
    done[path] = Entry{v, limits, std::move(outcome)};
    return true;
  }

  static void work(const std::shared_ptr<State>& s) {
    std::unique_lock<std::mutex> lock(s->mutex);
    while (!s->stop) {
      s->cv.wait(lock, [&] { return s->stop || s->dirty; });
      s->dirty = false;
      const std::vector<std::string> paths = s->wanted;
      const PictureLimits limits = s->keep;
      s->busy = true;
      for (const std::string& path : paths) {
        if (s->stop || (s->dirty && !s->isWanted(path))) break;
        if (s->refresh(lock, path, limits)) {
          s->loop.post([s, path] {
            if (!s->stop && s->onDecoded) s->onDecoded(path);
          });
        }
      }
      s->busy = false;
    }
    s->exited = true;
    s->cv.notify_all();
  }
};

PictureWorker::PictureWorker(ImageLoader& loader, EventLoop& loop, FetchMode mode)
    : state_(std::make_shared<State>(loader, loop, mode)) {
  if (mode == FetchMode::WorkerThread) {
    std::thread([s = state_] { State::work(s); }).detach();
    // A picture that changed where the loader keeps it (a fetch brought it) is looked at again at
    // once, so a page coming soon finds it instead of the outcome from before.
    loader.onChanged([weak = std::weak_ptr<State>(state_)] {
      const std::shared_ptr<State> s = weak.lock();
      if (!s) return;
      std::lock_guard<std::mutex> lock(s->mutex);
      s->dirty = true;
      s->cv.notify_all();
    });
  } else {
    state_->exited = true;
  }
}

PictureWorker::~PictureWorker() {
  if (state_->mode == FetchMode::WorkerThread) state_->loader.onChanged(nullptr);
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->stop = true;
  state_->cancel = true;
  state_->onDecoded = nullptr;
  state_->cv.notify_all();
  // Every decoder stops at its next row when cancelled; only a read stuck in the kernel (a dead
  // network share) does not, and the thread is then left to end with the process.
  state_->cv.wait_for(lock, std::chrono::seconds(1), [&] { return state_->exited; });
}

void PictureWorker::want(const std::vector<std::string>& paths, PictureLimits keep) {
  State& s = *state_;
  std::unique_lock<std::mutex> lock(s.mutex);
  const bool keepChanged = !(s.keep == keep);
  s.wanted = paths;
  s.keep = keep;
  // Pictures no longer wanted are let go at once (the canvas keeps its own reference).
  for (auto it = s.done.begin(); it != s.done.end();) {
    it = s.isWanted(it->first) ? std::next(it) : s.done.erase(it);
  }
  if (!s.reading.empty() && (!s.isWanted(s.reading) || keepChanged)) s.cancel = true;
  if (s.mode == FetchMode::Inline) {
    for (const std::string& path : paths) s.refresh(lock, path, keep);
    return;
  }
  s.dirty = true;
  s.cv.notify_all();
}

std::optional<PictureOutcome> PictureWorker::find(const std::string& path) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  const auto it = state_->done.find(path);
  if (it == state_->done.end()) return std::nullopt;
  return it->second.outcome;
}

void PictureWorker::onDecoded(std::function<void(const std::string& path)> callback) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->onDecoded = std::move(callback);
}

bool PictureWorker::busy() const { return state_->busy; }

}  // namespace plasma
