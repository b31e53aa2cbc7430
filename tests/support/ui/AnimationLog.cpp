#include "tests/support/ui/AnimationLog.hpp"

namespace mqtest {

AnimationLog::AnimationLog() {
  platform::ui::HostingView::setAnimationObserver(
      [this](const platform::ui::AnimatedChange &change) { changes_.push_back(change); });
}

AnimationLog::~AnimationLog() { platform::ui::HostingView::setAnimationObserver({}); }

} // namespace mqtest
