#include "app/views/AboutView.hpp"

namespace murmurquill {

namespace ui = platform::ui;

std::string AboutView::versionText(const std::optional<std::string> &shortVersion) {
  return "Version " + shortVersion.value_or("1.1");
}

ui::View AboutView::body() {
  return ui::VStack(
             {ui::Spacer(28), ui::AppIcon().frame(80.0, 80.0), ui::Spacer(14),
              ui::Text("Murmurquill").font(ui::Font::title2().withWeight(ui::FontWeight::semibold)),
              ui::Text(versionText(shortVersion_))
                  .font(ui::Font::caption())
                  .foregroundStyle(ui::Color::secondary())
                  .padding(ui::kTop, 2),
              ui::Text("On-device dictation for Linux.")
                  .font(ui::Font::callout())
                  .foregroundStyle(ui::Color::secondary())
                  .padding(ui::kTop, 10),
              ui::Spacer(24), ui::Divider(),
              ui::HStack({ui::Link("Website", kWebsiteURL).font(ui::Font::callout()),
                          ui::Link("Support", kSupportURL).font(ui::Font::callout())},
                         24, ui::VerticalAlignment::center)
                  .padding(ui::kVertical, 12),
              ui::Divider()},
             0, ui::HorizontalAlignment::center)
      .frame(340.0, std::nullopt);
}

} // namespace murmurquill
