#include "platform/system/ThreadPool.hpp"

#include "platform/system/ManualExecutor.hpp"
#include "platform/system/RunInBackground.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace platform {
namespace {

using namespace std::chrono_literals;

TEST(ThreadPoolTest, RunsWorkOnItsOwnThreads) {
  ThreadPool pool(ThreadPool::Options{.threadCount = 2});
  EXPECT_FALSE(pool.isCurrent());
  std::promise<bool> onPool;
  pool.post([&] { onPool.set_value(pool.isCurrent()); });
  EXPECT_TRUE(onPool.get_future().get());
}

// Work that waits for other work on the same pool finishes even when it holds every thread the
// pool started with: the pool grows instead of deadlocking.
TEST(ThreadPoolTest, BlockingWorkThatWaitsForLaterWorkDoesNotStarveThePool) {
  ThreadPool pool(ThreadPool::Options{.threadCount = 1, .maxThreadCount = 4});
  std::promise<int> inner;
  std::promise<int> outer;
  pool.post([&] {
    std::promise<int> nested;
    pool.post([&] { nested.set_value(41); });
    outer.set_value(nested.get_future().get() + 1);
  });
  EXPECT_EQ(outer.get_future().get(), 42);
  EXPECT_GE(pool.threadCount(), 2u);
  EXPECT_LE(pool.threadCount(), 4u);
}

TEST(ThreadPoolTest, WorkThatThrowsIsReportedAndLaterWorkStillRuns) {
  std::promise<std::string> reported;
  ThreadPool pool(ThreadPool::Options{
      .threadCount = 1, .maxThreadCount = 1, .onUncaughtError = [&](std::exception_ptr error) {
        try {
          std::rethrow_exception(error);
        } catch (const std::exception &exception) {
          reported.set_value(exception.what());
        }
      }});
  std::promise<void> later;
  pool.post([] { throw std::runtime_error("pool work failed"); });
  pool.post([&] { later.set_value(); });
  EXPECT_EQ(reported.get_future().get(), "pool work failed");
  later.get_future().get();
}

TEST(ThreadPoolTest, TimersRunWhenDueAndCancelledOnesNever) {
  ThreadPool pool(ThreadPool::Options{.threadCount = 1, .maxThreadCount = 1});
  int cancelledRuns = 0;
  std::promise<std::chrono::steady_clock::time_point> fired;
  // The pool's only thread is held until the cancel, so a loaded machine cannot run
  // the 1 ms timer before it.
  std::promise<void> release;
  pool.post([held = release.get_future().share()] { held.wait(); });
  const auto start = pool.now();
  TimerHandle cancelled = pool.after(1ms, [&] { ++cancelledRuns; });
  cancelled.cancel();
  release.set_value();
  pool.after(2ms, [&] { fired.set_value(pool.now()); });
  EXPECT_GE(fired.get_future().get() - start, 2ms);
  EXPECT_EQ(cancelledRuns, 0);
}

TEST(ThreadPoolTest, DestructionRunsTheWorkAlreadyPosted) {
  int runs = 0;
  {
    ThreadPool pool(ThreadPool::Options{.threadCount = 1, .maxThreadCount = 1});
    std::promise<void> release;
    auto released = release.get_future().share();
    pool.post([released] { released.wait(); });
    for (int i = 0; i < 10; ++i) {
      pool.post([&runs] { ++runs; });
    }
    release.set_value();
  }
  EXPECT_EQ(runs, 10);
}

TEST(RunInBackgroundTest, PostsTheValueBackToTheTargetExecutor) {
  ThreadPool pool(ThreadPool::Options{.threadCount = 1});
  ManualExecutor main;
  std::promise<void> posted;
  std::vector<int> results;
  runInBackground(
      pool,
      [&] {
        // Runs on the pool: nothing reaches the main executor before the work ends.
        EXPECT_TRUE(pool.isCurrent());
        return 7;
      },
      main,
      [&](std::future<int> outcome) {
        EXPECT_TRUE(main.isCurrent());
        results.push_back(outcome.get());
      });
  pool.post([&] { posted.set_value(); });
  posted.get_future().wait();
  // The completion waits for the main executor to run it.
  while (main.pendingCount() == 0) {
    std::this_thread::yield();
  }
  EXPECT_TRUE(results.empty());
  EXPECT_EQ(main.runUntilIdle(), 1u);
  EXPECT_EQ(results, std::vector<int>{7});
}

TEST(RunInBackgroundTest, PostsTheErrorBackToTheTargetExecutor) {
  ThreadPool pool(ThreadPool::Options{.threadCount = 1});
  ManualExecutor main;
  std::promise<std::string> error;
  runInBackground(
      pool, []() -> void { throw std::runtime_error("load failed"); }, main,
      [&](std::future<void> outcome) {
        try {
          outcome.get();
          error.set_value("no error");
        } catch (const std::runtime_error &thrown) {
          error.set_value(thrown.what());
        }
      });
  auto reported = error.get_future();
  while (reported.wait_for(0s) != std::future_status::ready) {
    main.runUntilIdle();
    std::this_thread::yield();
  }
  EXPECT_EQ(reported.get(), "load failed");
}

TEST(RunOnPoolTest, TheFutureHoldsTheValueOrTheError) {
  ThreadPool pool(ThreadPool::Options{.threadCount = 1});
  EXPECT_EQ(runOnPool(pool, [] { return std::string("ready"); }).get(), "ready");
  auto failed = runOnPool(pool, []() -> int { throw std::invalid_argument("bad input"); });
  EXPECT_THROW(failed.get(), std::invalid_argument);
}

// An owner whose work is still queued when it goes: the work finds it gone and touches
// nothing (AddressSanitizer reports a use after free otherwise).
TEST(BackgroundScopeTest, WorkOfADestroyedOwnerDoesNotTouchIt) {
  struct Owner {
    int touched = 0;
    BackgroundScope work; // last: closed before `touched` goes
  };
  ManualExecutor pool;
  auto owner = std::make_unique<Owner>();
  owner->work.post(pool, [raw = owner.get()] { ++raw->touched; });
  owner.reset();
  EXPECT_EQ(pool.runUntilIdle(), 1u);
}

TEST(BackgroundScopeTest, WorkRunsWhileTheScopeIsOpenAndNeverAfter) {
  ManualExecutor pool;
  int runs = 0;
  BackgroundScope scope;
  scope.post(pool, [&] { ++runs; });
  pool.runUntilIdle();
  EXPECT_EQ(runs, 1);
  auto dropped = scope.run(pool, [&] { return ++runs; });
  scope.close();
  pool.runUntilIdle();
  EXPECT_EQ(runs, 1);
  EXPECT_THROW(dropped.get(), std::future_error);
}

// Work running when the scope closes is waited for: a worker is inside it until released, and
// the close cannot have returned before.
TEST(BackgroundScopeTest, ClosingWaitsForRunningWork) {
  ThreadPool pool(ThreadPool::Options{.threadCount = 1});
  std::promise<void> entered;
  std::promise<void> release;
  auto released = release.get_future().share();
  std::atomic<bool> finished{false};
  BackgroundScope scope;
  scope.post(pool, [&] {
    entered.set_value();
    released.wait();
    finished = true;
  });
  entered.get_future().wait();
  std::thread closer([&] { scope.close(); });
  release.set_value();
  closer.join();
  EXPECT_TRUE(finished);
}

// A pool that never takes the work up: the caller runs it, once, and the pool's copy later
// finds the frame it borrowed gone without touching it.
TEST(RunBesideTest, TheCallerRunsWorkNoWorkerTookUp) {
  ManualExecutor pool;
  int beside = 0;
  int here = 0;
  runBeside(
      pool, [&] { ++beside; }, [&] { ++here; });
  EXPECT_EQ(beside, 1);
  EXPECT_EQ(here, 1);
  pool.runUntilIdle();
  EXPECT_EQ(beside, 1);
}

TEST(RunBesideTest, ErrorsOfEitherSideReachTheCaller) {
  ThreadPool pool(ThreadPool::Options{.threadCount = 1});
  EXPECT_THROW(runBeside(
                   pool, [] { throw std::invalid_argument("beside"); }, [] {}),
               std::invalid_argument);
  EXPECT_THROW(runBeside(
                   pool, [] {}, [] { throw std::out_of_range("here"); }),
               std::out_of_range);
}

} // namespace
} // namespace platform
