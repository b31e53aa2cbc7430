#include "app/MurmurquillApp.hpp"

namespace murmurquill {
namespace {

std::shared_ptr<platform::ui::Desktop> desktopOf(const AppCore::Services &services) {
  return services.desktop ? services.desktop : std::make_shared<platform::ui::Desktop>();
}

} // namespace

MurmurquillApp::MurmurquillApp(AppCore::Services services)
    : main_(services.main), desktop_(desktopOf(services)) {
  services.desktop = desktop_;
  const auto clock = services.steadyClock;
  core_ = AppCore::make(std::move(services));
  onboarding_ = std::make_unique<OnboardingWindowController>(*desktop_, clock);
}

MurmurquillApp::~MurmurquillApp() = default;

void MurmurquillApp::applicationDidBecomeActive() {
  core_->applicationDidBecomeActive();
  onboarding_->applicationDidBecomeActive();
}

MenuBarView::Model MurmurquillApp::menuModel() const {
  AppCore &core = *core_;
  return {core.dictation(),
          core.modelLoad(),
          core.permissions(),
          core.permissions(),
          core.refine(),
          core.permissions(),
          core};
}

OnboardingView::Model MurmurquillApp::onboardingModel() const {
  AppCore &core = *core_;
  return {core.permissions(),
          core.permissions(),
          core.modelLoad(),
          core.refine(),
          core.permissions(),
          core.permissions(),
          core};
}

MenuBarView::OpenWindow MurmurquillApp::windowOpener() const {
  return onboarding_->menuOpener(onboardingModel());
}

std::shared_ptr<MenuBarView> MurmurquillApp::makeMenuContent() const {
  return std::make_shared<MenuBarView>(menuModel(), windowOpener());
}

std::shared_ptr<MenuBarIconLabel> MurmurquillApp::makeIconLabel() const {
  // The label holds the controllers through the controller that owns them, so its delayed
  // opening stops once the controller is gone.
  const std::shared_ptr<const ModelLoadState> modelLoad(core_, &core_->modelLoad());
  const std::shared_ptr<OnboardingProgress> progress(core_, &core_->permissions());
  OnboardingWindowController *onboarding = onboarding_.get();
  return std::make_shared<MenuBarIconLabel>(
      modelLoad, progress,
      [onboarding, model = onboardingModel()] { onboarding->showOnboarding(model); }, main_);
}

} // namespace murmurquill
