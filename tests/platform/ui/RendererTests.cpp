#include "platform/ui/Desktop.hpp"
#include "platform/ui/Symbols.hpp"
#include "platform/ui/Window.hpp"
#include "tests/support/ui/WindowRenderer.hpp"

#include "tests/support/TempDir.hpp"

#include <cairo.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace platform::ui {
namespace {

TEST(Renderer, WritesAPngAtScaleAndAnSvgThatCarriesItsTexts) {
  mqtest::TempDir dir;
  Desktop desktop;
  desktop.setScreens({{makeRect(0, 0, 800, 600), makeRect(0, 0, 800, 575), "Screen"}});
  Window window(desktop, makeRect(0, 0, 200, 100), kTitled | kClosable);
  window.setTitle("A & B");
  window.setContentView(std::make_unique<HostingView>([] {
    return VStack({Text("Hello <world>"), Symbol("checkmark")});
  }));
  window.center();
  window.makeKeyAndOrderFront();
  EXPECT_EQ(window.frame().size, (Size{200, 128}));

  const auto png = dir.path() / "window.png";
  const DrawReport report = renderWindow(window, png.string(), 2.0);
  EXPECT_EQ(report.texts, (std::vector<std::string>{"A & B", "Hello <world>"}));
  EXPECT_EQ(report.symbols, std::vector<std::string>{"checkmark"});
  cairo_surface_t *image = cairo_image_surface_create_from_png(png.c_str());
  EXPECT_EQ(cairo_image_surface_get_width(image), 400);
  EXPECT_EQ(cairo_image_surface_get_height(image), 256);
  cairo_surface_destroy(image);

  const auto svg = dir.path() / "window.svg";
  renderWindow(window, svg.string());
  std::ifstream in(svg);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("<title>A &amp; B</title>"), std::string::npos);
  EXPECT_NE(text.str().find("Hello &lt;world&gt;"), std::string::npos);

  const DrawReport whole = renderDesktop(desktop, (dir.path() / "desktop.png").string());
  EXPECT_EQ(whole.texts, report.texts);
  EXPECT_THROW(renderWindow(window, (dir.path() / "window.bmp").string()), RenderError);
}

TEST(Symbols, EveryNamedSymbolDrawsSomething) {
  for (const std::string &name : symbolNames()) {
    cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 32, 32);
    cairo_t *cr = cairo_create(surface);
    drawSymbol(cr, name, makeRect(0, 0, 32, 32), RGBA{0, 0, 0, 1});
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const unsigned char *data = cairo_image_surface_get_data(surface);
    int drawn = 0;
    for (int i = 0; i < 32 * cairo_image_surface_get_stride(surface); i += 4) {
      drawn += data[i + 3] != 0;
    }
    EXPECT_GT(drawn, 10) << name;
    cairo_surface_destroy(surface);
  }
  EXPECT_TRUE(hasSymbol("mic.slash.fill"));
  EXPECT_FALSE(hasSymbol("no.such.symbol"));
}

} // namespace
} // namespace platform::ui
