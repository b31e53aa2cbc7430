#include "platform/ui/x11/X11Desktop.hpp"

#include "platform/ui/Theme.hpp"
#include "platform/ui/Window.hpp"
#include "tests/platform/x11/DesktopTest.hpp"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <poll.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <optional>

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

// What the server fills a window with where nothing is drawn yet (on mapping, and in the part
// a resize uncovers) is the window's own background, not black: cleared by another client,
// the window shows that colour.
struct BackgroundCase {
  const char *name;
  unsigned style;
  std::optional<ui::Color> background;
  ui::RGBA expected;
};

class WindowBackgroundTest : public X11DesktopTest,
                             public ::testing::WithParamInterface<BackgroundCase> {};

TEST_P(WindowBackgroundTest, TheServerFillsTheWindowWithItsBackground) {
  const BackgroundCase &c = GetParam();
  ui::X11Desktop desktop(ui::X11Desktop::Options{options.displayName});
  ui::Window window(desktop, ui::makeRect(0, 0, 120, 80), c.style);
  if (c.background) {
    window.setBackgroundColor(*c.background);
  }
  window.orderFrontRegardless();
  desktop.sync();
  Display *display = peer->display();
  const ::Window xid = desktop.nativeWindow(window);
  XClearArea(display, xid, 0, 0, 0, 0, False);
  XImage *image = XGetImage(display, xid, 60, 40, 1, 1, AllPlanes, ZPixmap);
  ASSERT_NE(image, nullptr);
  const unsigned long pixel = XGetPixel(image, 0, 0);
  XDestroyImage(image);
  const auto channel = [](double value) { return static_cast<long>(std::lround(value * 255)); };
  EXPECT_NEAR(static_cast<long>((pixel >> 16) & 0xff), channel(c.expected.red), 1)
      << std::hex << pixel;
  EXPECT_NEAR(static_cast<long>((pixel >> 8) & 0xff), channel(c.expected.green), 1);
  EXPECT_NEAR(static_cast<long>(pixel & 0xff), channel(c.expected.blue), 1);
  window.orderOut();
}

INSTANTIATE_TEST_SUITE_P(
    Windows, WindowBackgroundTest,
    ::testing::Values(BackgroundCase{"titled", ui::kTitled | ui::kClosable, std::nullopt,
                                     ui::Theme::windowBackground(ui::Appearance::light)},
                      BackgroundCase{"ownColour", ui::kTitled, ui::Color::rgb(0.2, 0.6, 0.4),
                                     ui::RGBA{0.2, 0.6, 0.4, 1}}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace platform
