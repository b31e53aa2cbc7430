#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// Xlib's Display, declared without Xlib's macros (None, Bool, Status, ...) leaking into every
// file that includes this header.
struct _XDisplay;
union _XEvent;

namespace platform {

// An X resource id (window, atom, ...), as Xlib's XID.
using X11Id = unsigned long;

// The X display could not be opened or lacks something required.
class X11Error : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// What to open.
struct X11ConnectionOptions {
  // The display name ("host:display.screen"); empty means the DISPLAY environment variable.
  std::string displayName = {};
};

// A window property as read.
struct X11Property {
  X11Id type = 0; // 0: the window has no such property
  int format = 0; // 8, 16 or 32 bits per item
  // The items; format-32 items take 4 bytes each, in the host's byte order (Xlib hands them over
  // as longs). Empty when the property's type is not the one asked for.
  std::string bytes;

  // The format-32 items (windows, atoms, cardinals); empty for another format.
  std::vector<std::uint32_t> items32() const;
};

// How X11Connection::readProperty reads.
struct X11PropertyRead {
  // The type wanted; 0 accepts any. A property of another type reads with its type and no items.
  X11Id type = 0;
  // The largest value accepted; a larger one reads as a failure.
  std::size_t maxBytes = std::size_t{1} << 20;
  // Deletes the property once read (also when it is too large), as a selection transfer asks.
  bool remove = false;
};

// One client connection to the X server, with a small unmapped window of its own (an owner for
// selections, a source of server timestamps, and the resource that names this client).
//
// Xlib's process-wide handlers are replaced on the first open, so that a protocol error (a
// window that vanished meanwhile) is recorded instead of ending the process, and a broken
// connection marks the connection lost instead of exiting. Xlib calls that wait for the server
// block for good on a lost display: check isLost() before them (this class's own calls do).
//
// Not thread-safe: the owner serializes every use of display() (X11EventThread offers a lock).
class X11Connection {
public:
  // Opens the display; throws X11Error naming the display when it cannot be opened.
  static std::shared_ptr<X11Connection> open(const X11ConnectionOptions &options = {});

  ~X11Connection();
  X11Connection(const X11Connection &) = delete;
  X11Connection &operator=(const X11Connection &) = delete;

  _XDisplay *display() const { return display_; }
  const std::string &displayName() const { return name_; }
  int fileDescriptor() const;
  X11Id rootWindow() const { return root_; }
  // The connection's own unmapped window.
  X11Id ownWindow() const { return window_; }

  // The atom of `name`, interned once and cached; 0 on a lost connection.
  X11Id atom(const std::string &name);
  // The name of `atom`; empty for an unknown atom.
  std::string atomName(X11Id atom);

  // A current server timestamp (a property change on the own window, read back). Blocks for a
  // round trip; 0 on a lost connection or when the server does not answer within a few seconds.
  unsigned long serverTime();

  // The whole value of `property` on `window`, read in chunks. Absent when the request failed
  // (a window that vanished) or the value is larger than `read.maxBytes`. Blocks for a round
  // trip per megabyte.
  std::optional<X11Property> readProperty(X11Id window, X11Id property,
                                          const X11PropertyRead &read = {});

  // The one way events are read: hands every event the connection holds (reading what the
  // socket has, and flushing what was written) to `handler`, in order, until none is left or the
  // connection breaks. Returns how many were handled.
  std::size_t dispatchPending(const std::function<void(_XEvent &event)> &handler);

  // Waits for the first event `matches` accepts, leaving every other event queued for the
  // connection's reader, and copies it to `event`. False when `deadline` passed or the
  // connection broke first.
  bool waitForEvent(const std::function<bool(const _XEvent &event)> &matches, _XEvent &event,
                    std::chrono::steady_clock::time_point deadline);

  // True once the connection to the server broke. Safe from any thread.
  bool isLost() const { return lost_.load(); }

  // Called each time a connection of this process finds its server gone, on the thread that
  // found out, from inside the Xlib call that failed (which may be deep in a drawing library
  // that then never returns). An application ends on it whatever its threads are doing. The
  // handler must neither block nor call Xlib. Empty: none. Thread-safe.
  static void setOnAnyConnectionLost(std::function<void()> handler);

  // Records protocol errors from its creation on; finish() waits for the server to process every
  // request sent so far and returns the first error code seen (0 when none). Not nestable.
  class ErrorTrap {
  public:
    explicit ErrorTrap(X11Connection &connection);
    ~ErrorTrap();
    ErrorTrap(const ErrorTrap &) = delete;
    ErrorTrap &operator=(const ErrorTrap &) = delete;
    int finish();

  private:
    X11Connection &connection_;
    bool finished_ = false;
  };

private:
  X11Connection(_XDisplay *display, std::string name);
  static int onError(_XDisplay *display, void *event);
  static void onLost(_XDisplay *display, void *connection);

  _XDisplay *display_ = nullptr;
  std::string name_;
  X11Id root_ = 0;
  X11Id window_ = 0;
  std::map<std::string, X11Id> atoms_;
  std::atomic<bool> lost_{false};
  std::atomic<int> firstError_{0};
};

} // namespace platform
