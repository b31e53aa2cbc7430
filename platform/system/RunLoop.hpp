#pragma once

#include <condition_variable>
#include <mutex>

namespace platform {

// The application's run loop as the app's controller sees it: the one thing it does with it
// is end it (Quit, and the old instance after a relaunch). The desktop front end owns the
// loop and runs it on the main thread; terminate() makes it return.
class RunLoop {
public:
  virtual ~RunLoop() = default;
  // Asks the loop to end; it returns to its caller soon after. Thread-safe; later calls do
  // nothing more.
  virtual void terminate() = 0;
  virtual bool isTerminated() const = 0;
};

// A run loop that blocks its caller until terminate(): the main thread of a program whose work
// runs on other threads (a MainExecutor, the display server's event thread). Tests call
// terminate() and read isTerminated() without running it.
class BlockingRunLoop final : public RunLoop {
public:
  // Returns once terminate() has been called (at once if it already was).
  void run() {
    std::unique_lock lock(mutex_);
    ended_.wait(lock, [this] { return terminated_; });
  }
  void terminate() override {
    {
      std::lock_guard lock(mutex_);
      terminated_ = true;
    }
    ended_.notify_all();
  }
  bool isTerminated() const override {
    std::lock_guard lock(mutex_);
    return terminated_;
  }

private:
  mutable std::mutex mutex_;
  std::condition_variable ended_;
  bool terminated_ = false;
};

} // namespace platform
