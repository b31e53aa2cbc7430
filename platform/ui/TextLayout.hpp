#pragma once

#include "platform/ui/Color.hpp"
#include "platform/ui/Font.hpp"
#include "platform/ui/Geometry.hpp"
#include "platform/ui/View.hpp"

#include <cairo.h>

#include <cstddef>
#include <optional>
#include <string>
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

// Caret geometry of a plain `text` in `font` wrapped at `width` as drawText wraps a frame of
// that width, relative to the text's top-left corner; offsets are bytes of the UTF-8 text.
// The caret before the byte at `index` (a line as tall as the line it is on).
Rect caretRect(const std::string &text, const Font &font, double width, std::size_t index);
// The caret offset nearest `point`.
std::size_t caretIndexAt(const std::string &text, const Font &font, double width, Point point);
// The boxes that cover the bytes from `from` to `to`, one per line they reach.
std::vector<Rect> rangeRects(const std::string &text, const Font &font, double width,
                             std::size_t from, std::size_t to);

// The plain text of the runs, joined.
std::string plainText(const std::vector<TextRun> &runs);

} // namespace platform::ui
