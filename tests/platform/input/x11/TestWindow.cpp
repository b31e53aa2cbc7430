#include "tests/platform/input/x11/TestWindow.hpp"

#include <gtest/gtest.h>

#include "platform/x11/Keysyms.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <poll.h>

namespace platform::testing {

TestWindow::TestWindow(X11Connection &connection, const std::string &instance,
                       const std::string &windowClass, long pid)
    : connection_(connection) {
  Display *display = connection_.display();
  XSetWindowAttributes attributes{};
  attributes.event_mask = KeyPressMask | KeyReleaseMask | StructureNotifyMask | FocusChangeMask;
  window_ = XCreateWindow(display, connection_.rootWindow(), 10, 10, 200, 100, 0, CopyFromParent,
                          InputOutput, CopyFromParent, CWEventMask, &attributes);
  XClassHint hint;
  std::string name = instance;
  std::string type = windowClass;
  hint.res_name = name.data();
  hint.res_class = type.data();
  XSetClassHint(display, window_, &hint);
  if (pid != 0) {
    XChangeProperty(display, window_, connection_.atom("_NET_WM_PID"), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<unsigned char *>(&pid), 1);
  }
  XMapWindow(display, window_);
  XEvent event;
  do {
    XWindowEvent(display, window_, StructureNotifyMask, &event);
  } while (event.type != MapNotify);
}

TestWindow::~TestWindow() {
  XDestroyWindow(connection_.display(), window_);
  XSync(connection_.display(), False);
}

void TestWindow::focus() {
  Display *display = connection_.display();
  XSetInputFocus(display, window_, RevertToPointerRoot, CurrentTime);
  Window active = window_;
  XChangeProperty(display, connection_.rootWindow(), connection_.atom("_NET_ACTIVE_WINDOW"),
                  XA_WINDOW, 32, PropModeReplace, reinterpret_cast<unsigned char *>(&active), 1);
  XSync(display, False);
}

std::u32string TestWindow::readText(std::size_t count, std::chrono::milliseconds limit) {
  Display *display = connection_.display();
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (text_.size() < count) {
    if (XPending(display) == 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        break;
      }
      pollfd fd{connection_.fileDescriptor(), POLLIN, 0};
      poll(&fd, 1, static_cast<int>(left.count()));
      continue;
    }
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == MappingNotify) {
      XRefreshKeyboardMapping(&event.xmapping);
      continue;
    }
    if (event.type != KeyPress || event.xkey.window != window_) {
      continue;
    }
    char bytes[16];
    KeySym keysym = NoSymbol;
    XLookupString(&event.xkey, bytes, sizeof bytes, &keysym, nullptr);
    presses_.emplace_back(keysym, event.xkey.state);
    char32_t c = 0;
    if (keysym == XK_Return) {
      c = U'\n';
    } else if (keysym == XK_Tab) {
      c = U'\t';
    } else if (const auto character = characterOfKeysym(keysym)) {
      c = *character;
    } else {
      continue; // a modifier
    }
    text_.push_back(c);
    states_.push_back(event.xkey.state);
  }
  return text_;
}

std::optional<std::string> requestSelection(X11Connection &connection, const std::string &selection,
                                            const std::string &target) {
  Display *display = connection.display();
  const Atom property = connection.atom("_TEST_TRANSFER");
  XConvertSelection(display, connection.atom(selection), connection.atom(target), property,
                    connection.ownWindow(), CurrentTime);
  XFlush(display);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  XEvent event;
  while (!XCheckTypedWindowEvent(display, connection.ownWindow(), SelectionNotify, &event)) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "no answer for " << target;
      return std::nullopt;
    }
    pollfd fd{connection.fileDescriptor(), POLLIN, 0};
    poll(&fd, 1, 50);
  }
  if (event.xselection.property == None) {
    return std::nullopt;
  }
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char *data = nullptr;
  XGetWindowProperty(display, connection.ownWindow(), property, 0, 1 << 24, True, AnyPropertyType,
                     &type, &format, &count, &after, &data);
  std::string bytes;
  if (data != nullptr) {
    if (format == 32) {
      for (unsigned long i = 0; i < count; ++i) {
        bytes += connection.atomName(static_cast<Atom>(reinterpret_cast<long *>(data)[i])) + "\n";
      }
    } else {
      bytes.assign(reinterpret_cast<char *>(data), count);
    }
    XFree(data);
  }
  return bytes;
}

std::string utf8(const std::u32string &text) {
  std::string out;
  for (const char32_t c : text) {
    out += utf8OfCharacter(c);
  }
  return out;
}

} // namespace platform::testing
