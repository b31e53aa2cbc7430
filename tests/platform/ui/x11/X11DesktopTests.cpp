#include "platform/ui/x11/X11Desktop.hpp"

#include "platform/ui/Window.hpp"
#include "tests/platform/x11/DesktopTest.hpp"

#include <X11/Xlib.h>

#include <poll.h>

#include <gtest/gtest.h>

#include <chrono>

namespace platform {
namespace {

using X11DesktopTest = testing::DesktopTest;

TEST(X11DesktopOpenTest, AnUnknownDisplayThrowsTheConnectionsError) {
  EXPECT_THROW(ui::X11Desktop(ui::X11Desktop::Options{":4711"}), X11Error);
}

// The server going away (or closing this client) is said once, and the process goes on to end
// in its own way: no Xlib handler ends it on the spot.
TEST_F(X11DesktopTest, ALostConnectionIsReportedOnceAndLeavesTheProcessRunning) {
  ui::X11Desktop desktop(ui::X11Desktop::Options{options.displayName});
  int reports = 0;
  desktop.setOnConnectionLost([&] { ++reports; });
  ui::Window window(desktop, ui::makeRect(0, 0, 120, 80), ui::kTitled);
  window.orderFrontRegardless();
  desktop.sync();
  ASSERT_NE(desktop.nativeWindow(window), 0u);
  XKillClient(peer->display(), desktop.nativeWindow(window));
  XSync(peer->display(), False);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!desktop.isConnectionLost() && std::chrono::steady_clock::now() < deadline) {
    pollfd fd{desktop.connectionNumber(), POLLIN, 0};
    poll(&fd, 1, 100);
    desktop.processEvents();
  }
  desktop.processEvents();
  EXPECT_TRUE(desktop.isConnectionLost());
  EXPECT_EQ(reports, 1);
  window.orderOut();
}

} // namespace
} // namespace platform
