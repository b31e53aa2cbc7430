#include "platform/ui/ViewBehaviour.hpp"

#include <algorithm>
#include <optional>

namespace platform::ui {

namespace {

// The frame drawn: a stretched shape changing width is drawn at its animated width, centred.
Rect drawnFrame(const LayoutNode &placed) {
  const std::optional<double> width = animatedNow(placed, "width");
  if (!width) {
    return placed.frame;
  }
  return Rect{{placed.frame.midX() - *width / 2, placed.frame.minY()},
              {*width, placed.frame.height()}};
}

void paintShadow(cairo_t *cr, const LayoutNode &placed) {
  const ShapeContent &shape = placed.node->as<ShapeContent>();
  const Shadow &shadow = *placed.node->shadow;
  const RGBA colour = resolvedColour(shadow.color, placed.environment);
  // Soft edge approximated by stacked, growing outlines of falling alpha.
  const int steps = std::max(1, static_cast<int>(shadow.radius / 2));
  Rect frame = drawnFrame(placed);
  frame.origin.x += shadow.x;
  frame.origin.y += shadow.y;
  for (int i = steps; i >= 1; --i) {
    const double grow = shadow.radius * static_cast<double>(i) / steps / 2;
    const Rect grown{{frame.minX() - grow, frame.minY() - grow},
                     {frame.width() + 2 * grow, frame.height() + 2 * grow}};
    shapePath(cr, shape.shape, grown,
              shape.cornerRadius > 0 ? shape.cornerRadius + grow : shape.cornerRadius);
    cairo_set_source_rgba(cr, colour.red, colour.green, colour.blue,
                          colour.alpha / (steps + 1) * 1.2);
    cairo_fill(cr);
  }
}

// Rectangles, rounded rectangles, capsules and circles: as large as offered, filled (in the
// foreground style unless given a fill) or stroked, with an optional shadow.
class ShapeBehaviour final : public ViewBehaviour {
public:
  const char *name() const override { return "Shape"; }

  Size measure(const Node &, ProposedSize proposal, const Environment &, Axis) const override {
    return {proposal.width.value_or(Theme::shapeSide), proposal.height.value_or(Theme::shapeSide)};
  }

  void paint(cairo_t *cr, const LayoutNode &placed, DrawReport *) const override {
    const ShapeContent &shape = placed.node->as<ShapeContent>();
    const Environment &env = placed.environment;
    if (placed.node->shadow) {
      paintShadow(cr, placed);
    }
    shapePath(cr, shape.shape, drawnFrame(placed), shape.cornerRadius);
    if (shape.stroke && !shape.fill) {
      setSource(cr, resolvedColour(*shape.stroke, env));
      cairo_set_line_width(cr, shape.lineWidth);
      cairo_stroke(cr);
    } else {
      setSource(cr, resolvedColour(shape.fill.value_or(env.foreground), env));
      cairo_fill(cr);
    }
  }
};

} // namespace

const ViewBehaviour &shapeBehaviour() {
  static const ShapeBehaviour behaviour;
  return behaviour;
}

} // namespace platform::ui
