#include "platform/input/x11/X11Workspace.hpp"

#include "platform/x11/X11EventThread.hpp"
#include "tests/platform/input/x11/TestWindow.hpp"
#include "tests/platform/x11/DesktopTest.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <poll.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace platform {
namespace {

using namespace std::chrono_literals;
using testing::TestWindow;

class X11WorkspaceTest : public testing::DesktopTest {
protected:
  void setRootWindowProperty(const char *name, Window value) {
    XChangeProperty(peer->display(), peer->rootWindow(), peer->atom(name), XA_WINDOW, 32,
                    PropModeReplace, reinterpret_cast<unsigned char *>(&value), 1);
    XSync(peer->display(), False);
  }
};

TEST_F(X11WorkspaceTest, FrontmostApplicationIsTheActiveWindowsProcess) {
  TestWindow other(*peer, "other", "Other", 4242);
  TestWindow window(*peer, "editor", "Editor", 31337);
  X11Workspace workspace({options});
  setRootWindowProperty("_NET_ACTIVE_WINDOW", window.window());
  EXPECT_EQ(workspace.frontmostApplication(), 31337);
  setRootWindowProperty("_NET_ACTIVE_WINDOW", other.window());
  EXPECT_EQ(workspace.frontmostApplication(), 4242);
}

TEST_F(X11WorkspaceTest, NoActiveWindowOrNoProcessGivesNoApplication) {
  X11Workspace workspace({options});
  XDeleteProperty(peer->display(), peer->rootWindow(), peer->atom("_NET_ACTIVE_WINDOW"));
  XSync(peer->display(), False);
  EXPECT_EQ(workspace.frontmostApplication(), std::nullopt);
  TestWindow anonymous(*peer);
  setRootWindowProperty("_NET_ACTIVE_WINDOW", anonymous.window());
  EXPECT_EQ(workspace.frontmostApplication(), std::nullopt);
  setRootWindowProperty("_NET_ACTIVE_WINDOW", 0x7ffffe); // a window that does not exist
  EXPECT_EQ(workspace.frontmostApplication(), std::nullopt);
}

TEST_F(X11WorkspaceTest, ActivationAsksTheWindowManagerForTheApplicationsWindow) {
  TestWindow window(*peer, "editor", "Editor", 777);
  // This connection plays the window manager: it announces itself and receives the requests.
  const Window check = peer->ownWindow();
  XChangeProperty(peer->display(), check, peer->atom("_NET_SUPPORTING_WM_CHECK"), XA_WINDOW, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char *>(&check), 1);
  setRootWindowProperty("_NET_SUPPORTING_WM_CHECK", check);
  XSelectInput(peer->display(), peer->rootWindow(), SubstructureRedirectMask);
  XSync(peer->display(), False);

  X11Workspace workspace({options});
  EXPECT_FALSE(workspace.activateApplication(778));
  ASSERT_TRUE(workspace.activateApplication(777));

  const auto deadline = std::chrono::steady_clock::now() + 10s;
  XEvent event;
  bool received = false;
  while (!received && std::chrono::steady_clock::now() < deadline) {
    if (XCheckTypedEvent(peer->display(), ClientMessage, &event)) {
      received = true;
      break;
    }
    pollfd fd{peer->fileDescriptor(), POLLIN, 0};
    poll(&fd, 1, 50);
  }
  ASSERT_TRUE(received);
  EXPECT_EQ(event.xclient.message_type, peer->atom("_NET_ACTIVE_WINDOW"));
  EXPECT_EQ(event.xclient.window, window.window());
  EXPECT_EQ(event.xclient.data.l[0], 1);
  XSelectInput(peer->display(), peer->rootWindow(), NoEventMask);
  XDeleteProperty(peer->display(), peer->rootWindow(), peer->atom("_NET_SUPPORTING_WM_CHECK"));
  XSync(peer->display(), False);
}

// A window manager that takes its time to move the focus: the activation returns once the focus
// has arrived, so that what the caller does next (reading the focused field) reaches the window.
TEST_F(X11WorkspaceTest, ActivationReturnsOnceASlowWindowManagerHasMovedTheFocus) {
  TestWindow window(*peer, "editor", "Editor", 888);
  TestWindow other(*peer, "other", "Other");
  other.focus();
  auto manager = X11Connection::open(options);
  const Window check = manager->ownWindow();
  XChangeProperty(manager->display(), check, manager->atom("_NET_SUPPORTING_WM_CHECK"), XA_WINDOW,
                  32, PropModeReplace, reinterpret_cast<const unsigned char *>(&check), 1);
  XChangeProperty(manager->display(), manager->rootWindow(),
                  manager->atom("_NET_SUPPORTING_WM_CHECK"), XA_WINDOW, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char *>(&check), 1);
  XSelectInput(manager->display(), manager->rootWindow(), SubstructureRedirectMask);
  XSync(manager->display(), False);
  const Atom activeWindow = manager->atom("_NET_ACTIVE_WINDOW");
  {
    X11EventThread thread(
        manager,
        [&](XEvent &event) {
          if (event.type != ClientMessage || event.xclient.message_type != activeWindow) {
            return;
          }
          // The slowness under test: the focus moves a while after the request.
          std::this_thread::sleep_for(200ms);
          XSetInputFocus(manager->display(), event.xclient.window, RevertToPointerRoot,
                         CurrentTime);
          XSync(manager->display(), False);
        },
        nullptr);
    X11Workspace workspace({options});
    ASSERT_TRUE(workspace.activateApplication(888));
    Window focus = None;
    int revert = 0;
    XGetInputFocus(peer->display(), &focus, &revert);
    EXPECT_EQ(focus, window.window());
  }
  XDeleteProperty(peer->display(), peer->rootWindow(), peer->atom("_NET_SUPPORTING_WM_CHECK"));
  XSync(peer->display(), False);
}

TEST_F(X11WorkspaceTest, WithoutAWindowManagerActivationFocusesTheWindowItself) {
  TestWindow window(*peer, "editor", "Editor", 555);
  X11Workspace workspace({options});
  ASSERT_TRUE(workspace.activateApplication(555));
  Window focus = None;
  int revert = 0;
  XGetInputFocus(peer->display(), &focus, &revert);
  EXPECT_EQ(focus, window.window());
}

TEST(X11WorkspaceNoServerTest, NoDisplayGivesNothingAndRefuses) {
  X11WorkspaceOptions options;
  options.connection.displayName = ":4711";
  X11Workspace workspace(options);
  EXPECT_EQ(workspace.frontmostApplication(), std::nullopt);
  EXPECT_FALSE(workspace.activateApplication(1));
}

} // namespace
} // namespace platform
