#include "platform/ui/Symbols.hpp"

#include <cmath>
#include <functional>
#include <map>

namespace platform::ui {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Every painter draws in the unit square with the colour already set; `line` is the stroke
// width for outlined icons in unit coordinates.
using Painter = std::function<void(cairo_t *)>;

void strokeWith(cairo_t *cr, double width) {
  cairo_set_line_width(cr, width);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_stroke(cr);
}

void circlePath(cairo_t *cr, double cx, double cy, double r) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, cx, cy, r, 0, 2 * kPi);
}

void roundedRect(cairo_t *cr, double x, double y, double w, double h, double r) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -kPi / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, kPi / 2);
  cairo_arc(cr, x + r, y + h - r, r, kPi / 2, kPi);
  cairo_arc(cr, x + r, y + r, r, kPi, 3 * kPi / 2);
  cairo_close_path(cr);
}

// Knocks a shape out of what was drawn before it (for white-on-fill details).
void knockOut(cairo_t *cr, const std::function<void()> &shape) {
  cairo_save(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
  shape();
  cairo_restore(cr);
}

void checkPath(cairo_t *cr, double scale, double cx, double cy) {
  cairo_move_to(cr, cx - 0.22 * scale, cy + 0.0 * scale);
  cairo_line_to(cr, cx - 0.06 * scale, cy + 0.17 * scale);
  cairo_line_to(cr, cx + 0.24 * scale, cy - 0.18 * scale);
}

void sparkle(cairo_t *cr, double cx, double cy, double r) {
  cairo_move_to(cr, cx, cy - r);
  cairo_curve_to(cr, cx + r * 0.12, cy - r * 0.12, cx + r * 0.12, cy - r * 0.12, cx + r, cy);
  cairo_curve_to(cr, cx + r * 0.12, cy + r * 0.12, cx + r * 0.12, cy + r * 0.12, cx, cy + r);
  cairo_curve_to(cr, cx - r * 0.12, cy + r * 0.12, cx - r * 0.12, cy + r * 0.12, cx - r, cy);
  cairo_curve_to(cr, cx - r * 0.12, cy - r * 0.12, cx - r * 0.12, cy - r * 0.12, cx, cy - r);
  cairo_close_path(cr);
}

void micBody(cairo_t *cr) {
  roundedRect(cr, 0.36, 0.08, 0.28, 0.52, 0.14);
  cairo_fill(cr);
  cairo_arc_negative(cr, 0.5, 0.44, 0.26, kPi, 0);
  strokeWith(cr, 0.08);
  cairo_move_to(cr, 0.5, 0.70);
  cairo_line_to(cr, 0.5, 0.88);
  cairo_move_to(cr, 0.36, 0.90);
  cairo_line_to(cr, 0.64, 0.90);
  strokeWith(cr, 0.08);
}

void arrowCircle(cairo_t *cr, double angle) {
  circlePath(cr, 0.5, 0.5, 0.42);
  strokeWith(cr, 0.07);
  cairo_save(cr);
  cairo_translate(cr, 0.5, 0.5);
  cairo_rotate(cr, angle);
  cairo_move_to(cr, -0.2, 0);
  cairo_line_to(cr, 0.2, 0);
  cairo_move_to(cr, 0.05, -0.15);
  cairo_line_to(cr, 0.2, 0);
  cairo_line_to(cr, 0.05, 0.15);
  cairo_restore(cr);
  strokeWith(cr, 0.08);
}

const std::map<std::string, Painter> &painters() {
  static const std::map<std::string, Painter> table = {
      {"checkmark.circle.fill",
       [](cairo_t *cr) {
         circlePath(cr, 0.5, 0.5, 0.46);
         cairo_fill(cr);
         knockOut(cr, [cr] {
           checkPath(cr, 1.0, 0.5, 0.5);
           strokeWith(cr, 0.1);
         });
       }},
      {"checkmark",
       [](cairo_t *cr) {
         checkPath(cr, 1.6, 0.5, 0.5);
         strokeWith(cr, 0.12);
       }},
      {"circle",
       [](cairo_t *cr) {
         circlePath(cr, 0.5, 0.5, 0.42);
         strokeWith(cr, 0.07);
       }},
      {"hourglass",
       [](cairo_t *cr) {
         cairo_move_to(cr, 0.22, 0.08);
         cairo_line_to(cr, 0.78, 0.08);
         cairo_move_to(cr, 0.22, 0.92);
         cairo_line_to(cr, 0.78, 0.92);
         strokeWith(cr, 0.08);
         cairo_move_to(cr, 0.28, 0.1);
         cairo_curve_to(cr, 0.28, 0.36, 0.46, 0.42, 0.46, 0.5);
         cairo_curve_to(cr, 0.46, 0.58, 0.28, 0.64, 0.28, 0.9);
         cairo_move_to(cr, 0.72, 0.1);
         cairo_curve_to(cr, 0.72, 0.36, 0.54, 0.42, 0.54, 0.5);
         cairo_curve_to(cr, 0.54, 0.58, 0.72, 0.64, 0.72, 0.9);
         strokeWith(cr, 0.07);
         cairo_move_to(cr, 0.36, 0.88);
         cairo_line_to(cr, 0.5, 0.70);
         cairo_line_to(cr, 0.64, 0.88);
         cairo_close_path(cr);
         cairo_fill(cr);
       }},
      {"mic.fill", [](cairo_t *cr) { micBody(cr); }},
      {"mic.slash.fill",
       [](cairo_t *cr) {
         micBody(cr);
         knockOut(cr, [cr] {
           cairo_move_to(cr, 0.12, 0.06);
           cairo_line_to(cr, 0.88, 0.94);
           strokeWith(cr, 0.2);
         });
         cairo_move_to(cr, 0.14, 0.08);
         cairo_line_to(cr, 0.86, 0.92);
         strokeWith(cr, 0.08);
       }},
      {"exclamationmark.triangle.fill",
       [](cairo_t *cr) {
         cairo_move_to(cr, 0.5, 0.08);
         cairo_line_to(cr, 0.96, 0.9);
         cairo_line_to(cr, 0.04, 0.9);
         cairo_close_path(cr);
         cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
         cairo_set_line_width(cr, 0.08);
         cairo_stroke_preserve(cr);
         cairo_fill(cr);
         knockOut(cr, [cr] {
           cairo_move_to(cr, 0.5, 0.34);
           cairo_line_to(cr, 0.5, 0.62);
           strokeWith(cr, 0.1);
           circlePath(cr, 0.5, 0.76, 0.055);
           cairo_fill(cr);
         });
       }},
      {"sparkles",
       [](cairo_t *cr) {
         sparkle(cr, 0.42, 0.56, 0.36);
         sparkle(cr, 0.8, 0.2, 0.16);
         sparkle(cr, 0.8, 0.82, 0.1);
         cairo_fill(cr);
       }},
      {"xmark",
       [](cairo_t *cr) {
         cairo_move_to(cr, 0.22, 0.22);
         cairo_line_to(cr, 0.78, 0.78);
         cairo_move_to(cr, 0.78, 0.22);
         cairo_line_to(cr, 0.22, 0.78);
         strokeWith(cr, 0.12);
       }},
      {"waveform",
       [](cairo_t *cr) {
         const double heights[] = {0.2, 0.46, 0.76, 0.5, 0.28, 0.6, 0.36};
         for (int i = 0; i < 7; ++i) {
           const double x = 0.14 + i * 0.12;
           cairo_move_to(cr, x, 0.5 - heights[i] / 2);
           cairo_line_to(cr, x, 0.5 + heights[i] / 2);
         }
         strokeWith(cr, 0.07);
       }},
      {"info.circle",
       [](cairo_t *cr) {
         circlePath(cr, 0.5, 0.5, 0.42);
         strokeWith(cr, 0.07);
         circlePath(cr, 0.5, 0.3, 0.05);
         cairo_fill(cr);
         cairo_move_to(cr, 0.5, 0.44);
         cairo_line_to(cr, 0.5, 0.72);
         strokeWith(cr, 0.08);
       }},
      {"lock.shield",
       [](cairo_t *cr) {
         cairo_move_to(cr, 0.5, 0.06);
         cairo_curve_to(cr, 0.66, 0.16, 0.8, 0.18, 0.88, 0.18);
         cairo_curve_to(cr, 0.88, 0.6, 0.74, 0.82, 0.5, 0.94);
         cairo_curve_to(cr, 0.26, 0.82, 0.12, 0.6, 0.12, 0.18);
         cairo_curve_to(cr, 0.2, 0.18, 0.34, 0.16, 0.5, 0.06);
         cairo_close_path(cr);
         strokeWith(cr, 0.07);
         roundedRect(cr, 0.36, 0.44, 0.28, 0.22, 0.03);
         cairo_fill(cr);
         cairo_arc(cr, 0.5, 0.44, 0.09, kPi, 2 * kPi);
         strokeWith(cr, 0.06);
       }},
      {"text.badge.checkmark",
       [](cairo_t *cr) {
         for (int i = 0; i < 3; ++i) {
           cairo_move_to(cr, 0.1, 0.25 + i * 0.2);
           cairo_line_to(cr, i == 2 ? 0.4 : 0.6, 0.25 + i * 0.2);
         }
         strokeWith(cr, 0.07);
         checkPath(cr, 0.9, 0.72, 0.68);
         strokeWith(cr, 0.08);
       }},
      {"arrow.up.circle", [](cairo_t *cr) { arrowCircle(cr, -kPi / 2); }},
      {"arrow.down.circle", [](cairo_t *cr) { arrowCircle(cr, kPi / 2); }},
      {"arrow.right.circle", [](cairo_t *cr) { arrowCircle(cr, 0); }},
      {"arrow.trianglehead.clockwise",
       [](cairo_t *cr) {
         cairo_arc(cr, 0.5, 0.52, 0.34, -kPi * 0.35, kPi * 1.45);
         strokeWith(cr, 0.08);
         cairo_move_to(cr, 0.62, 0.08);
         cairo_line_to(cr, 0.86, 0.2);
         cairo_line_to(cr, 0.64, 0.36);
         cairo_close_path(cr);
         cairo_fill(cr);
       }},
      {"power",
       [](cairo_t *cr) {
         cairo_arc(cr, 0.5, 0.54, 0.34, -kPi * 0.3, kPi * 1.3);
         strokeWith(cr, 0.08);
         cairo_move_to(cr, 0.5, 0.1);
         cairo_line_to(cr, 0.5, 0.5);
         strokeWith(cr, 0.08);
       }},
      {"keyboard",
       [](cairo_t *cr) {
         roundedRect(cr, 0.06, 0.22, 0.88, 0.56, 0.08);
         strokeWith(cr, 0.06);
         for (int row = 0; row < 2; ++row) {
           for (int col = 0; col < 5; ++col) {
             cairo_rectangle(cr, 0.16 + col * 0.14, 0.32 + row * 0.14, 0.08, 0.08);
           }
         }
         cairo_fill(cr);
         cairo_move_to(cr, 0.3, 0.66);
         cairo_line_to(cr, 0.7, 0.66);
         strokeWith(cr, 0.06);
       }},
      {"hand.raised.fill",
       [](cairo_t *cr) {
         for (int i = 0; i < 4; ++i) {
           roundedRect(cr, 0.26 + i * 0.13, 0.1 + (i == 0 || i == 3 ? 0.08 : 0), 0.1, 0.5, 0.05);
         }
         roundedRect(cr, 0.26, 0.45, 0.49, 0.45, 0.14);
         cairo_fill(cr);
         cairo_move_to(cr, 0.28, 0.62);
         cairo_line_to(cr, 0.12, 0.44);
         strokeWith(cr, 0.1);
       }},
      {"cpu",
       [](cairo_t *cr) {
         roundedRect(cr, 0.22, 0.22, 0.56, 0.56, 0.08);
         strokeWith(cr, 0.07);
         cairo_rectangle(cr, 0.38, 0.38, 0.24, 0.24);
         cairo_fill(cr);
         for (int i = 0; i < 3; ++i) {
           const double p = 0.34 + i * 0.16;
           cairo_move_to(cr, p, 0.06);
           cairo_line_to(cr, p, 0.2);
           cairo_move_to(cr, p, 0.8);
           cairo_line_to(cr, p, 0.94);
           cairo_move_to(cr, 0.06, p);
           cairo_line_to(cr, 0.2, p);
           cairo_move_to(cr, 0.8, p);
           cairo_line_to(cr, 0.94, p);
         }
         strokeWith(cr, 0.05);
       }},
      {"chevron.up.chevron.down",
       [](cairo_t *cr) {
         cairo_move_to(cr, 0.3, 0.38);
         cairo_line_to(cr, 0.5, 0.2);
         cairo_line_to(cr, 0.7, 0.38);
         cairo_move_to(cr, 0.3, 0.62);
         cairo_line_to(cr, 0.5, 0.8);
         cairo_line_to(cr, 0.7, 0.62);
         strokeWith(cr, 0.1);
       }},
      {"app.icon",
       [](cairo_t *cr) {
         // A rounded tile in the accent blue with a white quill over a sound wave.
         roundedRect(cr, 0.04, 0.04, 0.92, 0.92, 0.22);
         cairo_pattern_t *gradient = cairo_pattern_create_linear(0, 0, 0, 1);
         cairo_pattern_add_color_stop_rgb(gradient, 0, 0.36, 0.62, 1.0);
         cairo_pattern_add_color_stop_rgb(gradient, 1, 0.12, 0.34, 0.86);
         cairo_set_source(cr, gradient);
         cairo_fill(cr);
         cairo_pattern_destroy(gradient);
         cairo_set_source_rgb(cr, 1, 1, 1);
         const double heights[] = {0.12, 0.26, 0.4, 0.22, 0.1};
         for (int i = 0; i < 5; ++i) {
           const double x = 0.2 + i * 0.08;
           cairo_move_to(cr, x, 0.66 - heights[i] / 2);
           cairo_line_to(cr, x, 0.66 + heights[i] / 2);
         }
         strokeWith(cr, 0.045);
         cairo_move_to(cr, 0.52, 0.78);
         cairo_curve_to(cr, 0.58, 0.5, 0.68, 0.3, 0.84, 0.16);
         cairo_curve_to(cr, 0.8, 0.4, 0.7, 0.58, 0.52, 0.78);
         cairo_close_path(cr);
         cairo_fill(cr);
       }},
  };
  return table;
}

} // namespace

bool hasSymbol(const std::string &name) { return painters().count(name) != 0; }

std::vector<std::string> symbolNames() {
  std::vector<std::string> names;
  for (const auto &entry : painters()) {
    names.push_back(entry.first);
  }
  return names;
}

void drawSymbol(cairo_t *cr, const std::string &name, const Rect &box, const RGBA &colour) {
  const double side = std::min(box.width(), box.height());
  if (side <= 0) {
    return;
  }
  const auto drawUnit = [&](cairo_t *target) {
    cairo_set_source_rgba(target, colour.red, colour.green, colour.blue, 1.0);
    cairo_new_path(target);
    if (auto found = painters().find(name); found != painters().end()) {
      found->second(target);
    } else {
      const double dashes[] = {0.1, 0.08};
      cairo_set_dash(target, dashes, 2, 0);
      cairo_rectangle(target, 0.1, 0.1, 0.8, 0.8);
      strokeWith(target, 0.06);
    }
  };
  cairo_save(cr);
  // Icons are drawn on a layer of their own so knock-outs only clear the icon itself. On
  // vector surfaces the layer is a small image (cairo 1.16 leaks groups drawn onto vector
  // surfaces).
  if (cairo_surface_get_type(cairo_get_target(cr)) == CAIRO_SURFACE_TYPE_IMAGE) {
    cairo_push_group(cr);
    cairo_translate(cr, box.midX() - side / 2, box.midY() - side / 2);
    cairo_scale(cr, side, side);
    drawUnit(cr);
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, colour.alpha);
  } else {
    constexpr double kOversample = 4;
    const int pixels = static_cast<int>(std::ceil(side * kOversample));
    cairo_surface_t *layer = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pixels, pixels);
    cairo_t *layerContext = cairo_create(layer);
    cairo_scale(layerContext, pixels, pixels);
    drawUnit(layerContext);
    cairo_destroy(layerContext);
    cairo_translate(cr, box.midX() - side / 2, box.midY() - side / 2);
    cairo_scale(cr, side / pixels, side / pixels);
    cairo_set_source_surface(cr, layer, 0, 0);
    cairo_paint_with_alpha(cr, colour.alpha);
    cairo_surface_destroy(layer);
  }
  cairo_restore(cr);
}

} // namespace platform::ui
