#pragma once

#include "platform/ui/Geometry.hpp"
#include "platform/ui/View.hpp"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform::ui {

// A pop-up menu of choices, as a menu-style picker opens it: one row per option, a
// checkmark by the selected one, the row under the pointer highlighted. The desktop shows it
// (Desktop::showPopUpMenu).
struct PopUpMenu {
  std::vector<std::string> options;
  int selected = -1;
  std::function<void(int)> choose;
  // The control that opened it, in desktop coordinates: the menu opens with the selected row
  // over it (the first row when nothing is selected) and at least as wide.
  Rect anchor;
  Font font = Font::body();
};

// The view of an open pop-up menu: rows that choose their option and then run `close`; the
// row under the pointer is lit, Up and Down move the light, Return chooses the lit row and
// Escape only closes.
std::shared_ptr<Component> popUpMenuComponent(PopUpMenu menu, std::function<void()> close);

// Row metrics, shared by the view and the placement of its window.
inline constexpr double kPopUpMenuInset = 5;
inline constexpr double kPopUpMenuRowPadding = 4;

} // namespace platform::ui
