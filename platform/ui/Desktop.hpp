#pragma once

#include "platform/input/Pasteboard.hpp"
#include "platform/system/Executor.hpp"
#include "platform/ui/Geometry.hpp"
#include "platform/ui/PopUpMenu.hpp"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform::ui {

class Window;

// One display. Frames use desktop coordinates: origin at the bottom-left of the primary
// screen, y growing upwards. `visibleFrame` leaves out the menu bar and the dock.
struct Screen {
  Rect frame;
  Rect visibleFrame;
  std::string name;
};

// The application's view of the desktop: its screens, the pointer, its windows in front-to-
// back order, whether the application is active, and the addresses it asked to open. This
// class is the in-memory desktop that tests drive; an on-screen desktop derives from it,
// reports the same from the display server and puts the windows on screen through the
// virtual members. Main thread only.
class Desktop {
public:
  Desktop();
  virtual ~Desktop();
  Desktop(const Desktop &) = delete;
  Desktop &operator=(const Desktop &) = delete;

  // Screens, the primary first.
  const std::vector<Screen> &screens() const { return screens_; }
  void setScreens(std::vector<Screen> screens);
  // The screen with the key window or, without one, the primary; absent without screens.
  std::optional<Screen> mainScreen() const;
  // Which screen counts as main (an index into screens()); absent: none does.
  void setMainScreenIndex(std::optional<std::size_t> index) { mainIndex_ = index; }

  virtual Point mouseLocation() const { return mouse_; }
  void setMouseLocation(Point location) { mouse_ = location; }

  // Activates the application (it takes focus from the frontmost application).
  virtual void activate();
  bool isActive() const { return active_; }
  std::size_t activationCount() const { return activations_; }
  // Another application became frontmost.
  void deactivate() { active_ = false; }
  // The application is frontmost again: by activate(), or because the display server gave one
  // of its windows the focus. Runs the handler below when it was not frontmost before.
  void becameActive();
  void setDidBecomeActive(std::function<void()> handler) { didBecomeActive_ = std::move(handler); }

  // Where the views of this desktop's windows run their animations (the main executor);
  // without one they are drawn in their end states.
  void setAnimationExecutor(std::shared_ptr<Executor> executor) {
    animationExecutor_ = std::move(executor);
  }
  const std::shared_ptr<Executor> &animationExecutor() const { return animationExecutor_; }

  // The pasteboard text editors cut and copy to and paste from; without one nothing is.
  void setPasteboard(std::shared_ptr<Pasteboard> pasteboard) {
    pasteboard_ = std::move(pasteboard);
  }
  Pasteboard *pasteboard() const { return pasteboard_.get(); }

  // A drag that began with a press on the background of `window` (one movable by its
  // background) at `pointer` (desktop coordinates) starts moving it. Here the window then follows
  // windowDragMoved() until endWindowDrag(); an on-screen desktop hands the move to its window
  // manager where one can take it, and feeds these calls from the pointer otherwise.
  virtual void beginWindowDrag(Window &window, Point pointer);
  // The pointer moved to `pointer` with the button still down: the window moves as far.
  void windowDragMoved(Point pointer);
  void endWindowDrag() { dragged_ = nullptr; }
  Window *draggedWindow() const { return dragged_; }

  // Opens `menu` in a window of its own at the pop-up menu level, closing any other. It
  // closes when a row is chosen, on Escape, and when a press lands anywhere else.
  void showPopUpMenu(PopUpMenu menu);
  // The open pop-up menu's window; null when none is open.
  Window *popUpMenu() const;
  void dismissPopUpMenu();

  virtual void openURL(const std::string &url) { openedURLs_.push_back(url); }
  const std::vector<std::string> &openedURLs() const { return openedURLs_; }

  // Visible windows, back to front: by level, then by the order they were brought forward.
  std::vector<Window *> orderedWindows() const;
  Window *keyWindow() const { return keyWindow_; }

  // Windows report themselves here. An override calls the base first.
  virtual void windowOrderedFront(Window *window);
  virtual void windowOrderedOut(Window *window);
  virtual void windowMadeKey(Window *window);
  virtual void windowDestroyed(Window *window);
  // The window's frame, title or content changed (an on-screen desktop redraws it).
  virtual void windowChanged(Window *) {}

private:
  std::vector<Screen> screens_;
  std::optional<std::size_t> mainIndex_ = 0;
  Point mouse_;
  bool active_ = false;
  std::size_t activations_ = 0;
  std::function<void()> didBecomeActive_;
  std::vector<std::string> openedURLs_;
  std::shared_ptr<Executor> animationExecutor_;
  std::shared_ptr<Pasteboard> pasteboard_;
  Window *dragged_ = nullptr;
  std::unique_ptr<Window> popUp_;
  // A menu closed by one of its own rows lives on until the next one opens: its views are
  // still running the row's action.
  std::unique_ptr<Window> closedPopUp_;
  Point dragPointer_;
  std::vector<Window *> order_; // visible windows, in the order they came forward
  Window *keyWindow_ = nullptr;
};

} // namespace platform::ui
