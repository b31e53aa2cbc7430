#pragma once

#include "platform/ui/Color.hpp"
#include "platform/ui/Font.hpp"
#include "platform/ui/Geometry.hpp"
#include "platform/ui/View.hpp"

#include <cairo.h>

#include <optional>
#include <vector>

namespace platform::ui {

// Text measurement and drawing with pango. One point is one device unit; metrics are not
// hinted, so a text measures the same on every surface and at every scale. The family is
// "DejaVu Sans" (Debian's fonts-dejavu-core), with fontconfig's fallbacks for other scripts.
// Main thread only (pango's default font map is per thread).

// The size of `runs` in `font`; with a width the text wraps at word (else character)
// boundaries to fit it. Sizes are rounded up to whole points.
Size measureText(const std::vector<TextRun> &runs, const Font &font, std::optional<double> width,
                 TextAlignment alignment = TextAlignment::leading);

// Draws `runs` into `frame` (wrapping at its width) in `colour`.
void drawText(cairo_t *cr, const std::vector<TextRun> &runs, const Font &font, const Rect &frame,
              TextAlignment alignment, const RGBA &colour);

// The plain text of the runs, joined.
std::string plainText(const std::vector<TextRun> &runs);

} // namespace platform::ui
