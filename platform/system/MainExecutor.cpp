#include "platform/system/MainExecutor.hpp"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <queue>
#include <vector>

namespace platform {

struct MainExecutor::Core {
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

  UncaughtErrorHandler onUncaughtError;
  std::mutex mutex;
  std::condition_variable wake;
  std::condition_variable idle;
  std::deque<Work> ready;
  std::priority_queue<Timer, std::vector<Timer>, Later> timers;
  std::uint64_t nextSequence = 0;
  bool busy = false;
  bool stopping = false;

  // Moves the due timers to the ready queue, in due order, behind work posted before they
  // fell due. Called with the lock held.
  void takeDueTimers() {
    const auto current = std::chrono::steady_clock::now();
    while (!timers.empty() && timers.top().due <= current) {
      Timer timer = std::move(const_cast<Timer &>(timers.top()));
      timers.pop();
      ready.push_back([cancelled = timer.cancelled, work = std::move(timer.work)] {
        if (!cancelled->load()) {
          work();
        }
      });
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
      if (timers.empty()) {
        wake.wait(lock);
      } else {
        // A copy: the queue may reallocate while the lock is released during the wait.
        const Clock::time_point due = timers.top().due;
        wake.wait_until(lock, due);
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
  auto cancelled = std::make_shared<std::atomic<bool>>(false);
  {
    std::lock_guard lock(core_->mutex);
    core_->timers.push(Core::Timer{std::chrono::steady_clock::now() + delay, core_->nextSequence++,
                                   cancelled, std::move(work)});
  }
  core_->wake.notify_one();
  return TimerHandle(std::move(cancelled));
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
    const bool timerDue =
        !core.timers.empty() && core.timers.top().due <= std::chrono::steady_clock::now();
    return core.ready.empty() && !core.busy && !timerDue;
  });
}

} // namespace platform
