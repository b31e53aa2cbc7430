#pragma once

#include "app/controller/HUDMode.hpp"
#include "app/views/HUDViewModel.hpp"

#include "platform/ui/Observation.hpp"
#include "platform/ui/View.hpp"

#include <memory>
#include <string>

namespace murmurquill {

// The HUD's text for a mode ("Recording…", "Ready — hold Right Alt to dictate", ...).
std::string hudMessage(const HUDMode &mode);

// The pill's view over a view model, with its pulse state.
class HUDView final : public platform::ui::Component {
public:
  explicit HUDView(std::shared_ptr<HUDViewModel> model) : model_(std::move(model)) {}
  platform::ui::View body() override;

  std::string message() const { return hudMessage(model_->mode()); }
  bool pulsing() const { return pulsing_.peek(); }

private:
  platform::ui::View icon(const HUDMode &mode);

  std::shared_ptr<HUDViewModel> model_;
  platform::ui::Observable<bool> pulsing_{false};
};

} // namespace murmurquill
