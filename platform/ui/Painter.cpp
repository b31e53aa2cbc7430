#include "platform/ui/Painter.hpp"

#include "platform/ui/Symbols.hpp"
#include "platform/ui/TextLayout.hpp"

#include <algorithm>
#include <cmath>

namespace platform::ui {

namespace {

constexpr double kPi = 3.14159265358979323846;

void setSource(cairo_t *cr, const RGBA &c) {
  cairo_set_source_rgba(cr, c.red, c.green, c.blue, c.alpha);
}

// Opacity of the views being drawn, for surfaces where views are not drawn on layers.
thread_local double layerAlpha = 1.0;

RGBA resolve(const Color &colour, const Environment &env) {
  RGBA out = colour.resolve(env.appearance, &env.tint);
  out.alpha *= layerAlpha;
  return out;
}

void paintShadow(cairo_t *cr, const LayoutNode &ln) {
  const Node &node = *ln.node;
  const Shadow &shadow = *node.shadow;
  const RGBA colour = resolve(shadow.color, ln.environment);
  // Soft edge approximated by stacked, growing outlines of falling alpha.
  const int steps = std::max(1, static_cast<int>(shadow.radius / 2));
  Rect frame = ln.frame;
  frame.origin.x += shadow.x;
  frame.origin.y += shadow.y;
  for (int i = steps; i >= 1; --i) {
    const double grow = shadow.radius * static_cast<double>(i) / steps / 2;
    const Rect grown{{frame.minX() - grow, frame.minY() - grow},
                     {frame.width() + 2 * grow, frame.height() + 2 * grow}};
    shapePath(cr, node.shape, grown,
              node.cornerRadius > 0 ? node.cornerRadius + grow : node.cornerRadius);
    cairo_set_source_rgba(cr, colour.red, colour.green, colour.blue,
                          colour.alpha / (steps + 1) * 1.2);
    cairo_fill(cr);
  }
}

void paintSpinner(cairo_t *cr, const Rect &frame, const RGBA &colour) {
  const double cx = frame.midX();
  const double cy = frame.midY();
  const double r = std::min(frame.width(), frame.height()) / 2;
  cairo_set_line_width(cr, std::max(1.0, r * 0.2));
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  for (int i = 0; i < 12; ++i) {
    const double angle = i * kPi / 6;
    cairo_move_to(cr, cx + std::cos(angle) * r * 0.5, cy + std::sin(angle) * r * 0.5);
    cairo_line_to(cr, cx + std::cos(angle) * r * 0.92, cy + std::sin(angle) * r * 0.92);
    cairo_set_source_rgba(cr, colour.red, colour.green, colour.blue,
                          colour.alpha * (0.25 + 0.75 * i / 11.0));
    cairo_stroke(cr);
  }
}

void paintBar(cairo_t *cr, const Rect &frame, std::optional<double> value, const RGBA &track,
              const RGBA &fill) {
  shapePath(cr, ShapeKind::capsule, frame, 0);
  setSource(cr, track);
  cairo_fill(cr);
  // An indeterminate bar shows a third of its length.
  const double fraction = value ? std::clamp(*value, 0.0, 1.0) : 0.33;
  const double start = value ? 0.0 : frame.width() * 0.33;
  if (fraction > 0) {
    shapePath(cr, ShapeKind::capsule,
              Rect{{frame.minX() + start, frame.minY()},
                   {std::max(frame.height(), frame.width() * fraction), frame.height()}},
              0);
    setSource(cr, fill);
    cairo_fill(cr);
  }
}

void paintSelf(cairo_t *cr, const LayoutNode &ln, DrawReport *report) {
  const Node &node = *ln.node;
  const Environment &env = ln.environment;
  const bool dark = env.appearance == Appearance::dark;
  switch (node.kind) {
  case NodeKind::text:
    drawText(cr, node.runs, env.font, ln.frame, node.textAlignment, resolve(env.foreground, env));
    if (report) {
      report->texts.push_back(plainText(node.runs));
    }
    break;
  case NodeKind::link:
    drawText(cr, node.runs, env.font, ln.frame, node.textAlignment, resolve(Color::tint(), env));
    if (report) {
      report->texts.push_back(plainText(node.runs));
    }
    break;
  case NodeKind::symbol:
  case NodeKind::image:
    drawSymbol(cr, node.symbolName, ln.frame, resolve(env.foreground, env));
    if (report) {
      report->symbols.push_back(node.symbolName);
    }
    break;
  case NodeKind::shape:
    if (node.shadow) {
      paintShadow(cr, ln);
    }
    shapePath(cr, node.shape, ln.frame, node.cornerRadius);
    if (node.stroke && !node.fill) {
      setSource(cr, resolve(*node.stroke, env));
      cairo_set_line_width(cr, node.lineWidth);
      cairo_stroke(cr);
    } else {
      setSource(cr, resolve(node.fill.value_or(env.foreground), env));
      cairo_fill(cr);
    }
    break;
  case NodeKind::divider:
    cairo_rectangle(cr, ln.frame.minX(), ln.frame.minY(), std::max(ln.frame.width(), 1.0),
                    std::max(ln.frame.height(), 1.0) == 1.0 ? 1.0 : ln.frame.height());
    setSource(cr, dark ? RGBA{1, 1, 1, 0.12} : RGBA{0, 0, 0, 0.1});
    cairo_fill(cr);
    break;
  case NodeKind::progress:
    if (node.linear) {
      const Rect bar{{ln.frame.minX(), ln.frame.midY() - 3}, {ln.frame.width(), 6}};
      paintBar(cr, bar, node.progressValue, dark ? RGBA{1, 1, 1, 0.15} : RGBA{0, 0, 0, 0.1},
               resolve(Color::tint(), env));
    } else {
      paintSpinner(cr, ln.frame, resolve(env.foreground, env));
    }
    break;
  case NodeKind::textEditor: {
    const std::string text = node.text.get ? node.text.get() : std::string();
    const Rect inner{{ln.frame.minX() + 5, ln.frame.minY() + 5},
                     {std::max(0.0, ln.frame.width() - 10), std::max(0.0, ln.frame.height() - 10)}};
    cairo_save(cr);
    cairo_rectangle(cr, ln.frame.minX(), ln.frame.minY(), ln.frame.width(), ln.frame.height());
    cairo_clip(cr);
    drawText(cr, {TextRun{text, false}}, env.font, inner, TextAlignment::leading,
             resolve(env.foreground, env));
    cairo_restore(cr);
    if (report) {
      report->texts.push_back(text);
    }
    break;
  }
  case NodeKind::picker: {
    std::string shown;
    if (node.selectedIndex) {
      const int index = node.selectedIndex();
      if (index >= 0 && static_cast<std::size_t>(index) < node.options.size()) {
        shown = node.options[static_cast<std::size_t>(index)];
      }
    }
    Rect box = ln.frame;
    if (!node.labelHidden && !plainText(node.runs).empty()) {
      const Size title = measureText(node.runs, env.font, std::nullopt);
      drawText(cr, node.runs, env.font, Rect{{box.minX(), box.midY() - title.height / 2}, title},
               TextAlignment::leading, resolve(env.foreground, env));
      box.origin.x += title.width + 8;
      box.size.width -= title.width + 8;
    }
    shapePath(cr, ShapeKind::roundedRectangle, box, 5);
    setSource(cr, dark ? RGBA{1, 1, 1, 0.12} : RGBA{1, 1, 1, 1});
    cairo_fill_preserve(cr);
    setSource(cr, dark ? RGBA{1, 1, 1, 0.2} : RGBA{0, 0, 0, 0.18});
    cairo_set_line_width(cr, 0.5);
    cairo_stroke(cr);
    const Size text = measureText({TextRun{shown, false}}, env.font, std::nullopt);
    drawText(cr, {TextRun{shown, false}}, env.font,
             Rect{{box.minX() + 8, box.midY() - text.height / 2}, text}, TextAlignment::leading,
             resolve(env.foreground, env));
    const Rect chevron{{box.maxX() - 16, box.midY() - 6}, {12, 12}};
    drawSymbol(cr, "chevron.up.chevron.down", chevron, resolve(env.foreground, env));
    if (report) {
      report->texts.push_back(shown);
    }
    break;
  }
  case NodeKind::button: {
    ButtonStyleKind style = env.buttonStyle.kind;
    if (node.styledLabel) {
      break;
    }
    if (style == ButtonStyleKind::automatic) {
      style = ButtonStyleKind::bordered;
    }
    if (style == ButtonStyleKind::bordered) {
      shapePath(cr, ShapeKind::roundedRectangle, ln.frame, 5);
      setSource(cr, dark ? RGBA{1, 1, 1, 0.16} : RGBA{1, 1, 1, 1});
      cairo_fill_preserve(cr);
      setSource(cr, dark ? RGBA{1, 1, 1, 0.1} : RGBA{0, 0, 0, 0.16});
      cairo_set_line_width(cr, 0.5);
      cairo_stroke(cr);
    } else if (style == ButtonStyleKind::borderedProminent) {
      shapePath(cr, ShapeKind::roundedRectangle, ln.frame, 5);
      setSource(cr, resolve(Color::tint(), env));
      cairo_fill(cr);
    }
    break;
  }
  default:
    break;
  }
}

void paintNode(cairo_t *cr, const LayoutNode &ln, DrawReport *report) {
  const Node &node = *ln.node;
  if (node.hidden || node.opacity <= 0.0 || node.scale <= 0.0) {
    return;
  }
  cairo_save(cr);
  // A translucent view is drawn on a layer where the surface is an image. On vector surfaces
  // (where cairo 1.16 leaks layers) its colours carry the opacity instead.
  const bool translucent = node.opacity < 1.0;
  const bool grouped =
      translucent && cairo_surface_get_type(cairo_get_target(cr)) == CAIRO_SURFACE_TYPE_IMAGE;
  const double outerAlpha = layerAlpha;
  if (grouped) {
    cairo_push_group(cr);
  } else if (translucent) {
    layerAlpha *= node.opacity;
  }
  if (node.scale != 1.0) {
    cairo_translate(cr, ln.frame.midX(), ln.frame.midY());
    cairo_scale(cr, node.scale, node.scale);
    cairo_translate(cr, -ln.frame.midX(), -ln.frame.midY());
  }
  paintSelf(cr, ln, report);
  for (const LayoutNode &child : ln.children) {
    paintNode(cr, child, report);
  }
  if (grouped) {
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, node.opacity);
  }
  layerAlpha = outerAlpha;
  cairo_restore(cr);
}

} // namespace

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

void paintTree(cairo_t *cr, const LayoutNode &root, DrawReport *report) {
  paintNode(cr, root, report);
}

} // namespace platform::ui
