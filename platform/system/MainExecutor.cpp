#include "platform/system/MainExecutor.hpp"

namespace platform {

MainExecutor::MainExecutor(UncaughtErrorHandler onUncaughtError)
    : onUncaughtError_(
          onUncaughtError
              ? std::move(onUncaughtError)
              : [](std::exception_ptr error) { logUncaughtError("MainExecutor", error); }),
      thread_([this] { run(); }) {}

MainExecutor::~MainExecutor() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  idle_.notify_all();
  if (thread_.joinable()) {
    thread_.join();
  }
}

void MainExecutor::post(Work work) {
  {
    std::lock_guard lock(mutex_);
    ready_.push_back(std::move(work));
  }
  wake_.notify_one();
}

TimerHandle MainExecutor::after(Clock::duration delay, Work work) {
  TimerHandle handle;
  {
    std::lock_guard lock(mutex_);
    handle = timers_.add(std::chrono::steady_clock::now() + delay, std::move(work));
  }
  wake_.notify_one();
  return handle;
}

MainExecutor::Clock::time_point MainExecutor::now() const {
  return std::chrono::steady_clock::now();
}

bool MainExecutor::isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

void MainExecutor::waitUntilIdle() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] {
    if (stopping_) {
      return true;
    }
    const auto due = timers_.nextDue();
    const bool timerDue = due && *due <= std::chrono::steady_clock::now();
    return ready_.empty() && !busy_ && !timerDue;
  });
}

void MainExecutor::run() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    // Due timers join the ready queue in due order, behind work posted before they fell due.
    const auto current = std::chrono::steady_clock::now();
    while (Work due = timers_.takeDue(current)) {
      ready_.push_back(std::move(due));
    }
    if (!ready_.empty()) {
      Work work = std::move(ready_.front());
      ready_.pop_front();
      busy_ = true;
      lock.unlock();
      try {
        work();
      } catch (...) {
        onUncaughtError_(std::current_exception());
      }
      work = nullptr; // captured state is released outside the lock too
      lock.lock();
      busy_ = false;
      continue;
    }
    idle_.notify_all();
    if (const auto due = timers_.nextDue()) {
      wake_.wait_until(lock, *due);
    } else {
      wake_.wait(lock);
    }
  }
}

} // namespace platform
