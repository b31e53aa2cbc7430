#include "app/presenters/RecordingHUD.hpp"

#include "app/views/HUDView.hpp"
#include "app/views/HUDViewModel.hpp"

#include "platform/ui/HostingView.hpp"

#include <optional>

namespace murmurquill {

namespace ui = platform::ui;

RecordingHUD::RecordingHUD(ui::Desktop &desktop)
    : desktop_(desktop), viewModel_(std::make_shared<HUDViewModel>()) {}

RecordingHUD::~RecordingHUD() = default;

void RecordingHUD::store(const HUDMode &mode) {
  const bool changed = !(mode == mode_);
  mode_ = mode;
  if (changed) {
    viewModel_->setMode(mode);
  }
}

void RecordingHUD::show(const HUDMode &mode) {
  if (mode == HUDMode::hidden()) {
    store(mode);
    if (panel_) {
      panel_->orderOut();
    }
    return;
  }
  store(mode);
  if (!panel_) {
    buildPanel();
  }
  positionPanel();
  panel_->orderFrontRegardless();
}

void RecordingHUD::setMode(const HUDMode &mode) {
  // The pill stays where the user saw it appear: only show() follows the pointer.
  if (isPanelVisible()) {
    store(mode);
  }
}

bool RecordingHUD::isPanelVisible() const { return panel_ != nullptr && panel_->isVisible(); }

void RecordingHUD::buildPanel() {
  const ui::Rect content = ui::makeRect(0, 0, kPanelWidth, kPanelHeight);
  auto panel = std::make_unique<ui::Panel>(desktop_, content, ui::kNonactivatingPanel,
                                           ui::Backing::buffered, /*defer=*/false);
  panel->setOpaque(false);
  panel->setBackgroundColor(ui::Color::clear());
  panel->setHasShadow(false);
  panel->setLevel(ui::kStatusLevel);
  panel->setCollectionBehavior(ui::kCanJoinAllSpaces | ui::kStationary | ui::kIgnoresCycle |
                               ui::kFullScreenAuxiliary);
  panel->setMovable(false);
  panel->setIgnoresMouseEvents(true);
  panel->setHidesOnDeactivate(false);
  panel->setContentView(
      std::make_unique<ui::HostingView>(std::make_shared<HUDView>(viewModel_), content.size));
  panel_ = std::move(panel);
}

void RecordingHUD::positionPanel() {
  if (!panel_) {
    return;
  }
  const ui::Point mouse = desktop_.mouseLocation();
  std::optional<ui::Screen> screen;
  for (const ui::Screen &candidate : desktop_.screens()) {
    if (candidate.frame.contains(mouse)) {
      screen = candidate;
      break;
    }
  }
  if (!screen) {
    screen = desktop_.mainScreen();
  }
  if (!screen) {
    return;
  }
  const ui::Rect &visible = screen->visibleFrame;
  const ui::Size size = panel_->frame().size;
  panel_->setFrame(
      ui::Rect{{visible.midX() - size.width / 2, visible.minY() + kBottomOffset}, size},
      /*display=*/false);
}

} // namespace murmurquill
