#pragma once

#include "platform/ui/Desktop.hpp"

#include <cstdlib>
#include <filesystem>
#include <string>

namespace murmurquill::testing {

// A primary 1440 x 900 screen with a 25-point menu bar and a 70-point dock, and a secondary
// 1920 x 1080 screen to its right with only a menu bar.
inline void setUpTwoScreens(platform::ui::Desktop &desktop) {
  using platform::ui::makeRect;
  desktop.setScreens({
      {makeRect(0, 0, 1440, 900), makeRect(0, 70, 1440, 805), "Built-in"},
      {makeRect(1440, 0, 1920, 1080), makeRect(1440, 0, 1920, 1055), "External"},
  });
}

// Where tests write the pictures a person can look at: $MQ_RENDER_DIR, else "renders" in the
// test's working folder (the build tree).
inline std::filesystem::path renderFolder(const std::string &sub) {
  const char *root = std::getenv("MQ_RENDER_DIR");
  std::filesystem::path folder =
      root != nullptr && *root != '\0' ? std::filesystem::path(root) : "renders";
  folder /= sub;
  std::filesystem::create_directories(folder);
  return folder;
}

} // namespace murmurquill::testing
