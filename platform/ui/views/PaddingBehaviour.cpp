#include "platform/ui/ViewBehaviour.hpp"

namespace platform::ui {

namespace {

// Its child inset by the padding's edges.
class PaddingBehaviour final : public ViewBehaviour {
public:
  const char *name() const override { return "Padding"; }

  Size measure(const Node &node, ProposedSize proposal, const Environment &env,
               Axis) const override {
    const EdgeInsets &in = node.as<PaddingContent>().insets;
    return outset(sizeThatFits(node.children.front(), inset(proposal, in), env), in);
  }

  void placeChildren(LayoutNode &placed, Axis) const override {
    const Node &node = *placed.node;
    placeChild(placed, node.children.front(), inset(placed.frame, node.as<PaddingContent>().insets),
               "0", LayoutNode::Role::content);
  }
};

} // namespace

const ViewBehaviour &paddingBehaviour() {
  static const PaddingBehaviour behaviour;
  return behaviour;
}

} // namespace platform::ui
