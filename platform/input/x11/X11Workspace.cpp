#include "platform/input/x11/X11Workspace.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace platform {

X11Workspace::X11Workspace(X11WorkspaceOptions options) {
  try {
    connection_ = X11Connection::open(options.connection);
  } catch (const X11Error &) {
    connection_.reset();
  }
}

std::optional<long> X11Workspace::longProperty(X11Id window, const char *name, X11Id type) const {
  Atom actualType = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char *data = nullptr;
  X11Connection::ErrorTrap trap(*connection_);
  const int status =
      XGetWindowProperty(connection_->display(), window, connection_->atom(name), 0, 1, False, type,
                         &actualType, &format, &count, &after, &data);
  trap.finish();
  std::optional<long> result;
  // Format-32 properties come back as an array of C longs, whatever the server's word size.
  if (status == Success && data != nullptr && actualType == type && format == 32 && count == 1) {
    result = *reinterpret_cast<long *>(data);
  }
  if (data != nullptr) {
    XFree(data);
  }
  return result;
}

std::optional<X11Id> X11Workspace::windowProperty(X11Id window, const char *name) const {
  const auto value = longProperty(window, name, XA_WINDOW);
  if (!value || *value == None) {
    return std::nullopt;
  }
  return static_cast<X11Id>(*value);
}

std::optional<long> X11Workspace::cardinalProperty(X11Id window, const char *name) const {
  return longProperty(window, name, XA_CARDINAL);
}

std::optional<ProcessId> X11Workspace::frontmostApplication() const {
  if (!connection_ || connection_->isLost()) {
    return std::nullopt;
  }
  const auto active = windowProperty(connection_->rootWindow(), "_NET_ACTIVE_WINDOW");
  if (!active) {
    return std::nullopt;
  }
  const auto pid = cardinalProperty(*active, "_NET_WM_PID");
  if (!pid || *pid <= 0) {
    return std::nullopt;
  }
  return static_cast<ProcessId>(*pid);
}

std::vector<X11Id> X11Workspace::clientWindows() const {
  Display *display = connection_->display();
  std::vector<X11Id> windows;
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char *data = nullptr;
  if (XGetWindowProperty(display, connection_->rootWindow(), connection_->atom("_NET_CLIENT_LIST"),
                         0, 1 << 16, False, XA_WINDOW, &type, &format, &count, &after,
                         &data) == Success &&
      data != nullptr && type == XA_WINDOW && format == 32) {
    const auto *list = reinterpret_cast<unsigned long *>(data);
    windows.assign(list, list + count);
  }
  if (data != nullptr) {
    XFree(data);
  }
  if (!windows.empty()) {
    return windows;
  }
  Window root = None;
  Window parent = None;
  Window *children = nullptr;
  unsigned childCount = 0;
  if (XQueryTree(display, connection_->rootWindow(), &root, &parent, &children, &childCount)) {
    windows.assign(children, children + childCount);
    if (children != nullptr) {
      XFree(children);
    }
  }
  return windows;
}

bool X11Workspace::hasWindowManager() const {
  const auto check = windowProperty(connection_->rootWindow(), "_NET_SUPPORTING_WM_CHECK");
  // The window manager's check window names itself; a stale property names a vanished window.
  return check && windowProperty(*check, "_NET_SUPPORTING_WM_CHECK") == check;
}

bool X11Workspace::activateApplication(ProcessId pid) {
  if (!connection_ || connection_->isLost() || pid <= 0) {
    return false;
  }
  Display *display = connection_->display();
  std::optional<X11Id> target;
  for (const X11Id window : clientWindows()) {
    if (cardinalProperty(window, "_NET_WM_PID") != pid) {
      continue;
    }
    XWindowAttributes attributes{};
    X11Connection::ErrorTrap trap(*connection_);
    const bool known = XGetWindowAttributes(display, window, &attributes) != 0;
    if (trap.finish() != 0 || !known) {
      continue;
    }
    if (!target || attributes.map_state == IsViewable) {
      target = window;
    }
    if (attributes.map_state == IsViewable) {
      break;
    }
  }
  if (!target) {
    return false;
  }
  X11Connection::ErrorTrap trap(*connection_);
  if (hasWindowManager()) {
    XEvent message{};
    message.xclient.type = ClientMessage;
    message.xclient.window = *target;
    message.xclient.message_type = connection_->atom("_NET_ACTIVE_WINDOW");
    message.xclient.format = 32;
    message.xclient.data.l[0] = 1; // the request comes from an application
    message.xclient.data.l[1] = static_cast<long>(connection_->serverTime());
    message.xclient.data.l[2] = 0;
    XSendEvent(display, connection_->rootWindow(), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &message);
  } else {
    XMapRaised(display, *target);
    XSetInputFocus(display, *target, RevertToPointerRoot, CurrentTime);
  }
  return trap.finish() == 0;
}

} // namespace platform
