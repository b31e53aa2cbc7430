#include "platform/ui/ViewBehaviour.hpp"

namespace platform::ui {

namespace {

ButtonStyleKind effectiveStyle(const ButtonContent &button, const Environment &env) {
  if (button.styledLabel) {
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

const View &labelOf(const Node &node) { return node.as<ButtonContent>().label.front(); }

// A label inside the chrome of the button style in effect (a custom style's body is the label
// itself, resolved by the hosting view).
class ButtonBehaviour final : public ViewBehaviour {
public:
  const char *name() const override { return "Button"; }

  Size measure(const Node &node, ProposedSize proposal, const Environment &env,
               Axis) const override {
    const EdgeInsets in =
        buttonChromeInsets(effectiveStyle(node.as<ButtonContent>(), env), env.controlSize);
    return outset(sizeThatFits(labelOf(node), inset(proposal, in), env), in);
  }

  void placeChildren(LayoutNode &placed, Axis) const override {
    const Node &node = *placed.node;
    const Environment env = placed.environment;
    const ButtonStyleKind style = effectiveStyle(node.as<ButtonContent>(), env);
    const Rect inner = inset(placed.frame, buttonChromeInsets(style, env.controlSize));
    Environment labelEnv = env;
    if (style == ButtonStyleKind::borderedProminent) {
      labelEnv.foreground = Color::white();
    } else if (style == ButtonStyleKind::borderless && !node.foreground) {
      labelEnv.foreground = Color::tint();
    }
    const Size size = sizeThatFits(labelOf(node), {inner.width(), inner.height()}, labelEnv);
    // The label inherits the label environment, not the button's own.
    placed.environment = labelEnv;
    placeChild(placed, labelOf(node), aligned(inner, size, Alignment::center()), "label",
               LayoutNode::Role::label);
    placed.environment = env;
  }

  void paint(cairo_t *cr, const LayoutNode &placed, DrawReport *) const override {
    const Environment &env = placed.environment;
    const ButtonStyleKind style = effectiveStyle(placed.node->as<ButtonContent>(), env);
    if (style == ButtonStyleKind::bordered) {
      shapePath(cr, ShapeKind::roundedRectangle, placed.frame, Theme::controlCornerRadius);
      setSource(cr, Theme::buttonFill(env.appearance));
      cairo_fill_preserve(cr);
      setSource(cr, Theme::buttonStroke(env.appearance));
      cairo_set_line_width(cr, Theme::hairline);
      cairo_stroke(cr);
    } else if (style == ButtonStyleKind::borderedProminent) {
      shapePath(cr, ShapeKind::roundedRectangle, placed.frame, Theme::controlCornerRadius);
      setSource(cr, resolvedColour(Color::tint(), env));
      cairo_fill(cr);
    }
  }

  bool takesClicks() const override { return true; }

  void click(const LayoutNode &placed, Desktop *, const std::optional<Rect> &) const override {
    // The action may render the view again (or close its window): run a copy.
    if (const auto action = placed.node->as<ButtonContent>().action) {
      action();
    }
  }
};

} // namespace

const ViewBehaviour &buttonBehaviour() {
  static const ButtonBehaviour behaviour;
  return behaviour;
}

} // namespace platform::ui
