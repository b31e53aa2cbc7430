#pragma once

#include "platform/system/EventPump.hpp"
#include "platform/system/Executor.hpp"

#include <memory>

namespace platform::ui {

class X11Desktop;

// Runs an X11 desktop's events on the main executor (an EventPump on the connection), also
// when Xlib read them into its queue during another call. Create and destroy on the main
// thread; the desktop and the executor outlive the pump.
class X11EventPump {
public:
  X11EventPump(X11Desktop &desktop, std::shared_ptr<Executor> main);
  ~X11EventPump();
  X11EventPump(const X11EventPump &) = delete;
  X11EventPump &operator=(const X11EventPump &) = delete;

private:
  X11Desktop &desktop_;
  EventPump pump_;
};

} // namespace platform::ui
