#include "app/views/MenuBarIconLabel.hpp"

namespace murmurquill {

namespace ui = platform::ui;

MenuBarIconLabel::MenuBarIconLabel(std::weak_ptr<UIModel> core,
                                   OnboardingWindowController &onboarding,
                                   std::shared_ptr<platform::Executor> main)
    : core_(std::move(core)), onboarding_(onboarding), main_(std::move(main)) {}

ui::View MenuBarIconLabel::body() {
  const auto core = core_.lock();
  const bool ready = core && core->isModelReady();
  // Light: most panels are dark; the status icon adds a dark outline for the light ones.
  return ui::Symbol("waveform")
      .foregroundStyle(ui::Color::white())
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
  OnboardingWindowController *onboarding = &onboarding_;
  main_->after(kOnboardingDelay, [weak = core_, onboarding] {
    if (const auto model = weak.lock()) {
      onboarding->showOnboarding(*model);
    }
  });
}

} // namespace murmurquill
