#pragma once

#include "app/controller/HUDMode.hpp"
#include "app/controller/HUDPresenter.hpp"

#include "platform/ui/Desktop.hpp"
#include "platform/ui/Window.hpp"

#include <memory>

namespace murmurquill {

class HUDViewModel;

// The floating pill near the bottom of the screen under the pointer that tells the user what
// push-to-talk dictation is doing. It never takes focus, never takes clicks, and shows on
// every space and over full-screen apps. The controller drives it through show() and reads
// mode(); the HUD has no timers of its own. Main thread only.
class RecordingHUD final : public HUDPresenter {
public:
  // What the HUD shows: the controller's mode type itself, under the HUD's own name.
  using Mode = HUDMode;

  // Panel geometry: content size and the distance above the bottom of the visible frame.
  static constexpr double kPanelWidth = 460;
  static constexpr double kPanelHeight = 48;
  static constexpr double kBottomOffset = 80;

  // Mode hidden, a new view model, no panel: creates no window. The desktop outlives the HUD.
  explicit RecordingHUD(platform::ui::Desktop &desktop);
  ~RecordingHUD() override;
  RecordingHUD(const RecordingHUD &) = delete;
  RecordingHUD &operator=(const RecordingHUD &) = delete;

  HUDMode mode() const override { return mode_; }

  // Shows `mode`. Hidden orders the panel out (it stays alive). Any other mode builds the
  // panel on first use, places it under the pointer and orders it front without activating
  // the application. The view model is only told about real changes.
  void show(const HUDMode &mode) override;

  // A visible panel shows the new mode where it is (it is not placed again, nor brought
  // front); a hidden one is left for the caller's show(), so the panel is never built or
  // placed without being put on screen.
  void setMode(const HUDMode &mode) override;

  // Whether the panel exists and is on screen.
  bool isPanelVisible() const override;

  // Centres the panel horizontally on the screen under the pointer (else the main screen),
  // 80 points above the bottom of its visible frame; with neither, leaves it where it is.
  void positionPanel();

  platform::ui::Panel *panel() const { return panel_.get(); }
  HUDViewModel &viewModel() const { return *viewModel_; }

private:
  // Stores `mode`, telling the view model only when it differs.
  void store(const HUDMode &mode);
  void buildPanel();

  platform::ui::Desktop &desktop_;
  HUDMode mode_ = HUDMode::hidden();
  std::shared_ptr<HUDViewModel> viewModel_;
  std::unique_ptr<platform::ui::Panel> panel_;
};

} // namespace murmurquill
