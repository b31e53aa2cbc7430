#pragma once

#include <functional>
#include <memory>

namespace platform {

// Source of network path updates (the platform's path monitor). start() delivers the current
// path and then every change, on a thread of the monitor's own; calling start() again
// re-delivers the current path. cancel() stops delivery for good and waits until no handler
// call is running (unless called from the handler itself). Implementations are thread-safe.
class PathMonitor {
public:
  struct Path {
    bool satisfied = true; // a route to the outside exists
    bool isExpensive = false;
    bool isConstrained = false;
  };
  using Handler = std::function<void(const Path &path)>;

  virtual ~PathMonitor() = default;
  virtual void setUpdateHandler(Handler handler) = 0;
  virtual void start() = 0;
  virtual void cancel() = 0;

  // Linux: satisfied while some interface other than loopback is up and has an address;
  // watches the kernel's link and address changes.
  static std::unique_ptr<PathMonitor> makeSystemMonitor();
};

} // namespace platform
