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
  auto cancelled = std::make_shared<std::atomic<bool>>(false);
  {
    std::lock_guard lock(mutex_);
    timers_.push(Timer{std::chrono::steady_clock::now() + delay, nextSequence_++, cancelled,
                       std::move(work)});
  }
  wake_.notify_one();
  return TimerHandle(std::move(cancelled));
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
    const bool timerDue = !timers_.empty() && timers_.top().due <= std::chrono::steady_clock::now();
    return ready_.empty() && !busy_ && !timerDue;
  });
}

void MainExecutor::run() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    // Due timers join the ready queue in due order, behind work posted before they fell due.
    const auto current = std::chrono::steady_clock::now();
    while (!timers_.empty() && timers_.top().due <= current) {
      Timer timer = std::move(const_cast<Timer &>(timers_.top()));
      timers_.pop();
      auto cancelled = timer.cancelled;
      ready_.push_back([cancelled, work = std::move(timer.work)] {
        if (!cancelled->load()) {
          work();
        }
      });
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
    if (timers_.empty()) {
      wake_.wait(lock);
    } else {
      // A copy: the queue may reallocate while the lock is released during the wait.
      const Clock::time_point due = timers_.top().due;
      wake_.wait_until(lock, due);
    }
  }
}

} // namespace platform
