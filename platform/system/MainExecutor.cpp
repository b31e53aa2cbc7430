#include "platform/system/MainExecutor.hpp"

#include "platform/system/TimerQueue.hpp"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace platform {

struct MainExecutor::Core {
  UncaughtErrorHandler onUncaughtError;
  std::mutex mutex;
  std::condition_variable wake;
  std::condition_variable idle;
  std::deque<Work> ready;
  TimerQueue timers;
  bool busy = false;
  bool stopping = false;

  // Moves the due timers to the ready queue, in due order, behind work posted before they
  // fell due. Called with the lock held.
  void takeDueTimers() {
    const auto current = std::chrono::steady_clock::now();
    while (Work due = timers.takeDue(current)) {
      ready.push_back(std::move(due));
    }
  }

  void run() {
    std::unique_lock lock(mutex);
    while (!stopping) {
      takeDueTimers();
      if (!ready.empty()) {
        Work work = std::move(ready.front());
        ready.pop_front();
        busy = true;
        lock.unlock();
        try {
          work();
        } catch (...) {
          onUncaughtError(std::current_exception());
        }
        // Released outside the lock too; this may destroy the executor (not this core).
        work = nullptr;
        lock.lock();
        busy = false;
        continue;
      }
      idle.notify_all();
      if (const auto due = timers.nextDue()) {
        wake.wait_until(lock, *due);
      } else {
        wake.wait(lock);
      }
    }
    // Dropped here, outside the lock: queued work may own things whose release posts again.
    std::deque<Work> dropped;
    dropped.swap(ready);
    auto droppedTimers = std::move(timers);
    lock.unlock();
  }
};

MainExecutor::MainExecutor(UncaughtErrorHandler onUncaughtError) : core_(std::make_shared<Core>()) {
  core_->onUncaughtError =
      onUncaughtError ? std::move(onUncaughtError)
                      : [](std::exception_ptr error) { logUncaughtError("MainExecutor", error); };
  thread_ = std::thread([core = core_] { core->run(); });
}

MainExecutor::~MainExecutor() {
  {
    std::lock_guard lock(core_->mutex);
    core_->stopping = true;
  }
  core_->wake.notify_all();
  core_->idle.notify_all();
  if (!thread_.joinable()) {
    return;
  }
  if (thread_.get_id() == std::this_thread::get_id()) {
    // Released by the executor's own work: the thread ends after this item, holding the core.
    thread_.detach();
  } else {
    thread_.join();
  }
}

void MainExecutor::post(Work work) {
  {
    std::lock_guard lock(core_->mutex);
    core_->ready.push_back(std::move(work));
  }
  core_->wake.notify_one();
}

TimerHandle MainExecutor::after(Clock::duration delay, Work work) {
  TimerHandle handle;
  {
    std::lock_guard lock(core_->mutex);
    handle = core_->timers.add(std::chrono::steady_clock::now() + delay, std::move(work));
  }
  core_->wake.notify_one();
  return handle;
}

MainExecutor::Clock::time_point MainExecutor::now() const {
  return std::chrono::steady_clock::now();
}

bool MainExecutor::isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

void MainExecutor::waitUntilIdle() {
  Core &core = *core_;
  std::unique_lock lock(core.mutex);
  core.idle.wait(lock, [&core] {
    if (core.stopping) {
      return true;
    }
    const auto due = core.timers.nextDue();
    const bool timerDue = due && *due <= std::chrono::steady_clock::now();
    return core.ready.empty() && !core.busy && !timerDue;
  });
}

} // namespace platform
