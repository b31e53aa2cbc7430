#include "platform/ui/x11/X11EventPump.hpp"

#include "platform/ui/x11/X11Desktop.hpp"

#include <condition_variable>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform::ui {

struct X11EventPump::State {
  std::mutex mutex;
  std::condition_variable handled;
  X11Desktop *desktop = nullptr; // null once the pump stops: queued work does nothing
  std::shared_ptr<Executor> main;
  bool posted = false; // a processEvents() is queued or running
  int stopFd = -1;

  // Posts one processEvents() unless one is already waiting to run.
  void post(const std::shared_ptr<State> &self) {
    {
      std::lock_guard lock(mutex);
      if (posted || desktop == nullptr) {
        return;
      }
      posted = true;
    }
    main->post([self] {
      X11Desktop *target = nullptr;
      {
        std::lock_guard lock(self->mutex);
        target = self->desktop;
      }
      // Runs on the main thread, which is also where the pump is destroyed: the desktop
      // cannot go away under it.
      if (target != nullptr) {
        target->processEvents();
      }
      {
        std::lock_guard lock(self->mutex);
        self->posted = false;
      }
      self->handled.notify_all();
    });
  }
};

X11EventPump::X11EventPump(X11Desktop &desktop, std::shared_ptr<Executor> main)
    : state_(std::make_shared<State>()) {
  state_->desktop = &desktop;
  state_->main = std::move(main);
  state_->stopFd = eventfd(0, EFD_CLOEXEC);
  std::weak_ptr<State> weak = state_;
  desktop.setOnEventsQueued([weak] {
    if (auto state = weak.lock()) {
      state->post(state);
    }
  });
  thread_ = std::thread([this] { run(); });
}

X11EventPump::~X11EventPump() {
  X11Desktop *desktop = nullptr;
  {
    std::lock_guard lock(state_->mutex);
    desktop = state_->desktop;
    state_->desktop = nullptr;
  }
  const std::uint64_t one = 1;
  (void)!write(state_->stopFd, &one, sizeof one);
  state_->handled.notify_all();
  thread_.join();
  close(state_->stopFd);
  if (desktop != nullptr) {
    desktop->setOnEventsQueued({});
  }
}

void X11EventPump::run() {
  std::shared_ptr<State> state = state_;
  int connection = -1;
  {
    std::lock_guard lock(state->mutex);
    connection = state->desktop->connectionNumber();
  }
  for (;;) {
    pollfd fds[2] = {{connection, POLLIN, 0}, {state->stopFd, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      continue;
    }
    if (fds[1].revents != 0) {
      return;
    }
    if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
      // The server went away: Xlib reports it on the main thread at the next call.
      state->post(state);
      return;
    }
    state->post(state);
    // The connection stays readable until the main thread has read it.
    std::unique_lock lock(state->mutex);
    state->handled.wait(lock, [&] { return !state->posted || state->desktop == nullptr; });
    if (state->desktop == nullptr) {
      return;
    }
  }
}

} // namespace platform::ui
