#pragma once

#include "platform/system/Clock.hpp"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

namespace platform {

// Handle of a timer scheduled with Executor::after. Copies refer to the same timer.
// Dropping every handle does not cancel the timer. A default-constructed handle refers to
// no timer; cancel() on it does nothing.
class TimerHandle {
public:
  TimerHandle() = default;
  explicit TimerHandle(std::shared_ptr<std::atomic<bool>> cancelled)
      : cancelled_(std::move(cancelled)) {}

  // After cancel() returns, the timer's work never starts (work already running finishes).
  // Safe from any thread, any number of times.
  void cancel() const {
    if (cancelled_) {
      cancelled_->store(true);
    }
  }
  bool isCancelled() const { return cancelled_ && cancelled_->load(); }
  bool isValid() const { return cancelled_ != nullptr; }

private:
  std::shared_ptr<std::atomic<bool>> cancelled_;
};

// A serial queue of work: everything posted to one executor runs one item at a time, in
// order (timers in order of their due time, then of scheduling). The app's main actor is a
// MainExecutor; tests use a ManualExecutor whose virtual clock they move by hand.
class Executor {
public:
  using Work = std::function<void()>;
  using Clock = SteadyClock;

  virtual ~Executor() = default;

  // Queues `work` to run as soon as possible after the work queued before it.
  // Thread-safe.
  virtual void post(Work work) = 0;

  // Queues `work` to run once `delay` has passed on this executor's clock. A negative or
  // zero delay behaves like post. Thread-safe.
  virtual TimerHandle after(Clock::duration delay, Work work) = 0;

  // The executor's clock: real monotonic time, or the virtual time of a ManualExecutor.
  virtual Clock::time_point now() const = 0;

  // True when called from the thread that runs this executor's work.
  virtual bool isCurrent() const = 0;
};

} // namespace platform
