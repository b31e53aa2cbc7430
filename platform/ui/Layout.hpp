#pragma once

#include "platform/ui/Color.hpp"
#include "platform/ui/Font.hpp"
#include "platform/ui/Geometry.hpp"
#include "platform/ui/View.hpp"

#include <string>
#include <vector>

namespace platform::ui {

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
  // Structural identity: the path of positions and kinds from the root ("0:VStack/1:Text"),
  // with explicit ids and component types. Stable across renders for the same place.
  std::string identity;
  std::vector<LayoutNode> children;
};

enum class Axis { none, horizontal, vertical };

// The size `view` takes when offered `proposal`.
Size sizeThatFits(const View &view, ProposedSize proposal, const Environment &environment,
                  Axis parentAxis = Axis::none);

// Lays `root` out in a box of `size` at the origin.
LayoutNode layoutTree(const View &root, Size size, const Environment &environment);

// The edge insets a button style draws around its label at a control size.
EdgeInsets buttonChromeInsets(ButtonStyleKind style, ControlSize size);

// Side of a symbol's square box in a font.
double symbolSide(const Font &font);

} // namespace platform::ui
