#pragma once

#include "platform/ui/Layout.hpp"

#include <cairo.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform::ui {

// What a drawing pass put on the surface that a person reads: every text (and the selected
// text of pickers and editors) in drawing order, and every symbol name.
struct DrawReport {
  std::vector<std::string> texts;
  std::vector<std::string> symbols;
};

// Draws a laid-out view tree onto any cairo surface (an image, an SVG document, an on-screen
// window). Coordinates are the layout's; the caller sets the transform. Hidden views and
// views at zero opacity draw nothing.
// `animated` gives the opacity or scale drawn in place of a view's own while it animates.
// `animatedColour` gives the fill or foreground colour drawn in place of a view's own.
using AnimatedValue =
    std::function<std::optional<double>(const std::string &identity, const char *property)>;
using AnimatedColour =
    std::function<std::optional<RGBA>(const std::string &identity, const char *property)>;
void paintTree(cairo_t *cr, const LayoutNode &root, DrawReport *report = nullptr,
               const AnimatedValue &animated = {}, const AnimatedColour &animatedColour = {});

// For the kinds' drawing code during paintTree: the value drawn now for an animated
// `property` of `placed` (an indeterminate bar's "phase"); absent when it does not animate.
std::optional<double> animatedNow(const LayoutNode &placed, const char *property);

// Adds the path of a shape in `frame` to the current path.
void shapePath(cairo_t *cr, ShapeKind shape, const Rect &frame, double cornerRadius);

// For the kinds' drawing code: `colour` as drawn where `env` is in effect, with the opacity
// of the views being drawn where the surface carries it in its colours.
RGBA resolvedColour(const Color &colour, const Environment &env);
void setSource(cairo_t *cr, const RGBA &colour);

inline constexpr double kPi = 3.14159265358979323846;

} // namespace platform::ui
