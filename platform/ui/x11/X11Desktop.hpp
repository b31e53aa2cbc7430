#pragma once

#include "platform/ui/Desktop.hpp"
#include "platform/x11/X11Connection.hpp"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

union _XEvent;

namespace platform::ui {

// The desktop of an X11 display. Screens are the display's RandR monitors (the whole root
// window without RandR), their visible frames cut to the window manager's work area; the
// pointer is asked of the server. Every window that comes forward gets an X window for its
// content rectangle, drawn by the same cairo code as the files the renderer writes, and
// redrawn when its content renders again or the server asks (Expose). Clicks, pointer moves
// and keys in it are dispatched into its view tree as the inspector does; the wheel scrolls
// text editors, and dragging the background of a window movable by it moves the window (a
// plain click there does not).
//
// How windows map to X:
// - borderless windows are override-redirect (the window manager neither frames nor moves
//   them); a borderless non-activating panel never takes the input focus (WM_HINTS input
//   False) and, when it ignores mouse events, has an empty input shape so clicks reach the
//   window below; above the normal level they are raised on every show. The HUD is one.
// - other windows are managed: title, WM_DELETE_WINDOW when closable (the close runs
//   Window::close), fixed size unless resizable, kept above others above the normal level,
//   focused through the window manager's _NET_ACTIVE_WINDOW when they are made key.
//
// Not thread-safe: the main thread only, like every window. Events are handled only by
// processEvents(); X11EventPump calls it on the main executor when the connection has input.
class X11Desktop final : public Desktop {
public:
  struct Options {
    // The display to open; empty: the DISPLAY environment variable.
    std::string displayName;
  };

  // Opens the display. Throws X11Error when it cannot.
  explicit X11Desktop(Options options = {});
  ~X11Desktop() override;

  // The connection's file descriptor: readable when the server has sent something.
  int connectionNumber() const;
  // Handles every event received so far (reading what the connection holds); returns how many.
  std::size_t processEvents();
  // Sends the requests made so far and waits until the server has handled them.
  void sync();
  // Called (on the main thread) when Xlib read events into its queue during another call, so
  // that the connection will not turn readable for them; the pump posts processEvents().
  void setOnEventsQueued(std::function<void()> handler);
  // Called once (on the main thread, from processEvents) when the connection to the server
  // broke. The desktop stays usable as an object, but nothing reaches the screen any more.
  void setOnConnectionLost(std::function<void()> handler);
  bool isConnectionLost() const;

  // Reads the monitors and the work area again.
  void refreshScreens();
  // The X window showing `window`, 0 before it first came forward.
  unsigned long nativeWindow(const Window &window) const;

  Point mouseLocation() const override;
  void openURL(const std::string &url) override;
  void windowOrderedFront(Window *window) override;
  void windowOrderedOut(Window *window) override;
  void windowMadeKey(Window *window) override;
  void windowDestroyed(Window *window) override;
  void windowChanged(Window *window) override;
  // Managed windows are moved by the window manager (_NET_WM_MOVERESIZE) when it offers
  // that; otherwise the pointer is grabbed and the window follows it until the release.
  void beginWindowDrag(Window &window, Point pointer) override;

private:
  void handleEvent(_XEvent &event);

  struct Impl;
  std::unique_ptr<Impl> impl_;
};

} // namespace platform::ui
