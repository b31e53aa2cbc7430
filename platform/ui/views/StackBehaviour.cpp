#include "platform/ui/ViewBehaviour.hpp"

#include <algorithm>
#include <numeric>

namespace platform::ui {

namespace {

double mainOf(Size size, Axis axis) { return axis == Axis::horizontal ? size.width : size.height; }
double crossOf(Size size, Axis axis) { return axis == Axis::horizontal ? size.height : size.width; }
std::optional<double> mainOf(ProposedSize p, Axis axis) {
  return axis == Axis::horizontal ? p.width : p.height;
}
std::optional<double> crossOf(ProposedSize p, Axis axis) {
  return axis == Axis::horizontal ? p.height : p.width;
}
ProposedSize makeProposal(Axis axis, std::optional<double> main, std::optional<double> cross) {
  return axis == Axis::horizontal ? ProposedSize{main, cross} : ProposedSize{cross, main};
}
Size makeSize(Axis axis, double main, double cross) {
  return axis == Axis::horizontal ? Size{main, cross} : Size{cross, main};
}

struct StackPlan {
  std::vector<Size> sizes;
  Size total;
};

// Offered a length, children get it in order of flexibility, the least flexible first; a
// spacer only takes what the other children leave, so a text beside a spacer keeps its
// natural length when there is room for it.
void shareLength(const Node &node, double length, std::optional<double> cross,
                 const Environment &env, Axis axis, StackPlan &plan) {
  const std::size_t count = node.children.size();
  std::vector<double> flexibility(count);
  for (std::size_t i = 0; i < count; ++i) {
    const View &child = node.children[i];
    const double least =
        mainOf(sizeThatFits(child, makeProposal(axis, 0.0, cross), env, axis), axis);
    const double most =
        mainOf(sizeThatFits(child, makeProposal(axis, kInfinity, cross), env, axis), axis);
    flexibility[i] = most - least;
  }
  std::vector<std::size_t> order(count);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return flexibility[a] < flexibility[b]; });
  double remaining = length;
  std::size_t spacers = 0;
  for (const View &child : node.children) {
    spacers += child.kind() == NodeKind::spacer;
  }
  std::size_t others = count - spacers;
  for (std::size_t index : order) {
    const bool spacer = node.children[index].kind() == NodeKind::spacer;
    std::size_t &left = spacer ? spacers : others;
    const double share = std::max(0.0, remaining / static_cast<double>(left));
    plan.sizes[index] =
        sizeThatFits(node.children[index], makeProposal(axis, share, cross), env, axis);
    remaining -= mainOf(plan.sizes[index], axis);
    --left;
  }
}

double spacingOf(const Node &node) {
  return node.as<StackContent>().spacing.value_or(Theme::stackSpacing);
}

StackPlan planStack(const Node &node, ProposedSize proposal, const Environment &env, Axis axis) {
  StackPlan plan;
  const std::size_t count = node.children.size();
  plan.sizes.resize(count);
  if (count == 0) {
    return plan;
  }
  const double totalSpacing = spacingOf(node) * static_cast<double>(count - 1);
  const auto cross = crossOf(proposal, axis);
  if (const auto main = finite(mainOf(proposal, axis))) {
    shareLength(node, *main - totalSpacing, cross, env, axis, plan);
  } else {
    for (std::size_t i = 0; i < count; ++i) {
      plan.sizes[i] =
          sizeThatFits(node.children[i], makeProposal(axis, std::nullopt, cross), env, axis);
    }
  }
  double mainTotal = totalSpacing;
  double crossMax = 0;
  for (const Size &size : plan.sizes) {
    mainTotal += mainOf(size, axis);
    crossMax = std::max(crossMax, crossOf(size, axis));
  }
  plan.total = makeSize(axis, mainTotal, crossMax);
  return plan;
}

// Vertical and horizontal stacks: children one after the other along the axis, aligned
// across it.
class StackBehaviour final : public ViewBehaviour {
public:
  explicit StackBehaviour(Axis axis) : axis_(axis) {}

  const char *name() const override { return axis_ == Axis::horizontal ? "HStack" : "VStack"; }

  Size measure(const Node &node, ProposedSize proposal, const Environment &env,
               Axis) const override {
    return planStack(node, proposal, env, axis_).total;
  }

  void placeChildren(LayoutNode &placed, Axis) const override {
    const Node &node = *placed.node;
    const StackContent &stack = node.as<StackContent>();
    const Rect &rect = placed.frame;
    const StackPlan plan =
        planStack(node, ProposedSize{rect.width(), rect.height()}, placed.environment, axis_);
    double cursor = axis_ == Axis::horizontal ? rect.minX() : rect.minY();
    for (std::size_t i = 0; i < node.children.size(); ++i) {
      const Size size = plan.sizes[i];
      const Rect childRect =
          axis_ == Axis::horizontal
              ? Rect{{cursor,
                      rect.minY() + alignOffset(rect.height(), size.height, stack.vAlignment)},
                     size}
              : Rect{
                    {rect.minX() + alignOffset(rect.width(), size.width, stack.hAlignment), cursor},
                    size};
      placeChild(placed, node.children[i], childRect, std::to_string(i), LayoutNode::Role::content,
                 axis_);
      cursor += mainOf(size, axis_) + spacingOf(node);
    }
  }

private:
  Axis axis_;
};

} // namespace

const ViewBehaviour &stackBehaviour(NodeKind kind) {
  static const StackBehaviour vertical(Axis::vertical);
  static const StackBehaviour horizontal(Axis::horizontal);
  return kind == NodeKind::hstack ? horizontal : vertical;
}

} // namespace platform::ui
