#pragma once

#include "app/controller/HUDMode.hpp"

#include "platform/ui/Observation.hpp"

namespace murmurquill {

// The observable holder of the mode the HUD's view shows.
class HUDViewModel {
public:
  const HUDMode &mode() const { return mode_.get(); }
  // An equal value is stored without notifying observers.
  void setMode(const HUDMode &mode) { mode_.set(mode); }

private:
  platform::ui::Observable<HUDMode> mode_{HUDMode::hidden()};
};

} // namespace murmurquill
