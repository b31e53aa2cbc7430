#pragma once

#include "app/views/MenuBarView.hpp"
#include "app/views/OnboardingView.hpp"

#include "platform/system/Clock.hpp"
#include "platform/ui/Desktop.hpp"
#include "platform/ui/Window.hpp"

#include <memory>

namespace murmurquill {

// Creates, reuses and raises the setup window ("Welcome to Murmurquill", hosting the
// onboarding view) and the about window. A window is kept after the user closes it and
// rebuilt only when a request finds it not visible, so a visible setup window keeps its page.
// Main thread only; the desktop outlives the controller.
class OnboardingWindowController {
public:
  OnboardingWindowController(platform::ui::Desktop &desktop,
                             std::shared_ptr<platform::SteadyClock> clock);
  ~OnboardingWindowController();
  OnboardingWindowController(const OnboardingWindowController &) = delete;
  OnboardingWindowController &operator=(const OnboardingWindowController &) = delete;

  // Raises the visible setup window, or builds a new one that starts at the saved page (used
  // once: the saved page is removed) on `model`, which outlives the window.
  void showOnboarding(const OnboardingView::Model &model);
  // Raises the visible about window or builds a new one showing `app`'s version.
  void showAbout(const AppSession &app);
  // What the menu's items call to open the two windows on `model`, which outlives the
  // controller's windows.
  MenuBarView::OpenWindow menuOpener(OnboardingView::Model model);

  // Forwards the application's did-become-active notification to the setup window's view.
  void applicationDidBecomeActive();

  platform::ui::Window *window() const { return window_.get(); }
  platform::ui::Window *aboutWindow() const { return aboutWindow_.get(); }
  OnboardingView *onboardingView() const;

private:
  void bringForward(platform::ui::Window &window);

  platform::ui::Desktop &desktop_;
  std::shared_ptr<platform::SteadyClock> clock_;
  std::unique_ptr<platform::ui::Window> window_;
  std::unique_ptr<platform::ui::Window> aboutWindow_;
};

} // namespace murmurquill
