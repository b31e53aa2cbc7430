#include "platform/x11/X11Connection.hpp"
#include "platform/x11/X11EventThread.hpp"

#include "tests/platform/x11/DesktopTest.hpp"

#include <X11/Xlib.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace platform {
namespace {

using X11ConnectionTest = testing::DesktopTest;

TEST(X11ConnectionOpenTest, UnknownDisplayThrowsNamingIt) {
  X11ConnectionOptions options;
  options.displayName = ":4711";
  try {
    X11Connection::open(options);
    FAIL() << "opened a display that does not exist";
  } catch (const X11Error &error) {
    EXPECT_STREQ(error.what(), "Cannot open the X display ':4711'");
  }
}

TEST_F(X11ConnectionTest, InternsAtomsOnceAndNamesThem) {
  const X11Id atom = peer->atom("_MURMURQUILL_TEST");
  EXPECT_NE(atom, 0u);
  EXPECT_EQ(peer->atom("_MURMURQUILL_TEST"), atom);
  EXPECT_EQ(peer->atomName(atom), "_MURMURQUILL_TEST");
  EXPECT_EQ(peer->atomName(0x7fffff), "");
}

TEST_F(X11ConnectionTest, ServerTimeMovesForward) {
  const unsigned long first = peer->serverTime();
  const unsigned long second = peer->serverTime();
  EXPECT_NE(first, 0u);
  EXPECT_GE(second, first);
}

TEST_F(X11ConnectionTest, ErrorTrapReportsAProtocolErrorWithoutEndingTheProcess) {
  X11Connection::ErrorTrap trap(*peer);
  XMapWindow(peer->display(), 0x7ffffe);
  EXPECT_EQ(trap.finish(), BadWindow);
  X11Connection::ErrorTrap clean(*peer);
  XMapWindow(peer->display(), peer->ownWindow());
  EXPECT_EQ(clean.finish(), 0);
}

TEST_F(X11ConnectionTest, KilledClientIsLostAndTheEventThreadSaysSoOnce) {
  auto victim = X11Connection::open(options);
  std::mutex mutex;
  std::condition_variable changed;
  int lostCalls = 0;
  {
    X11EventThread thread(
        victim, [](_XEvent &) {},
        [&] {
          std::lock_guard lock(mutex);
          ++lostCalls;
          changed.notify_all();
        });
    XKillClient(peer->display(), victim->ownWindow());
    XSync(peer->display(), False);
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return lostCalls > 0; }));
  }
  EXPECT_EQ(lostCalls, 1);
  EXPECT_TRUE(victim->isLost());
  EXPECT_EQ(victim->serverTime(), 0u);
  X11Connection::ErrorTrap trap(*victim);
  EXPECT_NE(trap.finish(), 0);
}

} // namespace
} // namespace platform
