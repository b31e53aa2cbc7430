#include "platform/system/TimerQueue.hpp"

#include <chrono>
#include <string>

#include <gtest/gtest.h>

namespace platform {
namespace {

using namespace std::chrono_literals;
using TimePoint = TimerQueue::Clock::time_point;

constexpr TimePoint at(std::chrono::seconds s) { return TimePoint(s); }

// Runs every timer due by `now`, in the order the queue hands them out.
void runDue(TimerQueue &queue, TimePoint now) {
  while (auto work = queue.takeDue(now)) {
    work();
  }
}

TEST(TimerQueueTest, HandsOutDueTimersByDueTimeThenByScheduling) {
  TimerQueue queue;
  std::string order;
  queue.add(at(3s), [&] { order += "c"; });
  queue.add(at(1s), [&] { order += "a"; });
  queue.add(at(2s), [&] { order += "b1"; });
  queue.add(at(2s), [&] { order += "b2"; });
  queue.add(at(9s), [&] { order += "late"; });
  EXPECT_EQ(queue.nextDue(), at(1s));
  runDue(queue, at(3s));
  EXPECT_EQ(order, "ab1b2c");
  EXPECT_EQ(queue.nextDue(), at(9s));
  EXPECT_EQ(queue.liveCount(), 1u);
}

TEST(TimerQueueTest, CancelledTimersAreNotCountedWaitedForOrRun) {
  TimerQueue queue;
  std::string order;
  queue.add(at(1s), [&] { order += "cancelled"; }).cancel();
  queue.add(at(2s), [&] { order += "kept"; });
  EXPECT_EQ(queue.liveCount(), 1u);
  EXPECT_EQ(queue.nextDue(), at(2s));
  EXPECT_FALSE(queue.takeDue(at(1s)));
  runDue(queue, at(2s));
  EXPECT_EQ(order, "kept");
  EXPECT_EQ(queue.nextDue(), std::nullopt);
}

TEST(TimerQueueTest, ATimerCancelledAfterItWasTakenDoesNothing) {
  TimerQueue queue;
  bool ran = false;
  const TimerHandle handle = queue.add(at(1s), [&] { ran = true; });
  auto work = queue.takeDue(at(1s));
  ASSERT_TRUE(work);
  handle.cancel();
  work();
  EXPECT_FALSE(ran);
}

} // namespace
} // namespace platform
