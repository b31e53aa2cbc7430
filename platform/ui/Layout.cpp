#include "platform/ui/Layout.hpp"

#include "platform/ui/TextLayout.hpp"

#include <algorithm>
#include <map>
#include <numeric>
#include <tuple>

namespace platform::ui {

namespace {

constexpr double kDefaultSpacing = 8;

std::optional<double> finite(std::optional<double> value) {
  if (value && *value >= kInfinity / 2) {
    return std::nullopt;
  }
  return value;
}

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

std::optional<double> shrink(std::optional<double> value, double by) {
  if (!value) {
    return std::nullopt;
  }
  return std::max(0.0, *value - by);
}

double clampTo(double value, std::optional<double> lower, std::optional<double> upper) {
  if (upper) {
    value = std::min(value, *upper);
  }
  if (lower) {
    value = std::max(value, *lower);
  }
  return value;
}

double spinnerSide(ControlSize size) {
  switch (size) {
  case ControlSize::mini:
    return 10;
  case ControlSize::small:
    return 16;
  case ControlSize::regular:
    return 20;
  case ControlSize::large:
    return 32;
  }
  return 20;
}

const View &labelOf(const Node &node) { return node.labelViews.front(); }

ButtonStyleKind effectiveStyle(const Node &node, const Environment &env) {
  if (node.styledLabel) {
    return ButtonStyleKind::custom;
  }
  ButtonStyleKind kind = env.buttonStyle.kind;
  if (kind == ButtonStyleKind::automatic) {
    kind = ButtonStyleKind::bordered;
  }
  if (kind == ButtonStyleKind::custom) {
    // A custom style whose body was not applied (no hosting view resolved it) draws plain.
    kind = ButtonStyleKind::plain;
  }
  return kind;
}

struct StackPlan {
  std::vector<Size> sizes;
  Size total;
};

StackPlan planStack(const Node &node, ProposedSize proposal, const Environment &env, Axis axis) {
  StackPlan plan;
  const std::size_t count = node.children.size();
  plan.sizes.resize(count);
  if (count == 0) {
    return plan;
  }
  const double spacing = node.spacing.value_or(kDefaultSpacing);
  const double totalSpacing = spacing * static_cast<double>(count - 1);
  const auto cross = crossOf(proposal, axis);
  const auto main = finite(mainOf(proposal, axis));
  if (!main) {
    for (std::size_t i = 0; i < count; ++i) {
      plan.sizes[i] =
          sizeThatFits(node.children[i], makeProposal(axis, std::nullopt, cross), env, axis);
    }
  } else {
    std::vector<double> flexibility(count);
    for (std::size_t i = 0; i < count; ++i) {
      const double least =
          mainOf(sizeThatFits(node.children[i], makeProposal(axis, 0.0, cross), env, axis), axis);
      const double most = mainOf(
          sizeThatFits(node.children[i], makeProposal(axis, kInfinity, cross), env, axis), axis);
      flexibility[i] = most - least;
    }
    std::vector<std::size_t> order(count);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return flexibility[a] < flexibility[b]; });
    // Spacers only take what the other children leave, so a text beside a spacer keeps its
    // natural length when there is room for it.
    double remaining = *main - totalSpacing;
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
  double mainTotal = totalSpacing;
  double crossMax = 0;
  for (const Size &size : plan.sizes) {
    mainTotal += mainOf(size, axis);
    crossMax = std::max(crossMax, crossOf(size, axis));
  }
  plan.total = makeSize(axis, mainTotal, crossMax);
  return plan;
}

Size measureFrameChild(const Node &node, ProposedSize proposal, const Environment &env,
                       ProposedSize &childProposal) {
  childProposal = proposal;
  if (node.width) {
    childProposal.width = *node.width;
  } else if ((node.minWidth || node.maxWidth) && proposal.width) {
    childProposal.width = clampTo(*proposal.width, node.minWidth, node.maxWidth);
  }
  if (node.height) {
    childProposal.height = *node.height;
  } else if ((node.minHeight || node.maxHeight) && proposal.height) {
    childProposal.height = clampTo(*proposal.height, node.minHeight, node.maxHeight);
  }
  return sizeThatFits(node.children.front(), childProposal, env, Axis::none);
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

double alignOffset(double space, double content, HorizontalAlignment alignment) {
  switch (alignment) {
  case HorizontalAlignment::leading:
    return 0;
  case HorizontalAlignment::center:
    return (space - content) / 2;
  case HorizontalAlignment::trailing:
    return space - content;
  }
  return 0;
}

double alignOffset(double space, double content, VerticalAlignment alignment) {
  switch (alignment) {
  case VerticalAlignment::top:
    return 0;
  case VerticalAlignment::center:
    return (space - content) / 2;
  case VerticalAlignment::bottom:
    return space - content;
  }
  return 0;
}

Rect aligned(const Rect &box, Size content, Alignment alignment) {
  return Rect{{box.minX() + alignOffset(box.width(), content.width, alignment.horizontal),
               box.minY() + alignOffset(box.height(), content.height, alignment.vertical)},
              content};
}

std::string childIdentity(const std::string &parent, const std::string &slot, const Node &node) {
  std::string identity = parent + "/" + slot + ":" + toString(node.kind);
  if (!node.componentType.empty()) {
    identity += "<" + node.componentType + ">";
  }
  if (!node.id.empty()) {
    identity += "#" + node.id;
  }
  return identity;
}

LayoutNode place(const View &view, const Rect &rect, const Environment &outer, double opacity,
                 bool hidden, const std::string &identity, LayoutNode::Role role, Axis axis);

void placeChild(LayoutNode &parent, const View &child, const Rect &rect, const std::string &slot,
                LayoutNode::Role role, Axis axis) {
  parent.children.push_back(place(child, rect, parent.environment, parent.opacity, parent.hidden,
                                  childIdentity(parent.identity, slot, child.node()), role, axis));
}

LayoutNode place(const View &view, const Rect &rect, const Environment &outer, double opacity,
                 bool hidden, const std::string &identity, LayoutNode::Role role, Axis axis) {
  const Node &node = view.node();
  LayoutNode out;
  out.node = &node;
  out.role = role;
  out.frame = rect;
  out.environment = inherit(outer, node);
  out.opacity = opacity * node.opacity;
  out.hidden = hidden || node.hidden;
  out.identity = identity;
  const Environment &env = out.environment;
  (void)axis;

  switch (node.kind) {
  case NodeKind::vstack:
  case NodeKind::hstack: {
    const Axis stackAxis = node.kind == NodeKind::hstack ? Axis::horizontal : Axis::vertical;
    const StackPlan plan =
        planStack(node, ProposedSize{rect.width(), rect.height()}, env, stackAxis);
    const double spacing = node.spacing.value_or(kDefaultSpacing);
    double cursor = stackAxis == Axis::horizontal ? rect.minX() : rect.minY();
    for (std::size_t i = 0; i < node.children.size(); ++i) {
      const Size size = plan.sizes[i];
      Rect childRect;
      if (stackAxis == Axis::horizontal) {
        childRect = Rect{
            {cursor, rect.minY() + alignOffset(rect.height(), size.height, node.vAlignment)}, size};
      } else {
        childRect = Rect{
            {rect.minX() + alignOffset(rect.width(), size.width, node.hAlignment), cursor}, size};
      }
      placeChild(out, node.children[i], childRect, std::to_string(i), LayoutNode::Role::content,
                 stackAxis);
      cursor += mainOf(size, stackAxis) + spacing;
    }
    break;
  }
  case NodeKind::zstack:
    for (std::size_t i = 0; i < node.children.size(); ++i) {
      const Size size = sizeThatFits(node.children[i], {rect.width(), rect.height()}, env);
      placeChild(out, node.children[i], aligned(rect, size, Alignment::center()), std::to_string(i),
                 LayoutNode::Role::content, Axis::none);
    }
    break;
  case NodeKind::padding: {
    const EdgeInsets &in = node.insets;
    const Rect inner{{rect.minX() + in.leading, rect.minY() + in.top},
                     {std::max(0.0, rect.width() - in.leading - in.trailing),
                      std::max(0.0, rect.height() - in.top - in.bottom)}};
    placeChild(out, node.children.front(), inner, "0", LayoutNode::Role::content, Axis::none);
    break;
  }
  case NodeKind::frame: {
    ProposedSize childProposal;
    const Size child =
        measureFrameChild(node, ProposedSize{rect.width(), rect.height()}, env, childProposal);
    placeChild(out, node.children.front(), aligned(rect, child, node.frameAlignment), "0",
               LayoutNode::Role::content, Axis::none);
    break;
  }
  case NodeKind::decorated: {
    for (std::size_t i = 0; i < node.backgrounds.size(); ++i) {
      const Size size = sizeThatFits(node.backgrounds[i], {rect.width(), rect.height()}, env);
      placeChild(out, node.backgrounds[i], aligned(rect, size, Alignment::center()),
                 "bg" + std::to_string(i), LayoutNode::Role::background, Axis::none);
    }
    placeChild(out, node.children.front(), rect, "0", LayoutNode::Role::content, Axis::none);
    for (std::size_t i = 0; i < node.overlays.size(); ++i) {
      const Size size = sizeThatFits(node.overlays[i], {rect.width(), rect.height()}, env);
      placeChild(out, node.overlays[i], aligned(rect, size, Alignment::center()),
                 "ov" + std::to_string(i), LayoutNode::Role::overlay, Axis::none);
    }
    break;
  }
  case NodeKind::component:
    if (!node.children.empty()) {
      placeChild(out, node.children.front(), rect, "0", LayoutNode::Role::content, axis);
    }
    break;
  case NodeKind::button: {
    const EdgeInsets in = buttonChromeInsets(effectiveStyle(node, env), env.controlSize);
    const Rect inner{{rect.minX() + in.leading, rect.minY() + in.top},
                     {std::max(0.0, rect.width() - in.leading - in.trailing),
                      std::max(0.0, rect.height() - in.top - in.bottom)}};
    Environment labelEnv = env;
    const ButtonStyleKind style = effectiveStyle(node, env);
    if (style == ButtonStyleKind::borderedProminent) {
      labelEnv.foreground = Color::white();
    } else if (style == ButtonStyleKind::borderless && !node.foreground) {
      labelEnv.foreground = Color::tint();
    }
    const Size size = sizeThatFits(labelOf(node), {inner.width(), inner.height()}, labelEnv);
    LayoutNode holder = out;
    holder.environment = labelEnv;
    holder.children.clear();
    placeChild(holder, labelOf(node), aligned(inner, size, Alignment::center()), "label",
               LayoutNode::Role::label, Axis::none);
    out.children = std::move(holder.children);
    break;
  }
  default:
    break;
  }
  return out;
}

} // namespace

double symbolSide(const Font &font) { return std::ceil(font.size * 1.2); }

EdgeInsets buttonChromeInsets(ButtonStyleKind style, ControlSize size) {
  if (style != ButtonStyleKind::bordered && style != ButtonStyleKind::borderedProminent &&
      style != ButtonStyleKind::automatic) {
    return {};
  }
  switch (size) {
  case ControlSize::mini:
    return {1, 5, 1, 5};
  case ControlSize::small:
    return {2, 7, 2, 7};
  case ControlSize::regular:
    return {3, 9, 3, 9};
  case ControlSize::large:
    return {6, 14, 6, 14};
  }
  return {};
}

Environment inherit(const Environment &outer, const Node &node) {
  Environment env = outer;
  if (node.font) {
    env.font = *node.font;
  }
  if (node.foreground) {
    env.foreground = *node.foreground;
  }
  if (node.tint) {
    env.tint = *node.tint;
  }
  if (node.controlSize) {
    env.controlSize = *node.controlSize;
  }
  if (node.buttonStyle) {
    env.buttonStyle = *node.buttonStyle;
  }
  return env;
}

namespace {

// Stacks measure each child several times and nest, so one layout pass remembers the sizes it
// found. The memo lives while the outermost measuring call runs.
struct MeasureKey {
  const Node *node;
  double width, height;
  double fontSize;
  int weight, style, controlSize, axis, buttonStyle;
  bool mono;
  bool operator<(const MeasureKey &o) const {
    return std::tie(node, width, height, fontSize, weight, style, controlSize, axis, buttonStyle,
                    mono) < std::tie(o.node, o.width, o.height, o.fontSize, o.weight, o.style,
                                     o.controlSize, o.axis, o.buttonStyle, o.mono);
  }
};

thread_local std::map<MeasureKey, Size> *measureMemo = nullptr;

Size measureUncached(const View &view, ProposedSize proposal, const Environment &outer,
                     Axis parentAxis);

} // namespace

Size sizeThatFits(const View &view, ProposedSize proposal, const Environment &outer,
                  Axis parentAxis) {
  std::map<MeasureKey, Size> memo;
  const bool outermost = measureMemo == nullptr;
  if (outermost) {
    measureMemo = &memo;
  }
  struct Reset {
    bool active;
    ~Reset() {
      if (active) {
        measureMemo = nullptr;
      }
    }
  } reset{outermost};
  const MeasureKey key{&view.node(),
                       proposal.width.value_or(-1),
                       proposal.height.value_or(-1),
                       outer.font.size,
                       static_cast<int>(outer.font.weight),
                       static_cast<int>(outer.font.style),
                       static_cast<int>(outer.controlSize),
                       static_cast<int>(parentAxis),
                       static_cast<int>(outer.buttonStyle.kind),
                       outer.font.monospacedDigits};
  Size result;
  if (auto found = measureMemo->find(key); found != measureMemo->end()) {
    result = found->second;
  } else {
    result = measureUncached(view, proposal, outer, parentAxis);
    measureMemo->emplace(key, result);
  }
  return result;
}

namespace {

Size measureUncached(const View &view, ProposedSize proposal, const Environment &outer,
                     Axis parentAxis) {
  const Node &node = view.node();
  const Environment env = inherit(outer, node);
  switch (node.kind) {
  case NodeKind::empty:
    return {};
  case NodeKind::text:
  case NodeKind::link: {
    auto width = finite(proposal.width);
    if (node.maxTextWidth) {
      width = width ? std::min(*width, *node.maxTextWidth) : *node.maxTextWidth;
    }
    return measureText(node.runs, env.font, width, node.textAlignment);
  }
  case NodeKind::symbol: {
    const double side = symbolSide(env.font);
    return {side, side};
  }
  case NodeKind::image:
    return {finite(proposal.width).value_or(64), finite(proposal.height).value_or(64)};
  case NodeKind::button: {
    const ButtonStyleKind style = effectiveStyle(node, env);
    const EdgeInsets in = buttonChromeInsets(style, env.controlSize);
    const Size label = sizeThatFits(labelOf(node),
                                    {shrink(proposal.width, in.leading + in.trailing),
                                     shrink(proposal.height, in.top + in.bottom)},
                                    env);
    return {label.width + in.leading + in.trailing, label.height + in.top + in.bottom};
  }
  case NodeKind::picker: {
    std::string shown;
    if (node.selectedIndex) {
      const int index = node.selectedIndex();
      if (index >= 0 && static_cast<std::size_t>(index) < node.options.size()) {
        shown = node.options[static_cast<std::size_t>(index)];
      }
    }
    const Size text = measureText({TextRun{shown, false}}, env.font, std::nullopt);
    double width = text.width + 8 + 18;
    if (!node.labelHidden && !plainText(node.runs).empty()) {
      width += measureText(node.runs, env.font, std::nullopt).width + 8;
    }
    return {width, text.height + 6};
  }
  case NodeKind::textEditor: {
    const double width = finite(proposal.width).value_or(120);
    double height = 0;
    if (auto h = finite(proposal.height)) {
      height = *h;
    } else {
      const std::string text = node.text.get ? node.text.get() : std::string();
      height = measureText({TextRun{text, false}}, env.font, std::max(1.0, width - 10)).height + 10;
    }
    return {width, height};
  }
  case NodeKind::progress:
    if (node.linear) {
      return {finite(proposal.width).value_or(160), 6};
    } else {
      const double side = spinnerSide(env.controlSize);
      return {side, side};
    }
  case NodeKind::spacer: {
    const double least = node.minLength.value_or(kDefaultSpacing);
    if (parentAxis == Axis::horizontal) {
      return {std::max(least, proposal.width.value_or(least)), 0};
    }
    if (parentAxis == Axis::vertical) {
      return {0, std::max(least, proposal.height.value_or(least))};
    }
    return {proposal.width.value_or(0), proposal.height.value_or(0)};
  }
  case NodeKind::divider:
    if (parentAxis == Axis::horizontal) {
      return {1, finite(proposal.height).value_or(0)};
    }
    return {finite(proposal.width).value_or(0), 1};
  case NodeKind::shape:
    return {proposal.width.value_or(10), proposal.height.value_or(10)};
  case NodeKind::padding: {
    const EdgeInsets &in = node.insets;
    const Size inner = sizeThatFits(node.children.front(),
                                    {shrink(proposal.width, in.leading + in.trailing),
                                     shrink(proposal.height, in.top + in.bottom)},
                                    env);
    return {inner.width + in.leading + in.trailing, inner.height + in.top + in.bottom};
  }
  case NodeKind::frame: {
    ProposedSize childProposal;
    const Size child = measureFrameChild(node, proposal, env, childProposal);
    return {
        frameDimension(node.width, node.minWidth, node.maxWidth, proposal.width, child.width),
        frameDimension(node.height, node.minHeight, node.maxHeight, proposal.height, child.height)};
  }
  case NodeKind::decorated:
    return sizeThatFits(node.children.front(), proposal, env, parentAxis);
  case NodeKind::component:
    if (node.children.empty()) {
      return {};
    }
    return sizeThatFits(node.children.front(), proposal, env, parentAxis);
  case NodeKind::vstack:
    return planStack(node, proposal, env, Axis::vertical).total;
  case NodeKind::hstack:
    return planStack(node, proposal, env, Axis::horizontal).total;
  case NodeKind::zstack: {
    Size out;
    for (const View &child : node.children) {
      const Size size = sizeThatFits(child, proposal, env);
      out.width = std::max(out.width, size.width);
      out.height = std::max(out.height, size.height);
    }
    return out;
  }
  }
  return {};
}

} // namespace

LayoutNode layoutTree(const View &root, Size size, const Environment &environment) {
  std::map<MeasureKey, Size> memo;
  measureMemo = &memo;
  struct Reset {
    ~Reset() { measureMemo = nullptr; }
  } reset;
  const Size fitted = sizeThatFits(root, {size.width, size.height}, environment);
  const Rect box{{0, 0}, size};
  return place(root, aligned(box, fitted, Alignment::center()), environment, 1.0, false,
               childIdentity("", "0", root.node()), LayoutNode::Role::content, Axis::none);
}

} // namespace platform::ui
