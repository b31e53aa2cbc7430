#pragma once

#include "platform/ui/Observation.hpp"
#include "platform/ui/View.hpp"

#include <functional>
#include <memory>
#include <string>

namespace murmurquill {

// The refine panel's observable state. Setters store an equal value silently and notify
// observers only on a real change. Main thread only.
class RefineState {
public:
  RefineState() = default;
  RefineState(const RefineState &) = delete;
  RefineState &operator=(const RefineState &) = delete;

  // The text shown and edited in the panel.
  const std::string &refined() const { return refined_.get(); }
  void setRefined(std::string text) { refined_.set(std::move(text)); }
  // True while the clean-up still runs.
  bool isLoading() const { return isLoading_.get(); }
  void setLoading(bool loading) { isLoading_.set(loading); }
  // True once an Apply attempt reported failure.
  bool applyFailed() const { return applyFailed_.get(); }
  void setApplyFailed(bool failed) { applyFailed_.set(failed); }

  platform::ui::Binding<std::string> refinedBinding();

private:
  platform::ui::Observable<std::string> refined_{std::string()};
  platform::ui::Observable<bool> isLoading_{true};
  platform::ui::Observable<bool> applyFailed_{false};
};

// The panel's view: a header, then either the loading row or the editable result with
// Apply (Command-Return), Copy and Dismiss. Escape anywhere dismisses. Apply and Copy read
// the text at the moment they are pressed, so edits are what is applied or copied.
class RefinePanel final : public platform::ui::Component {
public:
  RefinePanel(std::shared_ptr<RefineState> state, std::function<void(const std::string &)> onApply,
              std::function<void(const std::string &)> onCopy, std::function<void()> onDismiss);

  platform::ui::View body() override;

  static constexpr double kWidth = 340;

private:
  std::shared_ptr<RefineState> state_;
  std::function<void(const std::string &)> onApply_;
  std::function<void(const std::string &)> onCopy_;
  std::function<void()> onDismiss_;
};

} // namespace murmurquill
