#pragma once

#include "app/presenters/RefinePanelController.hpp"
#include "app/presenters/RefinePresenter.hpp"

namespace murmurquill {

// The controller's refine-panel interface over the refine panel controller. Main thread only;
// the panel controller outlives the presenter.
class RefinePanelPresenter final : public RefinePresenter {
public:
  explicit RefinePanelPresenter(RefinePanelController &panel) : panel_(panel) {}

  PanelToken show(ApplyAction onApply, CopyAction onCopy) override {
    return panel_.show(std::move(onApply), std::move(onCopy));
  }
  void showResult(const std::string &text, PanelToken token) override {
    panel_.showResult(text, token);
  }

private:
  RefinePanelController &panel_;
};

} // namespace murmurquill
