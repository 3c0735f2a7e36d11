#pragma once
// Timers, posted work and frame animations on the window thread. The real loop sleeps in poll()
// until the next deadline or a watched descriptor; the virtual loop jumps its clock, so tests and
// the simulation run the same Display far faster than real time.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace plasma {

class EventLoop;

// A window timer: raises one tick per interval on the loop's thread while enabled. Enabling (or
// changing the interval) starts the count afresh, as window timers do.
class Timer {
 public:
  void setEnabled(bool on);
  bool enabled() const { return enabled_; }
  void setInterval(int ms);
  int interval() const { return intervalMs_; }
  const std::string& name() const { return name_; }

 private:
  friend class EventLoop;
  Timer(EventLoop& loop, std::string name, int intervalMs, std::function<void()> onTick);
  EventLoop& loop_;
  std::string name_;
  int intervalMs_;
  bool enabled_ = false;
  std::int64_t deadlineUs_ = 0;
  std::function<void()> onTick_;
};

class EventLoop {
 public:
  // One frame of a 60 Hz panel: the pace of wipe steps and scroll steps.
  static constexpr std::int64_t kFramePeriodUs = 16667;

  virtual ~EventLoop();

  // Monotonic time in microseconds since the loop was made.
  virtual std::int64_t nowUs() const = 0;
  // The same, but counting the time the machine was suspended (for the age of data: a timetable
  // is as old after a night in suspend as after a night awake).
  virtual std::int64_t sinceStartWithSuspendUs() const = 0;
  std::int64_t nowMs() const { return nowUs() / 1000; }

  Timer& createTimer(std::string name, int intervalMs, bool enabled, std::function<void()> onTick);
  // Takes a timer out of the loop for good: its handler never runs again and the reference dies.
  // Whoever made a timer whose handler uses an object removes it before that object goes. Safe
  // from any handler on the loop's thread, the timer's own included.
  void removeTimer(Timer& timer);

  // Runs fn on the loop's thread at its next turn. Safe from any thread.
  void post(std::function<void()> fn);

  // Calls step once per frame until it returns false; timers and posted work run between steps.
  // A new animation replaces a running one. Returns the animation's id for stopAnimation.
  using AnimationId = std::uint64_t;
  AnimationId startAnimation(std::function<bool()> step);
  // Ends the animation with this id if it is still running: its step never runs again. Whoever
  // starts an animation whose step uses an object stops it before that object goes. Safe from any
  // handler or step on the loop's thread, the animation's own step included.
  void stopAnimation(AnimationId id);
  bool animating() const { return static_cast<bool>(animation_); }

  // Runs until quit() (real loop) or until nothing is left before the limit (virtual loop).
  virtual void run() = 0;
  void quit();
  bool quitting() const { return quit_; }

  // Runs posted work (and, in the real loop, watched descriptors, such as the signals) but no
  // timer, until done() holds, the loop's clock reaches endUs, or quit().
  virtual void waitFor(const std::function<bool()>& done, std::int64_t endUs) = 0;

  // Called whenever a handler lets an exception through: logged, and the loop goes on.
  static void reportEscaped(const char* where, const std::exception* e);

 protected:
  // The earliest time something is due (timer, animation frame), or -1 when nothing is.
  std::int64_t nextDeadlineUs() const;
  // Runs posted work, then everything due at or before now. Returns true if anything ran.
  bool dispatchDue(std::int64_t nowUs);
  bool runPosted();
  // Wakes a sleeping real loop (after post or quit).
  virtual void wake() {}
  void runGuarded(const char* where, const std::function<void()>& fn);

 private:
  friend class Timer;
  std::vector<std::unique_ptr<Timer>> timers_;
  std::mutex postedMutex_;
  std::deque<std::function<void()>> posted_;
  std::function<bool()> animation_;
  std::int64_t nextFrameUs_ = 0;
  std::uint64_t animationGeneration_ = 0;
  bool quit_ = false;
};

// The loop of the running program: sleeps in poll() on its wake-up descriptor and any watched
// descriptors (the window system's connection, the single-instance socket) until the next
// deadline. No busy waiting, also when the window system's own wait would poll.
class RealEventLoop final : public EventLoop {
 public:
  RealEventLoop();
  ~RealEventLoop() override;
  std::int64_t nowUs() const override;
  std::int64_t sinceStartWithSuspendUs() const override;
  // fn runs on the loop's thread when fd becomes readable.
  void watch(int fd, std::function<void()> fn);
  void unwatch(int fd);
  void waitFor(const std::function<bool()>& done, std::int64_t endUs) override;
  // fn runs after every wake-up (to drain the window system's event queue).
  void onWake(std::function<void()> fn) { onWake_ = std::move(fn); }
  // A cap on the sleep for window systems that give no descriptor to wait on.
  void setMaxSleepMs(int ms) { maxSleepMs_ = ms; }
  void run() override;
  // Runs until the loop's clock reaches endUs (or quit()); no busy waiting.
  void runUntilUs(std::int64_t endUs);

 protected:
  void wake() override;

 private:
  void sleepAndWatch(int timeoutMs);
  int wakeFd_ = -1;
  std::int64_t startNs_ = 0;
  std::int64_t bootStartNs_ = 0;
  int maxSleepMs_ = -1;
  struct Watch {
    int fd;
    std::function<void()> fn;
  };
  std::vector<Watch> watches_;
  std::function<void()> onWake_;
};

// A loop on a virtual clock: advance() runs every timer tick, posted task and animation frame in
// time order, jumping the clock from one deadline to the next.
class VirtualEventLoop final : public EventLoop {
 public:
  std::int64_t nowUs() const override { return nowUs_; }
  std::int64_t sinceStartWithSuspendUs() const override { return nowUs_ + suspendedUs_; }
  // A suspend of the machine: time passes on the suspend-aware clock only; no timer runs.
  void suspendMs(std::int64_t ms) { suspendedUs_ += ms * 1000; }
  void waitFor(const std::function<bool()>& done, std::int64_t endUs) override;
  // Runs everything due up to now + ms, then leaves the clock there.
  void advanceMs(std::int64_t ms);
  void advanceUs(std::int64_t us);
  // Runs posted work at the current time only.
  void settle();
  void run() override;  // runs until quit(); for simulations with a stop timer

 private:
  std::int64_t nowUs_ = 0;
  std::int64_t suspendedUs_ = 0;
};

}  // namespace plasma
