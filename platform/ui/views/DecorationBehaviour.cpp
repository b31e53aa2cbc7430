#include "platform/ui/ViewBehaviour.hpp"

namespace platform::ui {

namespace {

void placeAround(LayoutNode &placed, const std::vector<View> &views, const char *slot,
                 LayoutNode::Role role) {
  const Rect &rect = placed.frame;
  for (std::size_t i = 0; i < views.size(); ++i) {
    const Size size = sizeThatFits(views[i], {rect.width(), rect.height()}, placed.environment);
    placeChild(placed, views[i], aligned(rect, size, Alignment::center()), slot + std::to_string(i),
               role);
  }
}

// A child with backgrounds behind it and overlays over it, each offered the child's size.
class DecorationBehaviour final : public ViewBehaviour {
public:
  const char *name() const override { return "Decorated"; }

  Size measure(const Node &node, ProposedSize proposal, const Environment &env,
               Axis parentAxis) const override {
    return sizeThatFits(node.children.front(), proposal, env, parentAxis);
  }

  void placeChildren(LayoutNode &placed, Axis) const override {
    const Node &node = *placed.node;
    const DecorationContent &decoration = node.as<DecorationContent>();
    placeAround(placed, decoration.backgrounds, "bg", LayoutNode::Role::background);
    placeChild(placed, node.children.front(), placed.frame, "0", LayoutNode::Role::content);
    placeAround(placed, decoration.overlays, "ov", LayoutNode::Role::overlay);
  }
};

} // namespace

const ViewBehaviour &decorationBehaviour() {
  static const DecorationBehaviour behaviour;
  return behaviour;
}

} // namespace platform::ui
