#include "platform/ui/HostingView.hpp"
#include "platform/ui/Window.hpp"
#include "platform/ui/x11/X11Desktop.hpp"
#include "tests/support/XvfbServer.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace platform::ui {
namespace {

// Without a window manager nobody gives a clicked window the keyboard: a panel with a text
// editor, clicked while another window of the application has the focus, takes it itself, so
// the keys typed next go into its editor.
TEST(ClickFocusTest, AClickInAPanelThatTakesKeysGivesItTheFocusWithoutAWindowManager) {
  const auto display = mqtest::XvfbServer::display();
  if (!display) {
    GTEST_SKIP() << "no Xvfb";
  }
  Display *client = XOpenDisplay(display->c_str());
  ASSERT_NE(client, nullptr);
  int event = 0, error = 0, major = 0, minor = 0;
  if (!XTestQueryExtension(client, &event, &error, &major, &minor)) {
    XCloseDisplay(client);
    GTEST_SKIP() << "the server has no XTest";
  }
  {
    X11Desktop desktop(X11Desktop::Options{*display});
    const auto deliver = [&] {
      XSync(client, False);
      desktop.sync();
      desktop.processEvents();
      desktop.sync();
    };
    Window menu(desktop, makeRect(20, 20, 200, 200), kTitled | kClosable);
    menu.setContentView(std::make_unique<HostingView>([] { return Text("Menu"); }));
    Observable<std::string> text{std::string("Hello")};
    Panel panel(desktop, makeRect(400, 200, 240, 120),
                kTitled | kClosable | kUtilityWindow | kNonactivatingPanel | kHUDWindow |
                    kFullSizeContentView);
    panel.setFloatingPanel(true);
    panel.setContentView(std::make_unique<HostingView>(
        [&] { return TextEditor(bind(text)).frame(240.0, 120.0); }, Size{240, 120}));
    menu.makeKeyAndOrderFront();
    panel.orderFrontRegardless();
    deliver();
    ::Window focus = 0;
    int revert = 0;
    XGetInputFocus(client, &focus, &revert);
    ASSERT_EQ(focus, desktop.nativeWindow(menu));

    ::Window child = 0;
    int x = 0, y = 0;
    XTranslateCoordinates(client, desktop.nativeWindow(panel), DefaultRootWindow(client), 200, 10,
                          &x, &y, &child);
    XTestFakeMotionEvent(client, -1, x, y, CurrentTime);
    XTestFakeButtonEvent(client, 1, True, CurrentTime);
    XTestFakeButtonEvent(client, 1, False, CurrentTime);
    deliver();
    XGetInputFocus(client, &focus, &revert);
    EXPECT_EQ(focus, desktop.nativeWindow(panel));
    EXPECT_TRUE(panel.isKeyWindow());

    const KeyCode key = XKeysymToKeycode(client, XK_x);
    XTestFakeKeyEvent(client, key, True, CurrentTime);
    XTestFakeKeyEvent(client, key, False, CurrentTime);
    deliver();
    EXPECT_NE(text.peek().find('x'), std::string::npos) << text.peek();
    panel.orderOut();
    menu.orderOut();
    deliver();
  }
  XCloseDisplay(client);
}

} // namespace
} // namespace platform::ui
