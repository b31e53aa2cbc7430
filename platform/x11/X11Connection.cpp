#include "platform/x11/X11Connection.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace platform {
namespace {

// Connections by display, for Xlib's process-wide handlers.
std::mutex registryMutex;
std::unordered_map<Display *, X11Connection *> &registry() {
  static std::unordered_map<Display *, X11Connection *> connections;
  return connections;
}

std::vector<Display *> &lostDisplays() {
  // Never destroyed, so what it holds stays reachable until the process ends.
  static auto *displays = new std::vector<Display *>;
  return *displays;
}

int ignoreIOError(Display *) { return 0; }

std::function<void()> &anyConnectionLost() {
  static auto *handler = new std::function<void()>;
  return *handler;
}

// How long serverTime waits for the server to report its own property change.
constexpr auto kServerTimeTimeout = std::chrono::seconds(5);

} // namespace

std::shared_ptr<X11Connection> X11Connection::open(const X11ConnectionOptions &options) {
  static std::once_flag once;
  std::call_once(once, [] {
    XSetErrorHandler([](Display *display, XErrorEvent *event) { return onError(display, event); });
    XSetIOErrorHandler(ignoreIOError);
  });
  std::string name = options.displayName;
  if (name.empty()) {
    const char *variable = std::getenv("DISPLAY");
    name = variable != nullptr ? variable : "";
  }
  if (name.empty()) {
    throw X11Error("Cannot open the X display: DISPLAY is not set");
  }
  Display *display = XOpenDisplay(name.c_str());
  if (display == nullptr) {
    throw X11Error("Cannot open the X display '" + name + "'");
  }
  return std::shared_ptr<X11Connection>(new X11Connection(display, std::move(name)));
}

X11Connection::X11Connection(_XDisplay *display, std::string name)
    : display_(display), name_(std::move(name)) {
  {
    std::lock_guard lock(registryMutex);
    registry()[display_] = this;
  }
  XSetIOErrorExitHandler(display_, onLost, this);
  root_ = DefaultRootWindow(display_);
  XSetWindowAttributes attributes{};
  attributes.event_mask = PropertyChangeMask;
  window_ = XCreateWindow(display_, root_, -10, -10, 1, 1, 0, CopyFromParent, InputOnly,
                          CopyFromParent, CWEventMask, &attributes);
  XSync(display_, False); // the window exists once open() returns
}

X11Connection::~X11Connection() {
  {
    std::lock_guard lock(registryMutex);
    registry().erase(display_);
  }
  if (!lost_) {
    XDestroyWindow(display_, window_);
    XCloseDisplay(display_);
    return;
  }
  // Xlib can leave its internal lock held after an I/O error, and XCloseDisplay then waits for
  // ever. A lost display is kept (reachable, so not reported as a leak) and only its socket is
  // closed; a broken server connection is rare enough for that to cost nothing that matters.
  close(ConnectionNumber(display_));
  std::lock_guard lock(registryMutex);
  lostDisplays().push_back(display_);
}

int X11Connection::fileDescriptor() const { return ConnectionNumber(display_); }

X11Id X11Connection::atom(const std::string &name) {
  const auto found = atoms_.find(name);
  if (found != atoms_.end()) {
    return found->second;
  }
  if (lost_) {
    return None;
  }
  const Atom atom = XInternAtom(display_, name.c_str(), False);
  if (atom != None) {
    atoms_.emplace(name, atom);
  }
  return atom;
}

std::string X11Connection::atomName(X11Id atom) {
  if (atom == None) {
    return {};
  }
  if (lost_) {
    return {};
  }
  ErrorTrap trap(*this);
  char *name = XGetAtomName(display_, atom);
  trap.finish();
  if (name == nullptr) {
    return {};
  }
  std::string result = name;
  XFree(name);
  return result;
}

unsigned long X11Connection::serverTime() {
  if (lost_) {
    return 0;
  }
  // Appending nothing to a property still generates a PropertyNotify carrying the server time.
  const Atom property = atom("_MURMURQUILL_TIMESTAMP");
  XChangeProperty(display_, window_, property, XA_INTEGER, 32, PropModeAppend, nullptr, 0);
  XEvent event;
  const bool arrived = waitForEvent(
      [this](const XEvent &candidate) {
        return candidate.type == PropertyNotify && candidate.xproperty.window == window_;
      },
      event, std::chrono::steady_clock::now() + kServerTimeTimeout);
  return arrived ? event.xproperty.time : 0;
}

std::vector<std::uint32_t> X11Property::items32() const {
  std::vector<std::uint32_t> items(format == 32 ? bytes.size() / 4 : 0);
  if (!items.empty()) {
    std::memcpy(items.data(), bytes.data(), items.size() * 4);
  }
  return items;
}

std::optional<X11Property> X11Connection::readProperty(X11Id window, X11Id property,
                                                       const X11PropertyRead &read) {
  if (lost_) {
    return std::nullopt;
  }
  const Atom wanted = read.type != 0 ? read.type : AnyPropertyType;
  X11Property value;
  long offset = 0; // in 32-bit units, as the protocol counts
  unsigned long after = 0;
  bool ok = true;
  do {
    int format = 0;
    unsigned long count = 0;
    unsigned char *data = nullptr;
    Atom type = None;
    if (XGetWindowProperty(display_, window, property, offset, 1 << 18, False, wanted, &type,
                           &format, &count, &after, &data) != Success) {
      ok = false;
      break;
    }
    value.type = type;
    value.format = format;
    if (data != nullptr && format == 32) {
      // Xlib hands 32-bit items over as longs; keep their 4 bytes each.
      for (unsigned long i = 0; i < count; ++i) {
        const auto item = static_cast<std::uint32_t>(reinterpret_cast<long *>(data)[i]);
        value.bytes.append(reinterpret_cast<const char *>(&item), 4);
      }
    } else if (data != nullptr) {
      value.bytes.append(reinterpret_cast<const char *>(data), count * (format / 8));
    }
    if (data != nullptr) {
      XFree(data);
    }
    if (type == None || (wanted != AnyPropertyType && type != wanted)) {
      value.bytes.clear(); // no property, or one of another type: nothing was read
      break;
    }
    offset += static_cast<long>(count * static_cast<unsigned long>(format / 8) / 4);
    ok = value.bytes.size() <= read.maxBytes;
  } while (ok && after > 0);
  if (read.remove) {
    XDeleteProperty(display_, window, property);
  }
  if (!ok) {
    return std::nullopt;
  }
  return value;
}

std::size_t X11Connection::dispatchPending(const std::function<void(_XEvent &event)> &handler) {
  std::size_t handled = 0;
  while (!lost_ && XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    ++handled;
    handler(event);
  }
  return handled;
}

bool X11Connection::waitForEvent(const std::function<bool(const _XEvent &event)> &matches,
                                 _XEvent &event, std::chrono::steady_clock::time_point deadline) {
  XFlush(display_);
  for (;;) {
    if (lost_) {
      return false;
    }
    if (XCheckIfEvent(
            display_, &event,
            [](Display *, XEvent *candidate, XPointer arg) -> Bool {
              return (*reinterpret_cast<const std::function<bool(const XEvent &)> *>(arg))(
                  *candidate);
            },
            reinterpret_cast<XPointer>(
                const_cast<std::function<bool(const XEvent &)> *>(&matches)))) {
      return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      return false;
    }
    // Bounded, so a connection that breaks without the socket turning readable is noticed.
    pollfd fd{ConnectionNumber(display_), POLLIN, 0};
    poll(&fd, 1, static_cast<int>(std::min<long long>(left.count(), 100)));
  }
}

int X11Connection::onError(_XDisplay *display, void *event) {
  const auto *error = static_cast<XErrorEvent *>(event);
  std::lock_guard lock(registryMutex);
  const auto found = registry().find(display);
  if (found != registry().end()) {
    int expected = 0;
    found->second->firstError_.compare_exchange_strong(expected, error->error_code);
  }
  return 0;
}

void X11Connection::onLost(_XDisplay *, void *connection) {
  // Returning (instead of exiting, Xlib's default) leaves the display marked broken: later
  // calls on it fail without touching the socket.
  static_cast<X11Connection *>(connection)->lost_ = true;
  std::function<void()> handler;
  {
    std::lock_guard lock(registryMutex);
    handler = anyConnectionLost();
  }
  if (handler) {
    handler();
  }
}

void X11Connection::setOnAnyConnectionLost(std::function<void()> handler) {
  std::lock_guard lock(registryMutex);
  anyConnectionLost() = std::move(handler);
}

X11Connection::ErrorTrap::ErrorTrap(X11Connection &connection) : connection_(connection) {
  if (!connection_.lost_) {
    XSync(connection_.display_, False);
  }
  connection_.firstError_ = 0;
}

X11Connection::ErrorTrap::~ErrorTrap() {
  if (!finished_) {
    finish();
  }
}

int X11Connection::ErrorTrap::finish() {
  finished_ = true;
  if (connection_.lost_) {
    return BadImplementation;
  }
  XSync(connection_.display_, False);
  return connection_.lost_ ? BadImplementation : connection_.firstError_.exchange(0);
}

} // namespace platform
