#include "app/views/RefinePanel.hpp"

#include <vector>

namespace murmurquill {

namespace ui = platform::ui;

platform::ui::Binding<std::string> RefineState::refinedBinding() {
  return ui::Binding<std::string>{[this] { return refined(); },
                                  [this](std::string text) { setRefined(std::move(text)); }};
}

RefinePanel::RefinePanel(std::shared_ptr<RefineState> state,
                         std::function<void(const std::string &)> onApply,
                         std::function<void(const std::string &)> onCopy,
                         std::function<void()> onDismiss)
    : state_(std::move(state)), onApply_(std::move(onApply)), onCopy_(std::move(onCopy)),
      onDismiss_(std::move(onDismiss)) {}

ui::View RefinePanel::body() {
  const bool loading = state_->isLoading();
  const auto dismiss = onDismiss_;

  const ui::View header = ui::HStack(
      {ui::Symbol(loading ? "sparkles" : "checkmark.circle.fill")
           .foregroundStyle(loading ? ui::Color::accent() : ui::Color::green()),
       ui::Text(loading ? "Refining\u2026" : "Refined").font(ui::Font::headline()), ui::Spacer(),
       ui::Button(ui::Symbol("xmark")
                      .font(ui::Font::caption().withWeight(ui::FontWeight::semibold))
                      .foregroundStyle(ui::Color::secondary()),
                  [dismiss] { dismiss(); })
           .buttonStyle(ui::ButtonStyle::borderless())},
      6, ui::VerticalAlignment::center);

  ui::View content;
  if (loading) {
    content = ui::HStack({ui::ProgressView().controlSize(ui::ControlSize::small),
                          ui::Text("Cleaning up with Apple Intelligence\u2026")
                              .font(ui::Font::caption())
                              .foregroundStyle(ui::Color::secondary())},
                         std::nullopt, ui::VerticalAlignment::center)
                  .padding(ui::kVertical, 4);
  } else {
    const std::shared_ptr<RefineState> state = state_;
    const auto apply = onApply_;
    const auto copy = onCopy_;
    std::vector<ui::View> rows;
    rows.push_back(
        ui::TextEditor(state_->refinedBinding())
            .font(ui::Font::body())
            .frame(std::nullopt, std::nullopt, 60.0, 160.0)
            .padding(6)
            .background(ui::RoundedRectangle(6).fill(ui::Color::primary().opacity(0.05))));
    if (state_->applyFailed()) {
      rows.push_back(ui::Text("Apply isn't supported in this app \u2014 use Copy instead.")
                         .font(ui::Font::caption())
                         .foregroundStyle(ui::Color::orange()));
    }
    rows.push_back(ui::HStack({ui::Button("Apply", [state, apply] { apply(state->refined()); })
                                   .buttonStyle(ui::ButtonStyle::borderedProminent())
                                   .keyboardShortcut(ui::Key::returnKey(), ui::kCommand),
                               ui::Button("Copy", [state, copy] { copy(state->refined()); })
                                   .buttonStyle(ui::ButtonStyle::bordered()),
                               ui::Spacer(),
                               ui::Button("Dismiss", [dismiss] { dismiss(); })
                                   .buttonStyle(ui::ButtonStyle::borderless())
                                   .foregroundStyle(ui::Color::secondary())},
                              8, ui::VerticalAlignment::center)
                       .controlSize(ui::ControlSize::small));
    content = ui::VStack(std::move(rows), 10, ui::HorizontalAlignment::leading);
  }

  return ui::VStack({header, content}, 12, ui::HorizontalAlignment::leading)
      .padding(16)
      .frame(kWidth, std::nullopt)
      .onKeyPress(ui::Key::escape(), [dismiss] {
        dismiss();
        return true;
      });
}

} // namespace murmurquill
