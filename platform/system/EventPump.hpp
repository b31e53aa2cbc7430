#pragma once

#include "platform/system/Executor.hpp"

#include <functional>
#include <memory>
#include <thread>

namespace platform {

// Runs a connection's input handling on the main executor: a thread of its own waits until
// the file descriptor is readable, posts `handle` to the executor and waits for it to finish
// before it waits again. The thread only polls the descriptor; `handle` (which reads the
// connection) always runs on the executor. A connection library that reads input into its
// own queue during other calls leaves the descriptor unreadable for it: the owner then calls
// requestHandling(). Create and destroy on the main thread; the connection and the executor
// outlive the pump.
class EventPump {
public:
  EventPump(int fd, std::function<void()> handle, std::shared_ptr<Executor> main);
  ~EventPump();
  EventPump(const EventPump &) = delete;
  EventPump &operator=(const EventPump &) = delete;

  // Posts one `handle` unless one is already queued; asked while `handle` runs (a handler that
  // did only part of the work it found), one more turn is queued after it, behind the work
  // posted meanwhile. Thread-safe.
  void requestHandling();

private:
  struct State;
  void run(int fd);

  std::shared_ptr<State> state_;
  std::thread thread_;
};

} // namespace platform
