#include "platform/ui/EventDispatcher.hpp"

#include "platform/ui/Desktop.hpp"
#include "platform/ui/HostingView.hpp"
#include "platform/ui/TextEditingState.hpp"
#include "platform/ui/ViewBehaviour.hpp"
#include "platform/ui/Window.hpp"

#include <cmath>
#include <functional>
#include <utility>
#include <vector>

namespace platform::ui {

namespace {

// The editor that takes typing and editing keys: the first usable one with a text that
// can be read and written.
const LayoutNode *usableEditor(const LayoutNode &root) {
  const LayoutNode *editor = findFirst(root, [](const LayoutNode &placed) {
    return placed.node->kind == NodeKind::textEditor && placed.editor != nullptr &&
           isUsable(placed);
  });
  if (editor == nullptr) {
    return nullptr;
  }
  const Binding<std::string> &text = editor->node->as<TextEditorContent>().text;
  return text.get && text.set ? editor : nullptr;
}

const LayoutNode *editorAt(const LayoutNode &root, Point point) {
  const LayoutNode *editor = usableEditor(root);
  return editor != nullptr && editor->frame.contains(point) ? editor : nullptr;
}

} // namespace

std::optional<Rect> EventDispatcher::onScreen(const Rect &frame) const {
  if (window_ == nullptr) {
    return std::nullopt;
  }
  // Desktop y grows upwards; the view's grows downwards from the content's top.
  const Rect content = window_->contentRect();
  return Rect{{content.minX() + frame.minX(), content.maxY() - frame.maxY()}, frame.size};
}

bool EventDispatcher::click(Point point) {
  // Innermost first, so a button inside a row that is itself a button takes the click.
  for (const LayoutNode *placed : innermostFirst(view_.layout())) {
    const ViewBehaviour &behaviour = behaviourOf(placed->node->kind);
    if (behaviour.takesClicks() && isUsable(*placed) && placed->frame.contains(point)) {
      behaviour.click(*placed, desktop_, onScreen(placed->frame));
      return true;
    }
  }
  return false;
}

EventDispatcher::Press EventDispatcher::press(Point point, unsigned modifiers) {
  if (desktop_ != nullptr && desktop_->popUpMenu() != nullptr && desktop_->popUpMenu() != window_) {
    // A press anywhere but in the open pop-up menu closes it, and does nothing else.
    desktop_->dismissPopUpMenu();
    return Press::background;
  }
  if (editorAt(view_.layout(), point) != nullptr) {
    edit([&](TextEditingState &editing, std::string &text) {
      const LayoutNode *editor = editorAt(view_.layout(), point);
      editing.place(text, editorIndexAt(*editor, point), (modifiers & kShift) != 0);
      return true;
    });
    return Press::editor;
  }
  for (const LayoutNode *placed : innermostFirst(view_.layout())) {
    if (behaviourOf(placed->node->kind).takesClicks() && isUsable(*placed) &&
        placed->frame.contains(point)) {
      return Press::control;
    }
  }
  if (window_ != nullptr && window_->isMovableByWindowBackground()) {
    return Press::movableBackground;
  }
  return Press::background;
}

bool EventDispatcher::moveFromBackground(Point pressedAt, Point point) {
  if (window_ == nullptr || !window_->isMovableByWindowBackground() ||
      std::hypot(point.x - pressedAt.x, point.y - pressedAt.y) <= kDragThreshold) {
    return false;
  }
  const Rect content = window_->contentRect();
  window_->desktop().beginWindowDrag(
      *window_, Point{content.minX() + pressedAt.x, content.maxY() - pressedAt.y});
  return true;
}

void EventDispatcher::dragSelection(Point point) {
  edit([&](TextEditingState &editing, std::string &text) {
    const LayoutNode *editor = usableEditor(view_.layout());
    editing.place(text, editorIndexAt(*editor, point), /*extend=*/true);
    return true;
  });
}

bool EventDispatcher::scroll(Point point, double delta) {
  const LayoutNode *editor = editorAt(view_.layout(), point);
  if (editor == nullptr || !scrollEditor(*editor, delta)) {
    return false;
  }
  view_.editorsChanged();
  return true;
}

bool EventDispatcher::scrollPage(Key key) {
  const LayoutNode *editor = usableEditor(view_.layout());
  if (editor == nullptr) {
    return false;
  }
  const double page = editorPageHeight(*editor);
  if (scrollEditor(*editor, key.kind == Key::Kind::pageDown ? page : -page)) {
    view_.editorsChanged();
  }
  return true;
}

bool EventDispatcher::edit(const std::function<bool(TextEditingState &, std::string &)> &change,
                           bool keepsGoal) {
  const LayoutNode *editor = usableEditor(view_.layout());
  if (editor == nullptr) {
    return false;
  }
  const Binding<std::string> binding = editor->node->as<TextEditorContent>().text;
  TextEditorState &state = *editor->editor;
  std::string text = binding.get();
  state.sync(text);
  const std::string before = text;
  if (!change(state.editing, text)) {
    return false;
  }
  if (!keepsGoal) {
    state.goalX.reset();
  }
  state.revealCaret = true;
  if (text != before) {
    // Seen before it is set, so the render the change causes keeps the caret where it is.
    state.seenText = text;
    binding.set(text);
  }
  // The state is not touched again: the render may have taken the editor away.
  view_.editorsChanged();
  return true;
}

void EventDispatcher::pointerMoved(std::optional<Point> point, std::set<std::string> &inside) {
  std::vector<std::pair<std::function<void(bool)>, bool>> calls;
  std::set<std::string> now;
  for (const LayoutNode *placed : innermostFirst(view_.layout())) {
    if (!placed->node->onHover || placed->hidden) {
      continue;
    }
    const bool contained = point && placed->frame.contains(*point);
    if (contained) {
      now.insert(placed->identity);
    }
    if (contained != (inside.count(placed->identity) != 0)) {
      calls.emplace_back(placed->node->onHover, contained);
    }
  }
  inside = std::move(now);
  for (const auto &[handler, entered] : calls) {
    handler(entered);
  }
}

bool EventDispatcher::key(Key key, unsigned modifiers) {
  const LayoutNode &root = view_.layout();
  const LayoutNode *button = findFirst(root, [&](const LayoutNode &placed) {
    const auto &shortcut = placed.node->shortcut;
    return placed.node->kind == NodeKind::button && isUsable(placed) && shortcut &&
           shortcut->key == key && shortcut->modifiers == modifiers;
  });
  if (button != nullptr) {
    behaviourOf(NodeKind::button).click(*button, desktop_, onScreen(button->frame));
    return true;
  }
  const bool vertical = key.kind == Key::Kind::up || key.kind == Key::Kind::down;
  if (key.kind == Key::Kind::pageUp || key.kind == Key::Kind::pageDown) {
    if (scrollPage(key)) {
      return true;
    }
  } else if (vertical && (modifiers & ~kShift) == 0) {
    if (edit(
            [&](TextEditingState &editing, std::string &text) {
              const LayoutNode *editor = usableEditor(view_.layout());
              editing.place(text, editorLineMove(*editor, key.kind == Key::Kind::down),
                            (modifiers & kShift) != 0);
              return true;
            },
            /*keepsGoal=*/true)) {
      return true;
    }
  } else {
    Pasteboard *pasteboard = desktop_ != nullptr ? desktop_->pasteboard() : nullptr;
    if (edit([&](TextEditingState &editing, std::string &text) {
          return editing.handleKey(text, key, modifiers, pasteboard);
        })) {
      return true;
    }
  }
  std::vector<std::function<bool()>> handlers;
  for (const LayoutNode *placed : innermostFirst(root)) {
    if (placed->hidden) {
      continue;
    }
    for (const KeyPressHandler &handler : placed->node->onKeyPress) {
      if (handler.key == key && handler.action) {
        handlers.push_back(handler.action);
      }
    }
  }
  for (const auto &handler : handlers) {
    if (handler()) {
      return true;
    }
  }
  return false;
}

bool EventDispatcher::insertText(const std::string &text) {
  return edit([&](TextEditingState &editing, std::string &current) {
    editing.insert(current, text);
    return true;
  });
}

bool EventDispatcher::deleteBackward() {
  return edit([](TextEditingState &editing, std::string &text) {
    editing.deleteBackward(text);
    return true;
  });
}

} // namespace platform::ui
