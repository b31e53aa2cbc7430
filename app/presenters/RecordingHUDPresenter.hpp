#pragma once

#include "app/presenters/HUDPresenter.hpp"
#include "app/views/RecordingHUDWindow.hpp"

namespace murmurquill {

// The controller's HUD interface over the recording HUD window. Main thread only; the HUD
// outlives the presenter.
class RecordingHUDPresenter final : public HUDPresenter {
public:
  explicit RecordingHUDPresenter(RecordingHUD &hud) : hud_(hud) {}

  void show(const HUDMode &mode) override { hud_.show(toWindowMode(mode)); }
  // The window offers no silent store: a visible panel is shown in the new mode in place, a
  // hidden one is left for the caller's show().
  void setMode(const HUDMode &mode) override;
  HUDMode mode() const override { return fromWindowMode(hud_.mode()); }
  bool isPanelVisible() const override;

  static RecordingHUD::Mode toWindowMode(const HUDMode &mode);
  static HUDMode fromWindowMode(const RecordingHUD::Mode &mode);

private:
  RecordingHUD &hud_;
};

} // namespace murmurquill
