#include "platform/ui/Desktop.hpp"
#include "platform/ui/HostingView.hpp"
#include "platform/ui/Inspector.hpp"
#include "platform/ui/Window.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace platform::ui {
namespace {

Point centre(const Element &e) { return {e.frame.midX(), e.frame.midY()}; }

// Pointer input by position, as an on-screen window delivers it.
class PointerTest : public ::testing::Test {
protected:
  void SetUp() override {
    window.setContentView(std::make_unique<HostingView>([this] {
      return VStack({
          Button(HStack({Text("Outer"), Button("Inner", [this] { log.push_back("inner"); })}),
                 [this] { log.push_back("outer"); }),
          Button("Off", [this] { log.push_back("off"); }).disabled(),
          Link("Site", "https://example.invalid/"),
          Picker(
              "Key", {"A", "B", "C"}, [this] { return picked.get(); },
              [this](int i) { picked.set(i); }),
          Text("Hover me").padding(4).onHover([this](bool in) {
            log.push_back(in ? "enter" : "leave");
          }),
          TextEditor(bind(edited)),
      });
    }));
  }
  Element find(const std::string &text) {
    auto e = Inspector(window).findText(text);
    EXPECT_TRUE(e.has_value()) << text;
    return e.value_or(Element{});
  }

  Desktop desktop;
  Window window{desktop, makeRect(0, 0, 300, 400), kTitled};
  std::vector<std::string> log;
  Observable<int> picked{0};
  Observable<std::string> edited{std::string("na\xC3\xAFve")};
};

TEST_F(PointerTest, ClickRunsTheInnermostEnabledControlUnderThePoint) {
  Inspector inspector(window);
  EXPECT_TRUE(inspector.click(centre(find("Inner"))));
  EXPECT_TRUE(inspector.click(centre(find("Outer"))));
  EXPECT_EQ(log, (std::vector<std::string>{"inner", "outer"}));
  // A disabled button takes no click; nor does empty space.
  EXPECT_FALSE(inspector.click(centre(find("Off"))));
  EXPECT_FALSE(inspector.click({299, 399}));
  EXPECT_EQ(log.size(), 2u);
}

TEST_F(PointerTest, ClickOpensLinks) {
  Inspector inspector(window);
  EXPECT_TRUE(inspector.click(centre(find("Site"))));
  EXPECT_EQ(desktop.openedURLs(), std::vector<std::string>{"https://example.invalid/"});
}

// A picker opens a menu of its options over itself, the selected one checked; choosing a row
// selects it and closes the menu; Escape and a press elsewhere close it choosing nothing.
TEST_F(PointerTest, PickersOpenAMenuOfTheirOptions) {
  Inspector inspector(window);
  const auto picker = inspector.findKind(NodeKind::picker).at(0);
  EXPECT_TRUE(inspector.click(centre(picker)));
  Window *menu = desktop.popUpMenu();
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->level(), kPopUpMenuLevel);
  EXPECT_EQ(picked.peek(), 0);
  Inspector rows(*menu);
  EXPECT_EQ(rows.texts(), (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(rows.symbols(), std::vector<std::string>{"checkmark"});
  // The checked row lies over the picker, and the menu is at least as wide.
  const Rect content = window.contentRect();
  const double pickerMiddle = content.maxY() - picker.frame.midY();
  const auto checked = rows.findText("A");
  EXPECT_NEAR(menu->frame().maxY() - checked->frame.midY(), pickerMiddle, 1);
  EXPECT_GE(menu->frame().width(), picker.frame.width());

  rows.press("B");
  EXPECT_EQ(picked.peek(), 1);
  EXPECT_EQ(desktop.popUpMenu(), nullptr);

  inspector.click(centre(inspector.findKind(NodeKind::picker).at(0)));
  ASSERT_NE(desktop.popUpMenu(), nullptr);
  EXPECT_EQ(Inspector(*desktop.popUpMenu()).symbols(), std::vector<std::string>{"checkmark"});
  EXPECT_TRUE(Inspector(*desktop.popUpMenu()).key(Key::escape()));
  EXPECT_EQ(desktop.popUpMenu(), nullptr);

  inspector.click(centre(inspector.findKind(NodeKind::picker).at(0)));
  ASSERT_NE(desktop.popUpMenu(), nullptr);
  inspector.pressPointer(centre(find("Inner")));
  EXPECT_EQ(desktop.popUpMenu(), nullptr);
  EXPECT_EQ(picked.peek(), 1);
  EXPECT_TRUE(log.empty());
}

// In an open menu the selected row is lit; Up and Down move the light (stopping at the ends)
// and Return chooses the lit row.
TEST_F(PointerTest, PickerMenusFollowTheArrowKeys) {
  Inspector inspector(window);
  picked.set(1);
  inspector.click(centre(inspector.findKind(NodeKind::picker).at(0)));
  ASSERT_NE(desktop.popUpMenu(), nullptr);
  Inspector rows(*desktop.popUpMenu());
  EXPECT_EQ(rows.findText("B")->foreground, Color::white());
  EXPECT_EQ(rows.findText("C")->foreground, Color::primary());
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(rows.key(Key::named(Key::Kind::down)));
  }
  EXPECT_EQ(rows.findText("C")->foreground, Color::white());
  rows.key(Key::named(Key::Kind::up));
  EXPECT_TRUE(rows.key(Key::returnKey()));
  EXPECT_EQ(picked.peek(), 1);
  EXPECT_EQ(desktop.popUpMenu(), nullptr);
  inspector.click(centre(inspector.findKind(NodeKind::picker).at(0)));
  Inspector again(*desktop.popUpMenu());
  again.key(Key::named(Key::Kind::up));
  again.key(Key::named(Key::Kind::up));
  again.key(Key::returnKey());
  EXPECT_EQ(picked.peek(), 0);
}

TEST_F(PointerTest, HoverHandlersHearEnterAndLeaveOnce) {
  Inspector inspector(window);
  std::set<std::string> inside;
  const Point over = centre(find("Hover me"));
  inspector.pointerMoved(over, inside);
  inspector.pointerMoved(Point{over.x + 1, over.y}, inside);
  EXPECT_EQ(inside.size(), 1u);
  inspector.pointerMoved(centre(find("Site")), inside);
  inspector.pointerMoved(over, inside);
  inspector.pointerMoved(std::nullopt, inside);
  EXPECT_TRUE(inside.empty());
  EXPECT_EQ(log, (std::vector<std::string>{"enter", "leave", "enter", "leave"}));
}

TEST_F(PointerTest, DeleteBackwardRemovesOneWholeCharacter) {
  Inspector inspector(window);
  EXPECT_TRUE(inspector.deleteBackward());
  EXPECT_EQ(edited.peek(), "na\xC3\xAFv");
  EXPECT_TRUE(inspector.deleteBackward());
  EXPECT_EQ(edited.peek(), "na\xC3\xAF");
  EXPECT_TRUE(inspector.deleteBackward());
  EXPECT_EQ(edited.peek(), "na");
  edited.set("");
  EXPECT_TRUE(inspector.deleteBackward());
  EXPECT_EQ(edited.peek(), "");
}

} // namespace
} // namespace platform::ui
