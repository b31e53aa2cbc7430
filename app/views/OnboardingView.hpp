#pragma once

#include "app/controller/AppSession.hpp"
#include "app/controller/HotkeyChoice.hpp"
#include "app/controller/LoginItemChoice.hpp"
#include "app/controller/ModelLoadState.hpp"
#include "app/controller/OnboardingProgress.hpp"
#include "app/controller/PermissionState.hpp"
#include "app/controller/RefineChoice.hpp"

#include "platform/system/Clock.hpp"
#include "platform/ui/Desktop.hpp"
#include "platform/ui/Observation.hpp"
#include "platform/ui/View.hpp"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace murmurquill {

// The setup window's content: five pages (welcome, the three permissions, done) with a
// footer that moves between them. It reads the controllers through the slices in Model, so
// every page redraws when a permission, the model state or the hotkey changes. When it leaves the
// screen (its window closes, on any page) the onboarding finishes. Main thread only.
class OnboardingView final : public platform::ui::Component {
public:
  enum class Step { welcome, inputMonitoring, microphone, accessibility, done };
  static constexpr std::array<Step, 5> steps{Step::welcome, Step::inputMonitoring, Step::microphone,
                                             Step::accessibility, Step::done};

  static constexpr double kWidth = 460;
  static constexpr double kHeight = 540;

  static constexpr const char *kInputMonitoringURL =
      "x-apple.systempreferences:com.apple.preference.security?Privacy_ListenEvent";
  static constexpr const char *kMicrophoneURL =
      "x-apple.systempreferences:com.apple.preference.security?Privacy_Microphone";

  // What the pages read and change, each part implemented by the controller that owns it.
  struct Model {
    HotkeyChoice &hotkey;
    PermissionState &permissions;
    ModelLoadState &modelLoad;
    RefineChoice &refine;
    OnboardingProgress &progress;
    LoginItemChoice &loginItem;
    AppSession &app;
  };

  // `dismiss` closes the hosting window. `clock` times the preparing section's counter. The
  // model, desktop and clock outlive the view.
  OnboardingView(Model model, platform::ui::Desktop &desktop, std::function<void()> dismiss,
                 std::int64_t startPage, std::shared_ptr<platform::SteadyClock> clock);

  platform::ui::View body() override;

  std::int64_t page() const { return page_.peek(); }
  // The step a page number shows: limited to the first and the last step.
  static Step stepFor(std::int64_t page);
  // "Three quick permissions to set up".
  static std::string permissionCountSubtitle();

  // Runs when the application becomes active while the view exists: retries the hotkey,
  // re-reads the microphone status and the accessibility trust.
  void activationRefresh();
  // Runs when the view leaves the screen.
  void finish();

  ~OnboardingView() override;

private:
  platform::ui::View pageView(Step step);
  platform::ui::View welcomePage();
  platform::ui::View inputMonitoringPage();
  platform::ui::View microphonePage();
  platform::ui::View accessibilityPage();
  platform::ui::View donePage();
  platform::ui::View modelStatusCard();
  platform::ui::View footer();
  // A permission granted while the app runs takes effect only after a restart.
  platform::ui::View relaunchButton();
  void saveAndRelaunch();

  // While the preparing counter is on screen, a timer on the desktop's executor renders the
  // page again every second so the counter counts.
  void startCounting();
  void stopCounting();

  Model model_;
  platform::ui::Desktop &desktop_;
  std::function<void()> dismiss_;
  std::shared_ptr<platform::SteadyClock> clock_;
  platform::ui::Observable<std::int64_t> page_;
  platform::ui::Observable<std::int64_t> seconds_{0};
  platform::TimerHandle counting_;
  // The counting timer holds this weakly: a tick after the view died does nothing.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// "45%" for a fraction of 0.456: the fraction times 100, truncated.
std::string percentText(double fraction);
// "0:42", "1:05:09": a counter of whole seconds, as a timer shows it.
std::string timerText(std::chrono::steady_clock::duration elapsed);

} // namespace murmurquill
