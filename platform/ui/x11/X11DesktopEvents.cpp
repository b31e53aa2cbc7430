#include "platform/ui/x11/X11DesktopImpl.hpp"

#include "platform/ui/EventDispatcher.hpp"

#include <cstddef>
#include <optional>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace platform::ui {

void X11Desktop::handleEvent(XEvent &event) {
  Impl &x = *impl_;
  if (x.screens.hasRandr && event.type == x.screens.randrEventBase + RRScreenChangeNotify) {
    XRRUpdateConfiguration(&event);
    refreshScreens();
    return;
  }
  if (event.type == PropertyNotify && event.xproperty.window == x.server.root) {
    if (event.xproperty.atom == x.server.atoms.netWorkarea) {
      refreshScreens();
    }
    return;
  }
  Window *window = x.windows.windowOf(event.xany.window);
  if (window == nullptr) {
    return;
  }
  X11NativeWindow &n = x.windows.natives[window];
  switch (event.type) {
  case Expose:
    if (event.xexpose.count == 0) {
      x.windows.draw(*window, n);
    }
    break;
  case ConfigureNotify:
  case ReparentNotify:
  case MapNotify:
    // A window manager places a window in its frame without telling the window (no synthetic
    // ConfigureNotify for the first placement): where the window is mapped is asked anew.
    x.windows.serverConfigured(*window, n);
    break;
  case ButtonPress:
    x.input.buttonPressed(*window, n, event.xbutton);
    break;
  case ButtonRelease:
    x.input.buttonReleased(*window, n, event.xbutton);
    break;
  case MotionNotify:
    x.input.pointerMoved(*window, n, event.xmotion);
    break;
  case LeaveNotify:
    if (window->contentView() != nullptr) {
      EventDispatcher(*window->contentView(), &window->desktop())
          .pointerMoved(std::nullopt, n.hovered);
    }
    break;
  case KeyPress:
    x.input.key(*window, event.xkey);
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
    if (event.xclient.message_type == x.server.atoms.wmProtocols &&
        static_cast<Atom>(event.xclient.data.l[0]) == x.server.atoms.wmDeleteWindow) {
      window->close();
    }
    break;
  default:
    break;
  }
}

std::size_t X11Desktop::processEvents() {
  Impl &x = *impl_;
  const std::size_t handled =
      x.server.connection->dispatchPending([this](XEvent &event) { handleEvent(event); });
  // No XFlush here: the last read flushed, and a flush can read events into the queue that
  // the pump, waiting on the socket, would then not hear of.
  if (x.server.connection->isLost() && !x.lostReported) {
    x.lostReported = true;
    if (x.onConnectionLost) {
      x.onConnectionLost();
    }
  }
  return handled;
}

} // namespace platform::ui
