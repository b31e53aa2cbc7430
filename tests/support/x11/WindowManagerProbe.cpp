#include "tests/support/x11/WindowManagerProbe.hpp"

#include <X11/Xlib.h>
#include <poll.h>

namespace mqtest {

bool windowManagerFrames(_XDisplay *display) {
  const ::Window root = DefaultRootWindow(display);
  const ::Window probe = XCreateSimpleWindow(display, root, 0, 0, 10, 10, 0, 0, 0);
  bool framed = false;
  for (int round = 0; round < 400 && !framed; ++round) {
    if (round % 40 == 0) {
      XMapWindow(display, probe);
    }
    XSync(display, False);
    ::Window rootReturn = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display, probe, &rootReturn, &parent, &children, &count)) {
      framed = parent != root;
      XFree(children);
    }
    pollfd connection{ConnectionNumber(display), POLLIN, 0};
    poll(&connection, 1, 25);
  }
  XDestroyWindow(display, probe);
  XSync(display, False);
  return framed;
}

} // namespace mqtest
