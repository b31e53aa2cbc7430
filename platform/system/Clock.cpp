#include "platform/system/Clock.hpp"

#include <ctime>
#include <iomanip>
#include <sstream>

namespace platform {

namespace {

class SystemSteadyClock final : public SteadyClock {
public:
  time_point now() const override { return std::chrono::steady_clock::now(); }
};

class SystemWallClock final : public WallClock {
public:
  time_point now() const override { return std::chrono::system_clock::now(); }
};

} // namespace

std::shared_ptr<SteadyClock> SteadyClock::system() {
  static const auto clock = std::make_shared<SystemSteadyClock>();
  return clock;
}

std::shared_ptr<WallClock> WallClock::system() {
  static const auto clock = std::make_shared<SystemWallClock>();
  return clock;
}

double absoluteTime(WallClock::time_point time) {
  // 2001-01-01 00:00:00 UTC in seconds since the Unix epoch.
  constexpr double kReferenceDate = 978307200.0;
  return std::chrono::duration<double>(time.time_since_epoch()).count() - kReferenceDate;
}

std::string dateDescription(WallClock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  std::ostringstream out;
  out << std::put_time(&utc, "%Y-%m-%d %H:%M:%S +0000");
  return out.str();
}

ManualSteadyClock::time_point ManualSteadyClock::now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

void ManualSteadyClock::advance(duration by) {
  std::lock_guard lock(mutex_);
  now_ += by;
}

void ManualSteadyClock::set(time_point to) {
  std::lock_guard lock(mutex_);
  now_ = to;
}

ManualWallClock::time_point ManualWallClock::now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

void ManualWallClock::advance(std::chrono::system_clock::duration by) {
  std::lock_guard lock(mutex_);
  now_ += by;
}

void ManualWallClock::set(time_point to) {
  std::lock_guard lock(mutex_);
  now_ = to;
}

} // namespace platform
