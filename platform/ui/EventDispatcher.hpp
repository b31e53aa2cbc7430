#pragma once

#include "platform/ui/Geometry.hpp"
#include "platform/ui/View.hpp"

#include <optional>
#include <set>
#include <string>

namespace platform::ui {

class Desktop;
class HostingView;

// Delivers a person's input to a hosting view's tree as a window on screen receives it: a
// click to the control under the pointer, pointer moves to hover handlers, keys to keyboard
// shortcuts and key handlers, typed text to the text editor. An on-screen desktop's event
// loop calls it for its windows; the inspector drives views through it in tests. Every call
// reads the hosting view's current layout; handlers may render it again or close its window,
// so nothing is read after they run.
class EventDispatcher {
public:
  // `desktop` opens the links clicked; may be null.
  explicit EventDispatcher(HostingView &view, Desktop *desktop = nullptr)
      : view_(view), desktop_(desktop) {}

  // A click at a point in the view's coordinates (top-left origin): runs the innermost
  // usable button under the point, opens a link, or moves a picker to its next option.
  // Returns whether something took the click.
  bool click(Point point);
  // The pointer moved to `point` (absent: it left the view). Views with a hover handler whose
  // frame now holds the point and that are not in `inside` are told they are entered, those
  // in `inside` that no longer hold it that they are left; `inside` (identities) is updated.
  void pointerMoved(std::optional<Point> point, std::set<std::string> &inside);
  // A usable button whose keyboard shortcut matches is pressed; otherwise the key-press
  // handlers are asked, the innermost first, until one handles it. Returns whether the key
  // was handled.
  bool key(Key key, unsigned modifiers);
  // Appends `text` to the first usable text editor; false without one.
  bool insertText(const std::string &text);
  // Removes the last character of the first usable text editor's text; false without one.
  bool deleteBackward();

private:
  HostingView &view_;
  Desktop *desktop_;
};

} // namespace platform::ui
