#pragma once

#include "platform/services/Workspace.hpp"
#include "platform/x11/X11Connection.hpp"

#include <chrono>
#include <memory>
#include <vector>

namespace platform {

// How the X11 workspace connects.
struct X11WorkspaceOptions {
  // The display (default: $DISPLAY).
  X11ConnectionOptions connection = {};
  // How long an activation waits for the keyboard focus to reach the application's window, so
  // that what the caller does next (reading the focused field, typing) reaches it.
  std::chrono::milliseconds focusTimeout = std::chrono::milliseconds(500);
};

// The running applications of an X11 desktop as the window manager describes them: the
// frontmost application is the process (_NET_WM_PID) of the active window (_NET_ACTIVE_WINDOW
// on the root window). Activation asks the window manager with a _NET_ACTIVE_WINDOW message for
// the application's window (from _NET_CLIENT_LIST, else the root's children); without a window
// manager (none announced by _NET_SUPPORTING_WM_CHECK) the window is raised and given the
// focus directly. Either way the activation then waits, bounded by the focus time-out, until
// the keyboard focus is in that window.
//
// Used on one thread (the main executor's). A display that cannot be opened gives no frontmost
// application and refuses activations.
class X11Workspace final : public Workspace {
public:
  explicit X11Workspace(X11WorkspaceOptions options = {});

  std::optional<ProcessId> frontmostApplication() const override;
  bool activateApplication(ProcessId pid) override;

private:
  // The single format-32 value of `name` on `window` when it has the given type.
  std::optional<long> longProperty(X11Id window, const char *name, X11Id type) const;
  std::optional<X11Id> windowProperty(X11Id window, const char *name) const;
  std::optional<long> cardinalProperty(X11Id window, const char *name) const;
  std::vector<X11Id> clientWindows() const;
  bool hasWindowManager() const;
  bool focusIsWithin(X11Id window) const;
  void waitForFocus(X11Id window);

  X11WorkspaceOptions options_;
  std::shared_ptr<X11Connection> connection_;
};

} // namespace platform
