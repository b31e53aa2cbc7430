#include "platform/ui/TextLayout.hpp"

#include <pango/pangocairo.h>

#include <cmath>
#include <memory>

// fontconfig keeps pattern caches for the life of the process and never frees them, which
// LeakSanitizer reports as lost in every program that lays out text. Every such program links
// this unit, so the suppression lives here rather than in each test.
extern "C" const char *__lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace platform::ui {

namespace {

constexpr const char *kFamily = "DejaVu Sans";

PangoWeight pangoWeight(FontWeight weight) {
  switch (weight) {
  case FontWeight::ultraLight:
    return PANGO_WEIGHT_ULTRALIGHT;
  case FontWeight::thin:
    return PANGO_WEIGHT_THIN;
  case FontWeight::light:
    return PANGO_WEIGHT_LIGHT;
  case FontWeight::regular:
    return PANGO_WEIGHT_NORMAL;
  case FontWeight::medium:
    return PANGO_WEIGHT_MEDIUM;
  case FontWeight::semibold:
    return PANGO_WEIGHT_SEMIBOLD;
  case FontWeight::bold:
    return PANGO_WEIGHT_BOLD;
  case FontWeight::heavy:
    return PANGO_WEIGHT_HEAVY;
  case FontWeight::black:
    return PANGO_WEIGHT_ULTRAHEAVY;
  }
  return PANGO_WEIGHT_NORMAL;
}

void applyFontOptions(PangoContext *context) {
  cairo_font_options_t *options = cairo_font_options_create();
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  pango_cairo_context_set_font_options(context, options);
  cairo_font_options_destroy(options);
}

struct ContextHolder {
  PangoContext *context = nullptr;
  ContextHolder() {
    context = pango_font_map_create_context(pango_cairo_font_map_get_default());
    applyFontOptions(context);
  }
  ~ContextHolder() { g_object_unref(context); }
};

PangoContext *measuringContext() {
  thread_local ContextHolder holder;
  return holder.context;
}

struct LayoutDeleter {
  void operator()(PangoLayout *layout) const { g_object_unref(layout); }
};
using LayoutPtr = std::unique_ptr<PangoLayout, LayoutDeleter>;

void configure(PangoLayout *layout, const std::vector<TextRun> &runs, const Font &font,
               std::optional<double> width, TextAlignment alignment) {
  PangoFontDescription *description = pango_font_description_new();
  pango_font_description_set_family(description, kFamily);
  pango_font_description_set_absolute_size(description, font.size * PANGO_SCALE);
  pango_font_description_set_weight(description, pangoWeight(font.weight));
  pango_layout_set_font_description(layout, description);
  pango_font_description_free(description);

  std::string text;
  PangoAttrList *attributes = pango_attr_list_new();
  for (const TextRun &run : runs) {
    const auto start = static_cast<guint>(text.size());
    text += run.text;
    if (run.bold && !run.text.empty()) {
      PangoAttribute *bold = pango_attr_weight_new(PANGO_WEIGHT_BOLD);
      bold->start_index = start;
      bold->end_index = static_cast<guint>(text.size());
      pango_attr_list_insert(attributes, bold);
    }
  }
  if (font.monospacedDigits) {
    pango_attr_list_insert(attributes, pango_attr_font_features_new("tnum"));
  }
  pango_layout_set_text(layout, text.c_str(), static_cast<int>(text.size()));
  pango_layout_set_attributes(layout, attributes);
  pango_attr_list_unref(attributes);

  if (width) {
    pango_layout_set_width(layout, static_cast<int>(std::max(1.0, *width) * PANGO_SCALE));
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
  }
  switch (alignment) {
  case TextAlignment::leading:
    pango_layout_set_alignment(layout, PANGO_ALIGN_LEFT);
    break;
  case TextAlignment::center:
    pango_layout_set_alignment(layout, PANGO_ALIGN_CENTER);
    break;
  case TextAlignment::trailing:
    pango_layout_set_alignment(layout, PANGO_ALIGN_RIGHT);
    break;
  }
}

} // namespace

std::string plainText(const std::vector<TextRun> &runs) {
  std::string text;
  for (const TextRun &run : runs) {
    text += run.text;
  }
  return text;
}

Size measureText(const std::vector<TextRun> &runs, const Font &font, std::optional<double> width,
                 TextAlignment alignment) {
  LayoutPtr layout(pango_layout_new(measuringContext()));
  configure(layout.get(), runs, font, width, alignment);
  PangoRectangle logical;
  pango_layout_get_extents(layout.get(), nullptr, &logical);
  double w = std::ceil(static_cast<double>(logical.width) / PANGO_SCALE);
  const double h = std::ceil(static_cast<double>(logical.height) / PANGO_SCALE);
  if (width) {
    w = std::min(w, std::ceil(*width));
  }
  return Size{w, h};
}

namespace {

// A plain text laid out as drawText lays out a frame of `width`.
LayoutPtr plainLayout(const std::string &text, const Font &font, double width) {
  LayoutPtr layout(pango_layout_new(measuringContext()));
  configure(layout.get(), {TextRun{text, false}}, font, width + 0.5, TextAlignment::leading);
  return layout;
}

double points(int pangoUnits) { return static_cast<double>(pangoUnits) / PANGO_SCALE; }

} // namespace

Rect caretRect(const std::string &text, const Font &font, double width, std::size_t index) {
  const LayoutPtr layout = plainLayout(text, font, width);
  PangoRectangle strong;
  pango_layout_get_cursor_pos(layout.get(), static_cast<int>(std::min(index, text.size())), &strong,
                              nullptr);
  return makeRect(points(strong.x), points(strong.y), 1, points(strong.height));
}

std::size_t caretIndexAt(const std::string &text, const Font &font, double width, Point point) {
  const LayoutPtr layout = plainLayout(text, font, width);
  int index = 0;
  int trailing = 0;
  pango_layout_xy_to_index(layout.get(), static_cast<int>(point.x * PANGO_SCALE),
                           static_cast<int>(point.y * PANGO_SCALE), &index, &trailing);
  // `trailing` counts the characters of the grapheme the point lies past the middle of.
  const char *start = text.c_str();
  const char *at = start + std::min<std::size_t>(static_cast<std::size_t>(index), text.size());
  for (int i = 0; i < trailing && *at != '\0'; ++i) {
    at = g_utf8_next_char(at);
  }
  return std::min(static_cast<std::size_t>(at - start), text.size());
}

std::vector<Rect> rangeRects(const std::string &text, const Font &font, double width,
                             std::size_t from, std::size_t to) {
  std::vector<Rect> rects;
  if (from >= to) {
    return rects;
  }
  const LayoutPtr layout = plainLayout(text, font, width);
  PangoLayoutIter *iter = pango_layout_get_iter(layout.get());
  do {
    PangoLayoutLine *line = pango_layout_iter_get_line_readonly(iter);
    const auto lineStart = static_cast<std::size_t>(line->start_index);
    const std::size_t lineEnd = lineStart + static_cast<std::size_t>(line->length);
    // A line break selected shows as a sliver at the end of its line.
    if (to <= lineStart || from > lineEnd) {
      continue;
    }
    int top = 0;
    int bottom = 0;
    pango_layout_iter_get_line_yrange(iter, &top, &bottom);
    int *ranges = nullptr;
    int count = 0;
    pango_layout_line_get_x_ranges(line, static_cast<int>(std::max(from, lineStart)),
                                   static_cast<int>(std::min(to, lineEnd)), &ranges, &count);
    for (int i = 0; i < count; ++i) {
      const double left = points(ranges[2 * i]);
      const double right = std::max(points(ranges[2 * i + 1]), left + 4);
      rects.push_back(makeRect(left, points(top), right - left, points(bottom - top)));
    }
    g_free(ranges);
  } while (pango_layout_iter_next_line(iter));
  pango_layout_iter_free(iter);
  return rects;
}

void drawText(cairo_t *cr, const std::vector<TextRun> &runs, const Font &font, const Rect &frame,
              TextAlignment alignment, const RGBA &colour) {
  LayoutPtr layout(pango_cairo_create_layout(cr));
  applyFontOptions(pango_layout_get_context(layout.get()));
  pango_layout_context_changed(layout.get());
  // A hair of slack keeps a text measured at its natural width on one line.
  configure(layout.get(), runs, font, frame.width() + 0.5, alignment);
  cairo_save(cr);
  cairo_set_source_rgba(cr, colour.red, colour.green, colour.blue, colour.alpha);
  cairo_move_to(cr, frame.minX(), frame.minY());
  pango_cairo_show_layout(cr, layout.get());
  cairo_restore(cr);
}

} // namespace platform::ui
