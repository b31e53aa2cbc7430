#include "app/views/MenuBarIconLabel.hpp"

namespace murmurquill {

namespace ui = platform::ui;

MenuBarIconLabel::MenuBarIconLabel(std::weak_ptr<UIModel> core,
                                   std::function<void()> showOnboarding,
                                   std::shared_ptr<platform::Executor> main)
    : core_(std::move(core)), showOnboarding_(std::move(showOnboarding)), main_(std::move(main)) {}

ui::View MenuBarIconLabel::body() {
  const auto core = core_.lock();
  const bool ready = core && core->isModelReady();
  return ui::Symbol("waveform")
      .opacity(ready ? 1.0 : 0.45)
      .animation(ui::Animation::easeInOut(0.4), ready ? "ready" : "loading")
      .onAppear([this] {
        // The task belongs to the label's first appearance, like a task attached to it.
        if (!taskStarted_) {
          taskStarted_ = true;
          showOnboardingIfNeeded();
        }
      });
}

void MenuBarIconLabel::showOnboardingIfNeeded() {
  const auto core = core_.lock();
  if (!core || core->onboardingComplete()) {
    return;
  }
  main_->after(kOnboardingDelay, [weak = core_, show = showOnboarding_] {
    if (weak.lock()) {
      show();
    }
  });
}

} // namespace murmurquill
