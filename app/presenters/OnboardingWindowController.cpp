#include "app/presenters/OnboardingWindowController.hpp"

#include "app/views/AboutView.hpp"

namespace murmurquill {

namespace ui = platform::ui;

OnboardingWindowController::OnboardingWindowController(ui::Desktop &desktop,
                                                       std::shared_ptr<platform::SteadyClock> clock)
    : desktop_(desktop), clock_(std::move(clock)) {}

OnboardingWindowController::~OnboardingWindowController() = default;

void OnboardingWindowController::bringForward(ui::Window &window) {
  desktop_.activate();
  window.orderFrontRegardless();
  window.makeKeyAndOrderFront();
}

OnboardingView *OnboardingWindowController::onboardingView() const {
  if (!window_ || window_->contentView() == nullptr) {
    return nullptr;
  }
  return static_cast<OnboardingView *>(&window_->contentView()->root());
}

void OnboardingWindowController::showOnboarding(const OnboardingView::Model &model) {
  if (window_ && window_->isVisible()) {
    bringForward(*window_);
    return;
  }
  const ui::Rect content = ui::makeRect(0, 0, OnboardingView::kWidth, OnboardingView::kHeight);
  auto window = std::make_unique<ui::Window>(desktop_, content, ui::kTitled | ui::kClosable);
  window->setTitle("Welcome to Murmurquill");
  window->setReleasedWhenClosed(false);
  window->center();
  const std::int64_t startPage = model.progress.resumePage().value_or(0);
  model.progress.removeResumePage();
  ui::Window *raw = window.get();
  window->setContentView(std::make_unique<ui::HostingView>(
      std::make_shared<OnboardingView>(
          model, desktop_, [raw] { raw->close(); }, startPage, clock_),
      content.size));
  bringForward(*window);
  // The previous window is released only now, after the new one took its place.
  window_ = std::move(window);
}

void OnboardingWindowController::showAbout(const AppSession &app) {
  if (aboutWindow_ && aboutWindow_->isVisible()) {
    bringForward(*aboutWindow_);
    return;
  }
  const ui::Rect content = ui::makeRect(0, 0, 340, 280);
  auto window = std::make_unique<ui::Window>(desktop_, content, ui::kTitled | ui::kClosable);
  window->setTitle("About Murmurquill");
  window->setReleasedWhenClosed(false);
  window->center();
  window->setContentView(std::make_unique<ui::HostingView>(
      std::make_shared<AboutView>(app.shortVersion()), content.size));
  bringForward(*window);
  aboutWindow_ = std::move(window);
}

MenuBarView::OpenWindow OnboardingWindowController::menuOpener(OnboardingView::Model model) {
  return [this, model](MenuBarView::Window window) {
    if (window == MenuBarView::Window::about) {
      showAbout(model.app);
    } else {
      showOnboarding(model);
    }
  };
}

void OnboardingWindowController::applicationDidBecomeActive() {
  if (OnboardingView *view = onboardingView()) {
    view->activationRefresh();
  }
}

} // namespace murmurquill
