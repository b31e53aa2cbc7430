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
