#pragma once

#include "platform/system/Executor.hpp"
#include "platform/system/TimerQueue.hpp"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

// An executor with one thread of its own, started by the constructor. The destructor stops
// the thread after the item running at that moment; work still queued is dropped. Work
// must not destroy its own executor. An exception escaping an item goes to `onUncaughtError`
// (default: logUncaughtError) and the thread goes on with the next item.
class MainExecutor final : public Executor {
public:
  explicit MainExecutor(UncaughtErrorHandler onUncaughtError = {});
  ~MainExecutor() override;
  MainExecutor(const MainExecutor &) = delete;
  MainExecutor &operator=(const MainExecutor &) = delete;

  void post(Work work) override;
  TimerHandle after(Clock::duration delay, Work work) override;
  Clock::time_point now() const override;
  bool isCurrent() const override;

  // Blocks until the queue holds no work that is due now (timers due later are not waited
  // for). Must not be called from the executor's own thread.
  void waitUntilIdle();

private:
  void run();

  UncaughtErrorHandler onUncaughtError_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<Work> ready_;
  TimerQueue timers_;
  bool busy_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

} // namespace platform
