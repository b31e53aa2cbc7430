#include "platform/system/Clock.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace platform {
namespace {

TEST(ClockTest, AbsoluteTimesCountFrom2001AndDatesPrintInUtc) {
  struct Case {
    long long unixSeconds;
    double absolute;
    const char *date;
  };
  const std::vector<Case> cases = {
      {978307200, 0.0, "2001-01-01 00:00:00 +0000"},
      {978307199, -1.0, "2000-12-31 23:59:59 +0000"},
      {1796983200, 818676000.0, "2026-12-11 10:00:00 +0000"},
  };
  for (const auto &c : cases) {
    const WallClock::time_point time{std::chrono::seconds(c.unixSeconds)};
    EXPECT_DOUBLE_EQ(absoluteTime(time), c.absolute) << c.date;
    EXPECT_EQ(dateDescription(time), c.date);
  }
  // Fractions of a second are kept in the absolute time.
  EXPECT_DOUBLE_EQ(absoluteTime(WallClock::time_point{std::chrono::milliseconds(978307200250)}),
                   0.25);
}

} // namespace
} // namespace platform
