#include "platform/ui/Layout.hpp"
#include "platform/ui/TextLayout.hpp"

#include <gtest/gtest.h>

namespace platform::ui {
namespace {

const LayoutNode &child(const LayoutNode &node, std::size_t index) {
  return node.children.at(index);
}

TEST(Layout, HorizontalStackSpacesChildrenAndSpacersTakeTheRest) {
  const View row = HStack({Rectangle().frame(20.0, 10.0), Spacer(), Rectangle().frame(30.0, 16.0)},
                          5, VerticalAlignment::center);
  const LayoutNode root = layoutTree(row, {200, 40}, Environment{});
  EXPECT_EQ(root.frame, makeRect(0, 12, 200, 16));
  EXPECT_EQ(child(root, 0).frame, makeRect(0, 15, 20, 10));
  EXPECT_EQ(child(root, 1).frame.width(), 200 - 20 - 30 - 10);
  EXPECT_EQ(child(root, 2).frame, makeRect(170, 12, 30, 16));
}

TEST(Layout, IdealStackSizeUsesSpacerMinimumsAndDefaultSpacing) {
  const View column = VStack({Rectangle().frame(10.0, 10.0), Spacer(20), Divider()}, std::nullopt,
                             HorizontalAlignment::leading);
  const Size size = sizeThatFits(column, {}, Environment{});
  EXPECT_EQ(size, (Size{10, 10 + 8 + 20 + 8 + 1}));
}

TEST(Layout, PaddingFrameAndBackgroundNestInOrder) {
  const View view = Rectangle()
                        .frame(40.0, 20.0)
                        .padding(EdgeInsets{1, 2, 3, 4})
                        .background(Capsule())
                        .frame(std::nullopt, kInfinity, std::nullopt, std::nullopt);
  const LayoutNode root = layoutTree(view, {300, 100}, Environment{});
  EXPECT_EQ(root.frame.width(), 300);
  const LayoutNode &decorated = child(root, 0);
  EXPECT_EQ(decorated.frame, makeRect(127, 38, 46, 24));
  EXPECT_EQ(child(decorated, 0).role, LayoutNode::Role::background);
  EXPECT_EQ(child(decorated, 0).frame, decorated.frame);
  EXPECT_EQ(child(child(decorated, 1), 0).frame, makeRect(129, 39, 40, 20));
}

TEST(Layout, FlexibleFrameClampsAndFixedFrameOverrides) {
  const View editor = Rectangle().frame(std::nullopt, std::nullopt, 60.0, 160.0);
  EXPECT_EQ(sizeThatFits(editor, {100.0, 500.0}, Environment{}).height, 160);
  EXPECT_EQ(sizeThatFits(editor, {100.0, 10.0}, Environment{}).height, 60);
  EXPECT_EQ(sizeThatFits(Text("Wide text here").frame(30.0, std::nullopt), {}, Environment{}).width,
            30);
}

TEST(Layout, TextWrapsToTheOfferedWidthAndGrowsDown) {
  const std::vector<TextRun> runs{{"one two three four five six seven", false}};
  const Size line = measureText(runs, Font::body(), std::nullopt);
  const Size wrapped = measureText(runs, Font::body(), line.width / 2);
  EXPECT_LE(wrapped.width, std::ceil(line.width / 2));
  EXPECT_GT(wrapped.height, line.height);
  // Bold runs are wider than the same text in the regular weight.
  const Size bold =
      measureText({{"one two three four five six seven", true}}, Font::body(), std::nullopt);
  EXPECT_GT(bold.width, line.width);
  EXPECT_GT(measureText(runs, Font::title(), std::nullopt).width, line.width);
}

TEST(Layout, InheritedAttributesTheInnermostWins) {
  const View view = VStack({Text("a").font(Font::caption()), Text("b")})
                        .font(Font::headline())
                        .foregroundStyle(Color::red());
  const LayoutNode root = layoutTree(view, {100, 100}, Environment{});
  EXPECT_EQ(child(root, 0).environment.font, Font::caption());
  EXPECT_EQ(child(root, 1).environment.font, Font::headline());
  EXPECT_EQ(child(root, 1).environment.foreground, Color::red());
}

} // namespace
} // namespace platform::ui
