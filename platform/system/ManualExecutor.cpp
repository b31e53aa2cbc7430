#include "platform/system/ManualExecutor.hpp"

#include <algorithm>

namespace platform {

ManualExecutor::ManualExecutor() : owner_(std::this_thread::get_id()) {}

void ManualExecutor::post(Work work) {
  std::lock_guard lock(mutex_);
  ready_.push_back(std::move(work));
}

TimerHandle ManualExecutor::after(Clock::duration delay, Work work) {
  std::lock_guard lock(mutex_);
  return timers_.add(now_ + std::max(delay, Clock::duration::zero()), std::move(work));
}

ManualExecutor::Clock::time_point ManualExecutor::now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

bool ManualExecutor::isCurrent() const { return std::this_thread::get_id() == owner_; }

ManualExecutor::Work ManualExecutor::takeNext() {
  std::lock_guard lock(mutex_);
  if (!ready_.empty()) {
    Work work = std::move(ready_.front());
    ready_.pop_front();
    return work;
  }
  return timers_.takeDue(now_);
}

std::size_t ManualExecutor::runUntilIdle() {
  std::size_t count = 0;
  while (Work work = takeNext()) {
    work();
    ++count;
  }
  return count;
}

std::size_t ManualExecutor::advance(Clock::duration by) {
  Clock::time_point target;
  {
    std::lock_guard lock(mutex_);
    target = now_ + std::max(by, Clock::duration::zero());
  }
  std::size_t count = runUntilIdle();
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      const auto due = timers_.nextDue();
      if (!due || *due > target) {
        now_ = target;
        break;
      }
      now_ = std::max(now_, *due);
    }
    count += runUntilIdle();
  }
  return count + runUntilIdle();
}

std::size_t ManualExecutor::pendingCount() const {
  std::lock_guard lock(mutex_);
  return ready_.size() + timers_.liveCount();
}

bool ManualExecutor::hasPendingTimers() const {
  std::lock_guard lock(mutex_);
  return timers_.liveCount() > 0;
}

} // namespace platform
