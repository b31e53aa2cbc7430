#pragma once

#include "platform/ui/View.hpp"

#include <optional>
#include <string>

namespace murmurquill {

// The about window's content: icon, name, version, tagline and the two links.
class AboutView final : public platform::ui::Component {
public:
  static constexpr const char *kWebsiteURL = "https://murmurquill.app/";
  static constexpr const char *kSupportURL = "https://murmurquill.app/support";

  // `shortVersion`: the bundle's short version string, absent when it has none.
  explicit AboutView(std::optional<std::string> shortVersion)
      : shortVersion_(std::move(shortVersion)) {}

  platform::ui::View body() override;

  // "Version " and the short version, or "Version 1.1" without one.
  static std::string versionText(const std::optional<std::string> &shortVersion);

private:
  std::optional<std::string> shortVersion_;
};

} // namespace murmurquill
