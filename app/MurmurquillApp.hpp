#pragma once

#include "app/controller/AppCore.hpp"
#include "app/presenters/OnboardingWindowController.hpp"
#include "app/views/MenuBarIconLabel.hpp"
#include "app/views/MenuBarView.hpp"

#include <memory>

namespace murmurquill {

// The application: the one controller, made when the application is, the setup and about
// windows' controller, and the one scene, a menu-bar extra whose label is the icon and whose
// content (a small window under the icon) is the menu. A desktop front end makes one from the
// platform's real services, hosts the two views where its menu bar is, forwards the
// application's activations to applicationDidBecomeActive() and runs the run loop it gave
// until Quit ends it. Main thread only.
class MurmurquillApp final {
public:
  explicit MurmurquillApp(AppCore::Services services);
  ~MurmurquillApp();
  MurmurquillApp(const MurmurquillApp &) = delete;
  MurmurquillApp &operator=(const MurmurquillApp &) = delete;

  AppCore &core() const { return *core_; }
  const std::shared_ptr<AppCore> &sharedCore() const { return core_; }
  // The setup and about windows (on the services' desktop, or an off-screen one of the
  // application's own).
  OnboardingWindowController &onboarding() const { return *onboarding_; }

  // Queues the controller's permission refresh and tells a setup window that is open (it
  // retries the hotkey and re-reads at once).
  void applicationDidBecomeActive();

  // What the menu and the status menu read, from the controllers that own it.
  MenuBarView::Model menuModel() const;
  // What the setup window reads, from the controllers that own it.
  OnboardingView::Model onboardingModel() const;
  // Opens the about and setup windows for the menu.
  MenuBarView::OpenWindow windowOpener() const;

  // The menu-bar extra's content and label, new views for the one controller.
  std::shared_ptr<MenuBarView> makeMenuContent() const;
  std::shared_ptr<MenuBarIconLabel> makeIconLabel() const;

private:
  std::shared_ptr<platform::Executor> main_;
  std::shared_ptr<platform::ui::Desktop> desktop_;
  std::shared_ptr<AppCore> core_;
  // After the controller: the windows' views read it, so they go first.
  std::unique_ptr<OnboardingWindowController> onboarding_;
};

} // namespace murmurquill
