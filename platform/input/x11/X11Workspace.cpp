#include "platform/input/x11/X11Workspace.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace platform {

X11Workspace::X11Workspace(X11WorkspaceOptions options) : options_(std::move(options)) {
  try {
    connection_ = X11Connection::open(options_.connection);
  } catch (const X11Error &) {
    connection_.reset();
  }
}

std::optional<long> X11Workspace::longProperty(X11Id window, const char *name, X11Id type) const {
  X11Connection::ErrorTrap trap(*connection_);
  const auto value =
      connection_->readProperty(window, connection_->atom(name), X11PropertyRead{.type = type});
  trap.finish();
  const auto items = value ? value->items32() : std::vector<std::uint32_t>{};
  if (!value || value->type != type || items.empty()) {
    return std::nullopt;
  }
  return static_cast<long>(items.front());
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
  const auto list =
      connection_->readProperty(connection_->rootWindow(), connection_->atom("_NET_CLIENT_LIST"),
                                X11PropertyRead{.type = XA_WINDOW});
  if (list && list->type == XA_WINDOW) {
    const auto items = list->items32();
    windows.assign(items.begin(), items.end());
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
  // Selected before asking, so no change of the focus can slip between the request and the wait.
  XSelectInput(display, connection_->rootWindow(), PropertyChangeMask);
  XSelectInput(display, *target, FocusChangeMask);
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
  const bool asked = trap.finish() == 0;
  if (asked) {
    waitForFocus(*target);
  }
  X11Connection::ErrorTrap unselect(*connection_);
  XSelectInput(display, *target, NoEventMask);
  XSelectInput(display, connection_->rootWindow(), NoEventMask);
  unselect.finish();
  // Nothing else reads this connection's events: what the wait left is dropped.
  connection_->dispatchPending([](XEvent &) {});
  return asked;
}

bool X11Workspace::focusIsWithin(X11Id window) const {
  Display *display = connection_->display();
  X11Connection::ErrorTrap trap(*connection_);
  Window focus = None;
  int revert = 0;
  XGetInputFocus(display, &focus, &revert);
  // The focus may sit on the window or on one of its descendants (a toolkit's focus proxy).
  while (focus != None && focus != PointerRoot && focus != connection_->rootWindow()) {
    if (focus == window) {
      return true;
    }
    Window root = None;
    Window parent = None;
    Window *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, focus, &root, &parent, &children, &count)) {
      return false;
    }
    if (children != nullptr) {
      XFree(children);
    }
    focus = parent;
  }
  return false;
}

void X11Workspace::waitForFocus(X11Id window) {
  const auto deadline = std::chrono::steady_clock::now() + options_.focusTimeout;
  const X11Id root = connection_->rootWindow();
  // The window manager moves the focus some time after the request: each notice of a new
  // active window or of focus coming in is a moment to look again.
  while (!focusIsWithin(window)) {
    XEvent event;
    if (!connection_->waitForEvent(
            [root](const XEvent &candidate) {
              return (candidate.type == PropertyNotify && candidate.xproperty.window == root) ||
                     candidate.type == FocusIn;
            },
            event, deadline)) {
      return;
    }
  }
}

} // namespace platform
