#include "platform/ui/HostingView.hpp"
#include "platform/ui/Window.hpp"
#include "platform/ui/x11/X11Desktop.hpp"
#include "tests/support/XvfbServer.hpp"
#include "tests/support/x11/DesktopSettling.hpp"
#include "tests/support/x11/WindowManagerProbe.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <poll.h>

namespace platform::ui {
namespace {

// A panel moved by its background, dragged with the server's own pointer (XTest): under a
// window manager it moves the panel (_NET_WM_MOVERESIZE); without one the panel grabs the
// pointer and follows it.
class WindowDragTest : public ::testing::TestWithParam<bool> {
protected:
  struct Position {
    int x = 0, y = 0;
  };

  void SetUp() override {
    const bool managed = GetParam();
    const auto display =
        managed ? mqtest::XvfbServer::displayWithWindowManager() : mqtest::XvfbServer::display();
    if (!display) {
      GTEST_SKIP() << "no Xvfb (or no openbox for the managed case)";
    }
    client = XOpenDisplay(display->c_str());
    ASSERT_NE(client, nullptr);
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(client, &event, &error, &major, &minor)) {
      GTEST_SKIP() << "the server has no XTest";
    }
    if (managed) {
      ASSERT_TRUE(mqtest::windowManagerFrames(client));
    }
    desktop = std::make_unique<X11Desktop>(X11Desktop::Options{*display});
    panel = std::make_unique<Panel>(*desktop, makeRect(0, 0, 240, 120),
                                    kTitled | kClosable | kUtilityWindow | kNonactivatingPanel |
                                        kHUDWindow | kFullSizeContentView);
    panel->setTitleHidden(true);
    panel->setTitlebarAppearsTransparent(true);
    panel->setMovableByWindowBackground(true);
    panel->setFloatingPanel(true);
    panel->setContentView(std::make_unique<HostingView>(
        [] { return Text("Drag me").frame(240.0, 120.0); }, Size{240, 120}));
    panel->center();
    panel->orderFrontRegardless();
  }

  void TearDown() override {
    panel.reset();
    desktop.reset();
    if (client != nullptr) {
      XCloseDisplay(client);
    }
  }

  std::optional<Position> onScreen() {
    const ::Window xid = desktop->nativeWindow(*panel);
    XWindowAttributes attributes{};
    Position p;
    ::Window child = 0;
    if (xid == 0 || !XGetWindowAttributes(client, xid, &attributes) ||
        attributes.map_state != IsViewable ||
        !XTranslateCoordinates(client, xid, DefaultRootWindow(client), 0, 0, &p.x, &p.y, &child)) {
      return std::nullopt;
    }
    return p;
  }

  bool settle(const std::function<bool()> &done) {
    return mqtest::settleDesktop(client, *desktop, done);
  }

  // Lets the desktop (and a window manager) handle what the server sent them.
  void pump() {
    for (int round = 0; round < 4; ++round) {
      XSync(client, False);
      desktop->sync();
      desktop->processEvents();
      pollfd connection{desktop->connectionNumber(), POLLIN, 0};
      poll(&connection, 1, 10);
    }
  }

  void pointerTo(int x, int y) {
    XTestFakeMotionEvent(client, -1, x, y, CurrentTime);
    pump();
  }

  void button(bool down) {
    XTestFakeButtonEvent(client, 1, down ? True : False, CurrentTime);
    pump();
  }

  // Where the panel rests once the window manager (if any) has stopped placing it.
  std::optional<Position> restingPlace() {
    if (!settle([&] { return onScreen().has_value(); })) {
      return std::nullopt;
    }
    std::optional<Position> last;
    int still = 0;
    if (!settle([&] {
          const auto now = onScreen();
          still = last && now && now->x == last->x && now->y == last->y ? still + 1 : 0;
          last = now;
          return still >= 8;
        })) {
      return std::nullopt;
    }
    return last;
  }

  Display *client = nullptr;
  std::unique_ptr<X11Desktop> desktop;
  std::unique_ptr<Panel> panel;
};

TEST_P(WindowDragTest, DraggingTheBackgroundMovesThePanel) {
  const auto resting = restingPlace();
  ASSERT_TRUE(resting);
  const Position start = *resting;
  pointerTo(start.x + 10, start.y + 10);
  button(true);
  for (int step = 1; step <= 6; ++step) {
    pointerTo(start.x + 10 + 10 * step, start.y + 10 + 5 * step);
  }
  button(false);
  ASSERT_TRUE(settle([&] {
    const auto now = onScreen();
    return now && now->x == start.x + 60 && now->y == start.y + 30;
  })) << "at "
      << onScreen()->x << ", " << onScreen()->y << " from " << start.x << ", " << start.y;
  // The window's own frame follows what the server shows.
  EXPECT_TRUE(settle([&] { return desktop->draggedWindow() == nullptr; }));
}

// A click on the background, even one with a jitter of the hand, is no move: under a window
// manager a move asked for on the press would go on after the release, the panel stuck to
// the pointer until the next click.
TEST_P(WindowDragTest, AClickOnTheBackgroundLeavesThePanelWhereItIs) {
  const auto resting = restingPlace();
  ASSERT_TRUE(resting);
  const Position start = *resting;
  for (const int jitter : {0, 3}) {
    pointerTo(start.x + 20, start.y + 20);
    XTestFakeButtonEvent(client, 1, True, CurrentTime);
    XTestFakeMotionEvent(client, -1, start.x + 20 + jitter, start.y + 20, CurrentTime);
    XTestFakeButtonEvent(client, 1, False, CurrentTime);
    pump();
    for (int step = 1; step <= 6; ++step) {
      pointerTo(start.x + 20 + 15 * step, start.y + 20 + 10 * step);
    }
    for (int round = 0; round < 5; ++round) {
      pump();
    }
    const auto now = onScreen();
    ASSERT_TRUE(now);
    EXPECT_EQ(now->x, start.x) << "jitter " << jitter;
    EXPECT_EQ(now->y, start.y) << "jitter " << jitter;
    EXPECT_EQ(desktop->draggedWindow(), nullptr);
  }
  // The panel still moves when dragged afterwards.
  pointerTo(start.x + 10, start.y + 10);
  button(true);
  for (int step = 1; step <= 4; ++step) {
    pointerTo(start.x + 10 + 10 * step, start.y + 10);
  }
  button(false);
  EXPECT_TRUE(settle([&] {
    const auto now = onScreen();
    return now && now->x == start.x + 40 && now->y == start.y;
  }));
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutAWindowManager, WindowDragTest,
                         ::testing::Values(true, false),
                         [](const auto &info) { return info.param ? "Managed" : "Unmanaged"; });

} // namespace
} // namespace platform::ui
