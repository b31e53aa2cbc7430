#include "platform/system/EventPump.hpp"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

struct EventPump::State {
  std::mutex mutex;
  std::condition_variable handled;
  std::function<void()> handle; // empty once the pump stops: queued work does nothing
  // Weakly: the state rides in work queued on the executor, which must not own itself.
  std::weak_ptr<Executor> main;
  bool posted = false; // a handle is queued or running
  bool again = false;  // asked for while running: one more turn follows
  int stopFd = -1;

  // False once the executor is gone: nothing will ever handle the input.
  bool post(const std::shared_ptr<State> &self) {
    const std::shared_ptr<Executor> executor = main.lock();
    if (!executor) {
      return false;
    }
    {
      std::lock_guard lock(mutex);
      if (!handle) {
        return true;
      }
      if (posted) {
        again = true;
        return true;
      }
      posted = true;
    }
    queue(self, *executor);
    return true;
  }

  static void queue(const std::shared_ptr<State> &self, Executor &executor) {
    executor.post([self] {
      std::function<void()> run;
      {
        std::lock_guard lock(self->mutex);
        run = self->handle;
        self->again = false;
      }
      // On the main thread, where the pump is destroyed too: the connection is still there.
      if (run) {
        run();
      }
      bool more = false;
      {
        std::lock_guard lock(self->mutex);
        more = self->again && self->handle;
        self->again = false;
        self->posted = more;
      }
      const std::shared_ptr<Executor> executor = more ? self->main.lock() : nullptr;
      if (executor) {
        // Behind whatever was posted meanwhile: the app's own events come first.
        queue(self, *executor);
        return;
      }
      {
        std::lock_guard lock(self->mutex);
        self->posted = false;
      }
      self->handled.notify_all();
    });
  }
};

EventPump::EventPump(int fd, std::function<void()> handle, std::shared_ptr<Executor> main)
    : state_(std::make_shared<State>()) {
  state_->handle = std::move(handle);
  state_->main = std::move(main);
  state_->stopFd = eventfd(0, EFD_CLOEXEC);
  thread_ = std::thread([this, fd] { run(fd); });
}

EventPump::~EventPump() {
  {
    std::lock_guard lock(state_->mutex);
    state_->handle = nullptr;
  }
  const std::uint64_t one = 1;
  (void)!write(state_->stopFd, &one, sizeof one);
  state_->handled.notify_all();
  thread_.join();
  close(state_->stopFd);
}

void EventPump::requestHandling() { (void)state_->post(state_); }

void EventPump::run(int fd) {
  const std::shared_ptr<State> state = state_;
  for (;;) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {state->stopFd, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      continue;
    }
    if (fds[1].revents != 0) {
      return;
    }
    if (!state->post(state)) {
      return;
    }
    if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
      // The peer went away: the handler finds out at its next read.
      return;
    }
    // The descriptor stays readable until the main thread has read it.
    std::unique_lock lock(state->mutex);
    state->handled.wait(lock, [&] { return !state->posted || !state->handle; });
    if (!state->handle) {
      return;
    }
  }
}

} // namespace platform
