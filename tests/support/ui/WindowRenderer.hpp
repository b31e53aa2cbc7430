#pragma once

#include "platform/ui/Renderer.hpp"

#include <cairo.h>

#include <stdexcept>
#include <string>

namespace platform::ui {

class Desktop;
class Window;

// Pictures of windows and of the whole desktop for tests and for people reviewing the views,
// drawn with the same drawing code an on-screen window uses, with a stand-in for the window
// manager's chrome (title bar, close buttons, shadow) and the desktop around them. Files are
// written by the extension of their path: ".svg" or
// ".png". An SVG also carries the drawn texts in its <desc> element, one per line, so a person
// or a test can find them without rasterising the glyphs.

// Draws `window` (its background, title bar where it has a visible one, and its content)
// with the frame's top-left corner at the origin of `cr`.
void drawWindow(cairo_t *cr, Window &window, DrawReport *report = nullptr);

// Writes one window. `scale` is device pixels per point (2 for a sharp PNG).
DrawReport renderWindow(Window &window, const std::string &path, double scale = 2.0);

// Writes every screen of the desktop with its menu bar and dock areas, the visible windows
// in their order, and the pointer.
DrawReport renderDesktop(Desktop &desktop, const std::string &path, double scale = 1.0);

// Thrown when a file cannot be written.
class RenderError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

} // namespace platform::ui
