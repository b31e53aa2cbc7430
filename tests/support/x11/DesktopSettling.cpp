#include "tests/support/x11/DesktopSettling.hpp"

#include "platform/ui/x11/X11Desktop.hpp"

#include <X11/Xlib.h>
#include <poll.h>

namespace mqtest {

bool settleDesktop(_XDisplay *client, platform::ui::X11Desktop &desktop,
                   const std::function<bool()> &done) {
  for (int round = 0; round < 400; ++round) {
    XSync(client, False);
    desktop.sync();
    desktop.processEvents();
    if (done()) {
      return true;
    }
    pollfd connection{desktop.connectionNumber(), POLLIN, 0};
    poll(&connection, 1, 25);
  }
  return done();
}

} // namespace mqtest
