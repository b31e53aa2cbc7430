#pragma once

#include "platform/system/Clock.hpp"

#include <memory>
#include <optional>

namespace murmurquill {

// Estimates the time a download has left from the share it has done and the time that took
// since the estimator was made (the download's start), assuming the rest goes at the same
// average pace. Thread-safe: reports may come from any download thread.
class DownloadTimeEstimator {
public:
  explicit DownloadTimeEstimator(std::shared_ptr<platform::SteadyClock> clock);

  // Seconds left after `fractionCompleted` (0...1) was done; absent before any share is done
  // or any time has passed, and once it is all done.
  std::optional<double> secondsRemaining(double fractionCompleted) const;

private:
  std::shared_ptr<platform::SteadyClock> clock_;
  platform::SteadyClock::time_point start_;
};

} // namespace murmurquill
