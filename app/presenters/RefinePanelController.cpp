#include "app/presenters/RefinePanelController.hpp"

namespace murmurquill {

namespace ui = platform::ui;

RefinePanelController::RefinePanelController(ui::Desktop &desktop)
    : desktop_(desktop), self_(std::make_shared<RefinePanelController *>(this)) {}

RefinePanelController::~RefinePanelController() {
  *self_ = nullptr;
  self_.reset();
  close();
}

RefinePanelController::PanelToken RefinePanelController::show(ApplyAction onApply,
                                                              CopyAction onCopy) {
  close();
  auto state = std::make_shared<RefineState>();
  currentState_ = state;
  const PanelToken token = ++token_;

  const std::weak_ptr<RefinePanelController *> weakSelf = self_;
  const auto closeIfAlive = [weakSelf] {
    if (auto self = weakSelf.lock(); self && *self) {
      (*self)->close();
    }
  };
  auto apply = [onApply, state, closeIfAlive](const std::string &text) {
    if (onApply(text)) {
      closeIfAlive();
    } else {
      state->setApplyFailed(true);
    }
  };
  auto copy = [onCopy, closeIfAlive](const std::string &text) {
    onCopy(text);
    closeIfAlive();
  };
  auto dismiss = [closeIfAlive] { closeIfAlive(); };

  const ui::Rect content = ui::makeRect(0, 0, kPanelWidth, kPanelHeight);
  auto panel = std::make_unique<ui::Panel>(desktop_, content,
                                           ui::kTitled | ui::kClosable | ui::kUtilityWindow |
                                               ui::kNonactivatingPanel | ui::kHUDWindow |
                                               ui::kFullSizeContentView,
                                           ui::Backing::buffered, /*defer=*/false);
  panel->setTitle("");
  panel->setTitleHidden(true);
  panel->setTitlebarAppearsTransparent(true);
  panel->setCloseButtonHidden(true);
  panel->setMovableByWindowBackground(true);
  panel->setFloatingPanel(true);
  panel->setReleasedWhenClosed(false);
  // The panel's height follows its content; its width is the view's fixed width.
  panel->setContentView(
      std::make_unique<ui::HostingView>(std::make_shared<RefinePanel>(state, apply, copy, dismiss),
                                        content.size),
      /*fitsContent=*/true);
  panel->center();
  panel->orderFrontRegardless();
  panel_ = std::move(panel);
  return token;
}

void RefinePanelController::showResult(const std::string &text) {
  if (!currentState_) {
    return;
  }
  const std::shared_ptr<RefineState> state = currentState_;
  state->setRefined(text);
  if (state->isLoading()) {
    state->setLoading(false);
  }
}

void RefinePanelController::showResult(const std::string &text, PanelToken token) {
  if (token != token_) {
    return;
  }
  showResult(text);
}

void RefinePanelController::close() {
  if (panel_) {
    panel_->close();
    retired_ = std::move(panel_);
  }
  currentState_.reset();
}

} // namespace murmurquill
