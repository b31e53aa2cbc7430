#pragma once

#include "app/controller/AppCore.hpp"
#include "app/views/MenuBarIconLabel.hpp"
#include "app/views/MenuBarView.hpp"

#include <memory>

namespace murmurquill {

// The application: the one controller, made when the application is, and the one scene, a
// menu-bar extra whose label is the icon and whose content (a small window under the icon) is
// the menu. A desktop front end makes one from the platform's real services, hosts the two
// views where its menu bar is, forwards the application's activations to
// core().applicationDidBecomeActive() and runs the run loop it gave until Quit ends it.
// Main thread only.
class MurmurquillApp final {
public:
  explicit MurmurquillApp(AppCore::Services services);

  AppCore &core() const { return *core_; }
  const std::shared_ptr<AppCore> &sharedCore() const { return core_; }

  // The menu-bar extra's content and label, new views for the one controller.
  std::shared_ptr<MenuBarView> makeMenuContent() const;
  std::shared_ptr<MenuBarIconLabel> makeIconLabel() const;

private:
  std::shared_ptr<platform::Executor> main_;
  std::shared_ptr<AppCore> core_;
};

} // namespace murmurquill
