#pragma once

#include "platform/system/Executor.hpp"

#include <memory>
#include <thread>

namespace platform {

// An executor with one thread of its own, started by the constructor. The destructor stops
// the thread after the item running at that moment; work still queued is dropped. An
// exception escaping an item goes to `onUncaughtError` (default: logUncaughtError) and the
// thread goes on with the next item.
//
// Whoever releases the last owner, the executor's thread never joins itself: destroyed from
// its own work (the release of something its work held), the executor lets its thread finish
// the item and end on its own, detached, with the queue it keeps alive until then.
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
  // The queue and its lock, shared by the executor and its thread.
  struct Core;

  std::shared_ptr<Core> core_;
  std::thread thread_;
};

} // namespace platform
