#pragma once

#include "platform/system/Executor.hpp"
#include "platform/system/TimerQueue.hpp"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

// An executor that runs nothing by itself: the test drives it with runUntilIdle() and
// advance(). Its clock is virtual, starts at the epoch of SteadyClock and moves only in
// advance(), so timer rules of seconds are tested instantly. It is also a SteadyClock, to be
// injected wherever the code under test reads time.
//
// post/after may be called from any thread; the driving calls belong to one thread (the one
// that created the executor), which isCurrent() reports.
class ManualExecutor final : public Executor, public SteadyClock {
public:
  ManualExecutor();

  void post(Work work) override;
  TimerHandle after(Clock::duration delay, Work work) override;
  Clock::time_point now() const override;
  bool isCurrent() const override;

  // Runs queued work, including work queued meanwhile and timers already due, until none is
  // left. Time does not move. Returns the number of items run.
  std::size_t runUntilIdle();

  // Moves the virtual clock forward by `by`, firing every timer due within it in order of due
  // time (then of scheduling); while a timer runs the clock reads its due time. After each
  // item the work it queued runs too. Ends with the clock at start + `by`. Returns the number
  // of items run.
  std::size_t advance(Clock::duration by);

  // Items queued and timers not yet fired (cancelled timers are not counted).
  std::size_t pendingCount() const;
  // True while a timer that has not been cancelled waits to fire.
  bool hasPendingTimers() const;

private:
  // Takes the next runnable item (ready work first, then a timer due by now_); empty if none.
  Work takeNext();

  mutable std::mutex mutex_;
  Clock::time_point now_{};
  std::deque<Work> ready_;
  TimerQueue timers_;
  std::thread::id owner_;
};

} // namespace platform
