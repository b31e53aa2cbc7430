#include "platform/ui/x11/X11Desktop.hpp"
#include "platform/ui/x11/X11DesktopImpl.hpp"

#include <algorithm>
#include <cstdint>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/shape.h>

extern char **environ;

namespace platform::ui {

Atom X11Desktop::Impl::atom(const char *name) const { return connection->atom(name); }

bool X11Desktop::Impl::windowManagerSupports(Atom feature) const {
  const auto supported =
      connection->readProperty(root, netSupported, X11PropertyRead{.type = XA_ATOM});
  const auto atoms = supported ? supported->items32() : std::vector<std::uint32_t>{};
  return std::find(atoms.begin(), atoms.end(), feature) != atoms.end();
}

// Tells the pump about events Xlib read while answering a request.
void X11Desktop::Impl::afterRequests() {
  XFlush(display);
  if (onEventsQueued && XEventsQueued(display, QueuedAlready) > 0) {
    onEventsQueued();
  }
}

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

void X11Desktop::openURL(const std::string &url) {
  Desktop::openURL(url);
  // The desktop's own opener; its outcome is the desktop's business, like a browser's.
  pid_t pid = 0;
  char *argv[] = {const_cast<char *>("xdg-open"), const_cast<char *>(url.c_str()), nullptr};
  if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) == 0) {
    // Reaped so it leaves no zombie; xdg-open returns as soon as it handed the address on.
    waitpid(pid, nullptr, 0);
  }
}

} // namespace platform::ui
