#include "platform/ui/ViewBehaviour.hpp"

#include <algorithm>

namespace platform::ui {

namespace {

// Children on top of each other, centred; as large as the largest.
class ZStackBehaviour final : public ViewBehaviour {
public:
  const char *name() const override { return "ZStack"; }

  Size measure(const Node &node, ProposedSize proposal, const Environment &env,
               Axis) const override {
    Size out;
    for (const View &child : node.children) {
      const Size size = sizeThatFits(child, proposal, env);
      out.width = std::max(out.width, size.width);
      out.height = std::max(out.height, size.height);
    }
    return out;
  }

  void placeChildren(LayoutNode &placed, Axis) const override {
    const Node &node = *placed.node;
    const Rect &rect = placed.frame;
    for (std::size_t i = 0; i < node.children.size(); ++i) {
      const Size size =
          sizeThatFits(node.children[i], {rect.width(), rect.height()}, placed.environment);
      placeChild(placed, node.children[i], aligned(rect, size, Alignment::center()),
                 std::to_string(i), LayoutNode::Role::content);
    }
  }
};

} // namespace

const ViewBehaviour &zstackBehaviour() {
  static const ZStackBehaviour behaviour;
  return behaviour;
}

} // namespace platform::ui
