#pragma once

#include "platform/ui/Color.hpp"
#include "platform/ui/Font.hpp"
#include "platform/ui/Geometry.hpp"
#include "platform/ui/View.hpp"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform::ui {

struct TextEditorState;

// Attributes a view inherits from its ancestors.
struct Environment {
  Font font = Font::body();
  Color foreground = Color::primary();
  Color tint = Color::accent();
  ControlSize controlSize = ControlSize::regular;
  ButtonStyle buttonStyle;
  Appearance appearance = Appearance::light;
};

// The environment inside `node`: its own attributes over the inherited ones.
Environment inherit(const Environment &outer, const Node &node);

// A placed view: its frame in the root's coordinates (top-left origin) and what is in effect
// there. Children are, in drawing order: backgrounds, the content (or a button's label),
// overlays.
struct LayoutNode {
  enum class Role { content, background, overlay, label };

  const Node *node = nullptr; // owned by the view tree the layout was made from
  Role role = Role::content;
  Rect frame;
  Environment environment;
  double opacity = 1.0; // this view's and its ancestors' opacity multiplied
  bool hidden = false;  // this view or an ancestor is hidden
  std::string identity; // identityOf() of the view's place
  std::vector<LayoutNode> children;
  // Text editors: the hosting view's editing state for this place (null outside one).
  TextEditorState *editor = nullptr;
};

enum class Axis { none, horizontal, vertical };

// The size `view` takes when offered `proposal`.
Size sizeThatFits(const View &view, ProposedSize proposal, const Environment &environment,
                  Axis parentAxis = Axis::none);

// Lays `root` out in a box of `size` at the origin.
LayoutNode layoutTree(const View &root, Size size, const Environment &environment);

// The first node of the tree, in drawing order, that `match` accepts; null without one.
const LayoutNode *findFirst(const LayoutNode &root,
                            const std::function<bool(const LayoutNode &)> &match);
// Every node, innermost first (children before their parent).
std::vector<const LayoutNode *> innermostFirst(const LayoutNode &root);
// Shown (not hidden, not fully transparent) and enabled: a person can use it.
bool isUsable(const LayoutNode &placed);

// Places `child` at `rect` inside `parent` (whose frame and environment are set), as the
// child in `slot` ("0", "bg0", "label", ...), and adds it to the parent's children.
void placeChild(LayoutNode &parent, const View &child, const Rect &rect, const std::string &slot,
                LayoutNode::Role role, Axis axis = Axis::none);

// The edge insets a button style draws around its label at a control size.
EdgeInsets buttonChromeInsets(ButtonStyleKind style, ControlSize size);

// Side of a symbol's square box in a font.
double symbolSide(const Font &font);

// Geometry the kinds of views share.
inline std::optional<double> finite(std::optional<double> value) {
  if (value && *value >= kInfinity / 2) {
    return std::nullopt;
  }
  return value;
}

inline std::optional<double> shrink(std::optional<double> value, double by) {
  if (!value) {
    return std::nullopt;
  }
  return std::max(0.0, *value - by);
}

inline Rect inset(const Rect &rect, const EdgeInsets &in) {
  return Rect{{rect.minX() + in.leading, rect.minY() + in.top},
              {std::max(0.0, rect.width() - in.leading - in.trailing),
               std::max(0.0, rect.height() - in.top - in.bottom)}};
}

// The proposal left for content inside `in`.
inline ProposedSize inset(ProposedSize proposal, const EdgeInsets &in) {
  return {shrink(proposal.width, in.leading + in.trailing),
          shrink(proposal.height, in.top + in.bottom)};
}

inline Size outset(Size size, const EdgeInsets &in) {
  return {size.width + in.leading + in.trailing, size.height + in.top + in.bottom};
}

double alignOffset(double space, double content, HorizontalAlignment alignment);
double alignOffset(double space, double content, VerticalAlignment alignment);
// A box of `content` size aligned in `box`.
Rect aligned(const Rect &box, Size content, Alignment alignment);

} // namespace platform::ui
