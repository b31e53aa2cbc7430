#include "platform/ui/x11/X11Desktop.hpp"
#include "platform/ui/x11/X11DesktopImpl.hpp"

#include "platform/system/ProcessLauncher.hpp"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace platform::ui {

X11DesktopServer::X11DesktopServer(const std::string &displayName)
    : connection(X11Connection::open(X11ConnectionOptions{displayName})),
      display(connection->display()), screen(DefaultScreen(display)),
      root(RootWindow(display, screen)) {
  atoms.wmProtocols = atom("WM_PROTOCOLS");
  atoms.wmDeleteWindow = atom("WM_DELETE_WINDOW");
  atoms.netWmName = atom("_NET_WM_NAME");
  atoms.utf8String = atom("UTF8_STRING");
  atoms.netWmPid = atom("_NET_WM_PID");
  atoms.netWmWindowType = atom("_NET_WM_WINDOW_TYPE");
  atoms.typeNormal = atom("_NET_WM_WINDOW_TYPE_NORMAL");
  atoms.typeUtility = atom("_NET_WM_WINDOW_TYPE_UTILITY");
  atoms.typeNotification = atom("_NET_WM_WINDOW_TYPE_NOTIFICATION");
  atoms.netWmState = atom("_NET_WM_STATE");
  atoms.stateAbove = atom("_NET_WM_STATE_ABOVE");
  atoms.stateSticky = atom("_NET_WM_STATE_STICKY");
  atoms.stateSkipTaskbar = atom("_NET_WM_STATE_SKIP_TASKBAR");
  atoms.stateSkipPager = atom("_NET_WM_STATE_SKIP_PAGER");
  atoms.netActiveWindow = atom("_NET_ACTIVE_WINDOW");
  atoms.netSupported = atom("_NET_SUPPORTED");
  atoms.netWorkarea = atom("_NET_WORKAREA");
  atoms.motifWmHints = atom("_MOTIF_WM_HINTS");
  atoms.netMoveResize = atom("_NET_WM_MOVERESIZE");
}

Atom X11DesktopServer::atom(const char *name) const { return connection->atom(name); }

bool X11DesktopServer::windowManagerSupports(Atom feature) const {
  const auto supported =
      connection->readProperty(root, atoms.netSupported, X11PropertyRead{.type = XA_ATOM});
  const auto listed = supported ? supported->items32() : std::vector<std::uint32_t>{};
  return std::find(listed.begin(), listed.end(), feature) != listed.end();
}

// Tells the pump about events Xlib read while answering a request.
void X11DesktopServer::afterRequests() {
  XFlush(display);
  if (onEventsQueued && XEventsQueued(display, QueuedAlready) > 0) {
    onEventsQueued();
  }
}

// The windows' part binds the screens' before they are made; it reads them only later.
X11Desktop::Impl::Impl(const std::string &displayName)
    : server(displayName), windows(server, screens), screens(server), input{server, screens} {}

X11Desktop::X11Desktop(Options options) : impl_(std::make_unique<Impl>(options.displayName)) {
  refreshScreens();
}

X11Desktop::~X11Desktop() {
  for (auto &[window, native] : impl_->windows.natives) {
    impl_->windows.destroy(native);
  }
  impl_->windows.natives.clear();
  if (!impl_->server.connection->isLost()) {
    XSync(impl_->server.display, False);
  }
}

int X11Desktop::connectionNumber() const { return ConnectionNumber(impl_->server.display); }

void X11Desktop::setOnEventsQueued(std::function<void()> handler) {
  impl_->server.onEventsQueued = std::move(handler);
}

void X11Desktop::setOnConnectionLost(std::function<void()> handler) {
  impl_->onConnectionLost = std::move(handler);
}

bool X11Desktop::isConnectionLost() const { return impl_->server.connection->isLost(); }

void X11Desktop::sync() {
  if (!impl_->server.connection->isLost()) {
    XSync(impl_->server.display, False);
  }
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

} // namespace platform::ui
