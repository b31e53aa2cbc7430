#pragma once

// The parts of X11Desktop, shared by the files that each handle one concern of it: windows
// (X11DesktopWindows.cpp), input (X11DesktopInput.cpp), screens (X11DesktopScreens.cpp) and
// the event switch (X11DesktopEvents.cpp).

#include "platform/ui/Window.hpp"
#include "platform/ui/x11/X11Desktop.hpp"
#include "platform/x11/X11Connection.hpp"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

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

struct X11Desktop::Impl {
  struct Native {
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

  // The connection records protocol errors instead of ending the process: requests about
  // windows that another client (or the window manager) destroyed or has not mapped yet fail
  // harmlessly, and every call that needs an answer checks its own result.
  std::shared_ptr<X11Connection> connection;
  Display *display = nullptr;
  int screen = 0;
  ::Window root = 0;
  bool hasRandr = false;
  int randrEventBase = 0;
  // The primary monitor in root coordinates: desktop coordinates have their origin at its
  // bottom-left corner, y growing upwards.
  IntRect primary;
  std::map<Window *, Native> natives;
  std::map<::Window, Window *> byXid;
  Window *applyingServerGeometry = nullptr;
  std::function<void()> onEventsQueued;
  bool hasShape = false;
  Atom compositorSelection = 0; // owned by the compositing manager, when one runs
  std::function<void()> onConnectionLost;
  bool lostReported = false;

  Atom wmProtocols = 0, wmDeleteWindow = 0, netWmName = 0, utf8String = 0, netWmPid = 0,
       netWmWindowType = 0, typeNormal = 0, typeUtility = 0, typeNotification = 0, netWmState = 0,
       stateAbove = 0, stateSticky = 0, stateSkipTaskbar = 0, stateSkipPager = 0,
       netActiveWindow = 0, netSupported = 0, netWorkarea = 0, motifWmHints = 0, netMoveResize = 0;

  Atom atom(const char *name) const;

  IntRect toX(const Rect &r) const;
  Point pointFromX(int rootX, int rootY) const;
  Rect fromX(const IntRect &r) const;

  bool windowManagerSupports(Atom feature) const;
  void afterRequests();

  Native &create(Window &window);
  void applyAttributes(Window &window, Native &n);
  void setSizeHints(Window &window, const Native &n);
  void place(Window &window, Native &n);
  void draw(Window &window, Native &n);
  void render(Window &window, Native &n);
  void shapeBeforeMapping(Window &window, Native &n);
  bool showsThrough(const Window &window) const;
  void shapeToContent(Native &n);
  void destroy(Native &n);
  Window *windowOf(::Window xid) const;
  void serverConfigured(Window &window, Native &n);

  static Point localPoint(int x, int y);
  void buttonPressed(Window &window, Native &n, const XButtonEvent &event);
  void focusOnClickWithoutWindowManager(Window &window, const Native &n, Time time);
  void buttonReleased(Window &window, Native &n, const XButtonEvent &event);
  void pointerMoved(Window &window, Native &n, const XMotionEvent &event);
  void key(Window &window, XKeyEvent &event);
};

} // namespace platform::ui
