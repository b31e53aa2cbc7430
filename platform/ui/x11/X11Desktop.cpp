#include "platform/ui/x11/X11Desktop.hpp"

#include "platform/system/ProcessLauncher.hpp"
#include "platform/ui/EventDispatcher.hpp"
#include "platform/ui/Renderer.hpp"
#include "platform/ui/Theme.hpp"
#include "platform/ui/Window.hpp"
#include "platform/x11/Keysyms.hpp"
#include "platform/x11/X11Connection.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include <cairo-xlib.h>
#include <cairo.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/shape.h>
#include <X11/keysym.h>

namespace platform::ui {

namespace {

// How far one notch of the wheel scrolls, in points (three lines of body text).
constexpr double kWheelStep = 48;

struct IntRect {
  int x = 0, y = 0, width = 1, height = 1;
  bool operator==(const IntRect &) const = default;
};

// Motif window-manager hints: the only widely honoured way to ask for no decorations.
struct MotifWmHints {
  unsigned long flags;
  unsigned long functions;
  unsigned long decorations;
  long inputMode;
  unsigned long status;
};
constexpr unsigned long kMotifHintsDecorations = 1ul << 1;

// The keys that move the caret or delete, with their keypad twins.
std::optional<Key> editingKey(KeySym keysym) {
  switch (keysym) {
  case XK_Delete:
  case XK_KP_Delete:
    return Key::named(Key::Kind::forwardDelete);
  case XK_Left:
  case XK_KP_Left:
    return Key::named(Key::Kind::left);
  case XK_Right:
  case XK_KP_Right:
    return Key::named(Key::Kind::right);
  case XK_Up:
  case XK_KP_Up:
    return Key::named(Key::Kind::up);
  case XK_Down:
  case XK_KP_Down:
    return Key::named(Key::Kind::down);
  case XK_Home:
  case XK_KP_Home:
    return Key::named(Key::Kind::home);
  case XK_End:
  case XK_KP_End:
    return Key::named(Key::Kind::end);
  case XK_Prior:
  case XK_KP_Prior:
    return Key::named(Key::Kind::pageUp);
  case XK_Next:
  case XK_KP_Next:
    return Key::named(Key::Kind::pageDown);
  default:
    return std::nullopt;
  }
}

// Control plays the part of the Command key in Linux shortcuts (Control-Q quits); Super
// stands in for Control.
unsigned modifiersOf(unsigned state) {
  unsigned modifiers = kNoModifiers;
  if (state & ControlMask) {
    modifiers |= kCommand;
  }
  if (state & ShiftMask) {
    modifiers |= kShift;
  }
  if (state & Mod1Mask) {
    modifiers |= kOption;
  }
  if (state & Mod4Mask) {
    modifiers |= kControl;
  }
  return modifiers;
}

bool isBorderless(const Window &window) { return !(window.styleMask() & kTitled); }

bool hidesWindowManagerFrame(const Window &window) {
  return isBorderless(window) || (window.titleHidden() && window.titlebarAppearsTransparent() &&
                                  (window.styleMask() & kFullSizeContentView));
}

bool takesNoFocus(const Window &window) {
  return isBorderless(window) && (window.styleMask() & kNonactivatingPanel);
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

  Atom atom(const char *name) const { return connection->atom(name); }

  IntRect toX(const Rect &r) const {
    const int bottom = primary.y + primary.height;
    IntRect out;
    out.x = static_cast<int>(std::lround(r.minX())) + primary.x;
    out.y = bottom - static_cast<int>(std::lround(r.maxY()));
    out.width = std::max(1, static_cast<int>(std::lround(r.width())));
    out.height = std::max(1, static_cast<int>(std::lround(r.height())));
    return out;
  }

  Point pointFromX(int rootX, int rootY) const {
    return Point{static_cast<double>(rootX - primary.x),
                 static_cast<double>(primary.y + primary.height - rootY)};
  }

  Rect fromX(const IntRect &r) const {
    const int bottom = primary.y + primary.height;
    return makeRect(r.x - primary.x, bottom - (r.y + r.height), r.width, r.height);
  }

  bool windowManagerSupports(Atom feature) const {
    const auto supported =
        connection->readProperty(root, netSupported, X11PropertyRead{.type = XA_ATOM});
    const auto atoms = supported ? supported->items32() : std::vector<std::uint32_t>{};
    return std::find(atoms.begin(), atoms.end(), feature) != atoms.end();
  }

  // Tells the pump about events Xlib read while answering a request.
  void afterRequests() {
    XFlush(display);
    if (onEventsQueued && XEventsQueued(display, QueuedAlready) > 0) {
      onEventsQueued();
    }
  }

  Native &create(Window &window) {
    Native &n = natives[&window];
    if (n.xid != 0) {
      return n;
    }
    Visual *visual = DefaultVisual(display, screen);
    n.depth = DefaultDepth(display, screen);
    XVisualInfo info;
    // A window that is not opaque gets an alpha channel where the server offers one, so a
    // compositing manager shows what is behind its clear parts.
    if (!window.isOpaque() && XMatchVisualInfo(display, screen, 32, TrueColor, &info)) {
      visual = info.visual;
      n.depth = 32;
    }
    n.colormap = XCreateColormap(display, root, visual, AllocNone);
    n.overrideRedirect = isBorderless(window);
    n.geometry = toX(window.contentRect());

    XSetWindowAttributes attributes{};
    attributes.colormap = n.colormap;
    // Not black: the window would flash black between its mapping and its first drawing.
    attributes.background_pixel = pixelOf(backgroundOf(window), *visual, n.depth);
    attributes.border_pixel = 0;
    attributes.override_redirect = n.overrideRedirect ? True : False;
    attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                            LeaveWindowMask | KeyPressMask | StructureNotifyMask | FocusChangeMask;
    n.xid = XCreateWindow(
        display, root, n.geometry.x, n.geometry.y, static_cast<unsigned>(n.geometry.width),
        static_cast<unsigned>(n.geometry.height), 0, n.depth, InputOutput, visual,
        CWColormap | CWBackPixel | CWBorderPixel | CWOverrideRedirect | CWEventMask, &attributes);
    byXid[n.xid] = &window;

    XClassHint classHint{const_cast<char *>("murmurquill"), const_cast<char *>("Murmurquill")};
    XSetClassHint(display, n.xid, &classHint);
    const long pid = static_cast<long>(getpid());
    XChangeProperty(display, n.xid, netWmPid, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(&pid), 1);

    XWMHints hints{};
    hints.flags = InputHint | StateHint;
    hints.input = takesNoFocus(window) ? False : True;
    hints.initial_state = NormalState;
    XSetWMHints(display, n.xid, &hints);

    if (window.styleMask() & kClosable) {
      XSetWMProtocols(display, n.xid, &wmDeleteWindow, 1);
    }
    if (hidesWindowManagerFrame(window)) {
      MotifWmHints motif{kMotifHintsDecorations, 0, 0, 0, 0};
      XChangeProperty(display, n.xid, motifWmHints, motifWmHints, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char *>(&motif), 5);
    }
    Atom type = typeNormal;
    if (takesNoFocus(window) && window.level() >= kStatusLevel) {
      type = typeNotification;
    } else if (window.isPanel() || (window.styleMask() & kUtilityWindow)) {
      type = typeUtility;
    }
    XChangeProperty(display, n.xid, netWmWindowType, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(&type), 1);
    if (window.ignoresMouseEvents()) {
      // An empty input shape: clicks go to whatever is below.
      XserverRegion empty = XFixesCreateRegion(display, nullptr, 0);
      XFixesSetWindowShapeRegion(display, n.xid, ShapeInput, 0, 0, empty);
      XFixesDestroyRegion(display, empty);
    }
    n.surface =
        cairo_xlib_surface_create(display, n.xid, visual, n.geometry.width, n.geometry.height);
    applyAttributes(window, n);
    return n;
  }

  // Title, size hints and states: read again on every show, since a window's attributes may
  // change while it is hidden.
  void applyAttributes(Window &window, Native &n) {
    const std::string &title = window.title();
    XStoreName(display, n.xid, title.c_str());
    XChangeProperty(display, n.xid, netWmName, utf8String, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(title.data()),
                    static_cast<int>(title.size()));

    setSizeHints(window, n);

    std::vector<Atom> states;
    if (window.level() > kNormalLevel) {
      states.push_back(stateAbove);
    }
    if (window.collectionBehavior() & kCanJoinAllSpaces) {
      states.push_back(stateSticky);
    }
    if (window.isPanel()) {
      states.push_back(stateSkipTaskbar);
      states.push_back(stateSkipPager);
    }
    XChangeProperty(display, n.xid, netWmState, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(states.data()),
                    static_cast<int>(states.size()));
  }

  // The size and place the window manager is asked to keep. A window that is not resizable
  // by the user is pinned to its current size, so its hints follow every resize the app
  // makes; otherwise the window manager would clamp the window to its first size. Static
  // gravity: positions are the content's own, not the frame's, so a window the app moves or
  // resizes does not drift by the height of the decorations on every request.
  void setSizeHints(Window &window, const Native &n) {
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
    XSetWMNormalHints(display, n.xid, &size);
  }

  void place(Window &window, Native &n) {
    const IntRect wanted = toX(window.contentRect());
    if (wanted == n.geometry) {
      return;
    }
    n.geometry = wanted;
    // Hints first: the window manager checks the request against them.
    setSizeHints(window, n);
    XMoveResizeWindow(display, n.xid, wanted.x, wanted.y, static_cast<unsigned>(wanted.width),
                      static_cast<unsigned>(wanted.height));
    cairo_xlib_surface_set_size(n.surface, wanted.width, wanted.height);
  }

  void draw(Window &window, Native &n) {
    // cairo waits for ever on a surface of a display whose connection broke.
    if (!n.mapped || connection->isLost()) {
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
  void render(Window &window, Native &n) {
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
  void shapeBeforeMapping(Window &window, Native &n) {
    if (connection->isLost() || !showsThrough(window)) {
      return;
    }
    render(window, n);
    shapeToContent(n);
  }

  // A window with clear parts shows what is behind them only through a compositing manager;
  // without one the server fills them with black. The window then takes the outline of what
  // it draws (its pixels at least half opaque) as its shape.
  bool showsThrough(const Window &window) const {
    if (window.isOpaque() || !window.backgroundColor() || !hasShape) {
      return false;
    }
    return window.backgroundColor()->resolve(window.appearance()).alpha < 1 &&
           XGetSelectionOwner(display, compositorSelection) == None;
  }

  void shapeToContent(Native &n) {
    const unsigned width = static_cast<unsigned>(n.geometry.width);
    const unsigned height = static_cast<unsigned>(n.geometry.height);
    const Pixmap mask = XCreatePixmap(display, n.xid, width, height, 1);
    cairo_surface_t *bitmap =
        cairo_xlib_surface_create_for_bitmap(display, mask, ScreenOfDisplay(display, screen),
                                             static_cast<int>(width), static_cast<int>(height));
    cairo_t *cr = cairo_create(bitmap);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, n.buffer, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(bitmap);
    cairo_surface_destroy(bitmap);
    XShapeCombineMask(display, n.xid, ShapeBounding, 0, 0, mask, ShapeSet);
    XFreePixmap(display, mask);
    n.shaped = true;
  }

  void destroy(Native &n) {
    // A surface of a lost display is left as it is: destroying it flushes, and cairo then
    // waits for ever on the broken connection (the display itself is kept for the same reason).
    if (n.surface != nullptr && !connection->isLost()) {
      cairo_surface_destroy(n.surface);
    }
    if (n.buffer != nullptr) {
      cairo_surface_destroy(n.buffer);
    }
    if (n.xid != 0) {
      byXid.erase(n.xid);
      XDestroyWindow(display, n.xid);
    }
    if (n.colormap != 0) {
      XFreeColormap(display, n.colormap);
    }
  }

  Window *windowOf(::Window xid) const {
    const auto found = byXid.find(xid);
    return found == byXid.end() ? nullptr : found->second;
  }

  // The server moved or resized the window (the window manager, or the user through it).
  void serverConfigured(Window &window, Native &n) {
    ::Window child = 0;
    int x = 0, y = 0;
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, n.xid, &attributes) ||
        !XTranslateCoordinates(display, n.xid, root, 0, 0, &x, &y, &child)) {
      return;
    }
    const IntRect now{x, y, attributes.width, attributes.height};
    if (now == n.geometry) {
      return;
    }
    n.geometry = now;
    cairo_xlib_surface_set_size(n.surface, now.width, now.height);
    Rect frame = fromX(now);
    frame.size.height += window.titleBarHeight();
    applyingServerGeometry = &window;
    window.setFrame(frame, true);
    applyingServerGeometry = nullptr;
  }

  static Point localPoint(int x, int y) {
    return Point{static_cast<double>(x), static_cast<double>(y)};
  }

  void buttonPressed(Window &window, Native &n, const XButtonEvent &event) {
    if (window.contentView() == nullptr) {
      return;
    }
    EventDispatcher dispatcher(*window.contentView(), &window.desktop(), &window);
    const Point point = localPoint(event.x, event.y);
    if (event.button == Button4 || event.button == Button5) {
      dispatcher.scroll(point, event.button == Button4 ? -kWheelStep : kWheelStep);
      return;
    }
    if (event.button != Button1) {
      return;
    }
    focusOnClickWithoutWindowManager(window, n, event.time);
    const bool outside =
        event.x < 0 || event.y < 0 || event.x >= n.geometry.width || event.y >= n.geometry.height;
    if (window.level() == kPopUpMenuLevel && outside) {
      // The menu's grab brought it a press outside every window of the application.
      window.desktop().dismissPopUpMenu();
      return;
    }
    switch (dispatcher.press(point, modifiersOf(event.state))) {
    case EventDispatcher::Press::editor:
      n.selecting = true;
      break;
    case EventDispatcher::Press::control:
      n.pressed = true;
      break;
    case EventDispatcher::Press::movableBackground:
      n.backgroundPress = point;
      break;
    case EventDispatcher::Press::background:
      break;
    }
  }

  // A window manager gives a window the keyboard when it is clicked; without one nobody does,
  // and keys would go on to the window that had them before. A window that takes keys then
  // takes the focus itself (override-redirect ones, menus and pills, never: a menu has its
  // keyboard grab, and the focus coming back from it would go to the root).
  void focusOnClickWithoutWindowManager(Window &window, const Native &n, Time time) {
    if (n.overrideRedirect || takesNoFocus(window) || windowManagerSupports(netActiveWindow)) {
      return;
    }
    ::Window focus = 0;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    if (focus == n.xid) {
      return;
    }
    XSetInputFocus(display, n.xid, RevertToParent, time);
    window.desktop().Desktop::windowMadeKey(&window);
    afterRequests();
  }

  void buttonReleased(Window &window, Native &n, const XButtonEvent &event) {
    if (event.button != Button1) {
      return;
    }
    n.selecting = false;
    n.backgroundPress.reset();
    if (window.desktop().draggedWindow() == &window) {
      XUngrabPointer(display, CurrentTime);
      window.desktop().endWindowDrag();
      afterRequests();
      return;
    }
    // A click is a press and a release in the same window, as buttons work.
    if (n.pressed) {
      n.pressed = false;
      if (window.contentView() != nullptr) {
        EventDispatcher(*window.contentView(), &window.desktop(), &window)
            .click(localPoint(event.x, event.y));
      }
    }
  }

  void pointerMoved(Window &window, Native &n, const XMotionEvent &event) {
    if (window.desktop().draggedWindow() == &window) {
      window.desktop().windowDragMoved(pointFromX(event.x_root, event.y_root));
      return;
    }
    if (window.contentView() == nullptr) {
      return;
    }
    EventDispatcher dispatcher(*window.contentView(), &window.desktop(), &window);
    if (n.backgroundPress && (event.state & Button1Mask) &&
        dispatcher.moveFromBackground(*n.backgroundPress, localPoint(event.x, event.y))) {
      n.backgroundPress.reset();
      if (window.desktop().draggedWindow() == &window) {
        // Moved by us, not the window manager: the window catches up with the pointer.
        window.desktop().windowDragMoved(pointFromX(event.x_root, event.y_root));
      }
      return;
    }
    if (n.selecting && (event.state & Button1Mask)) {
      dispatcher.dragSelection(localPoint(event.x, event.y));
    }
    dispatcher.pointerMoved(localPoint(event.x, event.y), n.hovered);
  }

  void key(Window &window, XKeyEvent &event) {
    char text[32] = {};
    KeySym keysym = 0;
    const int length = XLookupString(&event, text, sizeof text - 1, &keysym, nullptr);
    const unsigned modifiers = modifiersOf(event.state);
    std::optional<Key> named;
    switch (keysym) {
    case XK_Escape:
      named = Key::escape();
      break;
    case XK_Return:
    case XK_KP_Enter:
      named = Key::returnKey();
      break;
    case XK_Tab:
      named = Key::tab();
      break;
    case XK_space:
      named = Key::space();
      break;
    case XK_BackSpace:
      named = Key::named(Key::Kind::deleteKey);
      break;
    default:
      named = editingKey(keysym);
      if (!named && keysym > 0x20 && keysym < 0x7f) {
        char c = static_cast<char>(keysym);
        if (c >= 'A' && c <= 'Z') {
          c = static_cast<char>(c - 'A' + 'a');
        }
        named = Key::of(c);
      }
    }
    if (window.contentView() == nullptr) {
      return;
    }
    EventDispatcher dispatcher(*window.contentView(), &window.desktop(), &window);
    if (named && dispatcher.key(*named, modifiers)) {
      return;
    }
    if (modifiers & (kCommand | kControl)) {
      return;
    }
    if (named && named->kind != Key::Kind::character && named->kind != Key::Kind::space &&
        named->kind != Key::Kind::returnKey) {
      // Deletions, moves and the like are the editor's keys or nobody's; they type nothing.
      return;
    }
    std::string typed;
    if (const auto character = characterOfKeysym(keysym)) {
      typed = utf8OfCharacter(*character);
    } else if (named && named->kind == Key::Kind::returnKey) {
      typed = "\n";
    } else if (length > 0 && static_cast<unsigned char>(text[0]) >= 0x20) {
      typed.assign(text, static_cast<std::size_t>(length));
    }
    if (!typed.empty()) {
      // Without a text editor on show the key is not for this window.
      dispatcher.insertText(typed);
    }
  }
};

X11Desktop::X11Desktop(Options options) : impl_(std::make_unique<Impl>()) {
  Impl &x = *impl_;
  x.connection = X11Connection::open(X11ConnectionOptions{options.displayName});
  x.display = x.connection->display();
  x.screen = DefaultScreen(x.display);
  x.root = RootWindow(x.display, x.screen);
  x.wmProtocols = x.atom("WM_PROTOCOLS");
  x.wmDeleteWindow = x.atom("WM_DELETE_WINDOW");
  x.netWmName = x.atom("_NET_WM_NAME");
  x.utf8String = x.atom("UTF8_STRING");
  x.netWmPid = x.atom("_NET_WM_PID");
  x.netWmWindowType = x.atom("_NET_WM_WINDOW_TYPE");
  x.typeNormal = x.atom("_NET_WM_WINDOW_TYPE_NORMAL");
  x.typeUtility = x.atom("_NET_WM_WINDOW_TYPE_UTILITY");
  x.typeNotification = x.atom("_NET_WM_WINDOW_TYPE_NOTIFICATION");
  x.netWmState = x.atom("_NET_WM_STATE");
  x.stateAbove = x.atom("_NET_WM_STATE_ABOVE");
  x.stateSticky = x.atom("_NET_WM_STATE_STICKY");
  x.stateSkipTaskbar = x.atom("_NET_WM_STATE_SKIP_TASKBAR");
  x.stateSkipPager = x.atom("_NET_WM_STATE_SKIP_PAGER");
  x.netActiveWindow = x.atom("_NET_ACTIVE_WINDOW");
  x.netSupported = x.atom("_NET_SUPPORTED");
  x.netWorkarea = x.atom("_NET_WORKAREA");
  x.motifWmHints = x.atom("_MOTIF_WM_HINTS");
  x.netMoveResize = x.atom("_NET_WM_MOVERESIZE");
  x.compositorSelection = x.atom(("_NET_WM_CM_S" + std::to_string(x.screen)).c_str());
  int shapeEvents = 0, shapeErrors = 0;
  x.hasShape = XShapeQueryExtension(x.display, &shapeEvents, &shapeErrors);
  int errorBase = 0, major = 0, minor = 0;
  x.hasRandr = XRRQueryExtension(x.display, &x.randrEventBase, &errorBase) &&
               XRRQueryVersion(x.display, &major, &minor) &&
               (major > 1 || (major == 1 && minor >= 5));
  if (x.hasRandr) {
    XRRSelectInput(x.display, x.root, RRScreenChangeNotifyMask);
  }
  // The work area changes when panels come and go.
  XSelectInput(x.display, x.root, PropertyChangeMask);
  refreshScreens();
}

X11Desktop::~X11Desktop() {
  for (auto &[window, native] : impl_->natives) {
    impl_->destroy(native);
  }
  impl_->natives.clear();
  if (!impl_->connection->isLost()) {
    XSync(impl_->display, False);
  }
}

int X11Desktop::connectionNumber() const { return ConnectionNumber(impl_->display); }

void X11Desktop::setOnEventsQueued(std::function<void()> handler) {
  impl_->onEventsQueued = std::move(handler);
}

void X11Desktop::setOnConnectionLost(std::function<void()> handler) {
  impl_->onConnectionLost = std::move(handler);
}

bool X11Desktop::isConnectionLost() const { return impl_->connection->isLost(); }

void X11Desktop::sync() {
  if (!impl_->connection->isLost()) {
    XSync(impl_->display, False);
  }
}

void X11Desktop::refreshScreens() {
  Impl &x = *impl_;
  std::vector<IntRect> monitors;
  std::vector<std::string> names;
  std::size_t primaryIndex = 0;
  if (x.hasRandr) {
    int count = 0;
    XRRMonitorInfo *info = XRRGetMonitors(x.display, x.root, True, &count);
    for (int i = 0; info != nullptr && i < count; ++i) {
      monitors.push_back(IntRect{info[i].x, info[i].y, info[i].width, info[i].height});
      char *name = XGetAtomName(x.display, info[i].name);
      names.emplace_back(name != nullptr ? name : "");
      if (name != nullptr) {
        XFree(name);
      }
      if (info[i].primary) {
        primaryIndex = static_cast<std::size_t>(i);
      }
    }
    if (info != nullptr) {
      XRRFreeMonitors(info);
    }
  }
  if (monitors.empty()) {
    monitors.push_back(
        IntRect{0, 0, DisplayWidth(x.display, x.screen), DisplayHeight(x.display, x.screen)});
    names.emplace_back("screen");
  }
  // The primary first, as Desktop lists screens.
  std::rotate(monitors.begin(), monitors.begin() + static_cast<long>(primaryIndex),
              monitors.begin() + static_cast<long>(primaryIndex) + 1);
  std::rotate(names.begin(), names.begin() + static_cast<long>(primaryIndex),
              names.begin() + static_cast<long>(primaryIndex) + 1);
  x.primary = monitors.front();

  std::optional<IntRect> workArea;
  const auto area =
      x.connection->readProperty(x.root, x.netWorkarea, X11PropertyRead{.type = XA_CARDINAL});
  const auto values = area ? area->items32() : std::vector<std::uint32_t>{};
  if (values.size() >= 4) {
    // The first desktop's area; CARDINALs, read as signed as the rectangle's fields are.
    workArea = IntRect{static_cast<std::int32_t>(values[0]), static_cast<std::int32_t>(values[1]),
                       static_cast<std::int32_t>(values[2]), static_cast<std::int32_t>(values[3])};
  }

  std::vector<Screen> screens;
  for (std::size_t i = 0; i < monitors.size(); ++i) {
    const IntRect &m = monitors[i];
    IntRect visible = m;
    if (workArea) {
      const int left = std::max(m.x, workArea->x);
      const int top = std::max(m.y, workArea->y);
      const int right = std::min(m.x + m.width, workArea->x + workArea->width);
      const int bottom = std::min(m.y + m.height, workArea->y + workArea->height);
      if (right > left && bottom > top) {
        visible = IntRect{left, top, right - left, bottom - top};
      }
    }
    screens.push_back(Screen{x.fromX(m), x.fromX(visible), names[i]});
  }
  setScreens(std::move(screens));
}

unsigned long X11Desktop::nativeWindow(const Window &window) const {
  const auto found = impl_->natives.find(const_cast<Window *>(&window));
  return found == impl_->natives.end() ? 0 : found->second.xid;
}

Point X11Desktop::mouseLocation() const {
  const Impl &x = *impl_;
  ::Window rootReturn = 0, child = 0;
  int rootX = 0, rootY = 0, winX = 0, winY = 0;
  unsigned mask = 0;
  if (!XQueryPointer(x.display, x.root, &rootReturn, &child, &rootX, &rootY, &winX, &winY, &mask)) {
    return Desktop::mouseLocation();
  }
  return Point{static_cast<double>(rootX - x.primary.x),
               static_cast<double>(x.primary.y + x.primary.height - rootY)};
}

void X11Desktop::openURL(const std::string &url) {
  Desktop::openURL(url);
  // The desktop's own opener; its outcome is the desktop's business, like a browser's.
  try {
    platform::ProcessLauncher::launch("xdg-open", {"xdg-open", url});
  } catch (const platform::LaunchError &) {
    // A desktop without an opener has nowhere to show the address.
  }
}

void X11Desktop::windowOrderedFront(Window *window) {
  Desktop::windowOrderedFront(window);
  Impl &x = *impl_;
  Impl::Native &n = x.create(*window);
  x.applyAttributes(*window, n);
  x.place(*window, n);
  x.shapeBeforeMapping(*window, n);
  XMapRaised(x.display, n.xid);
  n.mapped = true;
  if (window->level() == kPopUpMenuLevel) {
    // An open menu hears every press and key, so a press outside any of the application's
    // windows and Escape close it, as menus close. Keys come to the menu even while another
    // window of ours has the focus (the one whose picker opened it), not to that window.
    XGrabPointer(x.display, n.xid, True, ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                 GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
    XGrabKeyboard(x.display, n.xid, False, GrabModeAsync, GrabModeAsync, CurrentTime);
  }
  x.draw(*window, n);
  x.afterRequests();
}

void X11Desktop::windowOrderedOut(Window *window) {
  Desktop::windowOrderedOut(window);
  Impl &x = *impl_;
  const auto found = x.natives.find(window);
  if (found == x.natives.end() || !found->second.mapped) {
    return;
  }
  Impl::Native &n = found->second;
  n.mapped = false;
  n.pressed = false;
  n.backgroundPress.reset();
  if (window->level() == kPopUpMenuLevel) {
    XUngrabPointer(x.display, CurrentTime);
    XUngrabKeyboard(x.display, CurrentTime);
  }
  if (n.overrideRedirect) {
    XUnmapWindow(x.display, n.xid);
  } else {
    XWithdrawWindow(x.display, n.xid, x.screen);
  }
  x.afterRequests();
}

void X11Desktop::windowMadeKey(Window *window) {
  Desktop::windowMadeKey(window);
  Impl &x = *impl_;
  const auto found = x.natives.find(window);
  if (found == x.natives.end() || takesNoFocus(*window)) {
    return;
  }
  const ::Window xid = found->second.xid;
  if (x.windowManagerSupports(x.netActiveWindow)) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = xid;
    event.xclient.message_type = x.netActiveWindow;
    event.xclient.format = 32;
    event.xclient.data.l[0] = 1; // from an application
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(x.display, x.root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
  } else {
    XSetInputFocus(x.display, xid, RevertToParent, CurrentTime);
  }
  x.afterRequests();
}

void X11Desktop::windowDestroyed(Window *window) {
  Desktop::windowDestroyed(window);
  Impl &x = *impl_;
  const auto found = x.natives.find(window);
  if (found == x.natives.end()) {
    return;
  }
  x.destroy(found->second);
  x.natives.erase(found);
  x.afterRequests();
}

void X11Desktop::windowChanged(Window *window) {
  Impl &x = *impl_;
  const auto found = x.natives.find(window);
  if (found == x.natives.end()) {
    return;
  }
  Impl::Native &n = found->second;
  if (x.applyingServerGeometry != window) {
    x.place(*window, n);
  }
  const std::string &title = window->title();
  XStoreName(x.display, n.xid, title.c_str());
  XChangeProperty(x.display, n.xid, x.netWmName, x.utf8String, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char *>(title.data()),
                  static_cast<int>(title.size()));
  x.draw(*window, n);
  x.afterRequests();
}

void X11Desktop::handleEvent(XEvent &event) {
  Impl &x = *impl_;
  if (x.hasRandr && event.type == x.randrEventBase + RRScreenChangeNotify) {
    XRRUpdateConfiguration(&event);
    refreshScreens();
    return;
  }
  if (event.type == PropertyNotify && event.xproperty.window == x.root) {
    if (event.xproperty.atom == x.netWorkarea) {
      refreshScreens();
    }
    return;
  }
  Window *window = x.windowOf(event.xany.window);
  if (window == nullptr) {
    return;
  }
  Impl::Native &n = x.natives[window];
  switch (event.type) {
  case Expose:
    if (event.xexpose.count == 0) {
      x.draw(*window, n);
    }
    break;
  case ConfigureNotify:
  case ReparentNotify:
  case MapNotify:
    // A window manager places a window in its frame without telling the window (no synthetic
    // ConfigureNotify for the first placement): where the window is mapped is asked anew.
    x.serverConfigured(*window, n);
    break;
  case ButtonPress:
    x.buttonPressed(*window, n, event.xbutton);
    break;
  case ButtonRelease:
    x.buttonReleased(*window, n, event.xbutton);
    break;
  case MotionNotify:
    x.pointerMoved(*window, n, event.xmotion);
    break;
  case LeaveNotify:
    if (window->contentView() != nullptr) {
      EventDispatcher(*window->contentView(), &window->desktop())
          .pointerMoved(std::nullopt, n.hovered);
    }
    break;
  case KeyPress:
    x.key(*window, event.xkey);
    break;
  case FocusIn:
    if (event.xfocus.mode == NotifyNormal && !window->isKeyWindow()) {
      Desktop::windowMadeKey(window);
    }
    if (event.xfocus.mode != NotifyUngrab && event.xfocus.detail != NotifyPointer) {
      becameActive();
    }
    break;
  case FocusOut:
    // Nonlinear: the focus left for a window outside this one's tree, which is how another
    // application (or another of our top-level windows) takes it.
    if (event.xfocus.mode == NotifyNormal &&
        (event.xfocus.detail == NotifyNonlinear || event.xfocus.detail == NotifyNonlinearVirtual)) {
      deactivate();
    }
    break;
  case ClientMessage:
    if (event.xclient.message_type == x.wmProtocols &&
        static_cast<Atom>(event.xclient.data.l[0]) == x.wmDeleteWindow) {
      window->close();
    }
    break;
  default:
    break;
  }
}

void X11Desktop::beginWindowDrag(Window &window, Point pointer) {
  Impl &x = *impl_;
  const auto found = x.natives.find(&window);
  if (found == x.natives.end() || found->second.xid == 0) {
    return;
  }
  const Impl::Native &n = found->second;
  const int rootX = static_cast<int>(std::lround(pointer.x)) + x.primary.x;
  const int rootY = x.primary.y + x.primary.height - static_cast<int>(std::lround(pointer.y));
  if (!n.overrideRedirect && x.windowManagerSupports(x.netMoveResize)) {
    // The window manager moves the window (with its own snapping and limits) and wants the
    // pointer for it: the grab the press gave this window ends first.
    XUngrabPointer(x.display, CurrentTime);
    XEvent message{};
    message.xclient.type = ClientMessage;
    message.xclient.window = n.xid;
    message.xclient.message_type = x.netMoveResize;
    message.xclient.format = 32;
    message.xclient.data.l[0] = rootX;
    message.xclient.data.l[1] = rootY;
    message.xclient.data.l[2] = 8; // _NET_WM_MOVERESIZE_MOVE
    message.xclient.data.l[3] = Button1;
    message.xclient.data.l[4] = 1; // from an application
    XSendEvent(x.display, x.root, False, SubstructureRedirectMask | SubstructureNotifyMask,
               &message);
    x.afterRequests();
    return;
  }
  Desktop::beginWindowDrag(window, pointer);
  XGrabPointer(x.display, n.xid, False, ButtonReleaseMask | PointerMotionMask, GrabModeAsync,
               GrabModeAsync, None, None, CurrentTime);
  x.afterRequests();
}

std::size_t X11Desktop::processEvents() {
  Impl &x = *impl_;
  const std::size_t handled =
      x.connection->dispatchPending([this](XEvent &event) { handleEvent(event); });
  // No XFlush here: the last read flushed, and a flush can read events into the queue that
  // the pump, waiting on the socket, would then not hear of.
  if (x.connection->isLost() && !x.lostReported) {
    x.lostReported = true;
    if (x.onConnectionLost) {
      x.onConnectionLost();
    }
  }
  return handled;
}

} // namespace platform::ui
