#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

namespace platform {

// Monotonic time for measuring durations and scheduling timers. Implementations are
// thread-safe.
class SteadyClock {
public:
  using duration = std::chrono::steady_clock::duration;
  using time_point = std::chrono::steady_clock::time_point;

  virtual ~SteadyClock() = default;
  virtual time_point now() const = 0;

  // The process's monotonic clock, shared.
  static std::shared_ptr<SteadyClock> system();
};

// Calendar time for displayed dates and file stamps. Implementations are thread-safe.
class WallClock {
public:
  using time_point = std::chrono::system_clock::time_point;

  virtual ~WallClock() = default;
  virtual time_point now() const = 0;

  // The process's real-time clock, shared.
  static std::shared_ptr<WallClock> system();
};

// Seconds from 2001-01-01 00:00:00 UTC to `time`: the reference date of the absolute times in
// timing records, the same on every machine so that records made apart can be merged.
double absoluteTime(WallClock::time_point time);

// `time` as logs print a date, in UTC: "2026-12-10 15:22:52 +0000".
std::string dateDescription(WallClock::time_point time);

// A steady clock that moves only when told to; for tests.
class ManualSteadyClock final : public SteadyClock {
public:
  explicit ManualSteadyClock(time_point start = time_point{}) : now_(start) {}

  time_point now() const override;
  void advance(duration by);
  void set(time_point to);

private:
  mutable std::mutex mutex_;
  time_point now_;
};

// A wall clock that moves only when told to; for tests.
class ManualWallClock final : public WallClock {
public:
  explicit ManualWallClock(time_point start = time_point{}) : now_(start) {}

  time_point now() const override;
  void advance(std::chrono::system_clock::duration by);
  void set(time_point to);

private:
  mutable std::mutex mutex_;
  time_point now_;
};

} // namespace platform
