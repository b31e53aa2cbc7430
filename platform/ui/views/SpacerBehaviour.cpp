#include "platform/ui/ViewBehaviour.hpp"

#include <algorithm>

namespace platform::ui {

namespace {

// Takes all the length offered along its stack's axis (at least its minimum), nothing across.
class SpacerBehaviour final : public ViewBehaviour {
public:
  const char *name() const override { return "Spacer"; }

  Size measure(const Node &node, ProposedSize proposal, const Environment &,
               Axis parentAxis) const override {
    const double least = node.as<SpacerContent>().minLength.value_or(Theme::stackSpacing);
    if (parentAxis == Axis::horizontal) {
      return {std::max(least, proposal.width.value_or(least)), 0};
    }
    if (parentAxis == Axis::vertical) {
      return {0, std::max(least, proposal.height.value_or(least))};
    }
    return {proposal.width.value_or(0), proposal.height.value_or(0)};
  }
};

} // namespace

const ViewBehaviour &spacerBehaviour() {
  static const SpacerBehaviour behaviour;
  return behaviour;
}

} // namespace platform::ui
