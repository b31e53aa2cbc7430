#pragma once

#include "platform/ui/Geometry.hpp"
#include "platform/ui/View.hpp"

#include <optional>
#include <set>
#include <string>

namespace platform::ui {

class Desktop;
class HostingView;
class Window;
struct LayoutNode;
class TextEditingState;

// Delivers a person's input to a hosting view's tree as a window on screen receives it: a
// click to the control under the pointer, pointer moves to hover handlers, keys to keyboard
// shortcuts and key handlers, typed text to the text editor. An on-screen desktop's event
// loop calls it for its windows; the inspector drives views through it in tests. Every call
// reads the hosting view's current layout; handlers may render it again or close its window,
// so nothing is read after they run.
class EventDispatcher {
public:
  // `desktop` opens the links clicked and holds the pasteboard; may be null. `window` is the
  // window showing the view (null: none), which presses on its background move.
  explicit EventDispatcher(HostingView &view, Desktop *desktop = nullptr, Window *window = nullptr)
      : view_(view), desktop_(desktop), window_(window) {}

  // What a press of the primary button landed on: a movable background is the background of
  // a window that moves by its background.
  enum class Press { control, editor, background, movableBackground };

  // How far (points) the pointer goes with the button down before a press on a movable
  // background becomes a move, as toolkits tell a click from a drag: a plain click must not
  // start a move, which a window manager would go on with after the release.
  static constexpr double kDragThreshold = 6;

  // A click at a point in the view's coordinates (top-left origin): runs the innermost
  // usable button under the point, opens a link, or moves a picker to its next option.
  // Returns whether something took the click.
  bool click(Point point);
  // The primary button went down at `point`. In a usable text editor the caret goes there
  // (with Shift the selection grows to it) and later drags select; on anything else nothing
  // happens until the pointer moves (moveFromBackground) or the button comes up (click).
  Press press(Point point, unsigned modifiers = kNoModifiers);
  // The pointer moved to `point` with the button still down after a press at `pressedAt` on a
  // movable background. Once it is further than kDragThreshold from the press the desktop
  // starts moving the window, grabbed at the press point, and this returns true.
  bool moveFromBackground(Point pressedAt, Point point);
  // The pointer moved to `point` with the button down after a press in the editor.
  void dragSelection(Point point);
  // A scroll of `delta` points (positive: towards the end) at `point`; true when a text
  // editor there scrolled.
  bool scroll(Point point, double delta);
  // The pointer moved to `point` (absent: it left the view). Views with a hover handler whose
  // frame now holds the point and that are not in `inside` are told they are entered, those
  // in `inside` that no longer hold it that they are left; `inside` (identities) is updated.
  void pointerMoved(std::optional<Point> point, std::set<std::string> &inside);
  // A usable button whose keyboard shortcut matches is pressed; otherwise the text editor
  // takes its editing keys (TextEditingState::handleKey, Page Up/Down scroll); otherwise
  // the key-press handlers are asked, the innermost first, until one handles it. Returns
  // whether the key was handled.
  bool key(Key key, unsigned modifiers);
  // Types `text` into the first usable text editor (replacing its selection); false without
  // one.
  bool insertText(const std::string &text);
  // Deletes the selection or the character before the caret of the first usable text
  // editor; false without one.
  bool deleteBackward();

private:
  // Runs `change` on the first usable text editor's text and editing state; when it returns
  // true, the text (if changed) goes through the binding and the caret is brought into view.
  // Only Up and Down (`keepsGoal`) keep the x a run of them goes down the lines at.
  bool edit(const std::function<bool(TextEditingState &, std::string &)> &change,
            bool keepsGoal = false);
  bool scrollPage(Key key);
  // A frame of the view in desktop coordinates; absent outside a window.
  std::optional<Rect> onScreen(const Rect &frame) const;

  HostingView &view_;
  Desktop *desktop_;
  Window *window_;
};

} // namespace platform::ui
