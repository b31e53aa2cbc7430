#include "platform/ui/Renderer.hpp"

#include "platform/ui/Window.hpp"

namespace platform::ui {

void drawWindowContent(cairo_t *cr, Window &window, DrawReport *report) {
  const RGBA bg = window.backgroundColor() ? window.backgroundColor()->resolve(window.appearance())
                                           : Theme::windowBackground(window.appearance());
  cairo_save(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  setSource(cr, bg);
  cairo_paint(cr);
  cairo_restore(cr);
  if (HostingView *content = window.contentView()) {
    cairo_save(cr);
    content->draw(cr, report);
    cairo_restore(cr);
  }
}

} // namespace platform::ui
