#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform::ui {

// Thrown when the item cannot be put on the bus (no session bus, a refused name).
class StatusNotifierError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// An icon drawn by the application: ARGB32 pixels, not premultiplied, in network byte order,
// row by row, as the protocol's IconPixmap carries them.
struct StatusIcon {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> argb;
  bool operator==(const StatusIcon &) const = default;
};

// One entry of a status item's menu.
struct StatusMenuItem {
  std::string label;            // shown as is (no mnemonics)
  std::function<void()> action; // run on the main thread when the entry is clicked
  bool separator = false;       // a separator line instead of an entry
  bool enabled = true;
  bool toggle = false;  // shows a checkmark...
  bool checked = false; // ...when checked
};

// The application's icon in the desktop's status area, through the StatusNotifierItem
// protocol on the session bus: the item is exported at /StatusNotifierItem under the name
// "org.kde.StatusNotifierItem-<pid>-<n>" with a com.canonical.dbusmenu menu at /MenuBar, and
// registered with the org.kde.StatusNotifierWatcher, which the desktop's panel runs. Without a
// watcher the item stays unregistered (isRegistered() false), says so once, and registers as
// soon as one appears.
//
// Main thread only: handle() reads the bus and runs the handlers there; fd() is the
// connection to wait on (EventPump). The handlers must not destroy the item.
class StatusNotifierItem {
public:
  struct Options {
    // The session bus address; empty: the session bus of the environment.
    std::string busAddress;
    // Names the item to the panel.
    std::string id = "murmurquill";
    std::string title = "Murmurquill";
    // An icon of the desktop's icon theme.
    std::string iconName = "audio-input-microphone";
  };

  // Connects, exports the item and its menu and asks the watcher, if any, to show it. The
  // answer arrives through handle(). Throws StatusNotifierError.
  StatusNotifierItem(Options options, std::function<void()> onActivate,
                     std::function<std::vector<StatusMenuItem>()> menu);
  ~StatusNotifierItem();
  StatusNotifierItem(const StatusNotifierItem &) = delete;
  StatusNotifierItem &operator=(const StatusNotifierItem &) = delete;

  // The watcher accepted the item.
  bool isRegistered() const;
  // Called with the watcher's first answer (false when there is no watcher, so the
  // application can show its menu another way) and whenever registration changes after it
  // (the watcher came or went). A handler set after the first answer is told it at once.
  void setOnRegistrationChanged(std::function<void(bool registered)> handler);
  // The item's bus name.
  const std::string &busName() const;

  // The menu's entries may have changed: the panel reads them again.
  void menuChanged();
  // Shows `icon` in place of the theme icon and tells the panel (NewIcon) when it changed.
  void setIcon(StatusIcon icon);

  // The connection's file descriptor: readable when messages arrive.
  int fd() const;
  // Handles the messages received so far, at most kMaxMessagesPerTurn of them: the bus may not
  // hold the main thread for long, however much another program sends. True when messages
  // are left for another turn, which the caller gives after its other work.
  bool handle();
  static constexpr std::size_t kMaxMessagesPerTurn = 8;

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

} // namespace platform::ui
