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
