#include "platform/system/TimerQueue.hpp"

#include <algorithm>

namespace platform {

TimerHandle TimerQueue::add(Clock::time_point due, Work work) {
  auto cancelled = std::make_shared<std::atomic<bool>>(false);
  heap_.push_back(Timer{due, nextSequence_++, cancelled, std::move(work)});
  std::push_heap(heap_.begin(), heap_.end(), Later{});
  return TimerHandle(std::move(cancelled));
}

TimerQueue::Work TimerQueue::takeDue(Clock::time_point now) {
  dropCancelledEarliest();
  if (heap_.empty() || heap_.front().due > now) {
    return nullptr;
  }
  std::pop_heap(heap_.begin(), heap_.end(), Later{});
  Timer timer = std::move(heap_.back());
  heap_.pop_back();
  // The timer may still be cancelled between leaving the queue and running.
  return [cancelled = std::move(timer.cancelled), work = std::move(timer.work)] {
    if (!cancelled->load()) {
      work();
    }
  };
}

std::optional<TimerQueue::Clock::time_point> TimerQueue::nextDue() {
  dropCancelledEarliest();
  if (heap_.empty()) {
    return std::nullopt;
  }
  return heap_.front().due;
}

std::size_t TimerQueue::liveCount() const {
  return static_cast<std::size_t>(std::count_if(
      heap_.begin(), heap_.end(), [](const Timer &timer) { return !timer.cancelled->load(); }));
}

void TimerQueue::dropCancelledEarliest() {
  while (!heap_.empty() && heap_.front().cancelled->load()) {
    std::pop_heap(heap_.begin(), heap_.end(), Later{});
    heap_.pop_back();
  }
}

} // namespace platform
