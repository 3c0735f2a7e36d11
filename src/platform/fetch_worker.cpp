#include <malloc.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/event_loop.h"
#include "platform/http_client.h"

namespace plasma {

namespace {

// Timetable bodies of up to a mebibyte are built on the worker, parsed into copies on the window
// thread and freed there. glibc raises its mmap threshold each time such a block is freed, so the
// next ones come from the heaps of both threads instead, where bodies of changing sizes leave
// holes that are never given back: resident memory climbed by 30 MB under hostile bodies. A fixed
// threshold keeps every large block in its own mapping, returned to the system when freed.
constexpr int kLargeBlockBytes = 128 * 1024;

void keepLargeBlocksApart() {
  static std::once_flag once;
  std::call_once(once, [] { mallopt(M_MMAP_THRESHOLD, kLargeBlockBytes); });
}

}  // namespace

struct FetchWorker::Impl {
  HttpClient& client;
  EventLoop& loop;
  FetchMode mode;
  std::atomic<bool> busy{false};
  std::mutex mutex;
  std::condition_variable cv;
  bool stop = false;
  bool pending = false;
  bool transferring = false;  // the worker is inside the client
  std::condition_variable idle;
  std::string url;
  std::function<void(HttpResponse)> done;
  std::thread thread;
  // Expires with the worker, so an answer posted to the loop before that is dropped.
  std::shared_ptr<char> alive = std::make_shared<char>();

  Impl(HttpClient& c, EventLoop& l, FetchMode m) : client(c), loop(l), mode(m) {
    keepLargeBlocksApart();
    if (mode == FetchMode::WorkerThread) thread = std::thread([this] { work(); });
  }

  ~Impl() {
    if (thread.joinable()) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        stop = true;
      }
      cv.notify_all();
      thread.join();
    }
  }

  void work() {
    std::unique_lock<std::mutex> lock(mutex);
    while (true) {
      cv.wait(lock, [this] { return stop || pending; });
      if (stop) return;
      pending = false;
      transferring = true;
      const std::string u = url;
      auto cb = std::move(done);
      lock.unlock();
      HttpResponse r = client.get(u);
      lock.lock();
      transferring = false;
      idle.notify_all();
      lock.unlock();
      loop.post([this, alive = std::weak_ptr<char>(alive), cb = std::move(cb), r = std::move(r)]() mutable {
        if (alive.expired()) return;  // the worker, and whoever asked, went before the answer came
        busy = false;
        cb(std::move(r));
        malloc_trim(0);
      });
      lock.lock();
    }
  }
};

FetchWorker::FetchWorker(HttpClient& client, EventLoop& loop, FetchMode mode)
    : impl_(std::make_unique<Impl>(client, loop, mode)) {}

FetchWorker::~FetchWorker() = default;

bool FetchWorker::busy() const { return impl_->busy; }

FetchMode FetchWorker::mode() const { return impl_->mode; }

bool FetchWorker::waitIdle(int ms) {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  return impl_->idle.wait_for(lock, std::chrono::milliseconds(ms),
                              [this] { return !impl_->transferring && !impl_->pending; });
}

bool FetchWorker::start(const std::string& url, std::function<void(HttpResponse)> done) {
  if (impl_->busy) return false;
  impl_->busy = true;
  if (impl_->mode == FetchMode::Inline) {
    HttpResponse r = impl_->client.get(url);
    impl_->loop.post([this, alive = std::weak_ptr<char>(impl_->alive), done = std::move(done),
                      r = std::move(r)]() mutable {
      if (alive.expired()) return;  // the worker, and whoever asked, went before the answer came
      impl_->busy = false;
      done(std::move(r));
    });
    return true;
  }
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->url = url;
    impl_->done = std::move(done);
    impl_->pending = true;
  }
  impl_->cv.notify_all();
  return true;
}

}  // namespace plasma
