#pragma once

#include "app/controller/HUDMode.hpp"

namespace murmurquill {

// The controller's view of the recording HUD: the panel shows one mode at a time; the
// controller has no timers in it. Main thread only.
class HUDPresenter {
public:
  virtual ~HUDPresenter() = default;
  // Shows `mode` (hidden orders the panel out; any other mode puts it on screen).
  virtual void show(const HUDMode &mode) = 0;
  // Stores `mode` (and tells the view) without ordering the panel in or out.
  virtual void setMode(const HUDMode &mode) = 0;
  virtual HUDMode mode() const = 0;
  // Whether the panel exists and is on screen.
  virtual bool isPanelVisible() const = 0;
};

} // namespace murmurquill
