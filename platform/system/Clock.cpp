#include "platform/system/Clock.hpp"

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
