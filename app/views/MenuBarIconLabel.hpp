#pragma once

#include "app/controller/ModelLoadState.hpp"
#include "app/controller/OnboardingProgress.hpp"

#include "platform/system/Executor.hpp"
#include "platform/ui/View.hpp"

#include <chrono>
#include <functional>
#include <memory>

namespace murmurquill {

// The menu-bar icon: the "waveform" symbol in white, dimmed to 0.45 until the model is ready. When
// it first appears on a first launch (onboarding not complete) it opens the setup window 0.3 s
// later. Main thread only.
class MenuBarIconLabel final : public platform::ui::Component {
public:
  static constexpr std::chrono::milliseconds kOnboardingDelay{300};

  // `showOnboarding` opens the setup window; the delayed opening does nothing once the
  // onboarding's progress is gone.
  MenuBarIconLabel(std::weak_ptr<const ModelLoadState> modelLoad,
                   std::weak_ptr<OnboardingProgress> progress, std::function<void()> showOnboarding,
                   std::shared_ptr<platform::Executor> main);

  platform::ui::View body() override;

  // The first-launch task: unless onboarding is complete, opens the setup window after the
  // delay on the main executor.
  void showOnboardingIfNeeded();

private:
  std::weak_ptr<const ModelLoadState> modelLoad_;
  std::weak_ptr<OnboardingProgress> progress_;
  std::function<void()> showOnboarding_;
  std::shared_ptr<platform::Executor> main_;
  bool taskStarted_ = false;
};

} // namespace murmurquill
