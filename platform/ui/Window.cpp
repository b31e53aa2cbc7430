#include "platform/ui/Window.hpp"

#include "platform/ui/Desktop.hpp"

namespace platform::ui {

Window::Window(Desktop &desktop, Rect contentRect, unsigned styleMask, Backing, bool, bool isPanel)
    : desktop_(desktop), isPanel_(isPanel), styleMask_(styleMask) {
  frame_ = contentRect;
  frame_.size.height += titleBarHeight();
}

Window::~Window() {
  // Tear the content down before the window's fields, so handlers that run see a live window.
  content_.reset();
  desktop_.windowDestroyed(this);
}

Appearance Window::appearance() const {
  return (styleMask_ & kHUDWindow) ? Appearance::dark : Appearance::light;
}

double Window::titleBarHeight() const {
  if (!(styleMask_ & kTitled) || (styleMask_ & kFullSizeContentView)) {
    return 0;
  }
  return (styleMask_ & kUtilityWindow) ? Theme::utilityTitleBarHeight : Theme::titleBarHeight;
}

Rect Window::contentRect() const {
  Rect content = frame_;
  content.size.height -= titleBarHeight();
  return content;
}

void Window::setFrame(Rect frame, bool) {
  frame_ = frame;
  if (content_) {
    content_->setSize(contentRect().size);
  }
  desktop_.windowChanged(this);
}

void Window::setTitle(std::string title) {
  title_ = std::move(title);
  desktop_.windowChanged(this);
}

void Window::setContentSize(Size size) {
  // The top edge stays where it is: desktop y grows upwards.
  const double top = frame_.maxY();
  Rect frame = frame_;
  frame.size = Size{size.width, size.height + titleBarHeight()};
  frame.origin.y = top - frame.size.height;
  setFrame(frame, true);
}

void Window::center() {
  const auto screen = desktop_.mainScreen();
  if (!screen) {
    return;
  }
  const Rect &v = screen->visibleFrame;
  Rect frame = frame_;
  frame.origin.x = v.midX() - frame.width() / 2;
  // A little above the middle, as the platform centres windows.
  frame.origin.y = v.minY() + (v.height() - frame.height()) * 2 / 3;
  setFrame(frame, true);
}

void Window::setContentView(std::unique_ptr<HostingView> view, bool fitsContent) {
  content_ = std::move(view);
  fitsContent_ = fitsContent;
  if (!content_) {
    return;
  }
  content_->setAppearance(appearance());
  content_->setSize(contentRect().size);
  content_->setAnimationExecutor(desktop_.animationExecutor());
  content_->setOnRedraw([this] { desktop_.windowChanged(this); });
  content_->setOnUpdate([this] {
    if (fitsContent_) {
      fitToContent();
    }
    desktop_.windowChanged(this);
  });
  content_->layout();
  if (fitsContent_) {
    fitToContent();
  }
  desktop_.windowChanged(this);
}

void Window::fitToContent() {
  const Size ideal = content_->idealSize();
  const Rect content = contentRect();
  if (ideal.width != content.width() || ideal.height != content.height()) {
    setContentSize(ideal);
  }
}

bool Window::isKeyWindow() const { return desktop_.keyWindow() == this; }

void Window::comeOnScreen() {
  visible_ = true;
  if (viewsOffScreen_ && content_) {
    // The views left the screen when the window closed: they appear again, and their appear
    // handlers read what may have changed meanwhile.
    viewsOffScreen_ = false;
    content_->update();
  }
}

void Window::orderFrontRegardless() {
  comeOnScreen();
  desktop_.windowOrderedFront(this);
}

void Window::makeKeyAndOrderFront() {
  comeOnScreen();
  desktop_.windowOrderedFront(this);
  desktop_.windowMadeKey(this);
}

void Window::orderOut() {
  visible_ = false;
  if (content_) {
    content_->stopAnimations();
  }
  desktop_.windowOrderedOut(this);
}

void Window::close() {
  const bool wasVisible = visible_;
  orderOut();
  ++closes_;
  if (wasVisible && content_) {
    viewsOffScreen_ = true;
    content_->disappearAll();
  }
}

} // namespace platform::ui
