#include "platform/system/ManualExecutor.hpp"

#include <algorithm>

namespace platform {

ManualExecutor::ManualExecutor() : owner_(std::this_thread::get_id()) {}

void ManualExecutor::post(Work work) {
  std::lock_guard lock(mutex_);
  ready_.push_back(std::move(work));
}

TimerHandle ManualExecutor::after(Clock::duration delay, Work work) {
  auto cancelled = std::make_shared<std::atomic<bool>>(false);
  std::lock_guard lock(mutex_);
  const auto due = now_ + std::max(delay, Clock::duration::zero());
  timers_.push_back(Timer{due, nextSequence_++, cancelled, std::move(work)});
  return TimerHandle(std::move(cancelled));
}

ManualExecutor::Clock::time_point ManualExecutor::now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

bool ManualExecutor::isCurrent() const { return std::this_thread::get_id() == owner_; }

ManualExecutor::Work ManualExecutor::takeNext() {
  std::lock_guard lock(mutex_);
  // Cancelled timers are dropped here so they neither run nor count.
  std::erase_if(timers_, [](const Timer &timer) { return timer.cancelled->load(); });
  if (!ready_.empty()) {
    Work work = std::move(ready_.front());
    ready_.pop_front();
    return work;
  }
  auto earliest = std::min_element(timers_.begin(), timers_.end(), [](auto &a, auto &b) {
    return a.due != b.due ? a.due < b.due : a.sequence < b.sequence;
  });
  if (earliest == timers_.end() || earliest->due > now_) {
    return nullptr;
  }
  Work work = std::move(earliest->work);
  auto cancelled = earliest->cancelled;
  timers_.erase(earliest);
  return [cancelled, work = std::move(work)] {
    if (!cancelled->load()) {
      work();
    }
  };
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
      std::erase_if(timers_, [](const Timer &timer) { return timer.cancelled->load(); });
      auto earliest = std::min_element(timers_.begin(), timers_.end(),
                                       [](auto &a, auto &b) { return a.due < b.due; });
      if (earliest == timers_.end() || earliest->due > target) {
        now_ = target;
        break;
      }
      now_ = std::max(now_, earliest->due);
    }
    count += runUntilIdle();
  }
  return count + runUntilIdle();
}

std::size_t ManualExecutor::pendingCount() const {
  std::lock_guard lock(mutex_);
  const auto live = std::count_if(timers_.begin(), timers_.end(),
                                  [](const Timer &timer) { return !timer.cancelled->load(); });
  return ready_.size() + static_cast<std::size_t>(live);
}

bool ManualExecutor::hasPendingTimers() const {
  std::lock_guard lock(mutex_);
  return std::any_of(timers_.begin(), timers_.end(),
                     [](const Timer &timer) { return !timer.cancelled->load(); });
}

} // namespace platform
