#pragma once

#include "platform/ui/Color.hpp"
#include "platform/ui/Geometry.hpp"

#include <cairo.h>

#include <string>
#include <vector>

namespace platform::ui {

// The named symbols the views use, drawn as small vector icons of our own: cairo paths in a
// unit square, scaled to the box they are drawn in. "app.icon" is the application's icon.

bool hasSymbol(const std::string &name);
std::vector<std::string> symbolNames();

// Draws symbol `name` centred in `box` (a square of the box's smaller side) in `colour`. An
// unknown name draws a dashed square, so a missing icon is visible rather than silent.
void drawSymbol(cairo_t *cr, const std::string &name, const Rect &box, const RGBA &colour);

} // namespace platform::ui
