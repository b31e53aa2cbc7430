#include "platform/input/x11/X11EventTapService.hpp"

#include "platform/system/MainExecutor.hpp"
#include "tests/platform/x11/DesktopTest.hpp"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace platform {
namespace {

using namespace std::chrono_literals;

// Taps on a real main executor; the test presses keys through XTest on its own connection.
class X11EventTapServiceTest : public testing::DesktopTest {
protected:
  void SetUp() override {
    DesktopTest::SetUp();
    if (IsSkipped()) {
      return;
    }
    main = std::make_shared<MainExecutor>();
    service = std::make_unique<X11EventTapService>(main, X11EventTapServiceOptions{options});
  }
  void TearDown() override {
    if (main) {
      main->post([this] {
        tap.reset();
        service.reset();
      });
      main->waitUntilIdle();
    }
  }

  // Creates and enables a tap on the main thread that records what it receives.
  void startTap(std::uint64_t mask) {
    main->post([this, mask] {
      EventTapOptions options;
      options.eventMask = mask;
      tap = service->createTap(options, [this](const KeyEvent &event) {
        EXPECT_TRUE(main->isCurrent());
        std::lock_guard lock(mutex);
        events.push_back(event);
        changed.notify_all();
      });
      if (tap) {
        tap->setEnabled(true);
      }
    });
    main->waitUntilIdle();
    ASSERT_NE(tap, nullptr);
  }

  void fake(KeySym keysym, bool down) {
    const unsigned keycode = XKeysymToKeycode(peer->display(), keysym);
    ASSERT_NE(keycode, 0u) << "no key for keysym " << keysym;
    XTestFakeKeyEvent(peer->display(), keycode, down ? True : False, CurrentTime);
    XSync(peer->display(), False);
  }

  std::vector<KeyEvent> waitFor(std::size_t count) {
    std::unique_lock lock(mutex);
    changed.wait_for(lock, 10s, [&] { return events.size() >= count; });
    return events;
  }

  std::shared_ptr<MainExecutor> main;
  std::unique_ptr<X11EventTapService> service;
  std::unique_ptr<EventTap> tap;
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<KeyEvent> events;
};

constexpr std::uint64_t kKeyMask =
    eventMaskBit(EventType::keyDown) | eventMaskBit(EventType::flagsChanged);

struct ModifierCase {
  const char *name;
  KeySym keysym;
  std::int64_t keyCode;
  std::uint64_t flags;
};

class X11ModifierTest : public X11EventTapServiceTest,
                        public ::testing::WithParamInterface<ModifierCase> {};

TEST_P(X11ModifierTest, PressAndReleaseArriveAsFlagsChangedOfTheRightSide) {
  const ModifierCase &c = GetParam();
  startTap(kKeyMask);
  fake(c.keysym, true);
  fake(c.keysym, false);
  const auto got = waitFor(2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].type, EventType::flagsChanged);
  EXPECT_EQ(got[0].keyCode, c.keyCode);
  EXPECT_EQ(got[0].flags, c.flags);
  EXPECT_EQ(got[1].type, EventType::flagsChanged);
  EXPECT_EQ(got[1].keyCode, c.keyCode);
  EXPECT_EQ(got[1].flags, 0u);
}

using namespace EventFlags;
INSTANTIATE_TEST_SUITE_P(
    Sides, X11ModifierTest,
    ::testing::Values(ModifierCase{"RightAlt", XK_Alt_R, 61, maskAlternate | deviceRightAlternate},
                      ModifierCase{"LeftAlt", XK_Alt_L, 58, maskAlternate | deviceLeftAlternate},
                      ModifierCase{"RightSuper", XK_Super_R, 54, maskCommand | deviceRightCommand},
                      ModifierCase{"LeftControl", XK_Control_L, 59,
                                   maskControl | deviceLeftControl},
                      ModifierCase{"RightShift", XK_Shift_R, 60, maskShift | deviceRightShift}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(X11EventTapServiceTest, ChordKeyDownCarriesTheHeldModifiersAndKeyUpIsNotInTheMask) {
  startTap(kKeyMask);
  fake(XK_Control_L, true);
  fake(XK_Super_L, true);
  fake(XK_r, true);
  fake(XK_r, false);
  fake(XK_Super_L, false);
  fake(XK_Control_L, false);
  const auto got = waitFor(5);
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[2].type, EventType::keyDown);
  EXPECT_EQ(got[2].keyCode, 15);
  EXPECT_EQ(got[2].flags, maskControl | deviceLeftControl | maskCommand | deviceLeftCommand);
  EXPECT_EQ(got[3].type, EventType::flagsChanged);
  EXPECT_EQ(got[4].flags, 0u);
}

TEST_F(X11EventTapServiceTest, ADisabledTapReceivesNothingWhileAnotherDoes) {
  startTap(kKeyMask);
  std::unique_ptr<EventTap> silent;
  int silentEvents = 0;
  main->post([&] {
    EventTapOptions options;
    options.eventMask = kKeyMask;
    silent = service->createTap(options, [&](const KeyEvent &) { ++silentEvents; });
    silent->setEnabled(true);
    silent->setEnabled(false);
  });
  main->waitUntilIdle();
  fake(XK_Alt_R, true);
  fake(XK_Alt_R, false);
  ASSERT_EQ(waitFor(2).size(), 2u);
  main->post([&] {
    EXPECT_FALSE(silent->isEnabled());
    silent.reset();
  });
  main->waitUntilIdle();
  EXPECT_EQ(silentEvents, 0);
}

TEST_F(X11EventTapServiceTest, LostConnectionDisablesTheTapAndEnablingReconnects) {
  startTap(kKeyMask);
  std::shared_ptr<X11Connection> connection;
  main->post([&] { connection = service->connection(); });
  main->waitUntilIdle();
  ASSERT_NE(connection, nullptr);
  XKillClient(peer->display(), connection->ownWindow());
  XSync(peer->display(), False);
  auto got = waitFor(1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].type, EventType::tapDisabledByTimeout);
  bool enabled = true;
  main->post([&] { enabled = tap->isEnabled(); });
  main->waitUntilIdle();
  EXPECT_FALSE(enabled);
  connection.reset();

  main->post([&] {
    tap->setEnabled(true);
    enabled = tap->isEnabled();
  });
  main->waitUntilIdle();
  EXPECT_TRUE(enabled);
  fake(XK_Alt_R, true);
  fake(XK_Alt_R, false);
  got = waitFor(3);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[1].type, EventType::flagsChanged);
  EXPECT_EQ(got[1].keyCode, 61);
}

TEST(X11EventTapServiceNoServerTest, RefusesTheTapWhenTheDisplayCannotBeOpened) {
  auto main = std::make_shared<MainExecutor>();
  X11EventTapServiceOptions options;
  options.connection.displayName = ":4711";
  X11EventTapService service(main, options);
  EXPECT_EQ(service.createTap({}, [](const KeyEvent &) {}), nullptr);
}

} // namespace
} // namespace platform
