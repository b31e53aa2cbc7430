#include "platform/ui/x11/X11DesktopImpl.hpp"

#include "platform/ui/EventDispatcher.hpp"
#include "platform/x11/Keysyms.hpp"

#include <cmath>
#include <optional>
#include <string>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace platform::ui {

namespace {

// How far one notch of the wheel scrolls, in points (three lines of body text).
constexpr double kWheelStep = 48;

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

Point localPoint(int x, int y) { return Point{static_cast<double>(x), static_cast<double>(y)}; }

} // namespace

void X11DesktopInput::buttonPressed(Window &window, X11NativeWindow &n, const XButtonEvent &event) {
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
void X11DesktopInput::focusOnClickWithoutWindowManager(Window &window, const X11NativeWindow &n,
                                                       Time time) {
  if (n.overrideRedirect || takesNoFocus(window) ||
      server.windowManagerSupports(server.atoms.netActiveWindow)) {
    return;
  }
  ::Window focus = 0;
  int revert = 0;
  XGetInputFocus(server.display, &focus, &revert);
  if (focus == n.xid) {
    return;
  }
  XSetInputFocus(server.display, n.xid, RevertToParent, time);
  window.desktop().Desktop::windowMadeKey(&window);
  server.afterRequests();
}

void X11DesktopInput::buttonReleased(Window &window, X11NativeWindow &n,
                                     const XButtonEvent &event) {
  if (event.button != Button1) {
    return;
  }
  n.selecting = false;
  n.backgroundPress.reset();
  if (window.desktop().draggedWindow() == &window) {
    XUngrabPointer(server.display, CurrentTime);
    window.desktop().endWindowDrag();
    server.afterRequests();
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

void X11DesktopInput::pointerMoved(Window &window, X11NativeWindow &n, const XMotionEvent &event) {
  if (window.desktop().draggedWindow() == &window) {
    window.desktop().windowDragMoved(screens.pointFromX(event.x_root, event.y_root));
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
      window.desktop().windowDragMoved(screens.pointFromX(event.x_root, event.y_root));
    }
    return;
  }
  if (n.selecting && (event.state & Button1Mask)) {
    dispatcher.dragSelection(localPoint(event.x, event.y));
  }
  dispatcher.pointerMoved(localPoint(event.x, event.y), n.hovered);
}

void X11DesktopInput::key(Window &window, XKeyEvent &event) {
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

// An open menu hears every press and key, so a press outside any of the application's
// windows and Escape close it, as menus close. Keys come to the menu even while another
// window of ours has the focus (the one whose picker opened it), not to that window.
void X11DesktopInput::grabForMenu(const X11NativeWindow &menu) {
  XGrabPointer(server.display, menu.xid, True,
               ButtonPressMask | ButtonReleaseMask | PointerMotionMask, GrabModeAsync,
               GrabModeAsync, None, None, CurrentTime);
  XGrabKeyboard(server.display, menu.xid, False, GrabModeAsync, GrabModeAsync, CurrentTime);
}

void X11DesktopInput::releaseMenuGrab() {
  XUngrabPointer(server.display, CurrentTime);
  XUngrabKeyboard(server.display, CurrentTime);
}

Point X11Desktop::mouseLocation() const {
  const Impl &x = *impl_;
  ::Window rootReturn = 0, child = 0;
  int rootX = 0, rootY = 0, winX = 0, winY = 0;
  unsigned mask = 0;
  if (!XQueryPointer(x.server.display, x.server.root, &rootReturn, &child, &rootX, &rootY, &winX,
                     &winY, &mask)) {
    return Desktop::mouseLocation();
  }
  return x.screens.pointFromX(rootX, rootY);
}

void X11Desktop::windowMadeKey(Window *window) {
  Desktop::windowMadeKey(window);
  Impl &x = *impl_;
  const auto found = x.windows.natives.find(window);
  if (found == x.windows.natives.end() || takesNoFocus(*window)) {
    return;
  }
  const ::Window xid = found->second.xid;
  if (x.server.windowManagerSupports(x.server.atoms.netActiveWindow)) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = xid;
    event.xclient.message_type = x.server.atoms.netActiveWindow;
    event.xclient.format = 32;
    event.xclient.data.l[0] = 1; // from an application
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(x.server.display, x.server.root, False,
               SubstructureRedirectMask | SubstructureNotifyMask, &event);
  } else {
    XSetInputFocus(x.server.display, xid, RevertToParent, CurrentTime);
  }
  x.server.afterRequests();
}

void X11Desktop::beginWindowDrag(Window &window, Point pointer) {
  Impl &x = *impl_;
  const auto found = x.windows.natives.find(&window);
  if (found == x.windows.natives.end() || found->second.xid == 0) {
    return;
  }
  const X11NativeWindow &n = found->second;
  const int rootX = static_cast<int>(std::lround(pointer.x)) + x.screens.primary.x;
  const int rootY =
      x.screens.primary.y + x.screens.primary.height - static_cast<int>(std::lround(pointer.y));
  if (!n.overrideRedirect && x.server.windowManagerSupports(x.server.atoms.netMoveResize)) {
    // The window manager moves the window (with its own snapping and limits) and wants the
    // pointer for it: the grab the press gave this window ends first.
    XUngrabPointer(x.server.display, CurrentTime);
    XEvent message{};
    message.xclient.type = ClientMessage;
    message.xclient.window = n.xid;
    message.xclient.message_type = x.server.atoms.netMoveResize;
    message.xclient.format = 32;
    message.xclient.data.l[0] = rootX;
    message.xclient.data.l[1] = rootY;
    message.xclient.data.l[2] = 8; // _NET_WM_MOVERESIZE_MOVE
    message.xclient.data.l[3] = Button1;
    message.xclient.data.l[4] = 1; // from an application
    XSendEvent(x.server.display, x.server.root, False,
               SubstructureRedirectMask | SubstructureNotifyMask, &message);
    x.server.afterRequests();
    return;
  }
  Desktop::beginWindowDrag(window, pointer);
  XGrabPointer(x.server.display, n.xid, False, ButtonReleaseMask | PointerMotionMask, GrabModeAsync,
               GrabModeAsync, None, None, CurrentTime);
  x.server.afterRequests();
}

} // namespace platform::ui
