#pragma once

#include "platform/system/Executor.hpp"

#include <memory>
#include <thread>

namespace platform::ui {

class X11Desktop;

// Runs an X11 desktop's events on the main executor: a thread of its own waits until the
// connection has input, posts X11Desktop::processEvents() to the executor and waits for it to
// finish before it waits again. Events Xlib read during other calls on the main thread reach
// the executor through the desktop's events-queued notice. The thread calls no Xlib function.
// Start and destroy on the main thread; the desktop and the executor outlive the pump.
class X11EventPump {
public:
  X11EventPump(X11Desktop &desktop, std::shared_ptr<Executor> main);
  ~X11EventPump();
  X11EventPump(const X11EventPump &) = delete;
  X11EventPump &operator=(const X11EventPump &) = delete;

private:
  struct State;
  void run();

  std::shared_ptr<State> state_;
  std::thread thread_;
};

} // namespace platform::ui
