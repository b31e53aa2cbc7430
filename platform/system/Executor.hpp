#pragma once

#include "platform/system/Clock.hpp"

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <string_view>

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

// Receives an exception that escaped an item of work, on the thread that ran the item. Must not
// throw.
using UncaughtErrorHandler = std::function<void(std::exception_ptr error)>;

// The default UncaughtErrorHandler of the threaded executors: writes one line naming
// `executorName` and the error's what() to standard error.
void logUncaughtError(std::string_view executorName, std::exception_ptr error);

// Where work runs. The serial executors (MainExecutor, ManualExecutor) run everything posted to
// them one item at a time, in order (timers in order of their due time, then of scheduling);
// a ThreadPool runs items side by side, starting them in that order. The app's main actor is a
// MainExecutor; tests use a ManualExecutor whose virtual clock they move by hand.
//
// Work that throws: work should report its failures itself (runInBackground hands them to the
// completion). An exception that escapes an item anyway does not stop the executor: MainExecutor
// and ThreadPool hand it to their UncaughtErrorHandler (by default a line on standard error) and
// go on with the next item; ManualExecutor rethrows it from the runUntilIdle() or advance() that
// ran the item, so the test sees it, with the rest of its queue intact.
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
