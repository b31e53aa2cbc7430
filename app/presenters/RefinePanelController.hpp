#pragma once

#include "app/controller/RefinePresenter.hpp"
#include "app/views/RefinePanel.hpp"

#include "platform/ui/Desktop.hpp"
#include "platform/ui/Window.hpp"

#include <memory>
#include <string>

namespace murmurquill {

// Owns the refine panel: opens it in its loading state, fills it with the refined text, and
// closes it on Apply success, Copy, Dismiss, Escape or a newer refine. The application is
// never activated. The controller lives as long as the app; the actions it hands the view
// hold it weakly. Main thread only.
class RefinePanelController final : public RefinePresenter {
public:
  // The desktop outlives the controller.
  explicit RefinePanelController(platform::ui::Desktop &desktop);
  ~RefinePanelController() override;
  RefinePanelController(const RefinePanelController &) = delete;
  RefinePanelController &operator=(const RefinePanelController &) = delete;

  // Closes any open panel and opens a new one in its loading state. `onApply` returns true
  // when the text was applied. Returns the new panel's token.
  PanelToken show(ApplyAction onApply, CopyAction onCopy) override;

  // Fills the open panel with `text` and ends its loading state; nothing when no panel is
  // open.
  void showResult(const std::string &text);
  // The same, only when the open panel is the one `token` names: a result that arrives after
  // its panel was replaced by a newer one is dropped.
  void showResult(const std::string &text, PanelToken token) override;

  // Closes the panel if there is one and forgets it and its state.
  void close();

  platform::ui::Panel *panel() const { return panel_.get(); }
  std::shared_ptr<RefineState> currentState() const { return currentState_; }

  static constexpr double kPanelWidth = 340;
  static constexpr double kPanelHeight = 160;

private:
  platform::ui::Desktop &desktop_;
  std::unique_ptr<platform::ui::Panel> panel_;
  std::shared_ptr<RefineState> currentState_;
  PanelToken token_ = 0;
  // The last closed panel is kept until the next close: a panel is often closed by an action
  // of its own view, which must not destroy the view while it runs.
  std::unique_ptr<platform::ui::Panel> retired_;
  // Cleared when the controller goes; the view's actions hold it weakly.
  std::shared_ptr<RefinePanelController *> self_;
};

} // namespace murmurquill
