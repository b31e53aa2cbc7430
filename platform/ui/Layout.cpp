#include "platform/ui/Layout.hpp"

#include "platform/ui/ViewBehaviour.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

namespace platform::ui {

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

double symbolSide(const Font &font) { return std::ceil(font.size * Theme::symbolScale); }

EdgeInsets buttonChromeInsets(ButtonStyleKind style, ControlSize size) {
  if (style != ButtonStyleKind::bordered && style != ButtonStyleKind::borderedProminent &&
      style != ButtonStyleKind::automatic) {
    return {};
  }
  return Theme::buttonInsets(size);
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

LayoutNode place(const View &view, const Rect &rect, const LayoutNode *parent, std::string identity,
                 LayoutNode::Role role, Axis axis, const Environment &rootEnvironment) {
  const Node &node = view.node();
  LayoutNode out;
  out.node = &node;
  out.role = role;
  out.frame = rect;
  out.environment = inherit(parent ? parent->environment : rootEnvironment, node);
  out.opacity = (parent ? parent->opacity : 1.0) * node.opacity;
  out.hidden = (parent && parent->hidden) || node.hidden;
  out.identity = std::move(identity);
  behaviourOf(node.kind).placeChildren(out, axis);
  return out;
}

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

// Installs a memo for the outermost measuring call on this thread.
class MemoScope {
public:
  MemoScope() : owner_(measureMemo == nullptr) {
    if (owner_) {
      measureMemo = &memo_;
    }
  }
  ~MemoScope() {
    if (owner_) {
      measureMemo = nullptr;
    }
  }
  MemoScope(const MemoScope &) = delete;
  MemoScope &operator=(const MemoScope &) = delete;

private:
  bool owner_;
  std::map<MeasureKey, Size> memo_;
};

} // namespace

void placeChild(LayoutNode &parent, const View &child, const Rect &rect, const std::string &slot,
                LayoutNode::Role role, Axis axis) {
  parent.children.push_back(place(child, rect, &parent,
                                  identityOf(parent.identity, slot, child.node()), role, axis,
                                  parent.environment));
}

const LayoutNode *findFirst(const LayoutNode &root,
                            const std::function<bool(const LayoutNode &)> &match) {
  if (match(root)) {
    return &root;
  }
  for (const LayoutNode &child : root.children) {
    if (const LayoutNode *found = findFirst(child, match)) {
      return found;
    }
  }
  return nullptr;
}

namespace {
void postOrder(const LayoutNode &placed, std::vector<const LayoutNode *> &out) {
  for (const LayoutNode &child : placed.children) {
    postOrder(child, out);
  }
  out.push_back(&placed);
}
} // namespace

std::vector<const LayoutNode *> innermostFirst(const LayoutNode &root) {
  std::vector<const LayoutNode *> out;
  postOrder(root, out);
  return out;
}

bool isUsable(const LayoutNode &placed) {
  return !placed.hidden && placed.opacity > 0 && !placed.node->disabled;
}

Size sizeThatFits(const View &view, ProposedSize proposal, const Environment &outer,
                  Axis parentAxis) {
  MemoScope scope;
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
  if (auto found = measureMemo->find(key); found != measureMemo->end()) {
    return found->second;
  }
  const Node &node = view.node();
  const Size result =
      behaviourOf(node.kind).measure(node, proposal, inherit(outer, node), parentAxis);
  measureMemo->emplace(key, result);
  return result;
}

LayoutNode layoutTree(const View &root, Size size, const Environment &environment) {
  MemoScope scope;
  const Size fitted = sizeThatFits(root, {size.width, size.height}, environment);
  const Rect box{{0, 0}, size};
  return place(root, aligned(box, fitted, Alignment::center()), nullptr,
               identityOf("", "0", root.node()), LayoutNode::Role::content, Axis::none,
               environment);
}

} // namespace platform::ui
