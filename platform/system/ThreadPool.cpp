#include "platform/system/ThreadPool.hpp"

#include <algorithm>

namespace platform {

namespace {
thread_local const ThreadPool *currentPool = nullptr;
}

ThreadPool::ThreadPool() : ThreadPool(Options{}) {}

ThreadPool::ThreadPool(Options options) : options_(std::move(options)) {
  options_.maxThreadCount =
      std::max({options_.maxThreadCount, options_.threadCount, static_cast<std::size_t>(1)});
  if (!options_.onUncaughtError) {
    options_.onUncaughtError = [](std::exception_ptr error) {
      logUncaughtError("ThreadPool", error);
    };
  }
  std::lock_guard lock(mutex_);
  for (std::size_t index = 0; index < options_.threadCount; ++index) {
    threads_.emplace_back([this] { run(); });
  }
}

ThreadPool::~ThreadPool() {
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    // No thread may be started once stopping: the vector is joined outside the lock.
    threads.swap(threads_);
  }
  wake_.notify_all();
  for (auto &thread : threads) {
    thread.join();
  }
}

ThreadPool &ThreadPool::shared() {
  static ThreadPool *const pool = new ThreadPool();
  return *pool;
}

std::size_t ThreadPool::defaultThreadCount() {
  return std::max(2u, std::thread::hardware_concurrency());
}

void ThreadPool::post(Work work) {
  {
    std::lock_guard lock(mutex_);
    ready_.push_back(std::move(work));
    growIfBusy();
  }
  wake_.notify_one();
}

TimerHandle ThreadPool::after(Clock::duration delay, Work work) {
  TimerHandle handle;
  {
    std::lock_guard lock(mutex_);
    handle = timers_.add(std::chrono::steady_clock::now() + delay, std::move(work));
    if (threads_.empty() && !stopping_) {
      threads_.emplace_back([this] { run(); });
    }
  }
  // Every idle thread re-reads the earliest due time.
  wake_.notify_all();
  return handle;
}

ThreadPool::Clock::time_point ThreadPool::now() const { return std::chrono::steady_clock::now(); }

bool ThreadPool::isCurrent() const { return currentPool == this; }

std::size_t ThreadPool::threadCount() const {
  std::lock_guard lock(mutex_);
  return threads_.size();
}

void ThreadPool::growIfBusy() {
  // A woken thread stays counted as idle until it takes the lock, so compare with the queue.
  if (!stopping_ && ready_.size() > idle_ && threads_.size() < options_.maxThreadCount) {
    threads_.emplace_back([this] { run(); });
  }
}

void ThreadPool::run() {
  currentPool = this;
  std::unique_lock lock(mutex_);
  for (;;) {
    const auto current = std::chrono::steady_clock::now();
    while (!stopping_) {
      Work due = timers_.takeDue(current);
      if (!due) {
        break;
      }
      ready_.push_back(std::move(due));
      growIfBusy();
    }
    if (!ready_.empty()) {
      Work work = std::move(ready_.front());
      ready_.pop_front();
      lock.unlock();
      try {
        work();
      } catch (...) {
        options_.onUncaughtError(std::current_exception());
      }
      work = nullptr; // captured state is released outside the lock too
      lock.lock();
      continue;
    }
    if (stopping_) {
      return;
    }
    ++idle_;
    if (const auto due = timers_.nextDue()) {
      wake_.wait_until(lock, *due);
    } else {
      wake_.wait(lock);
    }
    --idle_;
  }
}

} // namespace platform
