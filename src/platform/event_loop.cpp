#include "platform/event_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <exception>

#include "support/log.h"

namespace plasma {

Timer::Timer(EventLoop& loop, std::string name, int intervalMs, std::function<void()> onTick)
    : loop_(loop), name_(std::move(name)), intervalMs_(intervalMs), onTick_(std::move(onTick)) {}

void Timer::setEnabled(bool on) {
  if (on && !enabled_) deadlineUs_ = loop_.nowUs() + std::int64_t{intervalMs_} * 1000;
  enabled_ = on;
}

void Timer::setInterval(int ms) {
  intervalMs_ = std::max(1, ms);
  deadlineUs_ = loop_.nowUs() + std::int64_t{intervalMs_} * 1000;
}

EventLoop::~EventLoop() = default;

Timer& EventLoop::createTimer(std::string name, int intervalMs, bool enabled,
                              std::function<void()> onTick) {
  timers_.push_back(std::unique_ptr<Timer>(
      new Timer(*this, std::move(name), std::max(1, intervalMs), std::move(onTick))));
  Timer& t = *timers_.back();
  t.setEnabled(enabled);
  return t;
}

void EventLoop::removeTimer(Timer& timer) {
  std::erase_if(timers_, [&](const std::unique_ptr<Timer>& t) { return t.get() == &timer; });
}

void EventLoop::post(std::function<void()> fn) {
  {
    std::lock_guard<std::mutex> lock(postedMutex_);
    posted_.push_back(std::move(fn));
  }
  wake();
}

EventLoop::AnimationId EventLoop::startAnimation(std::function<bool()> step) {
  animation_ = std::move(step);
  ++animationGeneration_;
  nextFrameUs_ = nowUs() + kFramePeriodUs;
  return animationGeneration_;
}

void EventLoop::stopAnimation(AnimationId id) {
  if (id != animationGeneration_) return;  // ended already, or replaced by a newer one
  animation_ = nullptr;
}

void EventLoop::quit() {
  quit_ = true;
  wake();
}

void EventLoop::reportEscaped(const char* where, const std::exception* e) {
  logLine(std::string(where) + " stopped by an unexpected error: " +
          (e ? e->what() : "unknown exception") + "; the display goes on");
}

void EventLoop::runGuarded(const char* where, const std::function<void()>& fn) {
  // No handler may end the process: whatever it lets through is logged and the loop goes on.
  try {
    fn();
  } catch (const std::exception& e) {
    reportEscaped(where, &e);
  } catch (...) {
    reportEscaped(where, nullptr);
  }
}

std::int64_t EventLoop::nextDeadlineUs() const {
  std::int64_t next = -1;
  for (const auto& t : timers_) {
    if (t->enabled_ && (next < 0 || t->deadlineUs_ < next)) next = t->deadlineUs_;
  }
  if (animation_ && (next < 0 || nextFrameUs_ < next)) next = nextFrameUs_;
  return next;
}

bool EventLoop::runPosted() {
  bool any = false;
  while (true) {
    std::function<void()> fn;
    {
      std::lock_guard<std::mutex> lock(postedMutex_);
      if (posted_.empty()) break;
      fn = std::move(posted_.front());
      posted_.pop_front();
    }
    runGuarded("posted work", fn);
    any = true;
  }
  return any;
}

bool EventLoop::dispatchDue(std::int64_t now) {
  bool any = runPosted();
  // Fire due events one at a time in deadline order, re-reading the state after each handler
  // because a handler may enable, disable or start anything.
  while (!quit_) {
    Timer* due = nullptr;
    for (const auto& t : timers_) {
      if (t->enabled_ && t->deadlineUs_ <= now && (!due || t->deadlineUs_ < due->deadlineUs_)) {
        due = t.get();
      }
    }
    const bool frameDue = animation_ && nextFrameUs_ <= now && (!due || nextFrameUs_ < due->deadlineUs_);
    if (frameDue) {
      nextFrameUs_ += kFramePeriodUs;
      if (nextFrameUs_ <= now - kFramePeriodUs) nextFrameUs_ = now + kFramePeriodUs;
      auto step = animation_;
      const std::uint64_t generation = animationGeneration_;
      bool more = false;
      runGuarded("animation", [&] { more = step(); });
      // The step may have started a new animation; only end the one that finished.
      if (!more && generation == animationGeneration_) animation_ = nullptr;
      any = true;
    } else if (due) {
      // The next tick is one interval after this one; a loop that fell behind skips, it does not
      // burst (window timers never queue ticks).
      due->deadlineUs_ += std::int64_t{due->intervalMs_} * 1000;
      if (due->deadlineUs_ <= now) due->deadlineUs_ = now + std::int64_t{due->intervalMs_} * 1000;
      // Copies: the handler may remove its own timer.
      const std::string name = due->name_;
      const std::function<void()> onTick = due->onTick_;
      runGuarded(name.c_str(), onTick);
      any = true;
    } else {
      break;
    }
    runPosted();
  }
  return any;
}

RealEventLoop::RealEventLoop() {
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  startNs_ = std::int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
  clock_gettime(CLOCK_BOOTTIME, &ts);
  bootStartNs_ = std::int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

RealEventLoop::~RealEventLoop() {
  if (wakeFd_ >= 0) close(wakeFd_);
}

std::int64_t RealEventLoop::nowUs() const {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (std::int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec - startNs_) / 1000;
}

void RealEventLoop::watch(int fd, std::function<void()> fn) { watches_.push_back({fd, std::move(fn)}); }

void RealEventLoop::wake() {
  if (wakeFd_ >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
  }
}

void RealEventLoop::run() { runUntilUs(-1); }

void RealEventLoop::runUntilUs(std::int64_t endUs) {
  while (!quitting() && (endUs < 0 || nowUs() < endUs)) {
    dispatchDue(nowUs());
    if (quitting()) break;
    // Drain the window system before sleeping: events it read while we drew would otherwise wait
    // in its buffer, unseen by poll().
    if (onWake_) runGuarded("window events", onWake_);
    std::int64_t next = nextDeadlineUs();
    if (endUs >= 0 && (next < 0 || next > endUs)) next = endUs;
    int timeoutMs = -1;
    if (next >= 0) {
      const std::int64_t waitUs = std::max<std::int64_t>(0, next - nowUs());
      timeoutMs = static_cast<int>((waitUs + 999) / 1000);
    }
    if (maxSleepMs_ >= 0 && (timeoutMs < 0 || timeoutMs > maxSleepMs_)) timeoutMs = maxSleepMs_;
    sleepAndWatch(timeoutMs);
  }
}

void RealEventLoop::sleepAndWatch(int timeoutMs) {
  std::vector<pollfd> fds;
  fds.push_back({wakeFd_, POLLIN, 0});
  for (const auto& w : watches_) fds.push_back({w.fd, POLLIN, 0});
  const int n = ::poll(fds.data(), fds.size(), timeoutMs);
  if (n <= 0) return;
  if (fds[0].revents & POLLIN) {
    std::uint64_t v;
    [[maybe_unused]] auto r = ::read(wakeFd_, &v, sizeof v);
  }
  // A handler may add or remove watches: look each one up again by its descriptor.
  for (std::size_t i = 1; i < fds.size(); ++i) {
    if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    const auto w = std::find_if(watches_.begin(), watches_.end(), [&](const Watch& x) { return x.fd == fds[i].fd; });
    if (w == watches_.end()) continue;
    auto fn = w->fn;
    runGuarded("window event", fn);
  }
}

void RealEventLoop::unwatch(int fd) {
  watches_.erase(std::remove_if(watches_.begin(), watches_.end(), [fd](const Watch& w) { return w.fd == fd; }),
                 watches_.end());
}

void RealEventLoop::waitFor(const std::function<bool()>& done, std::int64_t endUs) {
  while (!quitting() && !done()) {
    runPosted();
    if (quitting() || done()) break;
    const std::int64_t left = endUs - nowUs();
    if (left <= 0) break;
    if (onWake_) runGuarded("window events", onWake_);
    int timeoutMs = static_cast<int>((left + 999) / 1000);
    if (maxSleepMs_ >= 0 && timeoutMs > maxSleepMs_) timeoutMs = maxSleepMs_;
    sleepAndWatch(timeoutMs);
  }
}

std::int64_t RealEventLoop::sinceStartWithSuspendUs() const {
  timespec ts{};
  clock_gettime(CLOCK_BOOTTIME, &ts);
  return (std::int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec - bootStartNs_) / 1000;
}

void VirtualEventLoop::waitFor(const std::function<bool()>& done, std::int64_t endUs) {
  (void)endUs;
  if (!done()) runPosted();
}

void VirtualEventLoop::advanceUs(std::int64_t us) {
  const std::int64_t end = nowUs_ + us;
  while (!quitting()) {
    dispatchDue(nowUs_);
    const std::int64_t next = nextDeadlineUs();
    if (next < 0 || next > end) break;
    nowUs_ = std::max(nowUs_, next);
  }
  nowUs_ = std::max(nowUs_, end);
  dispatchDue(nowUs_);
}

void VirtualEventLoop::advanceMs(std::int64_t ms) { advanceUs(ms * 1000); }

void VirtualEventLoop::settle() { dispatchDue(nowUs_); }

void VirtualEventLoop::run() {
  while (!quitting()) {
    dispatchDue(nowUs_);
    const std::int64_t next = nextDeadlineUs();
    if (next < 0) break;
    nowUs_ = std::max(nowUs_, next);
  }
}

}  // namespace plasma
