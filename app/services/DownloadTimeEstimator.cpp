#include "app/services/DownloadTimeEstimator.hpp"

#include <cmath>

namespace murmurquill {

DownloadTimeEstimator::DownloadTimeEstimator(std::shared_ptr<platform::SteadyClock> clock)
    : clock_(std::move(clock)), start_(clock_->now()) {}

std::optional<double> DownloadTimeEstimator::secondsRemaining(double fractionCompleted) const {
  const double elapsed = std::chrono::duration<double>(clock_->now() - start_).count();
  if (!(fractionCompleted > 0.0) || !(fractionCompleted < 1.0) || !(elapsed > 0.0)) {
    return std::nullopt;
  }
  return elapsed * (1.0 - fractionCompleted) / fractionCompleted;
}

} // namespace murmurquill
