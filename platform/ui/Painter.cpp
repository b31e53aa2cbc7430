#include "platform/ui/Painter.hpp"

#include "platform/ui/ViewBehaviour.hpp"

#include <algorithm>
#include <cmath>

namespace platform::ui {

namespace {

// Opacity of the views being drawn, for surfaces where views are not drawn on layers.
thread_local double layerAlpha = 1.0;
// The animated values of the tree being drawn, for the kinds' drawing code.
thread_local const AnimatedValue *drawnValues = nullptr;

Color colourOf(const RGBA &c) { return Color::rgb(c.red, c.green, c.blue, c.alpha); }

// Draws the view itself, in its animated colours while they change.
void paintOwn(cairo_t *cr, const LayoutNode &ln, DrawReport *report,
              const AnimatedColour &colours) {
  const ViewBehaviour &behaviour = behaviourOf(ln.node->kind);
  const std::optional<RGBA> fill = colours ? colours(ln.identity, "fill") : std::nullopt;
  const std::optional<RGBA> foreground =
      colours ? colours(ln.identity, "foreground") : std::nullopt;
  if (!fill && !foreground) {
    behaviour.paint(cr, ln, report);
    return;
  }
  Node node = *ln.node;
  LayoutNode placed;
  placed.node = &node;
  placed.role = ln.role;
  placed.frame = ln.frame;
  placed.environment = ln.environment;
  placed.opacity = ln.opacity;
  placed.hidden = ln.hidden;
  placed.identity = ln.identity;
  placed.editor = ln.editor;
  if (fill && node.kind == NodeKind::shape) {
    node.as<ShapeContent>().fill = colourOf(*fill);
  }
  if (foreground) {
    placed.environment.foreground = colourOf(*foreground);
  }
  behaviour.paint(cr, placed, report);
}

void paintNode(cairo_t *cr, const LayoutNode &ln, DrawReport *report, const AnimatedValue &animated,
               const AnimatedColour &colours) {
  const Node &node = *ln.node;
  double opacity = node.opacity;
  double scale = node.scale;
  if (animated) {
    opacity = animated(ln.identity, "opacity").value_or(opacity);
    scale = animated(ln.identity, "scale").value_or(scale);
  }
  if (node.hidden || opacity <= 0.0 || scale <= 0.0) {
    return;
  }
  cairo_save(cr);
  // A translucent view is drawn on a layer where the surface is an image. On vector surfaces
  // (where cairo 1.16 leaks layers) its colours carry the opacity instead.
  const bool translucent = opacity < 1.0;
  const bool grouped =
      translucent && cairo_surface_get_type(cairo_get_target(cr)) == CAIRO_SURFACE_TYPE_IMAGE;
  const double outerAlpha = layerAlpha;
  if (grouped) {
    cairo_push_group(cr);
  } else if (translucent) {
    layerAlpha *= opacity;
  }
  if (scale != 1.0) {
    cairo_translate(cr, ln.frame.midX(), ln.frame.midY());
    cairo_scale(cr, scale, scale);
    cairo_translate(cr, -ln.frame.midX(), -ln.frame.midY());
  }
  paintOwn(cr, ln, report, colours);
  for (const LayoutNode &child : ln.children) {
    paintNode(cr, child, report, animated, colours);
  }
  if (grouped) {
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, opacity);
  }
  layerAlpha = outerAlpha;
  cairo_restore(cr);
}

} // namespace

RGBA resolvedColour(const Color &colour, const Environment &env) {
  RGBA out = colour.resolve(env.appearance, &env.tint);
  out.alpha *= layerAlpha;
  return out;
}

void setSource(cairo_t *cr, const RGBA &c) {
  cairo_set_source_rgba(cr, c.red, c.green, c.blue, c.alpha);
}

void shapePath(cairo_t *cr, ShapeKind shape, const Rect &frame, double cornerRadius) {
  const double x = frame.minX();
  const double y = frame.minY();
  const double w = frame.width();
  const double h = frame.height();
  cairo_new_sub_path(cr);
  switch (shape) {
  case ShapeKind::rectangle:
    cairo_rectangle(cr, x, y, w, h);
    return;
  case ShapeKind::circle:
    cairo_arc(cr, frame.midX(), frame.midY(), std::min(w, h) / 2, 0, 2 * kPi);
    cairo_close_path(cr);
    return;
  case ShapeKind::capsule:
    cornerRadius = std::min(w, h) / 2;
    break;
  case ShapeKind::roundedRectangle:
    cornerRadius = std::min({cornerRadius, w / 2, h / 2});
    break;
  }
  const double r = std::max(0.0, cornerRadius);
  cairo_arc(cr, x + w - r, y + r, r, -kPi / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, kPi / 2);
  cairo_arc(cr, x + r, y + h - r, r, kPi / 2, kPi);
  cairo_arc(cr, x + r, y + r, r, kPi, 3 * kPi / 2);
  cairo_close_path(cr);
}

void paintTree(cairo_t *cr, const LayoutNode &root, DrawReport *report,
               const AnimatedValue &animated, const AnimatedColour &animatedColour) {
  const AnimatedValue *outer = drawnValues;
  drawnValues = animated ? &animated : nullptr;
  paintNode(cr, root, report, animated, animatedColour);
  drawnValues = outer;
}

std::optional<double> animatedNow(const LayoutNode &placed, const char *property) {
  if (drawnValues == nullptr) {
    return std::nullopt;
  }
  return (*drawnValues)(placed.identity, property);
}

} // namespace platform::ui
