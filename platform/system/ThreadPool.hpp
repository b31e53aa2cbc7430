#pragma once

#include "platform/system/Executor.hpp"
#include "platform/system/TimerQueue.hpp"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

// An executor that runs its work on a pool of threads of its own, several items at once, each
// started in the order it was posted (timers when due). The engine's blocking work runs here:
// downloads, configuration loading, audio file loading; runInBackground posts the outcome back
// to the caller's executor.
//
// Blocking work is allowed: when an item is posted while every thread is busy, the pool starts
// another thread, up to Options::maxThreadCount, so work that waits for other work on the same
// pool (a snapshot waiting for its download) cannot starve it. Threads, once started, stay until
// the pool is destroyed.
//
// The destructor lets every item already posted run (timers not yet due are dropped), then
// joins the threads; it must not be called from the pool's own work. Thread-safe.
class ThreadPool final : public Executor {
public:
  struct Options {
    // Threads started by the constructor; 0 starts them on first use. Default: the machine's
    // hardware threads, at least 2.
    std::size_t threadCount = defaultThreadCount();
    // Most threads the pool grows to while its threads are busy; at least threadCount and 1.
    // Default: 64.
    std::size_t maxThreadCount = 64;
    // Receives an exception that escapes an item; the thread goes on with the next one.
    // Default: logUncaughtError("ThreadPool", error).
    UncaughtErrorHandler onUncaughtError = {};
  };

  explicit ThreadPool(Options options);
  ThreadPool();
  ~ThreadPool() override;
  ThreadPool(const ThreadPool &) = delete;
  ThreadPool &operator=(const ThreadPool &) = delete;

  // The process-wide pool, started on first use and never destroyed.
  static ThreadPool &shared();
  static std::size_t defaultThreadCount();

  void post(Work work) override;
  TimerHandle after(Clock::duration delay, Work work) override;
  Clock::time_point now() const override;
  // True on any of this pool's threads.
  bool isCurrent() const override;

  // Threads started so far.
  std::size_t threadCount() const;

private:
  // Starts a thread when queued work outnumbers idle threads. Called with mutex_ held.
  void growIfBusy();
  void run();

  Options options_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Work> ready_;
  TimerQueue timers_;
  std::size_t idle_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

} // namespace platform
