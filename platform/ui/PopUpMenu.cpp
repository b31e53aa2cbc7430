#include "platform/ui/PopUpMenu.hpp"

#include <memory>

namespace platform::ui {

namespace {

// One row with hover state of its own.
class PopUpMenuRow final : public Component {
public:
  std::string title;
  bool checked = false;
  Observable<bool> hovered{false};

  View body() override {
    const bool lit = hovered.get();
    return HStack({Symbol("checkmark").opacity(checked ? 1 : 0), Text(title), Spacer()}, 6)
        .padding(kHorizontal, 8)
        .padding(kVertical, kPopUpMenuRowPadding)
        .background(RoundedRectangle(4).fill(lit ? Color::accent() : Color::clear()))
        .foregroundStyle(lit ? Color::white() : Color::primary())
        .onHover([this](bool inside) { hovered.set(inside); });
  }
};

} // namespace

View popUpMenuView(const PopUpMenu &menu, std::function<void()> close) {
  std::vector<View> rows;
  for (std::size_t i = 0; i < menu.options.size(); ++i) {
    const std::string title = menu.options[i];
    const bool checked = static_cast<int>(i) == menu.selected;
    const auto choose = menu.choose;
    const int index = static_cast<int>(i);
    View row = ComponentView(
        "PopUpMenuRow", [] { return std::make_shared<PopUpMenuRow>(); },
        [title, checked](Component &c) {
          auto &r = static_cast<PopUpMenuRow &>(c);
          r.title = title;
          r.checked = checked;
        });
    rows.push_back(Button(row,
                          [choose, close, index] {
                            // The menu goes first, so what the choice changes is seen without it.
                            close();
                            if (choose) {
                              choose(index);
                            }
                          })
                       .buttonStyle(ButtonStyle::plain())
                       .id(title));
  }
  return VStack(std::move(rows), 0, HorizontalAlignment::leading)
      .padding(kPopUpMenuInset)
      .font(menu.font)
      .background(RoundedRectangle(6)
                      .fill(Color::rgb(0.97, 0.97, 0.97))
                      .stroke(Color::black().opacity(0.15), 0.5))
      .onKeyPress(Key::escape(), [close] {
        close();
        return true;
      });
}

} // namespace platform::ui
