#include "platform/ui/x11/X11DesktopImpl.hpp"

#include "platform/ui/Renderer.hpp"
#include "platform/ui/Theme.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <unistd.h>
#include <vector>

#include <cairo-xlib.h>
#include <cairo.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/shape.h>

namespace platform::ui {

namespace {

// Motif window-manager hints: the only widely honoured way to ask for no decorations.
struct MotifWmHints {
  unsigned long flags;
  unsigned long functions;
  unsigned long decorations;
  long inputMode;
  unsigned long status;
};
constexpr unsigned long kMotifHintsDecorations = 1ul << 1;

bool hidesWindowManagerFrame(const Window &window) {
  return isBorderless(window) || (window.titleHidden() && window.titlebarAppearsTransparent() &&
                                  (window.styleMask() & kFullSizeContentView));
}

// The colour the window's content starts from, as drawWindowContent paints it.
RGBA backgroundOf(const Window &window) {
  return window.backgroundColor() ? window.backgroundColor()->resolve(window.appearance())
                                  : Theme::windowBackground(window.appearance());
}

// One channel scaled into the bits of `mask`.
unsigned long channelBits(double value, unsigned long mask) {
  if (mask == 0) {
    return 0;
  }
  int shift = 0;
  while (((mask >> shift) & 1ul) == 0) {
    ++shift;
  }
  const unsigned long top = mask >> shift;
  const double clamped = std::clamp(value, 0.0, 1.0);
  return (static_cast<unsigned long>(std::lround(clamped * static_cast<double>(top))) & top)
         << shift;
}

// The pixel of a TrueColor visual for `colour`: what the server fills the window with where
// nothing is drawn yet (when it maps, and in the part a resize uncovers). With an alpha
// channel (depth 32) the colour is premultiplied, as the compositing manager reads it.
unsigned long pixelOf(const RGBA &colour, const Visual &visual, int depth) {
  const double alpha = depth == 32 ? std::clamp(colour.alpha, 0.0, 1.0) : 1.0;
  unsigned long pixel = channelBits(colour.red * alpha, visual.red_mask) |
                        channelBits(colour.green * alpha, visual.green_mask) |
                        channelBits(colour.blue * alpha, visual.blue_mask);
  if (depth == 32) {
    const unsigned long rgb = visual.red_mask | visual.green_mask | visual.blue_mask;
    pixel |= channelBits(alpha, 0xfffffffful & ~rgb);
  }
  return pixel;
}

} // namespace

X11DesktopWindows::X11DesktopWindows(X11DesktopServer &server, const X11DesktopScreens &screens)
    : server(server), screens(screens) {
  compositorSelection = server.atom(("_NET_WM_CM_S" + std::to_string(server.screen)).c_str());
  int shapeEvents = 0, shapeErrors = 0;
  hasShape = XShapeQueryExtension(server.display, &shapeEvents, &shapeErrors);
}

X11NativeWindow &X11DesktopWindows::create(Window &window) {
  X11NativeWindow &n = natives[&window];
  if (n.xid != 0) {
    return n;
  }
  Visual *visual = DefaultVisual(server.display, server.screen);
  n.depth = DefaultDepth(server.display, server.screen);
  XVisualInfo info;
  // A window that is not opaque gets an alpha channel where the server offers one, so a
  // compositing manager shows what is behind its clear parts.
  if (!window.isOpaque() && XMatchVisualInfo(server.display, server.screen, 32, TrueColor, &info)) {
    visual = info.visual;
    n.depth = 32;
  }
  n.colormap = XCreateColormap(server.display, server.root, visual, AllocNone);
  n.overrideRedirect = isBorderless(window);
  n.geometry = screens.toX(window.contentRect());

  XSetWindowAttributes attributes{};
  attributes.colormap = n.colormap;
  // Not black: the window would flash black between its mapping and its first drawing.
  attributes.background_pixel = pixelOf(backgroundOf(window), *visual, n.depth);
  attributes.border_pixel = 0;
  attributes.override_redirect = n.overrideRedirect ? True : False;
  attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                          LeaveWindowMask | KeyPressMask | StructureNotifyMask | FocusChangeMask;
  n.xid = XCreateWindow(server.display, server.root, n.geometry.x, n.geometry.y,
                        static_cast<unsigned>(n.geometry.width),
                        static_cast<unsigned>(n.geometry.height), 0, n.depth, InputOutput, visual,
                        CWColormap | CWBackPixel | CWBorderPixel | CWOverrideRedirect | CWEventMask,
                        &attributes);
  byXid[n.xid] = &window;

  XClassHint classHint{const_cast<char *>("murmurquill"), const_cast<char *>("Murmurquill")};
  XSetClassHint(server.display, n.xid, &classHint);
  const long pid = static_cast<long>(getpid());
  XChangeProperty(server.display, n.xid, server.atoms.netWmPid, XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char *>(&pid), 1);

  XWMHints hints{};
  hints.flags = InputHint | StateHint;
  hints.input = takesNoFocus(window) ? False : True;
  hints.initial_state = NormalState;
  XSetWMHints(server.display, n.xid, &hints);

  if (window.styleMask() & kClosable) {
    XSetWMProtocols(server.display, n.xid, &server.atoms.wmDeleteWindow, 1);
  }
  if (hidesWindowManagerFrame(window)) {
    MotifWmHints motif{kMotifHintsDecorations, 0, 0, 0, 0};
    XChangeProperty(server.display, n.xid, server.atoms.motifWmHints, server.atoms.motifWmHints, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char *>(&motif), 5);
  }
  Atom type = server.atoms.typeNormal;
  if (takesNoFocus(window) && window.level() >= kStatusLevel) {
    type = server.atoms.typeNotification;
  } else if (window.isPanel() || (window.styleMask() & kUtilityWindow)) {
    type = server.atoms.typeUtility;
  }
  XChangeProperty(server.display, n.xid, server.atoms.netWmWindowType, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char *>(&type), 1);
  if (window.ignoresMouseEvents()) {
    // An empty input shape: clicks go to whatever is below.
    XserverRegion empty = XFixesCreateRegion(server.display, nullptr, 0);
    XFixesSetWindowShapeRegion(server.display, n.xid, ShapeInput, 0, 0, empty);
    XFixesDestroyRegion(server.display, empty);
  }
  n.surface =
      cairo_xlib_surface_create(server.display, n.xid, visual, n.geometry.width, n.geometry.height);
  applyAttributes(window, n);
  return n;
}

// Title, size hints and states: read again on every show, since a window's attributes may
// change while it is hidden.
void X11DesktopWindows::applyAttributes(Window &window, X11NativeWindow &n) {
  const std::string &title = window.title();
  XStoreName(server.display, n.xid, title.c_str());
  XChangeProperty(server.display, n.xid, server.atoms.netWmName, server.atoms.utf8String, 8,
                  PropModeReplace, reinterpret_cast<const unsigned char *>(title.data()),
                  static_cast<int>(title.size()));

  setSizeHints(window, n);

  std::vector<Atom> states;
  if (window.level() > kNormalLevel) {
    states.push_back(server.atoms.stateAbove);
  }
  if (window.collectionBehavior() & kCanJoinAllSpaces) {
    states.push_back(server.atoms.stateSticky);
  }
  if (window.isPanel()) {
    states.push_back(server.atoms.stateSkipTaskbar);
    states.push_back(server.atoms.stateSkipPager);
  }
  XChangeProperty(server.display, n.xid, server.atoms.netWmState, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char *>(states.data()),
                  static_cast<int>(states.size()));
}

// The size and place the window manager is asked to keep. A window that is not resizable
// by the user is pinned to its current size, so its hints follow every resize the app
// makes; otherwise the window manager would clamp the window to its first size. Static
// gravity: positions are the content's own, not the frame's, so a window the app moves or
// resizes does not drift by the height of the decorations on every request.
void X11DesktopWindows::setSizeHints(Window &window, const X11NativeWindow &n) {
  if (n.overrideRedirect) {
    return;
  }
  XSizeHints size{};
  size.flags = PPosition | USPosition | PSize | PWinGravity;
  size.x = n.geometry.x;
  size.y = n.geometry.y;
  size.width = n.geometry.width;
  size.height = n.geometry.height;
  size.win_gravity = StaticGravity;
  if (!(window.styleMask() & kResizable)) {
    size.flags |= PMinSize | PMaxSize;
    size.min_width = size.max_width = n.geometry.width;
    size.min_height = size.max_height = n.geometry.height;
  }
  XSetWMNormalHints(server.display, n.xid, &size);
}

void X11DesktopWindows::place(Window &window, X11NativeWindow &n) {
  const IntRect wanted = screens.toX(window.contentRect());
  if (wanted == n.geometry) {
    return;
  }
  n.geometry = wanted;
  // Hints first: the window manager checks the request against them.
  setSizeHints(window, n);
  XMoveResizeWindow(server.display, n.xid, wanted.x, wanted.y, static_cast<unsigned>(wanted.width),
                    static_cast<unsigned>(wanted.height));
  cairo_xlib_surface_set_size(n.surface, wanted.width, wanted.height);
}

void X11DesktopWindows::draw(Window &window, X11NativeWindow &n) {
  // cairo waits for ever on a surface of a display whose connection broke.
  if (!n.mapped || server.connection->isLost()) {
    return;
  }
  render(window, n);
  cairo_t *out = cairo_create(n.surface);
  cairo_set_operator(out, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(out, n.buffer, 0, 0);
  cairo_paint(out);
  cairo_destroy(out);
  cairo_surface_flush(n.surface);
  if (showsThrough(window)) {
    shapeToContent(n);
  }
}

// Draws the window's content into its buffer.
void X11DesktopWindows::render(Window &window, X11NativeWindow &n) {
  const int width = n.geometry.width;
  const int height = n.geometry.height;
  if (n.buffer == nullptr || cairo_image_surface_get_width(n.buffer) != width ||
      cairo_image_surface_get_height(n.buffer) != height) {
    if (n.buffer != nullptr) {
      cairo_surface_destroy(n.buffer);
    }
    n.buffer = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  }
  cairo_t *cr = cairo_create(n.buffer);
  drawWindowContent(cr, window);
  cairo_destroy(cr);
  cairo_surface_flush(n.buffer);
}

// A window cut to the outline of its content takes that shape before it maps, so the server
// never shows its whole rectangle.
void X11DesktopWindows::shapeBeforeMapping(Window &window, X11NativeWindow &n) {
  if (server.connection->isLost() || !showsThrough(window)) {
    return;
  }
  render(window, n);
  shapeToContent(n);
}

// A window with clear parts shows what is behind them only through a compositing manager;
// without one the server fills them with black. The window then takes the outline of what
// it draws (its pixels at least half opaque) as its shape.
bool X11DesktopWindows::showsThrough(const Window &window) const {
  if (window.isOpaque() || !window.backgroundColor() || !hasShape) {
    return false;
  }
  return window.backgroundColor()->resolve(window.appearance()).alpha < 1 &&
         XGetSelectionOwner(server.display, compositorSelection) == None;
}

void X11DesktopWindows::shapeToContent(X11NativeWindow &n) {
  const unsigned width = static_cast<unsigned>(n.geometry.width);
  const unsigned height = static_cast<unsigned>(n.geometry.height);
  const Pixmap mask = XCreatePixmap(server.display, n.xid, width, height, 1);
  cairo_surface_t *bitmap = cairo_xlib_surface_create_for_bitmap(
      server.display, mask, ScreenOfDisplay(server.display, server.screen), static_cast<int>(width),
      static_cast<int>(height));
  cairo_t *cr = cairo_create(bitmap);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, n.buffer, 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_flush(bitmap);
  cairo_surface_destroy(bitmap);
  XShapeCombineMask(server.display, n.xid, ShapeBounding, 0, 0, mask, ShapeSet);
  XFreePixmap(server.display, mask);
  n.shaped = true;
}

void X11DesktopWindows::destroy(X11NativeWindow &n) {
  // A surface of a lost display is left as it is: destroying it flushes, and cairo then
  // waits for ever on the broken connection (the display itself is kept for the same reason).
  if (n.surface != nullptr && !server.connection->isLost()) {
    cairo_surface_destroy(n.surface);
  }
  if (n.buffer != nullptr) {
    cairo_surface_destroy(n.buffer);
  }
  if (n.xid != 0) {
    byXid.erase(n.xid);
    XDestroyWindow(server.display, n.xid);
  }
  if (n.colormap != 0) {
    XFreeColormap(server.display, n.colormap);
  }
}

Window *X11DesktopWindows::windowOf(::Window xid) const {
  const auto found = byXid.find(xid);
  return found == byXid.end() ? nullptr : found->second;
}

// The server moved or resized the window (the window manager, or the user through it).
void X11DesktopWindows::serverConfigured(Window &window, X11NativeWindow &n) {
  ::Window child = 0;
  int x = 0, y = 0;
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(server.display, n.xid, &attributes) ||
      !XTranslateCoordinates(server.display, n.xid, server.root, 0, 0, &x, &y, &child)) {
    return;
  }
  const IntRect now{x, y, attributes.width, attributes.height};
  if (now == n.geometry) {
    return;
  }
  n.geometry = now;
  cairo_xlib_surface_set_size(n.surface, now.width, now.height);
  Rect frame = screens.fromX(now);
  frame.size.height += window.titleBarHeight();
  applyingServerGeometry = &window;
  window.setFrame(frame, true);
  applyingServerGeometry = nullptr;
}

unsigned long X11Desktop::nativeWindow(const Window &window) const {
  const auto found = impl_->windows.natives.find(const_cast<Window *>(&window));
  return found == impl_->windows.natives.end() ? 0 : found->second.xid;
}

void X11Desktop::windowOrderedFront(Window *window) {
  Desktop::windowOrderedFront(window);
  Impl &x = *impl_;
  X11NativeWindow &n = x.windows.create(*window);
  x.windows.applyAttributes(*window, n);
  x.windows.place(*window, n);
  x.windows.shapeBeforeMapping(*window, n);
  XMapRaised(x.server.display, n.xid);
  n.mapped = true;
  if (window->level() == kPopUpMenuLevel) {
    x.input.grabForMenu(n);
  }
  x.windows.draw(*window, n);
  x.server.afterRequests();
}

void X11Desktop::windowOrderedOut(Window *window) {
  Desktop::windowOrderedOut(window);
  Impl &x = *impl_;
  const auto found = x.windows.natives.find(window);
  if (found == x.windows.natives.end() || !found->second.mapped) {
    return;
  }
  X11NativeWindow &n = found->second;
  n.mapped = false;
  n.pressed = false;
  n.backgroundPress.reset();
  if (window->level() == kPopUpMenuLevel) {
    x.input.releaseMenuGrab();
  }
  if (n.overrideRedirect) {
    XUnmapWindow(x.server.display, n.xid);
  } else {
    XWithdrawWindow(x.server.display, n.xid, x.server.screen);
  }
  x.server.afterRequests();
}

void X11Desktop::windowDestroyed(Window *window) {
  Desktop::windowDestroyed(window);
  Impl &x = *impl_;
  const auto found = x.windows.natives.find(window);
  if (found == x.windows.natives.end()) {
    return;
  }
  x.windows.destroy(found->second);
  x.windows.natives.erase(found);
  x.server.afterRequests();
}

void X11Desktop::windowChanged(Window *window) {
  Impl &x = *impl_;
  const auto found = x.windows.natives.find(window);
  if (found == x.windows.natives.end()) {
    return;
  }
  X11NativeWindow &n = found->second;
  if (x.windows.applyingServerGeometry != window) {
    x.windows.place(*window, n);
  }
  const std::string &title = window->title();
  XStoreName(x.server.display, n.xid, title.c_str());
  XChangeProperty(x.server.display, n.xid, x.server.atoms.netWmName, x.server.atoms.utf8String, 8,
                  PropModeReplace, reinterpret_cast<const unsigned char *>(title.data()),
                  static_cast<int>(title.size()));
  x.windows.draw(*window, n);
  x.server.afterRequests();
}

} // namespace platform::ui
