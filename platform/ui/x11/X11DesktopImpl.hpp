#pragma once

// X11Desktop's private parts, one per concern, each with its own file: the display they all
// talk to (X11Desktop.cpp), the screens (X11DesktopScreens.cpp), the windows
// (X11DesktopWindows.cpp) and the input (X11DesktopInput.cpp). The event switch that hands
// the server's events to them is X11DesktopEvents.cpp.

#include "platform/ui/Window.hpp"
#include "platform/ui/x11/X11Desktop.hpp"
#include "platform/x11/X11Connection.hpp"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <cairo.h>

#include <X11/Xlib.h>

namespace platform::ui {

struct IntRect {
  int x = 0, y = 0, width = 1, height = 1;
  bool operator==(const IntRect &) const = default;
};

inline bool isBorderless(const Window &window) { return !(window.styleMask() & kTitled); }

inline bool takesNoFocus(const Window &window) {
  return isBorderless(window) && (window.styleMask() & kNonactivatingPanel);
}

// The X window showing one of our windows, with what the pointer did in it.
struct X11NativeWindow {
  ::Window xid = 0;
  int depth = 0;
  Colormap colormap = 0;
  cairo_surface_t *surface = nullptr; // on the window
  cairo_surface_t *buffer = nullptr;  // drawn into, then copied in one go
  IntRect geometry;                   // what we last asked the server for
  bool mapped = false;
  bool overrideRedirect = false;
  std::set<std::string> hovered;
  bool pressed = false;
  bool selecting = false; // the press was in a text editor: moves select text
  // Where a press on a background that moves the window went down, until the pointer moves
  // far enough to start the move or the button comes up.
  std::optional<Point> backgroundPress;
  bool shaped = false; // its bounding shape is the outline of what it draws
};

struct X11DesktopAtoms {
  Atom wmProtocols = 0, wmDeleteWindow = 0, netWmName = 0, utf8String = 0, netWmPid = 0,
       netWmWindowType = 0, typeNormal = 0, typeUtility = 0, typeNotification = 0, netWmState = 0,
       stateAbove = 0, stateSticky = 0, stateSkipTaskbar = 0, stateSkipPager = 0,
       netActiveWindow = 0, netSupported = 0, netWorkarea = 0, motifWmHints = 0, netMoveResize = 0;
};

// The display every part talks to.
struct X11DesktopServer {
  // Opens the display. Throws X11Error when it cannot.
  explicit X11DesktopServer(const std::string &displayName);

  // The connection records protocol errors instead of ending the process: requests about
  // windows that another client (or the window manager) destroyed or has not mapped yet fail
  // harmlessly, and every call that needs an answer checks its own result.
  std::shared_ptr<X11Connection> connection;
  Display *display = nullptr;
  int screen = 0;
  ::Window root = 0;
  X11DesktopAtoms atoms;
  std::function<void()> onEventsQueued;

  Atom atom(const char *name) const;
  bool windowManagerSupports(Atom feature) const;
  void afterRequests();
};

// The monitors, and the mapping between desktop and root-window coordinates.
struct X11DesktopScreens {
  // Asks for RandR's and the work area's changes.
  explicit X11DesktopScreens(X11DesktopServer &server);

  X11DesktopServer &server;
  bool hasRandr = false;
  int randrEventBase = 0;
  // The primary monitor in root coordinates: desktop coordinates have their origin at its
  // bottom-left corner, y growing upwards.
  IntRect primary;

  // Reads the monitors and the work area (the primary first); `primary` follows.
  std::vector<Screen> read();
  IntRect toX(const Rect &r) const;
  Point pointFromX(int rootX, int rootY) const;
  Rect fromX(const IntRect &r) const;
};

// Our windows' X windows: creating, placing, drawing and destroying them.
struct X11DesktopWindows {
  X11DesktopWindows(X11DesktopServer &server, const X11DesktopScreens &screens);

  X11DesktopServer &server;
  const X11DesktopScreens &screens;
  std::map<Window *, X11NativeWindow> natives;
  std::map<::Window, Window *> byXid;
  Window *applyingServerGeometry = nullptr;
  bool hasShape = false;
  Atom compositorSelection = 0; // owned by the compositing manager, when one runs

  X11NativeWindow &create(Window &window);
  void applyAttributes(Window &window, X11NativeWindow &n);
  void setSizeHints(Window &window, const X11NativeWindow &n);
  void place(Window &window, X11NativeWindow &n);
  void draw(Window &window, X11NativeWindow &n);
  void render(Window &window, X11NativeWindow &n);
  void shapeBeforeMapping(Window &window, X11NativeWindow &n);
  bool showsThrough(const Window &window) const;
  void shapeToContent(X11NativeWindow &n);
  void destroy(X11NativeWindow &n);
  Window *windowOf(::Window xid) const;
  void serverConfigured(Window &window, X11NativeWindow &n);
};

// Presses, moves, wheel and keys dispatched into the view trees; grabs and the focus.
struct X11DesktopInput {
  X11DesktopServer &server;
  const X11DesktopScreens &screens;

  void buttonPressed(Window &window, X11NativeWindow &n, const XButtonEvent &event);
  void focusOnClickWithoutWindowManager(Window &window, const X11NativeWindow &n, Time time);
  void buttonReleased(Window &window, X11NativeWindow &n, const XButtonEvent &event);
  void pointerMoved(Window &window, X11NativeWindow &n, const XMotionEvent &event);
  void key(Window &window, XKeyEvent &event);
  void grabForMenu(const X11NativeWindow &menu);
  void releaseMenuGrab();
};

struct X11Desktop::Impl {
  explicit Impl(const std::string &displayName);

  X11DesktopServer server;
  X11DesktopWindows windows;
  X11DesktopScreens screens;
  X11DesktopInput input;
  std::function<void()> onConnectionLost;
  bool lostReported = false;
};

} // namespace platform::ui
