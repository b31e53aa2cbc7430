#pragma once

#include "platform/ui/HostingView.hpp"

#include <vector>

namespace mqtest {

// Every animated change the hosting views of this thread start while the log lives, in order.
// One log at a time per thread.
class AnimationLog {
public:
  AnimationLog();
  ~AnimationLog();
  AnimationLog(const AnimationLog &) = delete;
  AnimationLog &operator=(const AnimationLog &) = delete;

  const std::vector<platform::ui::AnimatedChange> &changes() const { return changes_; }

private:
  std::vector<platform::ui::AnimatedChange> changes_;
};

} // namespace mqtest
