#pragma once

#include "app/controller/UIModel.hpp"
#include "app/presenters/OnboardingWindowController.hpp"

#include "platform/system/Executor.hpp"
#include "platform/ui/View.hpp"

#include <chrono>
#include <memory>

namespace murmurquill {

// The menu-bar icon: the "waveform" symbol in white, dimmed to 0.45 until the model is ready. When
// it first appears on a first launch (onboarding not complete) it opens the setup window 0.3 s
// later. Main thread only.
class MenuBarIconLabel final : public platform::ui::Component {
public:
  static constexpr std::chrono::milliseconds kOnboardingDelay{300};

  // `onboarding` must live as long as `core` does; the delayed opening does nothing once the
  // model is gone.
  MenuBarIconLabel(std::weak_ptr<UIModel> core, OnboardingWindowController &onboarding,
                   std::shared_ptr<platform::Executor> main);

  platform::ui::View body() override;

  // The first-launch task: unless onboarding is complete, opens the setup window after the
  // delay on the main executor.
  void showOnboardingIfNeeded();

private:
  std::weak_ptr<UIModel> core_;
  OnboardingWindowController &onboarding_;
  std::shared_ptr<platform::Executor> main_;
  bool taskStarted_ = false;
};

} // namespace murmurquill
