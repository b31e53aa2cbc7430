#pragma once

#include "platform/ui/EventDispatcher.hpp"
#include "platform/ui/HostingView.hpp"
#include "platform/ui/Layout.hpp"
#include "platform/ui/View.hpp"

#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform::ui {

class Window;

// Thrown when a test asks the inspector for something the view does not show.
class InspectorError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// What the inspector reports of one view.
struct Element {
  std::string identity;
  NodeKind kind = NodeKind::empty;
  std::string text;   // texts, links, editors, pickers (the selection), buttons (the label)
  std::string symbol; // symbols
  std::string id;
  Rect frame;         // in the hosting view's coordinates
  double opacity = 1; // effective
  bool hidden = false;
  bool disabled = false;
  Font font;
  Color foreground = Color::primary();
  Environment environment;
  const Node *node = nullptr; // valid until the next render

  // Shown: neither hidden nor fully transparent.
  bool visible() const { return !hidden && opacity > 0; }
};

// Reads and drives a hosting view in tests the way a person would: finds texts, symbols and
// controls on screen, presses buttons, types, hovers and presses keys (input goes through the
// EventDispatcher an on-screen window uses). Only visible views can be found by text or
// pressed. Every call reads the hosting view's current layout.
class Inspector {
public:
  explicit Inspector(HostingView &view) : view_(&view) {}
  explicit Inspector(Window &window);

  // Every element, in drawing order.
  std::vector<Element> elements() const;
  // The visible texts (texts, links, editors' texts), in drawing order.
  std::vector<std::string> texts() const;
  bool hasText(const std::string &text) const;
  std::optional<Element> findText(const std::string &text) const;
  // The visible symbol names, in drawing order.
  std::vector<std::string> symbols() const;
  std::optional<Element> findSymbol(const std::string &name) const;
  std::optional<Element> findById(const std::string &id) const;
  std::vector<Element> findKind(NodeKind kind) const;

  // Presses the visible, enabled button whose label shows `label` (a text, or a symbol name
  // when the label is only a symbol). Throws InspectorError when there is none.
  void press(const std::string &label);
  // Replaces the text of the first visible text editor (its caret goes to the end); type()
  // types at its caret, replacing the selection.
  void setText(const std::string &text);
  void type(const std::string &text);
  // Moves the pointer into (or out of) the nearest view with a hover handler that holds the
  // visible text or symbol `target`.
  void hover(const std::string &target, bool inside = true);
  // Chooses `option` in the visible picker. Throws when no picker offers it.
  void choose(const std::string &option);
  // Presses a key as EventDispatcher::key does: a matching shortcut, then the text editor's
  // editing keys, then the key-press handlers. Returns whether the key was handled.
  bool key(Key key, unsigned modifiers = kNoModifiers);
  // Deletes the selection or the character before the caret of the first visible text
  // editor; false without one.
  bool deleteBackward();

  // Pointer input at a point in the hosting view's coordinates (top-left origin), as an
  // on-screen window delivers it (EventDispatcher::click and pointerMoved; links open through
  // the window's desktop).
  bool click(Point point);
  void pointerMoved(std::optional<Point> point, std::set<std::string> &inside);
  // The primary button goes down at `point` (EventDispatcher::press), and the pointer moves
  // with it down after a press in a text editor or on a movable background; the wheel
  // scrolls by `delta` points.
  EventDispatcher::Press pressPointer(Point point, unsigned modifiers = kNoModifiers);
  void dragSelection(Point point);
  bool moveFromBackground(Point pressedAt, Point point);
  bool scroll(Point point, double delta);

private:
  HostingView &view() const;
  EventDispatcher dispatcher() const;

  HostingView *view_ = nullptr;
  Window *window_ = nullptr;
};

} // namespace platform::ui
