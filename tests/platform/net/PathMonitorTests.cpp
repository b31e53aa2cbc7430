#include "platform/net/PathMonitor.hpp"

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>

#include <gtest/gtest.h>

namespace {

using platform::PathMonitor;
using namespace std::chrono_literals;

// The system monitor delivers the current path on start() and again on every start() while
// running; once cancelled (and released) it never calls its handler again, even when asked to
// start.
TEST(PathMonitorTest, SystemMonitorReportsAPathAndStopsWhenReleased) {
  auto monitor = PathMonitor::makeSystemMonitor();
  std::mutex mutex;
  int deliveries = 0;
  std::promise<void> first;
  std::promise<void> second;
  monitor->setUpdateHandler([&](const PathMonitor::Path &) {
    std::lock_guard lock(mutex);
    ++deliveries;
    if (deliveries == 1) {
      first.set_value();
    } else if (deliveries == 2) {
      second.set_value();
    }
  });
  monitor->start();
  // A deadline, not a pause: a monitor that never reports fails here instead of hanging.
  ASSERT_EQ(first.get_future().wait_for(30s), std::future_status::ready);
  monitor->start(); // asks for the current path again
  ASSERT_EQ(second.get_future().wait_for(30s), std::future_status::ready);

  monitor->cancel(); // waits until no handler call is running
  int atCancel = 0;
  {
    std::lock_guard lock(mutex);
    atCancel = deliveries;
  }
  monitor->start(); // cancelled for good: delivers nothing
  monitor.reset();
  std::lock_guard lock(mutex);
  EXPECT_EQ(deliveries, atCancel);
}

} // namespace
