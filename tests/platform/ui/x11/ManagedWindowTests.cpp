#include "platform/ui/HostingView.hpp"
#include "platform/ui/Window.hpp"
#include "platform/ui/x11/X11Desktop.hpp"
#include "tests/support/XvfbServer.hpp"
#include "tests/support/x11/DesktopSettling.hpp"
#include "tests/support/x11/WindowManagerProbe.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>

#include <X11/Xlib.h>
#include <poll.h>

namespace platform::ui {
namespace {

// Windows whose size follows their content, under a real window manager: what the window
// manager maps must be what the content needs, however often it changes, and the window must
// stay where it is.
class ManagedWindowTest : public ::testing::Test {
protected:
  struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
  };

  void SetUp() override {
    const auto display = mqtest::XvfbServer::displayWithWindowManager();
    if (!display) {
      GTEST_SKIP() << "no Xvfb or no openbox: managed window tests need both";
    }
    client = XOpenDisplay(display->c_str());
    ASSERT_NE(client, nullptr);
    ASSERT_TRUE(mqtest::windowManagerFrames(client));
    desktop = std::make_unique<X11Desktop>(X11Desktop::Options{*display});
    window = std::make_unique<Window>(*desktop, makeRect(100, 100, 280, 400), kTitled | kClosable);
    window->setTitle("Menu");
    window->setContentView(std::make_unique<HostingView>([this] {
                             std::vector<View> rows;
                             for (int i = 0; i < lines.get(); ++i) {
                               rows.push_back(Text("Row " + std::to_string(i)));
                             }
                             return VStack(std::move(rows), 4).padding(12);
                           }),
                           /*fitsContent=*/true);
    window->makeKeyAndOrderFront();
  }

  void TearDown() override {
    window.reset();
    desktop.reset();
    if (client != nullptr) {
      XCloseDisplay(client);
    }
  }

  // The content window as the server has it, in root coordinates.
  Geometry mapped() {
    const ::Window xid = desktop->nativeWindow(*window);
    XWindowAttributes attributes{};
    ::Window child = 0;
    Geometry g;
    if (XGetWindowAttributes(client, xid, &attributes) &&
        XTranslateCoordinates(client, xid, DefaultRootWindow(client), 0, 0, &g.x, &g.y, &child)) {
      g.width = attributes.width;
      g.height = attributes.height;
    }
    return g;
  }

  bool mappedAtIdealSize() {
    const Size ideal = window->contentView()->idealSize();
    const Geometry g = mapped();
    return g.width == static_cast<int>(std::lround(ideal.width)) &&
           g.height == static_cast<int>(std::lround(ideal.height));
  }

  bool settle(const std::function<bool()> &done) {
    return mqtest::settleDesktop(client, *desktop, done);
  }

  Display *client = nullptr;
  std::unique_ptr<X11Desktop> desktop;
  Observable<int> lines{8};
  std::unique_ptr<Window> window;
};

TEST_F(ManagedWindowTest, TheMappedSizeFollowsTheContentWhenItShrinksAndGrows) {
  ASSERT_TRUE(settle([&] { return mappedAtIdealSize(); }));
  const Geometry first = mapped();
  lines.set(3);
  ASSERT_TRUE(settle([&] { return mappedAtIdealSize(); }))
      << "mapped " << mapped().height << " high";
  EXPECT_LT(mapped().height, first.height);
  lines.set(10);
  ASSERT_TRUE(settle([&] { return mappedAtIdealSize(); }))
      << "mapped " << mapped().height << " high";
  EXPECT_GT(mapped().height, first.height);
}

TEST_F(ManagedWindowTest, RedrawsAfterAResizeLeaveTheWindowWhereItIs) {
  ASSERT_TRUE(settle([&] { return mappedAtIdealSize(); }));
  lines.set(4);
  ASSERT_TRUE(settle([&] { return mappedAtIdealSize(); }));
  const Geometry before = mapped();
  for (int i = 0; i < 5; ++i) {
    window->contentView()->update();
    XSync(client, False);
    desktop->sync();
    desktop->processEvents();
  }
  // A later resize is handled after whatever the redraws asked for.
  lines.set(5);
  ASSERT_TRUE(settle([&] { return mappedAtIdealSize(); }));
  const Geometry after = mapped();
  EXPECT_EQ(after.x, before.x);
  EXPECT_EQ(after.y, before.y);
}

} // namespace
} // namespace platform::ui
