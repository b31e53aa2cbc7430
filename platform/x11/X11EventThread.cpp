#include "platform/x11/X11EventThread.hpp"

#include <X11/Xlib.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace platform {

X11EventThread::X11EventThread(std::shared_ptr<X11Connection> connection, EventHandler onEvent,
                               LostHandler onLost)
    : connection_(std::move(connection)), onEvent_(std::move(onEvent)), onLost_(std::move(onLost)) {
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) {
    throw std::system_error(errno, std::generic_category(), "eventfd for the X event thread");
  }
  thread_ = std::thread([this] { run(); });
}

X11EventThread::~X11EventThread() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake();
  thread_.join();
  close(wakeFd_);
}

void X11EventThread::wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto written = write(wakeFd_, &one, sizeof one);
}

void X11EventThread::run() {
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) {
        return;
      }
      // Reading flushes what the handlers wrote and is the last call before sleeping: any
      // other call (XFlush included) can read events into Xlib's queue, where poll() on the
      // socket would never see them.
      connection_->dispatchPending([this](XEvent &event) {
        if (onEvent_) {
          onEvent_(event);
        }
      });
      if (connection_->isLost()) {
        if (onLost_) {
          onLost_();
        }
        return;
      }
    }
    pollfd fds[2] = {{connection_->fileDescriptor(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    const int ready = poll(fds, 2, -1);
    if (ready < 0 && errno != EINTR) {
      return;
    }
    if (fds[1].revents & POLLIN) {
      std::uint64_t count = 0;
      [[maybe_unused]] const auto read = ::read(wakeFd_, &count, sizeof count);
    }
  }
}

X11EventThread::Guard::Guard(X11EventThread &thread) : thread_(thread), lock_(thread.mutex_) {}

X11EventThread::Guard::~Guard() {
  if (!thread_.connection_->isLost()) {
    XFlush(thread_.connection_->display());
  }
  lock_.unlock();
  thread_.wake();
}

} // namespace platform
