#pragma once

#include "platform/x11/X11Connection.hpp"

#include <functional>
#include <memory>
#include <mutex>
#include <thread>

union _XEvent;

namespace platform {

// A thread that reads the events of one connection and hands them to a handler. The handler
// and the lost notice run on that thread with the lock held, so they may use the display; they
// must return quickly (post longer work elsewhere). Every other use of the display goes through
// lock(), which also wakes the thread afterwards to read what arrived during that use.
class X11EventThread {
public:
  using EventHandler = std::function<void(_XEvent &event)>;
  // Called once when the connection breaks; the thread ends after it.
  using LostHandler = std::function<void()>;

  X11EventThread(std::shared_ptr<X11Connection> connection, EventHandler onEvent,
                 LostHandler onLost);
  // Stops and joins the thread (a handler running at that moment finishes first).
  ~X11EventThread();
  X11EventThread(const X11EventThread &) = delete;
  X11EventThread &operator=(const X11EventThread &) = delete;

  // Exclusive use of the connection while the returned guard lives. Not from a handler.
  class Guard {
  public:
    explicit Guard(X11EventThread &thread);
    ~Guard();
    Guard(const Guard &) = delete;
    Guard &operator=(const Guard &) = delete;

  private:
    X11EventThread &thread_;
    std::unique_lock<std::mutex> lock_;
  };
  Guard lock() { return Guard(*this); }

  X11Connection &connection() const { return *connection_; }

private:
  void run();
  void wake();

  std::shared_ptr<X11Connection> connection_;
  EventHandler onEvent_;
  LostHandler onLost_;
  std::mutex mutex_;
  int wakeFd_ = -1;
  bool stopping_ = false;
  std::thread thread_;
};

} // namespace platform
