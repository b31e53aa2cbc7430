#include "app/presenters/RecordingHUD.hpp"
#include "app/presenters/RefinePanelController.hpp"
#include "app/views/HUDView.hpp"

#include "UiTestSupport.hpp"

#include "tests/support/ui/WindowRenderer.hpp"

#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

namespace murmurquill {
namespace {

namespace ui = platform::ui;
using Mode = HUDMode;

std::string readFile(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

// The PNG decodes to the expected pixel size and has drawn (non-transparent) pixels.
void expectPicture(const std::filesystem::path &path, int width, int height) {
  cairo_surface_t *image = cairo_image_surface_create_from_png(path.c_str());
  ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS) << path;
  EXPECT_EQ(cairo_image_surface_get_width(image), width) << path;
  EXPECT_EQ(cairo_image_surface_get_height(image), height) << path;
  cairo_surface_flush(image);
  const unsigned char *data = cairo_image_surface_get_data(image);
  const int stride = cairo_image_surface_get_stride(image);
  long drawn = 0;
  for (int y = 0; y < cairo_image_surface_get_height(image); ++y) {
    const auto *row = reinterpret_cast<const std::uint32_t *>(data + y * stride);
    for (int x = 0; x < cairo_image_surface_get_width(image); ++x) {
      drawn += (row[x] >> 24) != 0;
    }
  }
  EXPECT_GT(drawn, 100) << path;
  cairo_surface_destroy(image);
}

void expectSvgHolds(const std::filesystem::path &path, const std::vector<std::string> &texts) {
  const std::string svg = readFile(path);
  ASSERT_NE(svg.find("<svg"), std::string::npos) << path;
  ASSERT_NE(svg.find("</svg>"), std::string::npos) << path;
  for (std::string text : texts) {
    // The description escapes markup characters.
    for (std::size_t at = text.find('&'); at != std::string::npos; at = text.find('&', at + 1)) {
      text.replace(at, 1, "&amp;");
    }
    EXPECT_NE(svg.find(text), std::string::npos) << path << " lacks " << text;
  }
}

bool has(const ui::DrawReport &report, const std::string &text) {
  return std::find(report.texts.begin(), report.texts.end(), text) != report.texts.end();
}

struct HUDRenderCase {
  const char *name;
  Mode mode;
};

class HUDRenderTest : public ::testing::TestWithParam<HUDRenderCase> {};

TEST_P(HUDRenderTest, RendersThePanelAndTheDesktop) {
  const HUDRenderCase &c = GetParam();
  ui::Desktop desktop;
  testing::setUpTwoScreens(desktop);
  desktop.setMouseLocation({700, 400});
  RecordingHUD hud(desktop);
  hud.show(c.mode);
  const auto folder = testing::renderFolder("hud");
  const std::string base = std::string("hud-") + c.name;
  const std::string message = hudMessage(c.mode);

  const ui::DrawReport png = ui::renderWindow(*hud.panel(), folder / (base + ".png"));
  EXPECT_TRUE(has(png, message));
  expectPicture(folder / (base + ".png"), 920, 96);

  ui::renderWindow(*hud.panel(), folder / (base + ".svg"));
  expectSvgHolds(folder / (base + ".svg"), {message});

  const ui::DrawReport screen = ui::renderDesktop(desktop, folder / (base + "-desktop.png"), 0.5);
  EXPECT_TRUE(has(screen, message));
  expectPicture(folder / (base + "-desktop.png"), 1680, 540);
}

INSTANTIATE_TEST_SUITE_P(Modes, HUDRenderTest,
                         ::testing::Values(HUDRenderCase{"ready", Mode::ready("Right Option")},
                                           HUDRenderCase{"recording", Mode::recording()},
                                           HUDRenderCase{"transcribing", Mode::transcribing()},
                                           HUDRenderCase{"notReady", Mode::notReady()},
                                           HUDRenderCase{"micDenied", Mode::micDenied()},
                                           HUDRenderCase{"injectionDenied",
                                                         Mode::injectionDenied()}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(RefinePanelRender, RendersTheLoadingAndResultStates) {
  ui::Desktop desktop;
  testing::setUpTwoScreens(desktop);
  RefinePanelController controller(desktop);
  controller.show([](const std::string &) { return false; }, [](const std::string &) {});
  const auto folder = testing::renderFolder("refine");

  const ui::DrawReport loading =
      ui::renderWindow(*controller.panel(), folder / "refine-loading.png");
  EXPECT_TRUE(has(loading, "Refining\u2026"));
  EXPECT_TRUE(has(loading, "Cleaning up with Apple Intelligence\u2026"));
  const ui::Size loadingSize = controller.panel()->frame().size;
  expectPicture(folder / "refine-loading.png", 680, static_cast<int>(loadingSize.height * 2));
  ui::renderWindow(*controller.panel(), folder / "refine-loading.svg");
  expectSvgHolds(folder / "refine-loading.svg",
                 {"Refining\u2026", "Cleaning up with Apple Intelligence\u2026"});

  controller.showResult("Let's meet at three tomorrow, and bring the draft of the report.");
  const ui::DrawReport result = ui::renderWindow(*controller.panel(), folder / "refine-result.png");
  for (const char *text : {"Refined", "Apply", "Copy", "Dismiss"}) {
    EXPECT_TRUE(has(result, text)) << text;
  }
  EXPECT_TRUE(has(result, "Let's meet at three tomorrow, and bring the draft of the report."));
  ui::renderWindow(*controller.panel(), folder / "refine-result.svg");
  expectSvgHolds(folder / "refine-result.svg", {"Refined", "Apply", "Copy", "Dismiss"});

  controller.currentState()->setApplyFailed(true);
  const ui::DrawReport failed =
      ui::renderWindow(*controller.panel(), folder / "refine-apply-failed.png");
  EXPECT_TRUE(has(failed, "Apply isn't supported in this app \u2014 use Copy instead."));
  ui::renderWindow(*controller.panel(), folder / "refine-apply-failed.svg");
  ui::renderDesktop(desktop, folder / "refine-desktop.png", 0.5);
  expectPicture(folder / "refine-desktop.png", 1680, 540);
}

} // namespace
} // namespace murmurquill
