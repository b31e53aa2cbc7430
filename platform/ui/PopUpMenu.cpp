#include "platform/ui/PopUpMenu.hpp"

#include "platform/ui/Observation.hpp"

#include <algorithm>
#include <memory>

namespace platform::ui {

namespace {

// Runs the choice of row `index` after closing the menu, so what the choice changes is seen
// without it.
std::function<void()> chooser(const PopUpMenu &menu, const std::function<void()> &close,
                              int index) {
  const auto choose = menu.choose;
  return [choose, close, index] {
    close();
    if (choose) {
      choose(index);
    }
  };
}

View row(const PopUpMenu &menu, int index, bool lit, std::function<void()> choose,
         std::function<void(bool)> hover) {
  const std::string &title = menu.options[static_cast<std::size_t>(index)];
  const View label =
      HStack({Symbol("checkmark").opacity(index == menu.selected ? 1 : 0), Text(title), Spacer()},
             6)
          .padding(kHorizontal, 8)
          .padding(kVertical, kPopUpMenuRowPadding)
          .background(RoundedRectangle(4).fill(lit ? Color::accent() : Color::clear()))
          .foregroundStyle(lit ? Color::white() : Color::primary())
          .onHover(std::move(hover));
  return Button(label, std::move(choose)).buttonStyle(ButtonStyle::plain()).id(title);
}

// The lit row, moved by the pointer and by Up and Down.
class PopUpMenuComponent final : public Component {
public:
  PopUpMenuComponent(PopUpMenu menu, std::function<void()> close)
      : menu_(std::move(menu)), close_(std::move(close)), lit_(menu_.selected) {}

  View body() override {
    const int count = static_cast<int>(menu_.options.size());
    const int lit = lit_.get();
    std::vector<View> rows;
    for (int i = 0; i < count; ++i) {
      rows.push_back(row(menu_, i, i == lit, chooser(menu_, close_, i), [this, i](bool inside) {
        if (inside) {
          lit_.set(i);
        }
      }));
    }
    const auto close = close_;
    const auto step = [this, count](int by) {
      return [this, count, by] {
        if (count > 0) {
          lit_.set(lit_.peek() < 0 ? (by > 0 ? 0 : count - 1)
                                   : std::clamp(lit_.peek() + by, 0, count - 1));
        }
        return true;
      };
    };
    const std::function<void()> chooseLit =
        lit >= 0 && lit < count ? chooser(menu_, close_, lit) : close_;
    return VStack(std::move(rows), 0, HorizontalAlignment::leading)
        .padding(kPopUpMenuInset)
        .font(menu_.font)
        .background(RoundedRectangle(6)
                        .fill(Color::rgb(0.97, 0.97, 0.97))
                        .stroke(Color::black().opacity(0.15), 0.5))
        .onKeyPress(Key::escape(),
                    [close] {
                      close();
                      return true;
                    })
        .onKeyPress(Key::named(Key::Kind::up), step(-1))
        .onKeyPress(Key::named(Key::Kind::down), step(1))
        .onKeyPress(Key::returnKey(), [chooseLit] {
          chooseLit();
          return true;
        });
  }

private:
  PopUpMenu menu_;
  std::function<void()> close_;
  Observable<int> lit_;
};

} // namespace

std::shared_ptr<Component> popUpMenuComponent(PopUpMenu menu, std::function<void()> close) {
  return std::make_shared<PopUpMenuComponent>(std::move(menu), std::move(close));
}

} // namespace platform::ui
