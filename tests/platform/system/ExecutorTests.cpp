#include "platform/system/EventPump.hpp"
#include "platform/system/MainExecutor.hpp"
#include "platform/system/ManualExecutor.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {
namespace {

using namespace std::chrono_literals;

std::chrono::milliseconds sinceStart(const ManualExecutor &executor) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(executor.now().time_since_epoch());
}

TEST(ManualExecutorTest, TimersFireInDueOrderAtTheirVirtualTimes) {
  ManualExecutor executor;
  std::vector<std::pair<std::string, std::chrono::milliseconds>> fired;
  auto record = [&](std::string name) {
    return [&, name] { fired.emplace_back(name, sinceStart(executor)); };
  };
  executor.after(3500ms, record("transient"));
  executor.after(150ms, record("restore"));
  executor.after(150ms, record("restore-2")); // same due time: scheduling order
  executor.after(30s, record("refine-expiry"));
  executor.post(record("posted"));

  EXPECT_EQ(executor.runUntilIdle(), 1u); // only the posted work; time does not move
  EXPECT_EQ(sinceStart(executor), 0ms);

  // A timer fires exactly when its due time is reached, not a tick earlier.
  EXPECT_EQ(executor.advance(149ms), 0u);
  EXPECT_EQ(executor.advance(1ms), 2u);
  EXPECT_EQ(executor.advance(3349ms), 0u);
  EXPECT_EQ(executor.advance(1ms), 1u);
  EXPECT_EQ(executor.advance(26499ms), 0u);
  EXPECT_EQ(sinceStart(executor), 29999ms);
  EXPECT_EQ(executor.advance(1h), 1u);
  EXPECT_EQ(sinceStart(executor), 3629999ms);

  const std::vector<std::pair<std::string, std::chrono::milliseconds>> expected = {
      {"posted", 0ms},
      {"restore", 150ms},
      {"restore-2", 150ms},
      {"transient", 3500ms},
      {"refine-expiry", 30000ms}};
  EXPECT_EQ(fired, expected);
  EXPECT_EQ(executor.pendingCount(), 0u);
}

TEST(ManualExecutorTest, CancelledTimerNeverFires) {
  ManualExecutor executor;
  int older = 0;
  int newer = 0;
  TimerHandle first = executor.after(3s, [&] { ++older; });
  executor.advance(1s);
  first.cancel(); // a newer transient message replaces the older one
  executor.after(3s, [&] { ++newer; });
  EXPECT_EQ(executor.pendingCount(), 1u);
  EXPECT_TRUE(first.isValid());
  EXPECT_TRUE(first.isCancelled());

  executor.advance(10s);
  EXPECT_EQ(older, 0);
  EXPECT_EQ(newer, 1);
  first.cancel(); // cancelling again, or after the fact, is harmless
  TimerHandle().cancel();
}

TEST(ManualExecutorTest, WorkQueuedByWorkRunsInTheSameAdvance) {
  ManualExecutor executor;
  std::vector<std::pair<std::string, std::chrono::milliseconds>> fired;
  executor.after(1s, [&] {
    fired.emplace_back("outer", sinceStart(executor));
    executor.post([&] { fired.emplace_back("posted-by-outer", sinceStart(executor)); });
    executor.after(500ms, [&] { fired.emplace_back("timer-by-outer", sinceStart(executor)); });
    executor.after(5s, [&] { fired.emplace_back("too-late", sinceStart(executor)); });
  });
  executor.advance(2s);
  const std::vector<std::pair<std::string, std::chrono::milliseconds>> expected = {
      {"outer", 1000ms}, {"posted-by-outer", 1000ms}, {"timer-by-outer", 1500ms}};
  EXPECT_EQ(fired, expected);
  EXPECT_TRUE(executor.hasPendingTimers());
  EXPECT_EQ(sinceStart(executor), 2000ms);
}

TEST(ManualExecutorTest, ZeroAndNegativeDelaysRunWithoutAdvancing) {
  ManualExecutor executor;
  int runs = 0;
  executor.after(0ms, [&] { ++runs; });
  executor.after(-5ms, [&] { ++runs; });
  EXPECT_EQ(executor.runUntilIdle(), 2u);
  EXPECT_EQ(runs, 2);
  EXPECT_TRUE(executor.isCurrent());
}

TEST(MainExecutorTest, RunsPostedWorkInOrderOnItsOwnThread) {
  MainExecutor executor;
  EXPECT_FALSE(executor.isCurrent());
  std::vector<int> order;
  std::promise<bool> onExecutor;
  for (int i = 0; i < 100; ++i) {
    executor.post([&order, i] { order.push_back(i); });
  }
  executor.post([&] { onExecutor.set_value(executor.isCurrent()); });
  EXPECT_TRUE(onExecutor.get_future().get());
  executor.waitUntilIdle();
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
  }
}

TEST(MainExecutorTest, TimersRunInDueOrderAndCancelledOnesNever) {
  std::vector<int> order;
  int cancelledRuns = 0;
  {
    MainExecutor executor;
    std::promise<void> done;
    // Scheduled from the executor's own thread, so no timer can run in between; the
    // 100 ms steps keep the due order even when a loaded machine pauses this thread.
    executor.post([&] {
      executor.after(300ms, [&] {
        order.push_back(3);
        done.set_value();
      });
      executor.after(100ms, [&] { order.push_back(1); });
      executor.after(200ms, [&] { order.push_back(2); });
      TimerHandle cancelled = executor.after(100ms, [&] { ++cancelledRuns; });
      cancelled.cancel();
      executor.after(1h, [&] { ++cancelledRuns; }); // dropped with the executor
    });
    done.get_future().wait();
  }
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(cancelledRuns, 0);
}

TEST(MainExecutorTest, WorkThatThrowsIsReportedAndTheExecutorKeepsRunning) {
  std::vector<std::string> reported;
  MainExecutor executor([&](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception &exception) {
      reported.emplace_back(exception.what());
    }
  });
  int after = 0;
  executor.post([] { throw std::runtime_error("first"); });
  executor.after(1ms, [] { throw std::logic_error("timer"); });
  std::promise<void> done;
  executor.after(2ms, [&] {
    ++after;
    done.set_value();
  });
  done.get_future().wait();
  executor.waitUntilIdle();
  EXPECT_EQ(reported, (std::vector<std::string>{"first", "timer"}));
  EXPECT_EQ(after, 1);
}

// The last owner of an executor can be something its own work held: the executor then dies on
// its own thread, which must end without joining itself (std::system_error, an abort).
TEST(MainExecutorTest, ReleasedLastByItsOwnWorkItEndsWithoutJoiningItself) {
  struct LastOwner {
    std::shared_ptr<MainExecutor> executor;
    std::promise<void> *released = nullptr;
    ~LastOwner() {
      executor.reset();
      released->set_value();
    }
  };
  std::promise<void> released;
  std::promise<void> gate;
  auto executor = std::make_shared<MainExecutor>();
  bool ranAfter = false;
  executor->post([&gate] { gate.get_future().wait(); });
  auto owner = std::make_shared<LastOwner>();
  owner->executor = executor;
  owner->released = &released;
  executor->post([owner = std::move(owner)] {});
  executor->post([&ranAfter] { ranAfter = true; }); // dropped: the executor is gone by then
  executor.reset();
  gate.set_value();
  released.get_future().wait();
  EXPECT_FALSE(ranAfter);
}

// An event pump's queued handling must not own the executor it is queued on: a pump destroyed
// with its handling still queued would otherwise leave the executor owning itself.
TEST(EventPumpTest, QueuedHandlingDoesNotKeepTheExecutorAlive) {
  auto executor = std::make_shared<ManualExecutor>();
  const std::weak_ptr<ManualExecutor> weak = executor;
  const int fd = eventfd(0, EFD_CLOEXEC); // never readable: only requestHandling posts
  int handled = 0;
  {
    EventPump pump(
        fd, [&handled] { ++handled; }, executor);
    pump.requestHandling();
  }
  executor.reset();
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(handled, 0);
  close(fd);
}

TEST(ManualExecutorTest, WorkThatThrowsReachesTheDriverAndTheQueueStays) {
  ManualExecutor executor;
  int runs = 0;
  executor.post([] { throw std::runtime_error("boom"); });
  executor.post([&] { ++runs; });
  EXPECT_THROW(executor.runUntilIdle(), std::runtime_error);
  EXPECT_EQ(executor.pendingCount(), 1u);
  EXPECT_EQ(executor.runUntilIdle(), 1u);
  EXPECT_EQ(runs, 1);
}

} // namespace
} // namespace platform
