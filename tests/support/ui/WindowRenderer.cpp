#include "tests/support/ui/WindowRenderer.hpp"

#include "platform/ui/Desktop.hpp"
#include "platform/ui/TextLayout.hpp"
#include "platform/ui/Window.hpp"

#include <cairo-svg.h>

#include <fstream>
#include <functional>
#include <sstream>

namespace platform::ui {

namespace {

bool endsWith(const std::string &text, const std::string &suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string xmlEscaped(const std::string &text) {
  std::string out;
  for (char c : text) {
    switch (c) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '"':
      out += "&quot;";
      break;
    default:
      out += c;
    }
  }
  return out;
}

void addDescription(const std::string &path, const std::string &title, const DrawReport &report) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  std::string svg = buffer.str();
  in.close();
  const auto open = svg.find("<svg");
  const auto end = open == std::string::npos ? open : svg.find('>', open);
  if (end == std::string::npos) {
    throw RenderError(path + ": the SVG surface wrote no <svg> element");
  }
  std::string description = "\n<title>" + xmlEscaped(title) + "</title>\n<desc>";
  for (std::size_t i = 0; i < report.texts.size(); ++i) {
    description += (i ? "\n" : "") + xmlEscaped(report.texts[i]);
  }
  description += "</desc>";
  svg.insert(end + 1, description);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << svg;
  if (!out) {
    throw RenderError(path + ": cannot write the SVG file");
  }
}

// Runs `draw` on a surface of `size` points and writes it to `path`.
void renderTo(const std::string &path, Size size, double scale, const std::string &title,
              const std::function<void(cairo_t *)> &draw, DrawReport &report) {
  const bool svg = endsWith(path, ".svg");
  if (!svg && !endsWith(path, ".png")) {
    throw RenderError(path + ": the file name must end in .svg or .png");
  }
  const double width = std::max(1.0, size.width);
  const double height = std::max(1.0, size.height);
  cairo_surface_t *surface =
      svg ? cairo_svg_surface_create(path.c_str(), width, height)
          : cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(width * scale),
                                       static_cast<int>(height * scale));
  cairo_t *cr = cairo_create(surface);
  if (!svg) {
    cairo_scale(cr, scale, scale);
  }
  draw(cr);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  cairo_status_t status = cairo_surface_status(surface);
  if (!svg && status == CAIRO_STATUS_SUCCESS) {
    status = cairo_surface_write_to_png(surface, path.c_str());
  }
  cairo_surface_finish(surface);
  if (status == CAIRO_STATUS_SUCCESS) {
    status = cairo_surface_status(surface);
  }
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) {
    throw RenderError(path + ": " + cairo_status_to_string(status));
  }
  if (svg) {
    addDescription(path, title, report);
  }
}

void roundedRectPath(cairo_t *cr, const Rect &r, double radius) {
  shapePath(cr, ShapeKind::roundedRectangle, r, radius);
}

void drawPointer(cairo_t *cr, Point at) {
  cairo_save(cr);
  cairo_translate(cr, at.x, at.y);
  cairo_move_to(cr, 0, 0);
  cairo_line_to(cr, 0, 16);
  cairo_line_to(cr, 4.5, 12);
  cairo_line_to(cr, 7.5, 18.5);
  cairo_line_to(cr, 10, 17.5);
  cairo_line_to(cr, 7, 11);
  cairo_line_to(cr, 12, 11);
  cairo_close_path(cr);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_fill_preserve(cr);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);
  cairo_restore(cr);
}

} // namespace

void drawWindow(cairo_t *cr, Window &window, DrawReport *report) {
  const Rect frame = window.frame();
  const Rect local{{0, 0}, frame.size};
  const bool dark = window.appearance() == Appearance::dark;
  cairo_save(cr);
  if (window.hasShadow()) {
    for (int i = 4; i >= 1; --i) {
      const double grow = i * 2.0;
      roundedRectPath(
          cr, Rect{{-grow, -grow + 4}, {frame.width() + 2 * grow, frame.height() + 2 * grow}},
          Theme::windowCornerRadius + grow);
      cairo_set_source_rgba(cr, 0, 0, 0, 0.05);
      cairo_fill(cr);
    }
  }
  if (window.backgroundColor()) {
    const RGBA bg = window.backgroundColor()->resolve(window.appearance());
    cairo_rectangle(cr, 0, 0, frame.width(), frame.height());
    cairo_set_source_rgba(cr, bg.red, bg.green, bg.blue, bg.alpha);
    cairo_fill(cr);
  } else {
    roundedRectPath(cr, local, Theme::windowCornerRadius);
    setSource(cr, Theme::windowBackground(window.appearance()));
    cairo_fill(cr);
  }
  const double bar = window.titleBarHeight();
  if (bar > 0 && !window.titlebarAppearsTransparent()) {
    cairo_save(cr);
    roundedRectPath(cr, local, Theme::windowCornerRadius);
    cairo_clip(cr);
    cairo_rectangle(cr, 0, 0, frame.width(), bar);
    setSource(cr, Theme::titleBarFill(window.appearance()));
    cairo_fill(cr);
    cairo_rectangle(cr, 0, bar - 0.5, frame.width(), 0.5);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.15);
    cairo_fill(cr);
    cairo_restore(cr);
    if (!window.titleHidden() && !window.title().empty()) {
      const Font font = Theme::windowTitleFont();
      const std::vector<TextRun> runs{TextRun{window.title(), false}};
      const Size size = measureText(runs, font, std::nullopt);
      drawText(cr, runs, font,
               Rect{{(frame.width() - size.width) / 2, (bar - size.height) / 2}, size},
               TextAlignment::center, Theme::titleText(window.appearance()));
      if (report) {
        report->texts.push_back(window.title());
      }
    }
  }
  if ((window.styleMask() & kTitled) && (window.styleMask() & kClosable) &&
      !window.closeButtonHidden()) {
    const double cy = bar > 0 ? bar / 2 : 14;
    const RGBA lights[] = {{1.0, 0.37, 0.34, 1}, {1.0, 0.74, 0.18, 1}, {0.16, 0.79, 0.25, 1}};
    for (int i = 0; i < 3; ++i) {
      cairo_arc(cr, 20 + i * 20, cy, 6, 0, 6.2832);
      const RGBA c = i == 0 ? lights[0] : RGBA{0.8, 0.8, 0.8, dark ? 0.3 : 1};
      cairo_set_source_rgba(cr, c.red, c.green, c.blue, c.alpha);
      cairo_fill(cr);
    }
  }
  if (HostingView *content = window.contentView()) {
    cairo_save(cr);
    cairo_translate(cr, 0, bar);
    content->draw(cr, report);
    cairo_restore(cr);
  }
  cairo_restore(cr);
}

DrawReport renderWindow(Window &window, const std::string &path, double scale) {
  DrawReport report;
  const Size size = window.frame().size;
  renderTo(
      path, size, scale, window.title(), [&](cairo_t *cr) { drawWindow(cr, window, &report); },
      report);
  return report;
}

DrawReport renderDesktop(Desktop &desktop, const std::string &path, double scale) {
  DrawReport report;
  Rect bounds{{0, 0}, {800, 600}};
  if (!desktop.screens().empty()) {
    bounds = desktop.screens().front().frame;
    for (const Screen &screen : desktop.screens()) {
      bounds = bounds.unionWith(screen.frame);
    }
  }
  // Desktop y grows upwards; the image's grows downwards.
  const auto toImage = [&](const Rect &r) {
    return Rect{{r.minX() - bounds.minX(), bounds.maxY() - r.maxY()}, r.size};
  };
  renderTo(
      path, bounds.size, scale, "Desktop",
      [&](cairo_t *cr) {
        cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
        cairo_paint(cr);
        for (const Screen &screen : desktop.screens()) {
          const Rect s = toImage(screen.frame);
          cairo_pattern_t *wallpaper =
              cairo_pattern_create_linear(s.minX(), s.minY(), s.maxX(), s.maxY());
          cairo_pattern_add_color_stop_rgb(wallpaper, 0, 0.33, 0.45, 0.62);
          cairo_pattern_add_color_stop_rgb(wallpaper, 1, 0.62, 0.52, 0.62);
          cairo_rectangle(cr, s.minX(), s.minY(), s.width(), s.height());
          cairo_set_source(cr, wallpaper);
          cairo_fill(cr);
          cairo_pattern_destroy(wallpaper);
          const Rect v = toImage(screen.visibleFrame);
          // Menu bar above the visible frame, dock below it.
          cairo_rectangle(cr, s.minX(), s.minY(), s.width(), v.minY() - s.minY());
          cairo_set_source_rgba(cr, 1, 1, 1, 0.6);
          cairo_fill(cr);
          if (s.maxY() - v.maxY() > 0) {
            const double dockWidth = std::min(s.width() * 0.6, 640.0);
            const Rect dock{{s.midX() - dockWidth / 2, v.maxY() + 4},
                            {dockWidth, s.maxY() - v.maxY() - 8}};
            shapePath(cr, ShapeKind::roundedRectangle, dock, 12);
            cairo_set_source_rgba(cr, 1, 1, 1, 0.3);
            cairo_fill(cr);
          }
        }
        for (Window *window : desktop.orderedWindows()) {
          const Rect w = toImage(window->frame());
          cairo_save(cr);
          cairo_translate(cr, w.minX(), w.minY());
          drawWindow(cr, *window, &report);
          cairo_restore(cr);
        }
        const Point mouse = desktop.mouseLocation();
        drawPointer(cr, Point{mouse.x - bounds.minX(), bounds.maxY() - mouse.y});
      },
      report);
  return report;
}

} // namespace platform::ui
