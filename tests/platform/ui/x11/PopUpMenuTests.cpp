#include "platform/ui/HostingView.hpp"
#include "platform/ui/Inspector.hpp"
#include "platform/ui/Window.hpp"
#include "platform/ui/x11/X11Desktop.hpp"
#include "tests/support/XvfbServer.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>

namespace platform::ui {
namespace {

// A picker's menu on a real server, driven by the server's own pointer and keyboard (XTest):
// it opens over the picker, takes the pointer and keyboard while open, and gives them back
// when a row is chosen, on Escape, and on a press outside the application's windows.
class PopUpMenuX11Test : public ::testing::Test {
protected:
  void SetUp() override {
    const auto display = mqtest::XvfbServer::display();
    if (!display) {
      GTEST_SKIP() << "no Xvfb";
    }
    client = XOpenDisplay(display->c_str());
    ASSERT_NE(client, nullptr);
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(client, &event, &error, &major, &minor)) {
      GTEST_SKIP() << "the server has no XTest";
    }
    desktop = std::make_unique<X11Desktop>(X11Desktop::Options{*display});
    window = std::make_unique<Window>(*desktop, makeRect(100, 100, 240, 80), kBorderless);
    window->setContentView(std::make_unique<HostingView>(
        [this] {
          return Picker(
                     "Key", {"One", "Two", "Three"}, [this] { return picked.get(); },
                     [this](int i) { picked.set(i); })
              .padding(20);
        },
        Size{240, 80}));
    window->orderFrontRegardless();
    pump();
  }

  void TearDown() override {
    window.reset();
    desktop.reset();
    if (client != nullptr) {
      XCloseDisplay(client);
    }
  }

  void pump() {
    for (int round = 0; round < 6; ++round) {
      XSync(client, False);
      desktop->sync();
      desktop->processEvents();
      pollfd connection{desktop->connectionNumber(), POLLIN, 0};
      poll(&connection, 1, 10);
    }
  }

  // Root coordinates of a point of a window's content.
  std::pair<int, int> onRoot(Window &w, Point local) {
    int x = 0, y = 0;
    ::Window child = 0;
    XTranslateCoordinates(client, desktop->nativeWindow(w), DefaultRootWindow(client),
                          static_cast<int>(local.x), static_cast<int>(local.y), &x, &y, &child);
    return {x, y};
  }

  void clickAt(std::pair<int, int> at) {
    XTestFakeMotionEvent(client, -1, at.first, at.second, CurrentTime);
    XTestFakeButtonEvent(client, 1, True, CurrentTime);
    XTestFakeButtonEvent(client, 1, False, CurrentTime);
    pump();
  }

  void openMenu() {
    const auto picker = Inspector(*window).findKind(NodeKind::picker).at(0);
    clickAt(onRoot(*window, {picker.frame.midX(), picker.frame.midY()}));
  }

  // Whether another client could grab the pointer now: nobody holds it.
  bool pointerFree() {
    const ::Window root = DefaultRootWindow(client);
    const int status = XGrabPointer(client, root, False, ButtonPressMask, GrabModeAsync,
                                    GrabModeAsync, None, None, CurrentTime);
    XUngrabPointer(client, CurrentTime);
    XSync(client, False);
    return status == GrabSuccess;
  }

  Display *client = nullptr;
  std::unique_ptr<X11Desktop> desktop;
  std::unique_ptr<Window> window;
  Observable<int> picked{0};
};

TEST_F(PopUpMenuX11Test, OpensOverThePickerAndClosesAsMenusDo) {
  openMenu();
  Window *menu = desktop->popUpMenu();
  ASSERT_NE(menu, nullptr);
  EXPECT_FALSE(pointerFree());
  const auto two = Inspector(*menu).findText("Two");
  ASSERT_TRUE(two);
  clickAt(onRoot(*menu, {two->frame.midX(), two->frame.midY()}));
  EXPECT_EQ(picked.peek(), 1);
  EXPECT_EQ(desktop->popUpMenu(), nullptr);
  EXPECT_TRUE(pointerFree());

  openMenu();
  ASSERT_NE(desktop->popUpMenu(), nullptr);
  XTestFakeKeyEvent(client, XKeysymToKeycode(client, XK_Escape), True, CurrentTime);
  XTestFakeKeyEvent(client, XKeysymToKeycode(client, XK_Escape), False, CurrentTime);
  pump();
  EXPECT_EQ(desktop->popUpMenu(), nullptr);
  EXPECT_TRUE(pointerFree());

  openMenu();
  ASSERT_NE(desktop->popUpMenu(), nullptr);
  clickAt({5, 5}); // outside every window of the application
  EXPECT_EQ(desktop->popUpMenu(), nullptr);
  EXPECT_TRUE(pointerFree());
  EXPECT_EQ(picked.peek(), 1);
}

} // namespace
// The picker's own window has the keyboard focus, as the app's menu window has when the user
// clicks its picker: Escape still reaches the open menu, not the focused window.
TEST_F(PopUpMenuX11Test, EscapeClosesTheMenuWhileAWindowOfTheApplicationHasTheFocus) {
  XSetInputFocus(client, desktop->nativeWindow(*window), RevertToParent, CurrentTime);
  pump();
  openMenu();
  ASSERT_NE(desktop->popUpMenu(), nullptr);
  XTestFakeKeyEvent(client, XKeysymToKeycode(client, XK_Escape), True, CurrentTime);
  XTestFakeKeyEvent(client, XKeysymToKeycode(client, XK_Escape), False, CurrentTime);
  pump();
  EXPECT_EQ(desktop->popUpMenu(), nullptr);
  EXPECT_TRUE(pointerFree());
}

} // namespace platform::ui
