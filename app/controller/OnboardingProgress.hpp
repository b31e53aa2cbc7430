#pragma once

#include <cstdint>
#include <optional>

namespace murmurquill {

// The setup window's progress, kept in the "onboardingComplete" and "onboardingResumePage"
// settings. Main thread only.
class OnboardingProgress {
public:
  virtual ~OnboardingProgress() = default;

  virtual bool onboardingComplete() const = 0;
  virtual void setOnboardingComplete(bool complete) = 0;
  // The page a relaunch resumes on.
  virtual std::optional<std::int64_t> resumePage() const = 0;
  virtual void setResumePage(std::int64_t page) = 0;
  virtual void removeResumePage() = 0;
};

} // namespace murmurquill
