#pragma once

#include "platform/ui/Painter.hpp"

#include <cairo.h>

namespace platform::ui {

class Window;

// Draws what a display server's window shows of `window` when the window manager draws the
// frame: the content rectangle, filled with the window's background (which may be clear)
// and the content, with the content's top-left corner at the origin of `cr`. The surface is
// replaced, not blended onto.
void drawWindowContent(cairo_t *cr, Window &window, DrawReport *report = nullptr);

} // namespace platform::ui
