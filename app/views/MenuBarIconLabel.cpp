#include "app/views/MenuBarIconLabel.hpp"

namespace murmurquill {

namespace ui = platform::ui;

MenuBarIconLabel::MenuBarIconLabel(std::weak_ptr<const ModelLoadState> modelLoad,
                                   std::weak_ptr<OnboardingProgress> progress,
                                   std::function<void()> showOnboarding,
                                   std::shared_ptr<platform::Executor> main)
    : modelLoad_(std::move(modelLoad)), progress_(std::move(progress)),
      showOnboarding_(std::move(showOnboarding)), main_(std::move(main)) {}

ui::View MenuBarIconLabel::body() {
  const auto modelLoad = modelLoad_.lock();
  const bool ready = modelLoad && modelLoad->isModelReady();
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
  const auto progress = progress_.lock();
  if (!progress || progress->onboardingComplete()) {
    return;
  }
  main_->after(kOnboardingDelay, [weak = progress_, show = showOnboarding_] {
    if (weak.lock()) {
      show();
    }
  });
}

} // namespace murmurquill
