#include "platform/ui/x11/X11DesktopImpl.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace platform::ui {

X11DesktopScreens::X11DesktopScreens(X11DesktopServer &server) : server(server) {
  int errorBase = 0, major = 0, minor = 0;
  hasRandr = XRRQueryExtension(server.display, &randrEventBase, &errorBase) &&
             XRRQueryVersion(server.display, &major, &minor) &&
             (major > 1 || (major == 1 && minor >= 5));
  if (hasRandr) {
    XRRSelectInput(server.display, server.root, RRScreenChangeNotifyMask);
  }
  // The work area changes when panels come and go.
  XSelectInput(server.display, server.root, PropertyChangeMask);
}

IntRect X11DesktopScreens::toX(const Rect &r) const {
  const int bottom = primary.y + primary.height;
  IntRect out;
  out.x = static_cast<int>(std::lround(r.minX())) + primary.x;
  out.y = bottom - static_cast<int>(std::lround(r.maxY()));
  out.width = std::max(1, static_cast<int>(std::lround(r.width())));
  out.height = std::max(1, static_cast<int>(std::lround(r.height())));
  return out;
}

Point X11DesktopScreens::pointFromX(int rootX, int rootY) const {
  return Point{static_cast<double>(rootX - primary.x),
               static_cast<double>(primary.y + primary.height - rootY)};
}

Rect X11DesktopScreens::fromX(const IntRect &r) const {
  const int bottom = primary.y + primary.height;
  return makeRect(r.x - primary.x, bottom - (r.y + r.height), r.width, r.height);
}

std::vector<Screen> X11DesktopScreens::read() {
  std::vector<IntRect> monitors;
  std::vector<std::string> names;
  std::size_t primaryIndex = 0;
  if (hasRandr) {
    int count = 0;
    XRRMonitorInfo *info = XRRGetMonitors(server.display, server.root, True, &count);
    for (int i = 0; info != nullptr && i < count; ++i) {
      monitors.push_back(IntRect{info[i].x, info[i].y, info[i].width, info[i].height});
      char *name = XGetAtomName(server.display, info[i].name);
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
    monitors.push_back(IntRect{0, 0, DisplayWidth(server.display, server.screen),
                               DisplayHeight(server.display, server.screen)});
    names.emplace_back("screen");
  }
  // The primary first, as Desktop lists screens.
  std::rotate(monitors.begin(), monitors.begin() + static_cast<long>(primaryIndex),
              monitors.begin() + static_cast<long>(primaryIndex) + 1);
  std::rotate(names.begin(), names.begin() + static_cast<long>(primaryIndex),
              names.begin() + static_cast<long>(primaryIndex) + 1);
  primary = monitors.front();

  std::optional<IntRect> workArea;
  const auto area = server.connection->readProperty(server.root, server.atoms.netWorkarea,
                                                    X11PropertyRead{.type = XA_CARDINAL});
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
    screens.push_back(Screen{fromX(m), fromX(visible), names[i]});
  }
  return screens;
}

void X11Desktop::refreshScreens() { setScreens(impl_->screens.read()); }

} // namespace platform::ui
