#include "platform/ui/HostingView.hpp"
#include "platform/ui/Inspector.hpp"
#include "platform/ui/Window.hpp"
#include "platform/ui/Desktop.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace platform::ui {
namespace {

// A row with hover state of its own, as a custom button style's body.
class HoverRow final : public Component {
public:
  View label;
  Observable<bool> hovered{false};
  View body() override {
    return label.padding(4)
        .background(Rectangle().fill(hovered.get() ? Color::accent() : Color::clear()))
        .foregroundStyle(hovered.get() ? Color::white() : Color::primary())
        .onHover([this](bool inside) { hovered.set(inside); });
  }
};

TEST(HostingView, RendersAgainOnlyWhenSomethingItReadChanged) {
  Observable<int> shown(1);
  Observable<int> other(1);
  HostingView host([&] { return Text("count " + std::to_string(shown.get())); }, {200, 50});
  Inspector inspector(host);
  EXPECT_TRUE(inspector.hasText("count 1"));
  const std::size_t renders = host.renderCount();
  other.set(2);
  shown.set(1);
  EXPECT_EQ(host.renderCount(), renders);
  shown.set(3);
  EXPECT_EQ(host.renderCount(), renders + 1);
  EXPECT_TRUE(inspector.hasText("count 3"));
}

TEST(HostingView, AppearDisappearAndChangeHandlersRunOnTransitions) {
  Observable<bool> showBadge(false);
  Observable<int> value(0);
  std::vector<std::string> events;
  HostingView host(
      [&] {
        std::vector<View> items{
            Text("v" + std::to_string(value.get())).onChange(std::to_string(value.get()), [&] {
              events.push_back("changed");
            })};
        if (showBadge.get()) {
          items.push_back(Circle().onAppear([&] { events.push_back("appear"); }).onDisappear([&] {
            events.push_back("disappear");
          }));
        }
        return VStack(items);
      },
      {100, 100});
  host.layout();
  showBadge.set(true);
  value.set(1);
  value.set(1);
  showBadge.set(false);
  EXPECT_EQ(events, (std::vector<std::string>{"appear", "changed", "disappear"}));
  showBadge.set(true);
  host.disappearAll();
  EXPECT_EQ(events.back(), "disappear");
}

TEST(HostingView, ViewsAppearAgainWhenAClosedWindowComesBack) {
  Desktop desktop;
  Window window(desktop, makeRect(0, 0, 200, 100), kTitled | kClosable);
  int appeared = 0;
  int disappeared = 0;
  window.setContentView(std::make_unique<HostingView>([&] {
    return Text("menu").onAppear([&] { ++appeared; }).onDisappear([&] { ++disappeared; });
  }));
  window.makeKeyAndOrderFront();
  EXPECT_EQ(appeared, 1);
  window.orderOut();
  window.orderFrontRegardless();
  EXPECT_EQ(appeared, 1);
  window.close();
  EXPECT_EQ(disappeared, 1);
  window.makeKeyAndOrderFront();
  EXPECT_EQ(appeared, 2);
}

TEST(HostingView, ComponentStateLivesWhileItsPlaceDoes) {
  Observable<bool> present(true);
  HostingView host(
      [&] {
        if (!present.get()) {
          return VStack({Text("gone")});
        }
        return VStack(
            {Button(Text("Row"), [] {}).buttonStyle(ButtonStyle::custom([](const View &label) {
              return ComponentView(
                  "HoverRow", [] { return std::make_shared<HoverRow>(); },
                  [label](Component &c) { static_cast<HoverRow &>(c).label = label; });
            }))});
      },
      {200, 60});
  Inspector inspector(host);
  inspector.hover("Row", true);
  EXPECT_EQ(inspector.findText("Row")->foreground, Color::white());
  host.update();
  EXPECT_EQ(inspector.findText("Row")->foreground, Color::white());
  present.set(false);
  present.set(true);
  EXPECT_EQ(inspector.findText("Row")->foreground, Color::primary());
}

TEST(Inspector, ShortcutsComeBeforeKeyHandlersAndHiddenButtonsCannotBePressed) {
  std::vector<std::string> events;
  HostingView host(
      [&] {
        return VStack({Button("Go", [&] { events.push_back("go"); })
                           .keyboardShortcut(Key::returnKey(), kCommand),
                       Button("Secret", [&] { events.push_back("secret"); }).hidden(),
                       Text("x").onKeyPress(Key::returnKey(),
                                            [&] {
                                              events.push_back("inner");
                                              return false;
                                            })})
            .onKeyPress(Key::returnKey(), [&] {
              events.push_back("outer");
              return true;
            });
      },
      {200, 200});
  Inspector inspector(host);
  EXPECT_TRUE(inspector.key(Key::returnKey(), kCommand));
  EXPECT_TRUE(inspector.key(Key::returnKey()));
  EXPECT_FALSE(inspector.key(Key::escape()));
  EXPECT_THROW(inspector.press("Secret"), InspectorError);
  EXPECT_THROW(inspector.press("Missing"), InspectorError);
  EXPECT_EQ(events, (std::vector<std::string>{"go", "inner", "outer"}));
}

TEST(Inspector, PickerChoosesAnOfferedOption) {
  Observable<int> selected(0);
  HostingView host(
      [&] {
        return Picker(
                   "", {"Right Option", "Right Command"}, [&] { return selected.get(); },
                   [&](int index) { selected.set(index); })
            .labelsHidden();
      },
      {200, 40});
  Inspector inspector(host);
  inspector.choose("Right Command");
  EXPECT_EQ(selected.peek(), 1);
  EXPECT_EQ(inspector.findKind(NodeKind::picker).at(0).text, "Right Command");
  EXPECT_THROW(inspector.choose("Left Option"), InspectorError);
}

} // namespace
} // namespace platform::ui
