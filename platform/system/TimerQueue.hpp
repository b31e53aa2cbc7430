#pragma once

#include "platform/system/Executor.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace platform {

// The timers of one executor: work to run at a due time, earliest first and, among equal due
// times, in the order scheduled. Not thread-safe: its executor guards it with its own lock.
class TimerQueue {
public:
  using Clock = Executor::Clock;
  using Work = Executor::Work;

  TimerHandle add(Clock::time_point due, Work work);
  // Takes the earliest timer due by `now`, as work that does nothing when the timer is
  // cancelled before it runs; null when none is due. Cancelled timers met first are dropped.
  Work takeDue(Clock::time_point now);
  // The due time of the earliest timer not cancelled; none when no such timer waits.
  std::optional<Clock::time_point> nextDue();
  // Timers not cancelled.
  std::size_t liveCount() const;

private:
  struct Timer {
    Clock::time_point due;
    std::uint64_t sequence;
    std::shared_ptr<std::atomic<bool>> cancelled;
    Work work;
  };
  struct Later {
    bool operator()(const Timer &a, const Timer &b) const {
      return a.due != b.due ? a.due > b.due : a.sequence > b.sequence;
    }
  };

  void dropCancelledEarliest();

  std::vector<Timer> heap_;
  std::uint64_t nextSequence_ = 0;
};

} // namespace platform
