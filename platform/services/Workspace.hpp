#pragma once

#include <cstdint>
#include <optional>

namespace platform {

// A process identifier of a running application.
using ProcessId = std::int32_t;

// The running applications of the desktop as the app needs them. Used on the main thread.
class Workspace {
public:
  virtual ~Workspace() = default;
  // The application that has the keyboard focus; absent when there is none.
  virtual std::optional<ProcessId> frontmostApplication() const = 0;
  // Brings the application's windows to the front and gives it the focus. False when no such
  // application runs or it could not be activated.
  virtual bool activateApplication(ProcessId pid) = 0;
};

} // namespace platform
