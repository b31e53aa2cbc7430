#include "tests/support/TempDir.hpp"
#include "tests/support/ui/LayoutCheck.hpp"
#include "tests/support/ui/WindowRenderer.hpp"

#include "platform/ui/Desktop.hpp"
#include "platform/ui/Window.hpp"

#include <gtest/gtest.h>

namespace platform::ui {
namespace {

struct LayoutCase {
  const char *name;
  std::function<View()> body;
  bool sound;
  const char *mentions; // in the first problem
};

class LayoutCheckTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LayoutCheckTest, FindsViewsOutsideTheWindowAndClippedTexts) {
  const LayoutCase &c = GetParam();
  Desktop desktop;
  Window window(desktop, makeRect(0, 0, 200, 60), kBorderless);
  window.setContentView(std::make_unique<HostingView>(c.body));
  const auto problems = mqtest::layoutProblems(window);
  ASSERT_EQ(problems.empty(), c.sound) << (problems.empty() ? "" : problems.front());
  if (!c.sound) {
    EXPECT_NE(problems.front().find(c.mentions), std::string::npos) << problems.front();
    mqtest::TempDir dir;
    EXPECT_THROW(renderWindow(window, (dir / "window.png").string()), LayoutError);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LayoutCheckTest,
    ::testing::Values(
        LayoutCase{"fits",
                   [] {
                     return VStack({Text("Apply"), Text("Dismiss")});
                   },
                   true, ""},
        LayoutCase{"tallerThanTheWindow",
                   [] {
                     return VStack({Text("one"), Text("two"), Text("three"), Text("four")});
                   },
                   false, "lies outside"},
        LayoutCase{"wideTextPastTheEdge",
                   [] { return Text("Dismiss").frame(300.0, 20.0, Alignment::leading()); }, false,
                   "lies outside"},
        LayoutCase{"hiddenViewsDoNotCount", [] { return Rectangle().frame(400.0, 400.0).hidden(); },
                   true, ""}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(LayoutCheck, ATextInAFrameTooSmallForItsLinesIsClipped) {
  const View text = Text("two\nlines");
  LayoutNode placed;
  placed.node = &text.node();
  placed.identity = "/0:Text";
  placed.frame = makeRect(0, 0, 80, 10);
  const auto problems = mqtest::layoutProblems(placed, Size{200, 60});
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("/0:Text \"two\nlines\" needs"), std::string::npos) << problems[0];
}

} // namespace
} // namespace platform::ui
