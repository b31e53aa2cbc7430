#pragma once

#include "platform/ui/Layout.hpp"

#include <string>
#include <vector>

namespace platform::ui {
class Window;
}

namespace mqtest {

// What a person would see wrong in a laid-out window: a shown view that lies (partly) outside
// the window's content, or a text whose frame is too small for its lines. One line each,
// naming the view's identity; empty when the layout is sound. Text editors scroll their text
// and are not checked for clipping.
std::vector<std::string> layoutProblems(const platform::ui::LayoutNode &root,
                                        platform::ui::Size bounds);
std::vector<std::string> layoutProblems(platform::ui::Window &window);

} // namespace mqtest
