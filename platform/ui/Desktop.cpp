#include "platform/ui/Desktop.hpp"

#include "platform/ui/Window.hpp"

#include <algorithm>

namespace platform::ui {

void Desktop::setScreens(std::vector<Screen> screens) {
  screens_ = std::move(screens);
  if (mainIndex_ && *mainIndex_ >= screens_.size()) {
    mainIndex_ = screens_.empty() ? std::nullopt : std::optional<std::size_t>(0);
  } else if (!mainIndex_ && !screens_.empty()) {
    mainIndex_ = 0;
  }
}

std::optional<Screen> Desktop::mainScreen() const {
  if (!mainIndex_ || *mainIndex_ >= screens_.size()) {
    return std::nullopt;
  }
  return screens_[*mainIndex_];
}

Desktop::Desktop() = default;

Desktop::~Desktop() {
  popUp_.reset();
  closedPopUp_.reset();
}

void Desktop::showPopUpMenu(PopUpMenu menu) {
  dismissPopUpMenu();
  closedPopUp_.reset();
  auto view =
      std::make_unique<HostingView>(popUpMenuComponent(menu, [this] { dismissPopUpMenu(); }));
  // At least as wide as the control, with the selected row (or the first) over it.
  const Size ideal = view->idealSize();
  Rect frame{{}, {std::max(ideal.width, menu.anchor.width()), ideal.height}};
  const double rows = static_cast<double>(std::max<std::size_t>(1, menu.options.size()));
  const double rowHeight = (ideal.height - 2 * kPopUpMenuInset) / rows;
  const double row = menu.selected >= 0 ? menu.selected : 0;
  const double rowMiddle = kPopUpMenuInset + rowHeight * (row + 0.5);
  frame.origin.x = menu.anchor.minX();
  frame.origin.y = menu.anchor.midY() + rowMiddle - frame.height();
  if (const auto screen = mainScreen()) {
    const Rect &v = screen->visibleFrame;
    frame.origin.x =
        std::clamp(frame.minX(), v.minX(), std::max(v.minX(), v.maxX() - frame.width()));
    frame.origin.y =
        std::clamp(frame.minY(), v.minY(), std::max(v.minY(), v.maxY() - frame.height()));
  }
  auto window = std::make_unique<Panel>(*this, frame, kBorderless | kNonactivatingPanel);
  window->setLevel(kPopUpMenuLevel);
  window->setOpaque(false);
  window->setBackgroundColor(Color::clear());
  window->setHasShadow(true);
  window->setReleasedWhenClosed(false);
  window->setContentView(std::move(view));
  popUp_ = std::move(window);
  popUp_->orderFrontRegardless();
}

Window *Desktop::popUpMenu() const {
  return popUp_ && popUp_->isVisible() ? popUp_.get() : nullptr;
}

void Desktop::dismissPopUpMenu() {
  if (!popUp_) {
    return;
  }
  popUp_->orderOut();
  closedPopUp_ = std::move(popUp_);
}

void Desktop::beginWindowDrag(Window &window, Point pointer) {
  dragged_ = &window;
  dragPointer_ = pointer;
}

void Desktop::windowDragMoved(Point pointer) {
  if (dragged_ == nullptr) {
    return;
  }
  Rect frame = dragged_->frame();
  frame.origin.x += pointer.x - dragPointer_.x;
  frame.origin.y += pointer.y - dragPointer_.y;
  dragPointer_ = pointer;
  dragged_->setFrame(frame, true);
}

void Desktop::activate() {
  ++activations_;
  becameActive();
}

void Desktop::becameActive() {
  if (active_) {
    return;
  }
  active_ = true;
  if (didBecomeActive_) {
    didBecomeActive_();
  }
}

std::vector<Window *> Desktop::orderedWindows() const {
  std::vector<Window *> windows = order_;
  std::stable_sort(windows.begin(), windows.end(),
                   [](Window *a, Window *b) { return a->level() < b->level(); });
  return windows;
}

void Desktop::windowOrderedFront(Window *window) {
  std::erase(order_, window);
  order_.push_back(window);
}

void Desktop::windowOrderedOut(Window *window) {
  std::erase(order_, window);
  if (keyWindow_ == window) {
    keyWindow_ = nullptr;
  }
  if (dragged_ == window) {
    dragged_ = nullptr;
  }
}

void Desktop::windowMadeKey(Window *window) { keyWindow_ = window; }

void Desktop::windowDestroyed(Window *window) { windowOrderedOut(window); }

} // namespace platform::ui
