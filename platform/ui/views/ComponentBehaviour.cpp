#include "platform/ui/ViewBehaviour.hpp"

namespace platform::ui {

namespace {

// A stateful view: once the hosting view resolved it, its only child is its body, laid out
// in its place.
class ComponentBehaviour final : public ViewBehaviour {
public:
  const char *name() const override { return "Component"; }

  Size measure(const Node &node, ProposedSize proposal, const Environment &env,
               Axis parentAxis) const override {
    if (node.children.empty()) {
      return {};
    }
    return sizeThatFits(node.children.front(), proposal, env, parentAxis);
  }

  void placeChildren(LayoutNode &placed, Axis parentAxis) const override {
    if (!placed.node->children.empty()) {
      placeChild(placed, placed.node->children.front(), placed.frame, "0",
                 LayoutNode::Role::content, parentAxis);
    }
  }
};

} // namespace

const ViewBehaviour &componentBehaviour() {
  static const ComponentBehaviour behaviour;
  return behaviour;
}

} // namespace platform::ui
