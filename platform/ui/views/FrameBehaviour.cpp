#include "platform/ui/ViewBehaviour.hpp"

#include <algorithm>

namespace platform::ui {

namespace {

double clampTo(double value, std::optional<double> lower, std::optional<double> upper) {
  if (upper) {
    value = std::min(value, *upper);
  }
  if (lower) {
    value = std::max(value, *lower);
  }
  return value;
}

// What the frame offers its child: its fixed size, or the offer clamped to its bounds.
ProposedSize childProposal(const FrameContent &frame, ProposedSize proposal) {
  ProposedSize out = proposal;
  if (frame.width) {
    out.width = *frame.width;
  } else if ((frame.minWidth || frame.maxWidth) && proposal.width) {
    out.width = clampTo(*proposal.width, frame.minWidth, frame.maxWidth);
  }
  if (frame.height) {
    out.height = *frame.height;
  } else if ((frame.minHeight || frame.maxHeight) && proposal.height) {
    out.height = clampTo(*proposal.height, frame.minHeight, frame.maxHeight);
  }
  return out;
}

double frameDimension(std::optional<double> fixed, std::optional<double> lower,
                      std::optional<double> upper, std::optional<double> proposal, double child) {
  if (fixed) {
    return *fixed;
  }
  if (!lower && !upper) {
    return child;
  }
  const double offered = proposal.value_or(child);
  const double low = lower.value_or(std::min(child, upper.value_or(child)));
  const double high = std::max(low, upper.value_or(child));
  return std::clamp(offered, low, high);
}

// A fixed or flexible box around its child, which it aligns inside.
class FrameBehaviour final : public ViewBehaviour {
public:
  const char *name() const override { return "Frame"; }

  Size measure(const Node &node, ProposedSize proposal, const Environment &env,
               Axis) const override {
    const FrameContent &f = node.as<FrameContent>();
    const Size child = sizeThatFits(node.children.front(), childProposal(f, proposal), env);
    return {frameDimension(f.width, f.minWidth, f.maxWidth, proposal.width, child.width),
            frameDimension(f.height, f.minHeight, f.maxHeight, proposal.height, child.height)};
  }

  void placeChildren(LayoutNode &placed, Axis) const override {
    const Node &node = *placed.node;
    const FrameContent &f = node.as<FrameContent>();
    const Rect &rect = placed.frame;
    const Size child = sizeThatFits(
        node.children.front(), childProposal(f, {rect.width(), rect.height()}), placed.environment);
    placeChild(placed, node.children.front(), aligned(rect, child, f.alignment), "0",
               LayoutNode::Role::content);
  }
};

} // namespace

const ViewBehaviour &frameBehaviour() {
  static const FrameBehaviour behaviour;
  return behaviour;
}

} // namespace platform::ui
