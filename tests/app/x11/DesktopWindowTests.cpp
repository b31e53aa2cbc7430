#include "app/presenters/OnboardingWindowController.hpp"
#include "app/presenters/RecordingHUD.hpp"
#include "app/views/MenuBarView.hpp"

#include "tests/app/views/FakeUIModel.hpp"

#include "platform/system/MainExecutor.hpp"
#include "platform/ui/Inspector.hpp"
#include "platform/ui/x11/X11Desktop.hpp"
#include "platform/ui/x11/X11EventPump.hpp"
#include "tests/support/XvfbServer.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xrandr.h>
#include <X11/keysym.h>

namespace murmurquill {
namespace {

namespace ui = platform::ui;

// A second client on the display: the person's other application, and the hand that moves
// the pointer, clicks and types through XTest.
class DesktopWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    const auto display = mqtest::XvfbServer::display();
    if (!display) {
      GTEST_SKIP() << "no Xvfb and no DISPLAY: desktop tests need an X server";
    }
    client = XOpenDisplay(display->c_str());
    ASSERT_NE(client, nullptr) << "cannot open " << *display;
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(client, &event, &error, &major, &minor)) {
      GTEST_SKIP() << "the X server has no XTest extension";
    }
    root = DefaultRootWindow(client);
    desktop = std::make_unique<ui::X11Desktop>(ui::X11Desktop::Options{*display});
  }

  void TearDown() override {
    desktop.reset();
    if (client != nullptr) {
      for (RROutput monitor : monitors) {
        XRRDeleteMonitor(client, root, monitor);
      }
      XSync(client, False);
      XCloseDisplay(client);
    }
  }

  // Splits the root into a left and a right monitor, the left one primary. False when the
  // server cannot define monitors.
  bool splitIntoTwoMonitors() {
    const int width = DisplayWidth(client, DefaultScreen(client));
    const int height = DisplayHeight(client, DefaultScreen(client));
    // The left monitor takes over the server's output, which replaces its automatic monitor.
    int count = 0;
    XRRMonitorInfo *existing = XRRGetMonitors(client, root, True, &count);
    if (existing == nullptr || count != 1 || existing[0].noutput < 1) {
      if (existing != nullptr) {
        XRRFreeMonitors(existing);
      }
      return false;
    }
    RROutput output = existing[0].outputs[0];
    XRRFreeMonitors(existing);
    for (int i = 0; i < 2; ++i) {
      XRRMonitorInfo info{};
      info.name = XInternAtom(client, i == 0 ? "MQ-LEFT" : "MQ-RIGHT", False);
      info.primary = i == 0 ? True : False;
      info.x = i * width / 2;
      info.y = 0;
      info.width = width / 2;
      info.height = height;
      info.mwidth = 300;
      info.mheight = 200;
      info.noutput = i == 0 ? 1 : 0;
      info.outputs = i == 0 ? &output : nullptr;
      XRRSetMonitor(client, root, &info);
      monitors.push_back(info.name);
    }
    XSync(client, False);
    desktop->refreshScreens();
    return desktop->screens().size() == 2;
  }

  // A plain window of another application, mapped and focused.
  ::Window focusedTestWindow() {
    ::Window window = XCreateSimpleWindow(client, root, 40, 40, 200, 120, 0, 0, 0xffffff);
    XMapRaised(client, window);
    XSync(client, False);
    XSetInputFocus(client, window, RevertToParent, CurrentTime);
    XSync(client, False);
    return window;
  }

  // Runs the desktop's events once the server has handled everything the client sent, and
  // waits until it has handled the requests the desktop made in turn.
  void deliver() {
    XSync(client, False);
    desktop->sync();
    desktop->processEvents();
    desktop->sync();
  }

  // Root coordinates of a point of `window`'s content.
  std::pair<int, int> onScreen(const ui::Window &window, ui::Point point) {
    ::Window child = 0;
    int x = 0, y = 0;
    XTranslateCoordinates(client, desktop->nativeWindow(window), root, static_cast<int>(point.x),
                          static_cast<int>(point.y), &x, &y, &child);
    return {x, y};
  }

  void clickAt(std::pair<int, int> at) {
    XTestFakeMotionEvent(client, -1, at.first, at.second, CurrentTime);
    XTestFakeButtonEvent(client, 1, True, CurrentTime);
    XTestFakeButtonEvent(client, 1, False, CurrentTime);
    XSync(client, False);
  }

  ui::Point centreOfText(ui::Window &window, const std::string &text) {
    const auto element = ui::Inspector(window).findText(text);
    EXPECT_TRUE(element.has_value()) << text;
    return element ? ui::Point{element->frame.midX(), element->frame.midY()} : ui::Point{};
  }

  Display *client = nullptr;
  ::Window root = 0;
  std::vector<Atom> monitors;
  std::unique_ptr<ui::X11Desktop> desktop;
};

TEST_F(DesktopWindowTest, HudMapsOnTheScreenUnderThePointerWithoutTakingFocus) {
  if (!splitIntoTwoMonitors()) {
    GTEST_SKIP() << "the X server cannot define RandR monitors";
  }
  const ::Window other = focusedTestWindow();
  const int width = DisplayWidth(client, DefaultScreen(client));
  const int height = DisplayHeight(client, DefaultScreen(client));
  XWarpPointer(client, None, root, 0, 0, 0, 0, width * 3 / 4, height / 2);
  XSync(client, False);

  RecordingHUD hud(*desktop);
  hud.show(HUDMode::recording());
  deliver();

  const ::Window pill = desktop->nativeWindow(*hud.panel());
  ASSERT_NE(pill, 0u);
  XWindowAttributes attributes;
  ASSERT_TRUE(XGetWindowAttributes(client, pill, &attributes));
  EXPECT_EQ(attributes.map_state, IsViewable);
  EXPECT_TRUE(attributes.override_redirect);
  const auto [x, y] = onScreen(*hud.panel(), {0, 0});
  // Centred on the right monitor, 80 points above its bottom.
  EXPECT_EQ(x, width / 2 + (width / 2 - 460) / 2);
  EXPECT_EQ(y, height - 80 - 48);
  EXPECT_EQ(attributes.width, 460);
  EXPECT_EQ(attributes.height, 48);
  XWMHints *hints = XGetWMHints(client, pill);
  ASSERT_NE(hints, nullptr);
  EXPECT_TRUE(hints->flags & InputHint);
  EXPECT_FALSE(hints->input);
  XFree(hints);
  ::Window focus = 0;
  int revert = 0;
  XGetInputFocus(client, &focus, &revert);
  EXPECT_EQ(focus, other);

  // The pill follows the pointer to the other screen on the next show, and hiding unmaps it.
  XWarpPointer(client, None, root, 0, 0, 0, 0, width / 4, height / 2);
  XSync(client, False);
  hud.show(HUDMode::transcribing());
  deliver();
  EXPECT_EQ(onScreen(*hud.panel(), {0, 0}).first, (width / 2 - 460) / 2);
  hud.show(HUDMode::hidden());
  deliver();
  ASSERT_TRUE(XGetWindowAttributes(client, pill, &attributes));
  EXPECT_EQ(attributes.map_state, IsUnmapped);
  XGetInputFocus(client, &focus, &revert);
  EXPECT_EQ(focus, other);
}

class MenuWindowTest : public DesktopWindowTest {
protected:
  void SetUp() override {
    DesktopWindowTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) {
      return;
    }
    core.modelReady.set(true);
    core.inputMonitoring.set(true);
    core.mic.set(3);
    core.accessibility.set(true);
    onboarding =
        std::make_unique<OnboardingWindowController>(*desktop, platform::SteadyClock::system());
    window = std::make_unique<ui::Window>(*desktop, ui::makeRect(100, 100, 280, 400),
                                          ui::kTitled | ui::kClosable);
    window->setTitle("Murmurquill");
    window->setContentView(std::make_unique<ui::HostingView>(std::make_shared<MenuBarView>(
                               core.menuModel(), onboarding->menuOpener(core.onboardingModel()))),
                           /*fitsContent=*/true);
    window->makeKeyAndOrderFront();
    deliver();
  }
  void TearDown() override {
    window.reset();
    onboarding.reset();
    DesktopWindowTest::TearDown();
  }

  testing::FakeUIModel core;
  std::unique_ptr<OnboardingWindowController> onboarding;
  std::unique_ptr<ui::Window> window;
};

TEST_F(MenuWindowTest, ClickOnAButtonRunsItsAction) {
  clickAt(onScreen(*window, centreOfText(*window, "Quit Murmurquill")));
  deliver();
  ASSERT_EQ(core.calls, std::vector<std::string>{"quit"});

  // A click on a row that toggles state redraws the window with the new state.
  EXPECT_TRUE(core.refine.peek());
  clickAt(onScreen(*window, centreOfText(*window, "Refine  Ctrl+Super+R")));
  deliver();
  EXPECT_FALSE(core.refine.peek());
}

// Without a status area the menu window stays open from the start; the setup window then
// registers the login item, and the row on screen follows.
TEST_F(MenuWindowTest, TheLoginRowFollowsTheEntryWhileTheWindowStaysOpen) {
  EXPECT_FALSE(testing::loginRowChecked(ui::Inspector(*window)));
  core.registerLoginItem();
  deliver();
  EXPECT_TRUE(testing::loginRowChecked(ui::Inspector(*window)));
  // What the server shows is redrawn: a click on the row now withdraws the entry.
  clickAt(onScreen(*window, centreOfText(*window, "Open at Login")));
  deliver();
  EXPECT_EQ(core.loginStatus, platform::LoginItemStatus::notRegistered);
  EXPECT_FALSE(testing::loginRowChecked(ui::Inspector(*window)));
}

TEST_F(MenuWindowTest, PressWithoutReleaseInTheWindowIsNoClick) {
  const auto at = onScreen(*window, centreOfText(*window, "Quit Murmurquill"));
  XTestFakeMotionEvent(client, -1, at.first, at.second, CurrentTime);
  XTestFakeButtonEvent(client, 1, True, CurrentTime);
  deliver();
  EXPECT_TRUE(core.calls.empty());
  XTestFakeButtonEvent(client, 1, False, CurrentTime);
  deliver();
  EXPECT_EQ(core.calls, std::vector<std::string>{"quit"});
}

TEST_F(MenuWindowTest, ControlQInTheFocusedWindowQuits) {
  ::Window focus = 0;
  int revert = 0;
  XGetInputFocus(client, &focus, &revert);
  ASSERT_EQ(focus, desktop->nativeWindow(*window)) << "made key without a window manager";
  const KeyCode control = XKeysymToKeycode(client, XK_Control_L);
  const KeyCode q = XKeysymToKeycode(client, XK_q);
  XTestFakeKeyEvent(client, control, True, CurrentTime);
  XTestFakeKeyEvent(client, q, True, CurrentTime);
  XTestFakeKeyEvent(client, q, False, CurrentTime);
  XTestFakeKeyEvent(client, control, False, CurrentTime);
  deliver();
  EXPECT_EQ(core.calls, std::vector<std::string>{"quit"});
}

TEST_F(MenuWindowTest, FocusComingBackFromAnotherApplicationMakesTheAppActiveOnce) {
  int becameActive = 0;
  desktop->setDidBecomeActive([&] { ++becameActive; });
  const ::Window other = focusedTestWindow();
  deliver();
  EXPECT_FALSE(desktop->isActive());
  EXPECT_EQ(becameActive, 0);

  XSetInputFocus(client, desktop->nativeWindow(*window), RevertToParent, CurrentTime);
  deliver();
  EXPECT_TRUE(desktop->isActive());
  EXPECT_EQ(becameActive, 1);

  // Focus already ours: nothing new to report.
  XSetInputFocus(client, desktop->nativeWindow(*window), RevertToParent, CurrentTime);
  deliver();
  EXPECT_EQ(becameActive, 1);

  XSetInputFocus(client, other, RevertToParent, CurrentTime);
  deliver();
  XSetInputFocus(client, desktop->nativeWindow(*window), RevertToParent, CurrentTime);
  deliver();
  EXPECT_EQ(becameActive, 2);
  XDestroyWindow(client, other);
}

TEST_F(MenuWindowTest, TheWindowManagersCloseRequestClosesTheWindow) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = desktop->nativeWindow(*window);
  event.xclient.message_type = XInternAtom(client, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(client, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(client, event.xclient.window, False, NoEventMask, &event);
  deliver();
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(window->closeCount(), 1u);
  XWindowAttributes attributes;
  ASSERT_TRUE(XGetWindowAttributes(client, desktop->nativeWindow(*window), &attributes));
  EXPECT_NE(attributes.map_state, IsViewable);
}

TEST_F(MenuWindowTest, ThePumpRunsClicksOnTheMainExecutor) {
  auto main = std::make_shared<platform::MainExecutor>();
  std::mutex mutex;
  std::condition_variable quitted;
  bool onMain = false;
  bool done = false;
  // The window belongs to the main thread from here on.
  main->post([&] {
    core.calls.clear();
    window->setTitle("Murmurquill");
  });
  main->waitUntilIdle();
  {
    ui::X11EventPump pump(*desktop, main);
    const auto at = onScreen(*window, centreOfText(*window, "About Murmurquill"));
    // Observes the click's effect on the main thread.
    std::function<void()> check;
    check = [&] {
      if (!onboarding->aboutWindow()) {
        main->after(std::chrono::milliseconds(5), check);
        return;
      }
      std::lock_guard lock(mutex);
      onMain = main->isCurrent();
      done = true;
      quitted.notify_all();
    };
    main->post(check);
    clickAt(at);
    std::unique_lock lock(mutex);
    quitted.wait_for(lock, std::chrono::seconds(10), [&] { return done; });
    lock.unlock();
    main->post([] {});
    main->waitUntilIdle();
  }
  EXPECT_TRUE(done);
  EXPECT_TRUE(onMain);
}

} // namespace
} // namespace murmurquill
