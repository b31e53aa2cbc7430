#pragma once

#include <optional>
#include <string>

namespace mqtest {

// A virtual X server private to the test process, so desktop tests can move the pointer and
// the focus without disturbing each other or a person's session. Started on first use with
// a free display number (Xvfb -displayfd) and stopped when the process ends. Without the Xvfb
// program, the session's own DISPLAY is used when one is set.
class XvfbServer {
public:
  // The display name (":N") to open; absent when there is neither Xvfb nor a DISPLAY, and
  // the caller should skip.
  static std::optional<std::string> display();
  // A second private server with a window manager (openbox) running on it, so tests see what
  // a managed window goes through: frames, size hints, gravity, focus. Absent without Xvfb
  // or openbox, and the caller should skip.
  static std::optional<std::string> displayWithWindowManager();
};

} // namespace mqtest
